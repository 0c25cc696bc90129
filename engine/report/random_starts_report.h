#ifndef TAV_ENGINE_REPORT_RANDOM_STARTS_REPORT_H_
#define TAV_ENGINE_REPORT_RANDOM_STARTS_REPORT_H_

#include "newton/run_state.h"

namespace tav {

// The "*** RANDOM STARTS ***" section, when the run made random starts (`rst`): the starts
// ranked by their log-likelihood, and how many reached the best.
void WriteRandomStarts(RunState& run);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_RANDOM_STARTS_REPORT_H_
