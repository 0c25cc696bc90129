#ifndef TAV_ENGINE_REPORT_PSEUDO_R_SQUARED_H_
#define TAV_ENGINE_REPORT_PSEUDO_R_SQUARED_H_

#include "newton/run_state.h"
#include "report/run_results.h"

namespace tav {

// How well submodel t predicts its dependent variables compared with their marginal
// distribution (a uniform one for the first submodel), from the expected complete-data
// frequencies and the fitted values of the last iteration.
PseudoRSquared ComputePseudoRSquared(const RunState& run, int t);

// The first submodel that gets a block from `first` on: the first submodel never does, nor a
// second one that conditions on a first of one cell, nor a `cum` submodel of model 8. The
// section is written when it lies below SubmodelCount.
int FirstPseudoRSquaredSubmodel(const ModelState& model, int first);

// The "*** PSEUDO R-SQUARED MEASURES ***" section for the log-linear submodels from `first`
// on (the first submodel never gets a block), when the report shows it.
PseudoRSquaredResults ComputePseudoRSquaredSection(const RunState& run, int first);
void WritePseudoRSquaredSection(const PseudoRSquaredResults& results, TextFile& out);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_PSEUDO_R_SQUARED_H_
