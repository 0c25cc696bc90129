#include "report/random_starts_report.h"

namespace tav {

void WriteRandomStarts(RunState& run) {
  if (run.random_starts.empty()) return;
}

}  // namespace tav
