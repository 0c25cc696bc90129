#ifndef TAV_ENGINE_TAV95_RANDOM_STARTS_H_
#define TAV_ENGINE_TAV95_RANDOM_STARTS_H_

#include "newton/run_state.h"

namespace tav {

// Fits the parsed model from the random starts `rst` asks for and leaves the best in run.
//
// The seeds are RandomStartSeeds (core/random.h) of the run's seed. Each start is a whole fit
// (FitModel: EM with the Newton-type steps the settings ask for, to convergence or the
// iteration limit) of a copy of the parsed run, with the start's seed and amplitude as `see`
// would set them. The starts run on the threads `thr` gives (at most one per start), each fit on
// one thread, so that every start gives the same numbers whatever the number of threads. The
// start with the largest log-likelihood wins, the first of equal ones; run is then fitted
// again from the winner's seed, so that it holds exactly what a single run with `see` set to
// that seed holds. run.random_starts records every start. A start that stops on an error is
// recorded as failed with its message; when every start failed, the run is fitted from the
// first seed and stops with that start's error.
//
// While the starts run, the calling thread serves the window: one log line per finished start
// (in start order), the progress bar at the share of the starts finished (log-file mode), the
// Info button's start number; "Cancel" stops every start.
void FitFromRandomStarts(RunState& run);

}  // namespace tav

#endif  // TAV_ENGINE_TAV95_RANDOM_STARTS_H_
