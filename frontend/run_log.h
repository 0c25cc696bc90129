#ifndef TAV_FRONTEND_RUN_LOG_H_
#define TAV_FRONTEND_RUN_LOG_H_

#include <QString>
#include <QStringView>
#include <optional>

namespace tavwin {

// The progress of a run as its iteration log shows it.
struct IterationProgress {
  qint64 iteration = 0;
  double log_likelihood = 0;
};

// The last iteration line in a piece of the engine's log. An iteration line (the log has
// dropped the two-blank margin) is the iteration number, an integer, followed by the
// log-likelihood, the stop criterion and, for some models, L-squared, all reals with a
// decimal point; nothing else on the line. Nothing when the text holds no such line; a line
// cut off at the end of the text (no line end after it) does not count.
std::optional<IterationProgress> LastIterationInLog(QStringView text);

// How a run of the engine ended.
enum class RunStatus { kFinished, kFailed, kCancelled };

// The status of a run from the engine's exit: 0 finished, 2 cancelled (the engine's own
// "Cancel", or a stop signal), anything else (and a crash) failed.
RunStatus StatusFromExit(bool crashed, int exit_code);

// An elapsed time for the status bar: "0.4 s", "2.3 s", "59.9 s", then "1 min 5 s", and from
// an hour on "1 h 2 min".
QString FormatElapsed(qint64 milliseconds);

// The time a run has taken so far, as a clock shows it: "0:07", "12:34", "1:02:03".
QString FormatClock(qint64 milliseconds);

// What the status bar says while a run goes on: "Running: 0:07" before the first iteration,
// then "Iteration 10,234   log-likelihood -1234.567890   0:07".
QString RunProgressMessage(qint64 iteration, double log_likelihood, qint64 milliseconds);

// What the status bar says when a run has ended:
//   finished:  "Finished in 2.3 s"
//   cancelled: "Cancelled"
//   failed:    "Stopped: error at line 12 of NAME" when the log names a line of the input
//              (input_path as the engine got it; NAME is display_name, or "the input" when that
//              is empty), else "Stopped: " and the log's last error message ("Error: x" gives
//              "Stopped: x", "Error in data: x" "Stopped: error in data: x"), else
//              "Stopped: the engine ended with status N" or "Stopped: the engine crashed".
QString RunEndMessage(RunStatus status, bool crashed, int exit_code, qint64 milliseconds,
                      const QString& log_text, const QString& input_path,
                      const QString& display_name);

}  // namespace tavwin

#endif  // TAV_FRONTEND_RUN_LOG_H_
