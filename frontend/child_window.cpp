#include "child_window.h"

#include <QCloseEvent>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTimer>

#include "main_window.h"

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

void ChildWindow::PassDropsTo(QObject* filter) {
  TextEditor()->viewport()->setAcceptDrops(true);
  TextEditor()->viewport()->installEventFilter(filter);
}

void ChildWindow::Find() {
  const std::optional<QString> text = frame_->Dialogs().AskText(this, "Find", "Find:", find_text_);
  if (!text || text->isEmpty()) return;
  find_text_ = *text;
  FindNext();
}

void ChildWindow::FindNext() {
  if (find_text_.isEmpty()) {
    Find();
    return;
  }
  if (!FindFromCursor(find_text_)) {
    frame_->Dialogs().Inform(this, "Cannot find \"" + find_text_ + "\".");
  }
}

bool ChildWindow::FindFromCursor(const QString& text) {
  QPlainTextEdit* editor = TextEditor();
  if (editor->find(text)) return true;
  // On from the top.
  const QTextCursor kept = editor->textCursor();
  QTextCursor top(editor->document());
  editor->setTextCursor(top);
  if (editor->find(text)) return true;
  editor->setTextCursor(kept);
  return false;
}

void ChildWindow::AddSelectAndFindActions(QMenu* menu) {
  menu->addAction(NewAction("Select &All", QKeySequence::keyBindings(QKeySequence::SelectAll),
                            TextEditor(), &QPlainTextEdit::selectAll));
  menu->addAction(NewAction("&Find...", QKeySequence::keyBindings(QKeySequence::Find), this,
                            &ChildWindow::Find));
  menu->addAction(NewAction("Find &Next", QKeySequence::keyBindings(QKeySequence::FindNext), this,
                            &ChildWindow::FindNext));
}

}  // namespace tavwin
