#ifndef TAV_ENGINE_REPORT_PSEUDO_R_SQUARED_H_
#define TAV_ENGINE_REPORT_PSEUDO_R_SQUARED_H_

#include "newton/run_state.h"

namespace tav {

// The baseline and fitted figures of one submodel's pseudo R-squared block.
struct PseudoRSquared {
  double entropy_baseline = 0, entropy_fitted = 0, entropy_r2 = 0;
  double variance_baseline = 0, variance_fitted = 0, variance_r2 = 0;
  double error_baseline = 0, error_fitted = 0, error_r2 = 0;
  double deviance_baseline = 0, deviance_fitted = 0, deviance_r2 = 0, deviance_ratio = 0;
  double likelihood_baseline = 0, likelihood_fitted = 0, likelihood_r2 = 0, likelihood_ratio = 0;
};

// How well submodel t predicts its dependent variables compared with their marginal
// distribution (a uniform one for the first submodel), from the expected complete-data
// frequencies and the fitted values of the last iteration.
PseudoRSquared ComputePseudoRSquared(const RunState& run, int t);

// The first submodel that gets a block from `first` on: the first submodel never does, nor a
// second one that conditions on a first of one cell, nor a `cum` submodel of model 8. The
// section is written when it lies below SubmodelCount.
int FirstPseudoRSquaredSubmodel(const ModelState& model, int first);

// The "*** PSEUDO R-SQUARED MEASURES ***" section for the log-linear submodels from `first`
// on (the first submodel never gets a block).
void WritePseudoRSquared(RunState& run, int first);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_PSEUDO_R_SQUARED_H_
