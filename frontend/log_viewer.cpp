#include "log_viewer.h"

#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

#include "main_window.h"

namespace tavwin {

LogViewer::LogViewer(MainWindow* frame)
    : ViewerWindow(frame, "Log", "Richedit1", frame->Paths().TempLogPath,
                   FileDialogSetup{"log", {"Log Files (*.log)", AllFilesFilter()}}) {
  setObjectName("TForm4");
  fileMenu_->addAction(saveAsAct_);
  fileMenu_->addSeparator();
  fileMenu_->addAction(exitAct_);
}

QList<QMenu*> LogViewer::Menus() const { return {fileMenu_, editMenu_}; }

void LogViewer::Loaded() {
  editor_->moveCursor(QTextCursor::End);
  editor_->moveCursor(QTextCursor::StartOfLine);
  editor_->ensureCursorVisible();
  editor_->verticalScrollBar()->setValue(editor_->verticalScrollBar()->maximum());
}

}  // namespace tavwin
