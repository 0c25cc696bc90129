#ifndef TAV_FRONTEND_ENGINE_RUN_H_
#define TAV_FRONTEND_ENGINE_RUN_H_

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include "engine_launch.h"
#include "run_log.h"

class QFileSystemWatcher;
class QProcess;
class QTimer;

namespace tavwin {

// One run of the engine at a time: starts the engine as a child process, follows its progress
// in the log it writes, cancels it, and reports its end. Whoever shows the run observes it
// through its signals.
//
// Progress comes from the log file (the command's fourth argument): each time it grows, the
// part written since the last look is read (at most every kReadMilliseconds, and at most its
// last 64 KB, so that a fast run of millions of iterations costs little), and its last
// iteration line gives the iteration and the log-likelihood. A clock signal each second keeps
// the elapsed time moving while the log is quiet.
//
// Cancel asks the engine to stop as its own "Cancel" does: on a stop signal (SIGTERM; on
// Windows a close request) it stops within a fraction of a second with exit status 2, replacing
// none of its results. The end is the process's own finished signal; no timer looks for it.
class EngineRun : public QObject {
  Q_OBJECT

 public:
  explicit EngineRun(QObject* parent = nullptr);
  ~EngineRun() override;

  // Starts the engine on command in working_directory; display_name names the input in the
  // end message. false, with the reason in *error, when the program is missing or could not
  // be started (no signal then). A run under way is not disturbed (false).
  bool Start(const EngineCommand& command, const QString& working_directory,
             const QString& display_name, QString* error);
  // True from a successful Start until finished() is emitted.
  bool Running() const;
  // The time since the start, in milliseconds.
  qint64 ElapsedMilliseconds() const;
  // The latest iteration seen in the log, if any.
  const std::optional<IterationProgress>& LastProgress() const { return last_progress_; }

 public slots:
  // Asks the engine to stop; finished() follows with kCancelled.
  void Cancel();

 signals:
  void started();
  // iteration < 0: no iteration line yet.
  void progress(qint64 iteration, double log_likelihood, qint64 elapsed_milliseconds);
  // message: what the status bar says ("Finished in 2.3 s", "Stopped: ...", "Cancelled");
  // log_tail: the last 64 KB of the run's log, from a line's start (empty without a log).
  void finished(tavwin::RunStatus status, qint64 elapsed_milliseconds, const QString& message,
                const QString& log_tail);

 private:
  void ProcessFinished(int exit_code, bool crashed);
  void WatchLog();
  void LogChanged();
  void ReadLog();
  void EmitProgress();

  QProcess* process_ = nullptr;
  QFileSystemWatcher* watcher_ = nullptr;
  QTimer* clock_ = nullptr;
  QElapsedTimer elapsed_;
  QString log_path_;
  QString input_path_;
  QString display_name_;
  qint64 log_offset_ = 0;
  bool read_pending_ = false;
  bool cancel_requested_ = false;
  std::optional<IterationProgress> last_progress_;
};

}  // namespace tavwin

#endif  // TAV_FRONTEND_ENGINE_RUN_H_
