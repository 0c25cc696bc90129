#ifndef TAV_ENGINE_NEWTON_NEWTON_ITERATION_H_
#define TAV_ENGINE_NEWTON_NEWTON_ITERATION_H_

#include "core/run_state.h"

namespace tav {

// One Newton-type iteration on the log-likelihood, or with algorithm 0 the standard errors.
// Algorithms: 0 standard errors only (covariance matrix, eigenvalues, boundary counters and,
// unless nco, the standard errors of the fitted probabilities), 1 Newton-Raphson
// (Levenberg-Marquardt when newton_lambda != 0), 2 steepest descent, 3 BFGS, 4 as 1 with the
// EM M-steps running beside it. The free-parameter list is built on first use; without a
// usable list (none, or more than 500 parameters) nothing is done and show_std_errors is
// cleared. A step that does not raise the log-likelihood is halved; when halving is exhausted
// the iteration falls back to steepest descent, whose failure stops the run with
// "  Error: Newton-type algorithm fails; use more EM iterations". The log-likelihood kept by
// the estimation is left as it was.
void newton_iteration(RunState& run, int algorithm);

// The standard errors of the report: newton_iteration with algorithm 0.
void ComputeStandardErrors(RunState& run);

}  // namespace tav

#endif  // TAV_ENGINE_NEWTON_NEWTON_ITERATION_H_
