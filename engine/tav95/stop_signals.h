#ifndef TAV_ENGINE_TAV95_STOP_SIGNALS_H_
#define TAV_ENGINE_TAV95_STOP_SIGNALS_H_

#include "core/presentation.h"

namespace tav {

// SIGINT, SIGTERM and SIGHUP (and on Windows SIGBREAK, Ctrl+Break) cancel the run as the
// window's "Cancel" does: the run stops at its next log line or cancel check (within a tenth of
// a second or so, core/log.h), its files closed and none of its results put in place, with a
// last log line saying so and exit status 2.
//
// A signal handler can only set a flag, so the flag is the one piece of process-wide state:
// InstallStopSignals sets the handlers, and StopSignalPresentation passes the flag on as a
// cancel request where the run serves its window.
void InstallStopSignals();

// The run's presentation with the stop signals turned into a cancel request.
class StopSignalPresentation : public Presentation {
 public:
  explicit StopSignalPresentation(Presentation& inner) : inner_(inner) {}

  void Begin(bool log_file_mode) override { inner_.Begin(log_file_mode); }
  bool PumpEvents(const RunProgress& progress) override;
  void LogLine(const std::string& text) override { inner_.LogLine(text); }
  void ProgressStep(int position) override { inner_.ProgressStep(position); }
  bool AskClose() override { return inner_.AskClose(); }
  void ErrorBox(const std::string& text) override { inner_.ErrorBox(text); }
  void StayOpen() override { inner_.StayOpen(); }

 private:
  Presentation& inner_;
};

}  // namespace tav

#endif  // TAV_ENGINE_TAV95_STOP_SIGNALS_H_
