#include "tav95/progress_window.h"

#include <QCloseEvent>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "core/format_real.h"

namespace tav {

ProgressWindow::ProgressWindow() {
  setObjectName("TForm1");
  setWindowTitle("Running TAV...");
  QFont small = font();
  small.setPointSize(8);
  setFont(small);

  progress_bar = new QProgressBar(this);
  progress_bar->setObjectName("ProgressBar1");
  progress_bar->setGeometry(8, 8, 193, 17);
  progress_bar->setRange(0, 100);
  progress_bar->setValue(0);
  progress_bar->setTextVisible(false);

  cancel_button = new QPushButton("Cancel", this);
  cancel_button->setObjectName("Button1");
  cancel_button->setGeometry(24, 32, 75, 25);
  QObject::connect(cancel_button, &QPushButton::clicked, [this] { RequestCancel(); });

  info_button = new QPushButton("Info", this);
  info_button->setObjectName("Button2");
  info_button->setGeometry(104, 32, 75, 25);
  QObject::connect(info_button, &QPushButton::clicked, [this] { ShowInfo(); });

  iteration_label = new QLabel(this);
  iteration_label->setObjectName("Label1");
  iteration_label->setGeometry(24, 64, 184, 16);
  criterion_label = new QLabel(this);
  criterion_label->setObjectName("Label2");
  criterion_label->setGeometry(24, 80, 184, 16);

  log_view = new QPlainTextEdit(this);
  log_view->setObjectName("RichEdit1");
  log_view->setReadOnly(true);
  log_view->setLineWrapMode(QPlainTextEdit::NoWrap);
  log_view->setGeometry(112, 64, 81, 33);
  QFont courier("Courier New");
  courier.setStyleHint(QFont::TypeWriter);
  courier.setPointSize(8);
  log_view->setFont(courier);
}

void ProgressWindow::SetUp(bool log_file_mode) {
  if (log_file_mode) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    log_view->hide();
    iteration_label->clear();
    criterion_label->clear();
    setFixedSize(212, 98);
  } else {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    progress_bar->hide();
    cancel_button->hide();
    info_button->hide();
    iteration_label->hide();
    criterion_label->hide();
    log_view->clear();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(log_view);
    resize(525, 200);
  }
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
}

void ProgressWindow::ShowInfo() {
  QString iteration = "Iteration = " + QString::number(progress.iteration);
  if (progress.starts > 0) iteration += QString(" (start %1)").arg(progress.start);
  iteration_label->setText(iteration);
  criterion_label->setText("Stop-criterion = " +
                           QString::fromStdString(FormatReal(8, 8, progress.stop_criterion)));
}

void ProgressWindow::closeEvent(QCloseEvent* event) {
  if (finished) {
    event->accept();
    if (on_finished_close) on_finished_close();
    return;
  }
  // During the run the close box acts as "Cancel"; the run itself ends the process.
  cancel_requested = true;
  event->ignore();
}

}  // namespace tav
