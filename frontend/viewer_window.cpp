#include "viewer_window.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "engine_launch.h"
#include "main_window.h"
#include "text_files.h"

namespace tavwin {

ViewerWindow::ViewerWindow(MainWindow* frame, const QString& base_caption,
                           const QString& editor_name, const QString& temp_path,
                           const FileDialogSetup& save_setup)
    : ChildWindow(frame, base_caption), temp_path_(temp_path), save_setup_(save_setup) {
  editor_ = new QPlainTextEdit(this);
  editor_->setObjectName(editor_name);
  editor_->setReadOnly(true);
  editor_->setLineWrapMode(QPlainTextEdit::NoWrap);
  editor_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  editor_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  editor_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(editor_);
  ApplyFont(frame->FrameFont());

  saveAsAct_ = NewAction("Save &As...", QKeySequence::keyBindings(QKeySequence::SaveAs), this,
                         &ViewerWindow::SaveAs);
  exitAct_ =
      NewAction("E&xit", QKeySequence::keyBindings(QKeySequence::Quit), frame_, &MainWindow::Exit);
  copyAct_ = NewAction("&Copy", {QKeySequence("Ctrl+C")}, editor_, &QPlainTextEdit::copy);

  fileMenu_ = new QMenu("&File", this);
  editMenu_ = new QMenu("&Edit", this);
  editMenu_->addAction(copyAct_);
  editMenu_->addSeparator();
  AddSelectAndFindActions(editMenu_);

  // A file left from an earlier session of the front end belongs to no run of this one.
  QFile::remove(temp_path_);
}

void ViewerWindow::ApplyFont(const QFont& font) { editor_->setFont(font); }

QPlainTextEdit* ViewerWindow::TextEditor() const { return editor_; }

void ViewerWindow::Activated() {
  if (engine_busy_ || LogFileInUse(temp_path_)) return;
  LoadTempFile();
}

bool ViewerWindow::LoadTempFile() {
  if (!QFileInfo::exists(temp_path_)) return false;
  QString text;
  if (!ReadTextFile(temp_path_, &text, nullptr)) return false;
  if (text.endsWith('\n')) text.chop(1);
  editor_->setPlainText(text);
  QFile::remove(temp_path_);
  setWindowTitle(base_caption_);
  save_name_.clear();
  Loaded();
  return true;
}

void ViewerWindow::Clear() {
  editor_->clear();
  setWindowTitle(base_caption_);
}

bool ViewerWindow::WriteTo(const QString& path) {
  QString error;
  QString text = editor_->toPlainText();
  if (!text.isEmpty()) text += '\n';
  if (!WriteTextFile(path, text, &error)) {
    frame_->Dialogs().Warn(this, "Cannot write " + QDir::toNativeSeparators(path) + ": " + error);
    return false;
  }
  return true;
}

QString ViewerWindow::SaveStart() const {
  if (!save_name_.isEmpty()) return save_name_;
  return frame_->SuggestedSaveName(save_setup_.default_suffix);
}

bool ViewerWindow::SaveAs() {
  const QString name = frame_->Dialogs().SaveFileName(this, save_setup_, SaveStart());
  if (name.isEmpty() || !WriteTo(name)) return false;
  save_name_ = name;
  setWindowTitle(base_caption_ + " - " + QFileInfo(name).fileName());
  return true;
}

}  // namespace tavwin
