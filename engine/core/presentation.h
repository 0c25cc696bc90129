#ifndef TAV_ENGINE_CORE_PRESENTATION_H_
#define TAV_ENGINE_CORE_PRESENTATION_H_

#include <string>

namespace tav {

// What the Info button shows: the estimation driver's current iteration and stop criterion,
// and in a run with random starts the start (from 1) and the number of starts.
struct RunProgress {
  int iteration = 0;
  double stop_criterion = 0.0;
  int start = 0;
  int starts = 0;
};

// The engine's window as the run sees it. The run serves the window (PumpEvents) from its own
// thread at every log line and, inside long computations, at the cancel checks (CheckCancel,
// core/log.h) at most every tenth of a second, so a cancel request takes effect there.
//
// Two presentations exist: a console one (no display) and the Qt progress dialog / log
// window. The run driver calls, in this order: Begin, then any number of PumpEvents / LogLine /
// ProgressStep, then at the end either AskClose (window mode, normal end), ErrorBox (an
// error), or nothing (cancel, log-file mode); after AskClose answered "no", StayOpen.
class Presentation {
 public:
  virtual ~Presentation() = default;

  // Sets the window up: log_file_mode is the small progress dialog, otherwise the log window.
  virtual void Begin(bool log_file_mode) = 0;

  // Processes pending window events. Returns true when the user asked to stop the run
  // ("Cancel" or the close box). progress is what the Info button would show now.
  virtual bool PumpEvents(const RunProgress& progress) = 0;

  // Appends a line to the log window (window mode only).
  virtual void LogLine(const std::string& text) = 0;

  // Moves the progress bar to position (0 to 100) (log-file mode only).
  virtual void ProgressStep(int position) = 0;

  // Asks "Close this log window?"; true for Yes.
  virtual bool AskClose() = 0;

  // Shows an error text (already cut and capitalised) in a modal box.
  virtual void ErrorBox(const std::string& text) = 0;

  // Window mode after the user declined to close: the finished log stays until closed.
  virtual void StayOpen() = 0;
};

}  // namespace tav

#endif  // TAV_ENGINE_CORE_PRESENTATION_H_
