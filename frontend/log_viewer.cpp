#include "log_viewer.h"

#include <QMenu>

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

}  // namespace tavwin
