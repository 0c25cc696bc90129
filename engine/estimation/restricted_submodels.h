#ifndef TAV_ENGINE_ESTIMATION_RESTRICTED_SUBMODELS_H_
#define TAV_ENGINE_ESTIMATION_RESTRICTED_SUBMODELS_H_

#include <vector>

#include "estimation/estimation_state.h"
#include "estimation/family_state.h"

namespace tav {

// One written lin() or log() item of a submodel: the restriction values z_k(c) of
// its restrictions k at every cell c of the submodel (summed over its terms, z[k * cells + c]),
// their targets, and their multipliers' place in Multipliers.
struct RestrictionWork {
  int source = -1;             // the submodel whose designs hold the item (the submodel, or `all`)
  int design = -1;             // the item's first design
  std::int64_t cells = 0;      // of the submodel
  int parameters = 0;          // restrictions
  std::vector<double> z;       // restrictions x submodel cells
  std::vector<double> target;  // per restriction (0 without the letters c and d)
  std::int64_t offset = 0;     // the first multiplier in Multipliers
  bool log_form = false;       // log: restrictions on log probabilities
  bool boundary = false;       // letters b and d: a multiplier never passes 1 (inequalities)
};

// The lin/log family's state: the restrictions of every submodel, and per cell (indexed like
// FittedTable) the additive terms A and denominators B of the probabilities (n + 1e-10 + A) / B
// of the restricted submodels.
struct LinLogState : CopyableFamilyState<LinLogState> {
  std::vector<std::vector<RestrictionWork>> restrictions;
  std::vector<double> additive;
  std::vector<double> denominator;
};

// The lin/log family's state of the run's fit (families/linlog_restriction.cpp).
LinLogState& LinLogStateOf(EstimationRun& run);
const LinLogState& LinLogStateOf(const EstimationRun& run);

// Submodels with lin and log restrictions: the probabilities of a submodel (saturated but for
// its restrictions) maximise the expected log-likelihood sum n_c ln m_c subject to
//   lin:  sum_c z_k(c) m_c = t_k          (linear restrictions on the probabilities),
//   log:  sum_c z_k(c) ln m_c = t_k       (linear restrictions on the log probabilities),
// and, for a conditional submodel, sum m_c = 1 in every column (cell of its conditioning
// margin). The Lagrange conditions give m_c = (n_c + 1e-10 + A_c) / B_c, with
//   lin:  B_c = lambda_col + sum_k mu_k z_k(c), A_c = 0,
//   log:  A_c = -sum_k mu_k z_k(c),           B_c = lambda_col,
// the multipliers being held as tau_k = exp(-mu_k). The first submodel's restrictions are on
// its probabilities too (its frequencies over their total, as one column). Each pass takes one
// Newton step per column for lambda (S = sum m - 1, T = sum m / B,
// B += 2 S / T / restriction_step; in iteration 1 a denominator still at 1 becomes the column
// total instead), then one per restriction:
//   S1 = sum z ln m - t (log) or sum z m - t (lin),
//   S2 = sum z^2 / (n + 1e-10 + A) (log) or sum z^2 m / B (lin),
//   delta = 2 S1 / S2 / restriction_step, tau /= exp(delta), A -= z delta or B += z delta.
// Targets t_k are read after the values (restriction letters c and d, 0 otherwise). With the
// letters b and d a multiplier never passes 1 (ln tau >= 0): the restriction is an inequality,
//   lin: sum z m >= t,  log: sum z ln m >= t,
// and a multiplier held at 1 (inactive) is counted in BoundaryAdjustments, which gives its
// degree of freedom back. A step that would make n + 1e-10 + A or B non-positive is undone:
// the submodel's state is restored and restriction_step doubled, with the log line
// "  new stepsize for restrictions = ". Passes repeat while a multiplier or denominator still
// moves, at most max_inner_iterations of them.

// Sets up the restrictions of every submodel with lin or log restrictions (its own items, then
// the items of `all` aimed at it) and their multipliers, appended to Multipliers.
void SetUpRestrictedSubmodels(EstimationRun& run);

// The M-step of lin/log submodel r: the multipliers' start in the start iteration, the passes
// afterwards, then the fitted cells := (n + 1e-10 + A) / B.
void FitRestrictedSubmodel(EstimationRun& run, int r);

// After the iterations: stops the run when a restriction is not met at the estimates (its
// value further than 1e-4 from its target, or below it for an inequality) — restrictions that
// no probabilities satisfy, whose multipliers grow without end.
void CheckRestrictionsMet(EstimationRun& run);

}  // namespace tav

#endif  // TAV_ENGINE_ESTIMATION_RESTRICTED_SUBMODELS_H_
