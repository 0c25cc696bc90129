#ifndef TAV_ENGINE_TAV95_QT_PRESENTATION_H_
#define TAV_ENGINE_TAV95_QT_PRESENTATION_H_

#include <memory>
#include <string>

#include "core/presentation.h"

class QApplication;
class QWidget;

namespace tav {

class ProgressWindow;

// The window presentation. It owns the engine's ProgressWindow: in log-file mode the small
// progress dialog "Running TAV..." with its progress bar and the "Cancel" and "Info" buttons,
// in window mode a log window that shows every log line and, after the closing question was
// answered "No", stays open as "TAV Finished" until the user closes it.
//
// The window is served only from PumpEvents, that is between two log lines.
class QtPresentation : public Presentation {
 public:
  // Creates the application object unless one exists already. The toolkit is given only the
  // program name, so it never takes or changes any of the engine's own arguments.
  explicit QtPresentation(const std::string& program_name);
  ~QtPresentation() override;

  QtPresentation(const QtPresentation&) = delete;
  QtPresentation& operator=(const QtPresentation&) = delete;

  void Begin(bool log_file_mode) override;
  bool PumpEvents(const RunProgress& progress) override;
  void LogLine(const std::string& text) override;
  void ProgressStep(int position) override;
  bool AskClose() override;
  void ErrorBox(const std::string& text) override;
  void StayOpen() override;

  // The window, for tests.
  QWidget* window() const;

 private:
  int argc_ = 1;
  char* argv_[2] = {nullptr, nullptr};
  std::string program_name_;
  std::unique_ptr<QApplication> application_;
  std::unique_ptr<ProgressWindow> window_;
};

// True when windows can be shown to a user: a display is named in the environment (DISPLAY,
// WAYLAND_DISPLAY or QT_QPA_PLATFORM) and the toolkit can actually connect to it. A platform
// that shows nothing to anyone ("offscreen", "minimal") does not count, since nobody could
// answer the window's questions.
bool WindowDisplayAvailable();

}  // namespace tav

// The window presentation when a display is available, or nullptr so that the engine falls
// back to its console presentation. argc and argv are left unchanged.
std::unique_ptr<tav::Presentation> MakeWindowPresentation(int& argc, char** argv);

#endif  // TAV_ENGINE_TAV95_QT_PRESENTATION_H_
