#ifndef TAV_ENGINE_ESTIMATION_ESTIMATE_H_
#define TAV_ENGINE_ESTIMATION_ESTIMATE_H_

#include <functional>

#include "estimation/estimation_state.h"

namespace tav {

// One Newton-type iteration with the given algorithm, which the estimation runs after the
// M-step cycles of every iteration past newton_start_iteration; the run supplies it.
using NewtonStep = std::function<void(NewtonAlgorithm)>;

// Fits the model by EM: start values, then iterations of M-step cycles (and, past
// newton_start_iteration, a Newton-type step) and an E-step until the change of the
// log-likelihood falls to the convergence criterion or the iteration limit is reached. A final
// fall of the log-likelihood stops the run.
void Estimate(EstimationRun& run, const NewtonStep& newton_step);

// Stops the run when the model needs a kind of estimation this version does not have: a family
// not available for one of the submodels or the model, a combination a family refuses (with
// its reason), simulation, or a table beyond 1E18 cells.
void CheckEstimationAvailable(const EstimationRun& run);

// Creates the fitted, expected and parameter tables with their start value 1 and the margin
// shapes of every submodel.
void SetUpEstimationTables(EstimationRun& run);

// Start values: given values, random perturbations and the fitted tables built from the
// margin parameters, submodel by submodel as each submodel's family sets them.
void ComputeStartValues(EstimationRun& run);

// Multiplies every parameter of margin i of submodel r by exp(u), u drawn anew per parameter
// (RandomStart), unless start values were given for it (a parameter other than 1); returns
// whether it did.
bool PerturbMargin(EstimationRun& run, int r, int i);

// The start values of submodel r as most families set them: the parameters of every margin
// (from margin 1 when r > 0) whose values all are still 1 (none were given) are perturbed at
// random, then with perturb_cells every fitted cell, and the fitted table is built from the
// margin parameters.
void StartFromMargins(EstimationRun& run, int r, bool perturb_cells);

// One M-step cycle of the current iteration (cycle counts from 1): the visits of the submodels
// in their order, then the M-steps after the visits, each by the families in their order.
void RunCycle(EstimationRun& run, int cycle);

// Rescales the fitted table of submodel 0 (and with flag 1 its first margin's parameters) to
// the number of observations used.
void NormaliseFirstSubmodel(EstimationRun& run, int flag);

// Turns the fitted tables of submodels 1 .. n-1 into conditional probabilities, keeping their
// conditioning margins; RestoreFittedFrequencies turns them back into frequencies.
void FittedToProbabilities(EstimationRun& run);
void RestoreFittedFrequencies(EstimationRun& run);

// The step control of restricted models: doubles the restriction step on oscillation, halves
// it every restriction_step_interval iterations.
void AdjustRestrictionStep(EstimationRun& run);

}  // namespace tav

#endif  // TAV_ENGINE_ESTIMATION_ESTIMATE_H_
