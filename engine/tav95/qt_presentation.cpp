#include "tav95/qt_presentation.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>
#include <QWidget>
#include <cerrno>
#include <cstdlib>
#include <functional>

#include "core/format_real.h"

#if !defined(_WIN32) && !defined(__APPLE__)
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace tav {

// The form itself. The run never waits in an event loop of its own: the buttons and the
// close box only set flags or fill labels, and the run looks at the flags between log lines.
class TForm1 : public QWidget {
 public:
  TForm1() {
    setObjectName("TForm1");
    setWindowTitle("Running TAV...");
    QFont small = font();
    small.setPointSize(8);
    setFont(small);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setGeometry(8, 8, 193, 17);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    Button1 = new QPushButton("Cancel", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(24, 32, 75, 25);
    QObject::connect(Button1, &QPushButton::clicked, [this] { Button1Click(); });

    Button2 = new QPushButton("Info", this);
    Button2->setObjectName("Button2");
    Button2->setGeometry(104, 32, 75, 25);
    QObject::connect(Button2, &QPushButton::clicked, [this] { Button2Click(); });

    Label1 = new QLabel(this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(24, 64, 184, 16);
    Label2 = new QLabel(this);
    Label2->setObjectName("Label2");
    Label2->setGeometry(24, 80, 184, 16);

    RichEdit1 = new QPlainTextEdit(this);
    RichEdit1->setObjectName("RichEdit1");
    RichEdit1->setReadOnly(true);
    RichEdit1->setLineWrapMode(QPlainTextEdit::NoWrap);
    RichEdit1->setGeometry(112, 64, 81, 33);
    QFont courier("Courier New");
    courier.setStyleHint(QFont::TypeWriter);
    courier.setPointSize(8);
    RichEdit1->setFont(courier);
  }

  // Sets the form up for the mode.
  void FormCreate(bool log_file_mode) {
    if (log_file_mode) {
      setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
      RichEdit1->hide();
      Label1->clear();
      Label2->clear();
      setFixedSize(212, 98);
    } else {
      setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                     Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
      ProgressBar1->hide();
      Button1->hide();
      Button2->hide();
      Label1->hide();
      Label2->hide();
      RichEdit1->clear();
      auto* layout = new QVBoxLayout(this);
      layout->setContentsMargins(0, 0, 0, 0);
      layout->addWidget(RichEdit1);
      resize(525, 200);
    }
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      move(area.center() - QPoint(width() / 2, height() / 2));
    }
  }

  // "Cancel": the run ends at the next log line.
  void Button1Click() { cancel_requested = true; }

  // "Info": the estimation driver's current iteration and stop criterion.
  void Button2Click() {
    Label1->setText("Iteration = " + QString::number(progress.iteration));
    Label2->setText("Stop-criterion = " +
                    QString::fromStdString(FormatReal(8, 8, progress.stop_criterion)));
  }

  QProgressBar* ProgressBar1;
  QPushButton* Button1;
  QPushButton* Button2;
  QLabel* Label1;
  QLabel* Label2;
  QPlainTextEdit* RichEdit1;

  int lines_shown = 0;
  bool cancel_requested = false;
  bool finished = false;
  RunProgress progress;
  std::function<void()> on_finished_close;

 protected:
  void closeEvent(QCloseEvent* event) override {
    if (finished) {
      event->accept();
      if (on_finished_close) on_finished_close();
      return;
    }
    // During the run the close box acts as "Cancel"; the run itself ends the process.
    cancel_requested = true;
    event->ignore();
  }
};

QtPresentation::QtPresentation(const std::string& program_name)
    : program_name_(program_name.empty() ? std::string("tav95") : program_name) {
  if (QApplication::instance() == nullptr) {
    argv_[0] = program_name_.data();
    application_ = std::make_unique<QApplication>(argc_, argv_);
  }
  form_ = std::make_unique<TForm1>();
}

QtPresentation::~QtPresentation() {
  form_.reset();
  application_.reset();
}

QWidget* QtPresentation::form() const { return form_.get(); }

void QtPresentation::Begin(bool log_file_mode) {
  form_->FormCreate(log_file_mode);
  form_->show();
  form_->raise();
  form_->activateWindow();
  QCoreApplication::processEvents();
}

bool QtPresentation::PumpEvents(const RunProgress& progress) {
  form_->progress = progress;
  QCoreApplication::processEvents();
  return form_->cancel_requested;
}

void QtPresentation::LogLine(const std::string& text) {
  // Every line gets a block of its own, an empty first line too.
  QTextCursor cursor(form_->RichEdit1->document());
  cursor.movePosition(QTextCursor::End);
  if (form_->lines_shown > 0) cursor.insertBlock();
  cursor.insertText(QString::fromLocal8Bit(text.data(), text.size()));
  ++form_->lines_shown;
  // Keep the latest line in view.
  QScrollBar* bar = form_->RichEdit1->verticalScrollBar();
  bar->setValue(bar->maximum());
}

void QtPresentation::ProgressStep(int position) {
  form_->ProgressBar1->setValue(position < 0 ? 0 : (position > 100 ? 100 : position));
}

bool QtPresentation::AskClose() {
  const auto answer = QMessageBox::question(form_.get(), "Confirm", "Close this log window?",
                                            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
  return answer == QMessageBox::Yes;
}

void QtPresentation::ErrorBox(const std::string& text) {
  QMessageBox::critical(form_.get(), "Error", QString::fromLocal8Bit(text.data(), text.size()),
                        QMessageBox::Ok);
}

void QtPresentation::StayOpen() {
  form_->show();
  form_->RichEdit1->setFocus();
  form_->setWindowTitle("TAV Finished");
  form_->finished = true;
  if (!form_->isVisible()) return;
  QEventLoop loop;
  form_->on_finished_close = [&loop] { loop.quit(); };
  loop.exec();
  form_->on_finished_close = nullptr;
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
