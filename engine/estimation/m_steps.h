#ifndef TAV_ENGINE_ESTIMATION_M_STEPS_H_
#define TAV_ENGINE_ESTIMATION_M_STEPS_H_

#include <cstdint>
#include <vector>

#include "estimation/estimation_state.h"
#include "estimation/family_state.h"

namespace tav {

// One step of iterative proportional fitting for margin i of submodel r: every fitted cell is
// multiplied by expected margin / fitted margin of its margin cell (0 where the fitted margin
// is at most 1e-300). With show_parameters on, the margin's multiplicative parameters take the
// same factors, so that they hold the product of all adjustments.
void IpfAdjust(EstimationRun& run, int r, int i);

// IpfAdjust for every margin of submodel r in turn, each margin's fitted sums formed while the
// table is scaled by the margin before (the same numbers in one pass per margin).
void IpfAdjustAll(EstimationRun& run, int r);

// The model terms of submodel r by proportional fitting, margin after margin, in iterations
// from 1 on; not while the Newton-type iterations fit the submodel (unless they keep the EM
// M-steps running beside them).
void FitModelTerms(EstimationRun& run, int r);

// Saturated margins fixed at the data: fitted := expected.
void CopyObservedSaturated(EstimationRun& run);

// The conditional probabilities of the eq3 submodels in closed form: equality sets get their
// pooled share E / T, fixed cells keep their values and the free cells share what is left of
// their column in proportion to their expected values.
void FitEqualityRestrictions(EstimationRun& run);

// The same restrictions for eq2: Newton passes on one multiplier per column.
void FitEqualityRestrictionsEq2(EstimationRun& run);

// The equality family's state: the work arrays of the eq2 step, kept from iteration 1 on (the
// columns numbered on from one eq2/eq3 submodel to the next).
struct EqualityState : CopyableFamilyState<EqualityState> {
  bool ready = false;
  std::vector<double> lambda;       // per column
  std::vector<double> free_mass;    // per column
  std::vector<double> free_total;   // per column
  std::vector<double> set_total;    // per set
  std::vector<std::int32_t> count;  // (sets + 1) x columns
};

// The equality family's state of the run's fit (families/equality_restriction.cpp).
EqualityState& EqualityStateOf(EstimationRun& run);

// The restriction class of entry index of the eq2/eq3 cells (0 free, -1 fixed, k >= 1 equality
// set k; 0 beyond the classes the design gave), and the index of submodel r's first cell among
// them (the cells of the eq2/eq3 submodels listed one after another).
std::int32_t RestrictionClassOf(const ModelState& model, std::int64_t index);
std::int64_t FirstRestrictionIndex(const ModelState& model, int r);

}  // namespace tav

#endif  // TAV_ENGINE_ESTIMATION_M_STEPS_H_
