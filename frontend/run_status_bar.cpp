#include "run_status_bar.h"

#include <QLabel>
#include <QPushButton>

#include "engine_run.h"

namespace tavwin {

RunStatusBar::RunStatusBar(EngineRun* run, QWidget* parent) : QStatusBar(parent) {
  setObjectName("RunStatusBar");
  label_ = new QLabel(this);
  label_->setObjectName("RunStatus");
  label_->setTextFormat(Qt::PlainText);
  addWidget(label_, 1);
  cancel_ = new QPushButton("Cancel", this);
  cancel_->setObjectName("CancelRun");
  cancel_->setToolTip("Stop the run; the results of earlier runs stay as they are");
  cancel_->hide();
  addPermanentWidget(cancel_);
  connect(cancel_, &QPushButton::clicked, this, [this] { cancel_->setEnabled(false); });
  connect(cancel_, &QPushButton::clicked, run, &EngineRun::Cancel);
  connect(run, &EngineRun::started, this, &RunStatusBar::RunStarted);
  connect(run, &EngineRun::progress, this, &RunStatusBar::RunProgressed);
  connect(run, &EngineRun::finished, this,
          [this](RunStatus status, qint64 milliseconds, const QString& message, const QString&) {
            RunFinished(status, milliseconds, message);
          });
}

QString RunStatusBar::Text() const { return label_->text(); }

void RunStatusBar::RunStarted() {
  cancel_->setEnabled(true);
  cancel_->show();
  label_->setText(RunProgressMessage(-1, 0, 0));
}

void RunStatusBar::RunProgressed(qint64 iteration, double log_likelihood, qint64 milliseconds) {
  label_->setText(RunProgressMessage(iteration, log_likelihood, milliseconds));
}

void RunStatusBar::RunFinished(RunStatus, qint64, const QString& message) {
  cancel_->hide();
  label_->setText(message);
}

}  // namespace tavwin
