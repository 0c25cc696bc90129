#ifndef TAV_ENGINE_REPORT_RANDOM_STARTS_REPORT_H_
#define TAV_ENGINE_REPORT_RANDOM_STARTS_REPORT_H_

#include <vector>

#include "newton/run_state.h"

namespace tav {

// The number of starts that reached the best maximum: those that went through and whose
// log-likelihood extrapolated to its limit (RandomStartOutcome::limit) lies within kSameMaximum
// of the limit of the best start (the start with the largest log-likelihood). A start far from
// convergence can extrapolate beyond the best; it is not counted.
int StartsAtBest(const std::vector<RandomStartOutcome>& starts);

// The "*** RANDOM STARTS ***" section, when the run made random starts (`rst`): the starts
// ranked by their log-likelihood (largest first, equal ones in start order, failed starts last
// with their error), with seed, iterations and whether they converged; then how many reached
// the best log-likelihood, and a warning when fewer than two did.
struct RandomStartsResults {
  std::vector<RandomStartOutcome> starts;  // in start order; empty without `rst`
  std::vector<int> ranked;                 // indices of starts, best first
  int at_best = 0;                         // StartsAtBest
  int best_start = 0;                      // the start the run's tables hold
};
RandomStartsResults ComputeRandomStarts(const RunState& run);
void WriteRandomStartsSection(const RandomStartsResults& results, TextFile& out);
void RecordRandomStarts(RunState& run, const RandomStartsResults& results);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_RANDOM_STARTS_REPORT_H_
