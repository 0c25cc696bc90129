#ifndef TAV_ENGINE_NEWTON_NEWTON_ITERATION_H_
#define TAV_ENGINE_NEWTON_NEWTON_ITERATION_H_

#include <string>

#include "newton/newton_state.h"
#include "newton/run_state.h"

namespace tav {

// One Newton-type iteration on the log-likelihood, or with kStandardErrors the standard
// errors (covariance matrix, eigenvalues, boundary counters and, unless nco, the standard
// errors of the fitted probabilities). The algorithm with kNewtonRaphsonWithEm is
// Newton-Raphson; the EM M-steps run beside it. evaluate gives the log-likelihood of the
// current fitted tables. The free-parameter list is built on first use; without a usable list
// (none, or more than 500 parameters) nothing is done. A step that does not raise the
// log-likelihood is halved; when halving is exhausted the iteration falls back to steepest
// descent, whose failure stops the run with "  Error: Newton-type algorithm fails; use more
// EM iterations". The estimation state is left as it was, but for the step taken.
void newton_iteration(RunState& run, NewtonAlgorithm algorithm, const ModelEvaluator& evaluate);

// The standard errors of the report: newton_iteration with kStandardErrors, unless the model
// has too many free parameters; then the log says so and run.newton.std_errors_skipped why.
void ComputeStandardErrors(RunState& run, const ModelEvaluator& evaluate);

// The most free parameters whose information is taken from finite differences of the
// log-likelihood (n^2 / 2 evaluations): the standard errors of models the score does not cover
// (newton/score.h) and the Newton-type iterations.
inline constexpr int kMaxDifferencedParameters = 500;

// Skips the standard errors and the identification check because the model has more than `cap`
// free parameters (kMaxFreeParameters, or with `differences` kMaxDifferencedParameters): sets
// the text the report shows and writes it to the log.
void SkipStandardErrors(RunState& run, int cap, bool differences);

// Whether the standard errors are to be computed: asked for, and the free-parameter list is
// not known to be unusable.
bool StandardErrorsWanted(const RunState& run);

// The standard-error columns and sections are shown: asked for and computed.
bool ShowsStdErrors(const RunState& run);

}  // namespace tav

#endif  // TAV_ENGINE_NEWTON_NEWTON_ITERATION_H_
