#include "child_window.h"

#include <QCloseEvent>
#include <QMdiSubWindow>
#include <QTimer>

namespace tavwin {

ChildWindow::ChildWindow(MainWindow* frame, const QString& base_caption)
    : frame_(frame), base_caption_(base_caption) {
  setWindowTitle(base_caption);
}

QMdiSubWindow* ChildWindow::SubWindow() const {
  return qobject_cast<QMdiSubWindow*>(parentWidget());
}

void ChildWindow::closeEvent(QCloseEvent* event) {
  event->ignore();
  if (!MayClose()) return;
  if (QMdiSubWindow* window = SubWindow()) {
    QTimer::singleShot(0, window, [window] { window->showMinimized(); });
  }
}

}  // namespace tavwin
