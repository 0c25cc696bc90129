#ifndef TAV_ENGINE_ESTIMATION_E_STEP_H_
#define TAV_ENGINE_ESTIMATION_E_STEP_H_

#include "core/run_state.h"

namespace tav {

// Lays out the E-step's index maps: for every observed pattern (entry of the data store) and
// every complete-data cell that agrees with it (latent classes outermost, then the unobserved
// manifest variables the pattern's subgroup carries, last variable fastest), the cell of every
// submodel it falls into, or -1 for a submodel that drops out in the subgroup.
void BuildIndexMaps(RunState& run);

// The E-step. For every pattern with weight n, the joint probability of each complete cell is
// the product of the submodels' fitted values, M their sum. Mode 0: the expected tables (when
// they change), the log-likelihood sum n ln(M / T_s), the fit sums, the stop criterion and the
// iteration line. Modes 1 and 2: the log-likelihood and one posterior line per pattern. Mode 3
// (evaluation for the Newton-type code): the log-likelihood and, in
// run.newton.evaluation_half_lsquared, half the likelihood-ratio statistic; nothing else.
void EStep(RunState& run, int mode);

// The header of the iteration log.
void WriteIterationHeader(RunState& run);

}  // namespace tav

#endif  // TAV_ENGINE_ESTIMATION_E_STEP_H_
