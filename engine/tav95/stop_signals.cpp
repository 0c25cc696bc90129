#include "tav95/stop_signals.h"

#include <csignal>

namespace tav {
namespace {

volatile std::sig_atomic_t stop_requested = 0;

extern "C" void RequestStop(int) { stop_requested = 1; }

}  // namespace

void InstallStopSignals() {
  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);
}

bool StopSignalPresentation::PumpEvents(const RunProgress& progress) {
  const bool cancel = inner_.PumpEvents(progress);
  return cancel || stop_requested != 0;
}

}  // namespace tav
