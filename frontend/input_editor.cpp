#include "input_editor.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QVBoxLayout>

#include "engine_launch.h"
#include "log_viewer.h"
#include "main_window.h"
#include "report_viewer.h"
#include "text_files.h"

namespace tavwin {

InputEditor::InputEditor(MainWindow* frame) : ChildWindow(frame, "Input") {
  setObjectName("TForm2");
  editor_ = new QPlainTextEdit(this);
  editor_->setObjectName("RichEdit1");
  editor_->setLineWrapMode(QPlainTextEdit::NoWrap);
  editor_->setTabChangesFocus(false);
  editor_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  editor_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(editor_);
  ApplyFont(frame->FrameFont());

  createActions();
  createMenus();
  BuildExamplesMenu();

  // F1 opens the examples menu.
  auto* examples_key = new QShortcut(QKeySequence(Qt::Key_F1), this);
  examples_key->setContext(Qt::WidgetWithChildrenShortcut);
  connect(examples_key, &QShortcut::activated, this,
          [this] { frame_->menuBar()->setActiveAction(examplesMenu_->menuAction()); });
}

FileDialogSetup InputEditor::OpenSetup() {
  return FileDialogSetup{"inp", {"Input  Files (*.inp)", AllFilesFilter()}};
}

FileDialogSetup InputEditor::SaveSetup() {
  return FileDialogSetup{"inp", {"Input Files (*.inp)", AllFilesFilter()}};
}

void InputEditor::createActions() {
  newAct_ = new QAction("&New", this);
  connect(newAct_, &QAction::triggered, this, &InputEditor::New);
  openAct_ = new QAction("&Open...", this);
  connect(openAct_, &QAction::triggered, this, &InputEditor::Open);
  saveAct_ = new QAction("&Save", this);
  saveAct_->setShortcut(QKeySequence("Ctrl+S"));
  connect(saveAct_, &QAction::triggered, this, &InputEditor::Save);
  saveAsAct_ = new QAction("Save &As...", this);
  connect(saveAsAct_, &QAction::triggered, this, &InputEditor::SaveAs);
  runAct_ = new QAction("&Run", this);
  runAct_->setShortcut(QKeySequence("Ctrl+R"));
  connect(runAct_, &QAction::triggered, this, &InputEditor::Run);
  exitAct_ = new QAction("E&xit", this);
  connect(exitAct_, &QAction::triggered, frame_, &MainWindow::Exit);

  cutAct_ = new QAction("Cu&t", this);
  cutAct_->setShortcut(QKeySequence("Ctrl+X"));
  connect(cutAct_, &QAction::triggered, editor_, &QPlainTextEdit::cut);
  copyAct_ = new QAction("&Copy", this);
  copyAct_->setShortcut(QKeySequence("Ctrl+C"));
  connect(copyAct_, &QAction::triggered, editor_, &QPlainTextEdit::copy);
  pasteAct_ = new QAction("&Paste", this);
  pasteAct_->setShortcut(QKeySequence("Ctrl+V"));
  connect(pasteAct_, &QAction::triggered, editor_, &QPlainTextEdit::paste);
}

void InputEditor::createMenus() {
  fileMenu_ = new QMenu("&File", this);
  fileMenu_->addAction(newAct_);
  fileMenu_->addAction(openAct_);
  fileMenu_->addAction(saveAct_);
  fileMenu_->addAction(saveAsAct_);
  fileMenu_->addSeparator();
  fileMenu_->addAction(runAct_);
  fileMenu_->addSeparator();
  fileMenu_->addAction(exitAct_);

  editMenu_ = new QMenu("&Edit", this);
  editMenu_->addAction(cutAct_);
  editMenu_->addAction(copyAct_);
  editMenu_->addAction(pasteAct_);

  examplesMenu_ = new QMenu("E&xamples ", this);
  examplesMenu_->setObjectName("Examples");
}

QList<QMenu*> InputEditor::Menus() const { return {fileMenu_, editMenu_, examplesMenu_}; }

void InputEditor::BuildExamplesMenu() {
  examplesMenu_->clear();
  examples_directory_ = FindExamplesDirectory(frame_->Paths().directory);
  if (examples_directory_.isEmpty()) return;
  AddExampleEntries(examplesMenu_,
                    ReadExamplesList(QDir(examples_directory_).filePath("examples.lis")));
}

void InputEditor::AddExampleEntries(QMenu* menu, const std::vector<ExampleEntry>& entries) {
  for (const ExampleEntry& entry : entries) {
    if (entry.is_example) {
      QAction* action = menu->addAction(entry.caption);
      const QString caption = entry.caption;
      const QString file_name = entry.file_name;
      connect(action, &QAction::triggered, this,
              [this, caption, file_name] { OpenExample(caption, file_name); });
    } else {
      QMenu* submenu = menu->addMenu(entry.caption);
      AddExampleEntries(submenu, entry.children);
    }
  }
}

void InputEditor::Activated() { editor_->setFocus(); }

bool InputEditor::MayClose() { return AskToSave(); }

void InputEditor::ApplyFont(const QFont& font) { editor_->setFont(font); }

bool InputEditor::AskToSave() {
  if (!editor_->document()->isModified() || !frame_->ConfirmChecked()) return true;
  switch (frame_->Dialogs().AskYesNoCancel(this, base_caption_ + " not saved. Save now?")) {
    case UserDialogs::Answer::kYes:
      // A save that did not happen (its dialog cancelled, the file not written) keeps the
      // text: the request is dropped rather than losing it.
      return Save();
    case UserDialogs::Answer::kNo:
      return true;
    case UserDialogs::Answer::kCancel:
      return false;
  }
  return false;
}

void InputEditor::ShowFileCaption(const QString& name) {
  setWindowTitle(base_caption_ + " - " + name);
}

void InputEditor::New() { NewText(); }

bool InputEditor::NewText() {
  if (!AskToSave()) return false;
  editor_->clear();
  editor_->document()->setModified(false);
  latin1_ = false;
  setWindowTitle(base_caption_);
  file_name_.clear();
  return true;
}

bool InputEditor::LoadFile(const QString& path) {
  QString text;
  QString error;
  bool latin1 = false;
  if (!ReadTextFile(path, &text, &error, &latin1)) {
    frame_->Dialogs().Warn(this, "Cannot read " + QDir::toNativeSeparators(path) + ": " + error);
    return false;
  }
  editor_->setPlainText(text);
  editor_->document()->setModified(false);
  latin1_ = latin1;
  return true;
}

void InputEditor::Open() {
  if (!AskToSave()) return;
  const QString name = frame_->Dialogs().OpenFileName(this, OpenSetup(), frame_->InputDirectory());
  if (name.isEmpty() || !LoadFile(name)) return;
  ShowFileCaption(QFileInfo(name).fileName());
  file_name_ = name;
  frame_->SetInputDirectory(DirectoryWithSeparator(name));
}

bool InputEditor::WriteTo(const QString& path) {
  QString error;
  if (!WriteTextFile(path, editor_->toPlainText(), &error, latin1_)) {
    frame_->Dialogs().Warn(this, "Cannot write " + QDir::toNativeSeparators(path) + ": " + error);
    return false;
  }
  return true;
}

bool InputEditor::Save() {
  if (file_name_.isEmpty()) return SaveAs();
  if (!WriteTo(file_name_)) return false;
  editor_->document()->setModified(false);
  return true;
}

bool InputEditor::SaveAs() {
  const QString name = frame_->Dialogs().SaveFileName(this, SaveSetup(), file_name_);
  bool saved = false;
  if (!name.isEmpty() && WriteTo(name)) {
    file_name_ = name;
    editor_->document()->setModified(false);
    ShowFileCaption(QFileInfo(name).fileName());
    saved = true;
  }
  // The directory follows the dialog's file name, after Cancel too.
  frame_->SetInputDirectory(DirectoryWithSeparator(file_name_));
  return saved;
}

void InputEditor::OpenExample(const QString& caption, const QString& file_name) {
  Q_UNUSED(caption);
  if (!NewText()) return;
  const QString path = ExampleFilePath(examples_directory_, file_name);
  if (QFileInfo::exists(path)) LoadFile(path);
  frame_->SetInputDirectory(examples_directory_);
  ShowFileCaption(file_name + ".inp");
  editor_->document()->setModified(false);
}

void InputEditor::Run() {
  if (frame_->EngineRunning("Cannot Run.", true)) return;
  if (!frame_->ReportWindow()->SaveQuestion()) return;
  frame_->ReportWindow()->Clear();
  frame_->LogWindow()->Clear();
  const FrontEndPaths& paths = frame_->Paths();
  QString error;
  if (!WriteTextFile(paths.TempInputPath, editor_->toPlainText(), &error, latin1_)) {
    frame_->Dialogs().Warn(
        this, "Cannot write " + QDir::toNativeSeparators(paths.TempInputPath) + ": " + error);
    return;
  }
  // A log left from a run whose log was never looked at must not pass for this run's.
  QFile::remove(paths.TempLogPath);
  frame_->StartEngine(
      BuildEngineCommand(paths, frame_->InputDirectory(), frame_->ShowLogChecked()));
}

}  // namespace tavwin
