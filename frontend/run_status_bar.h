#ifndef TAV_FRONTEND_RUN_STATUS_BAR_H_
#define TAV_FRONTEND_RUN_STATUS_BAR_H_

#include <QStatusBar>

#include "run_log.h"

class QLabel;
class QPushButton;

namespace tavwin {

class EngineRun;

// The frame's status bar as it follows a run: while the engine runs, the iteration, the
// log-likelihood and the elapsed time, with a "Cancel" button that cancels the run; when the
// run has ended, how it ended ("Finished in 2.3 s", "Stopped: ...", "Cancelled"), until the
// next run starts.
class RunStatusBar : public QStatusBar {
  Q_OBJECT

 public:
  RunStatusBar(EngineRun* run, QWidget* parent);

  // The text shown now.
  QString Text() const;

 private:
  void RunStarted();
  void RunProgressed(qint64 iteration, double log_likelihood, qint64 milliseconds);
  void RunFinished(RunStatus status, qint64 milliseconds, const QString& message);

  QLabel* label_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

}  // namespace tavwin

#endif  // TAV_FRONTEND_RUN_STATUS_BAR_H_
