#include "tav95/qt_presentation.h"

#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QTextCursor>
#include <cerrno>
#include <cstdlib>

#include "tav95/progress_window.h"

#if !defined(_WIN32) && !defined(__APPLE__)
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace tav {

QtPresentation::QtPresentation(const std::string& program_name)
    : program_name_(program_name.empty() ? std::string("tav95") : program_name) {
  if (QApplication::instance() == nullptr) {
    argv_[0] = program_name_.data();
    application_ = std::make_unique<QApplication>(argc_, argv_);
  }
  window_ = std::make_unique<ProgressWindow>();
}

QtPresentation::~QtPresentation() {
  window_.reset();
  application_.reset();
}

QWidget* QtPresentation::window() const { return window_.get(); }

void QtPresentation::Begin(bool log_file_mode) {
  window_->SetUp(log_file_mode);
  window_->show();
  window_->raise();
  window_->activateWindow();
  QCoreApplication::processEvents();
}

bool QtPresentation::PumpEvents(const RunProgress& progress) {
  window_->progress = progress;
  QCoreApplication::processEvents();
  return window_->cancel_requested;
}

void QtPresentation::LogLine(const std::string& text) {
  // Every line gets a block of its own, an empty first line too.
  QTextCursor cursor(window_->log_view->document());
  cursor.movePosition(QTextCursor::End);
  if (window_->lines_shown > 0) cursor.insertBlock();
  cursor.insertText(QString::fromLocal8Bit(text.data(), text.size()));
  ++window_->lines_shown;
  // Keep the latest line in view.
  QScrollBar* bar = window_->log_view->verticalScrollBar();
  bar->setValue(bar->maximum());
}

void QtPresentation::ProgressStep(int position) {
  window_->progress_bar->setValue(position < 0 ? 0 : (position > 100 ? 100 : position));
}

bool QtPresentation::AskClose() {
  const auto answer = QMessageBox::question(window_.get(), "Confirm", "Close this log window?",
                                            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
  return answer == QMessageBox::Yes;
}

void QtPresentation::ErrorBox(const std::string& text) {
  QMessageBox::critical(window_.get(), "Error", QString::fromLocal8Bit(text.data(), text.size()),
                        QMessageBox::Ok);
}

void QtPresentation::StayOpen() {
  window_->show();
  window_->log_view->setFocus();
  window_->setWindowTitle("TAV Finished");
  window_->finished = true;
  if (!window_->isVisible()) return;
  QEventLoop loop;
  window_->on_finished_close = [&loop] { loop.quit(); };
  loop.exec();
  window_->on_finished_close = nullptr;
}

namespace {

bool EnvironmentSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

#if !defined(_WIN32) && !defined(__APPLE__)
// Tries to start the toolkit in a child process. A display that is named but cannot be
// reached makes the toolkit end its process, which must not happen to the engine itself.
bool ToolkitCanStart() {
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    const int null_device = open("/dev/null", O_WRONLY);
    if (null_device >= 0) {
      dup2(null_device, 1);
      dup2(null_device, 2);
    }
    int argc = 1;
    char name[] = "tav95";
    char* argv[] = {name, nullptr};
    QGuiApplication probe(argc, argv);
    _exit(0);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
#endif

}  // namespace

bool WindowDisplayAvailable() {
#if defined(_WIN32) || defined(__APPLE__)
  return true;
#else
  if (EnvironmentSet("QT_QPA_PLATFORM")) {
    const std::string platform = std::getenv("QT_QPA_PLATFORM");
    if (platform.rfind("offscreen", 0) == 0 || platform.rfind("minimal", 0) == 0) return false;
  } else if (!EnvironmentSet("DISPLAY") && !EnvironmentSet("WAYLAND_DISPLAY")) {
    return false;
  }
  return ToolkitCanStart();
#endif
}

}  // namespace tav

std::unique_ptr<tav::Presentation> MakeWindowPresentation(int& argc, char** argv) {
  if (!tav::WindowDisplayAvailable()) return nullptr;
  const std::string name = (argc > 0 && argv != nullptr && argv[0] != nullptr) ? argv[0] : "";
  return std::make_unique<tav::QtPresentation>(name);
}
