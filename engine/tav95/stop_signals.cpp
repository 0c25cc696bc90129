#include "tav95/stop_signals.h"

#include <csignal>

namespace tav {
namespace {

volatile std::sig_atomic_t stop_requested = 0;

extern "C" void RequestStop(int number) {
  stop_requested = 1;
#if defined(_WIN32)
  // The Windows runtime puts the default action back before it calls a handler: a second
  // Ctrl+C would end the process with its files open.
  std::signal(number, RequestStop);
#else
  (void)number;
#endif
}

}  // namespace

void InstallStopSignals() {
  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);
#if defined(SIGBREAK)
  // Ctrl+Break in a Windows console.
  std::signal(SIGBREAK, RequestStop);
#endif
#if !defined(_WIN32)
  // The terminal or the remote session that started the run has gone.
  std::signal(SIGHUP, RequestStop);
#endif
}

bool StopSignalPresentation::PumpEvents(const RunProgress& progress) {
  const bool cancel = inner_.PumpEvents(progress);
  return cancel || stop_requested != 0;
}

}  // namespace tav
