#include "tavwin4.h"

#include <QMenu>

#include "tavwin1.h"

namespace tavwin {

TForm4::TForm4(TForm1* frame)
    : ViewerWindow(frame, "Log", "Richedit1", frame->Paths().TempLogPath,
                   FileDialogSetup{"log", {"Log Files (*.log)", AllFilesFilter()}}) {
  setObjectName("TForm4");
  fileMenu_->addAction(saveAsAct_);
  fileMenu_->addSeparator();
  fileMenu_->addAction(exitAct_);
}

QList<QMenu*> TForm4::Menus() const { return {fileMenu_, editMenu_}; }

}  // namespace tavwin
