#ifndef TAV_ENGINE_TAV95_PROGRESS_WINDOW_H_
#define TAV_ENGINE_TAV95_PROGRESS_WINDOW_H_

#include <QWidget>
#include <functional>

#include "core/presentation.h"

class QCloseEvent;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace tav {

// The engine's window. In log-file mode it is the small progress dialog "Running TAV..." with
// its progress bar and the "Cancel" and "Info" buttons; in window mode it is a log window that
// shows every log line. QtPresentation owns it and drives it.
//
// The run never waits in an event loop of its own: the buttons and the close box only set
// flags or fill labels, and the run looks at the flags between log lines.
class ProgressWindow : public QWidget {
 public:
  ProgressWindow();

  // Sets the window up for the mode.
  void SetUp(bool log_file_mode);

  // "Cancel": the run ends at the next log line.
  void RequestCancel() { cancel_requested = true; }

  // "Info": the estimation driver's current iteration and stop criterion, and in a run with
  // random starts the start being fitted.
  void ShowInfo();

  QProgressBar* progress_bar;
  QPushButton* cancel_button;
  QPushButton* info_button;
  QLabel* iteration_label;
  QLabel* criterion_label;
  QPlainTextEdit* log_view;

  int lines_shown = 0;
  bool cancel_requested = false;
  bool finished = false;
  RunProgress progress;
  std::function<void()> on_finished_close;

 protected:
  void closeEvent(QCloseEvent* event) override;
};

}  // namespace tav

#endif  // TAV_ENGINE_TAV95_PROGRESS_WINDOW_H_
