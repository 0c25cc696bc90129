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
  RichEdit1 = new QPlainTextEdit(this);
  RichEdit1->setObjectName("RichEdit1");
  RichEdit1->setLineWrapMode(QPlainTextEdit::NoWrap);
  RichEdit1->setTabChangesFocus(false);
  RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(RichEdit1);
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
  connect(newAct_, &QAction::triggered, this, &InputEditor::New1Click);
  openAct_ = new QAction("&Open...", this);
  connect(openAct_, &QAction::triggered, this, &InputEditor::Open1Click);
  saveAct_ = new QAction("&Save", this);
  saveAct_->setShortcut(QKeySequence("Ctrl+S"));
  connect(saveAct_, &QAction::triggered, this, &InputEditor::Save1Click);
  saveAsAct_ = new QAction("Save &As...", this);
  connect(saveAsAct_, &QAction::triggered, this, &InputEditor::SaveAs1Click);
  runAct_ = new QAction("&Run", this);
  runAct_->setShortcut(QKeySequence("Ctrl+R"));
  connect(runAct_, &QAction::triggered, this, &InputEditor::Run1Click);
  exitAct_ = new QAction("E&xit", this);
  connect(exitAct_, &QAction::triggered, frame_, &MainWindow::Exit1Click);

  cutAct_ = new QAction("Cu&t", this);
  cutAct_->setShortcut(QKeySequence("Ctrl+X"));
  connect(cutAct_, &QAction::triggered, RichEdit1, &QPlainTextEdit::cut);
  copyAct_ = new QAction("&Copy", this);
  copyAct_->setShortcut(QKeySequence("Ctrl+C"));
  connect(copyAct_, &QAction::triggered, RichEdit1, &QPlainTextEdit::copy);
  pasteAct_ = new QAction("&Paste", this);
  pasteAct_->setShortcut(QKeySequence("Ctrl+V"));
  connect(pasteAct_, &QAction::triggered, RichEdit1, &QPlainTextEdit::paste);
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

void InputEditor::FormActivate() { RichEdit1->setFocus(); }

bool InputEditor::CloseQuery() { return AskToSave(); }

void InputEditor::ApplyFont(const QFont& font) { RichEdit1->setFont(font); }

bool InputEditor::AskToSave() {
  if (!RichEdit1->document()->isModified() || !frame_->ConfirmChecked()) return true;
  switch (frame_->Dialogs().AskYesNoCancel(this, base_caption_ + " not saved. Save now?")) {
    case UserDialogs::Answer::kYes:
      // A save that did not happen (its dialog cancelled, the file not written) keeps the
      // text: the request is dropped rather than losing it.
      return Save1Click();
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

void InputEditor::New1Click() { NewText(); }

bool InputEditor::NewText() {
  if (!AskToSave()) return false;
  RichEdit1->clear();
  RichEdit1->document()->setModified(false);
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
  RichEdit1->setPlainText(text);
  RichEdit1->document()->setModified(false);
  latin1_ = latin1;
  return true;
}

void InputEditor::Open1Click() {
  if (!AskToSave()) return;
  const QString name = frame_->Dialogs().OpenFileName(this, OpenSetup(), frame_->InputDirectory());
  if (name.isEmpty() || !LoadFile(name)) return;
  ShowFileCaption(QFileInfo(name).fileName());
  file_name_ = name;
  frame_->SetInputDirectory(DirectoryWithSeparator(name));
}

bool InputEditor::WriteTo(const QString& path) {
  QString error;
  if (!WriteTextFile(path, RichEdit1->toPlainText(), &error, latin1_)) {
    frame_->Dialogs().Warn(this, "Cannot write " + QDir::toNativeSeparators(path) + ": " + error);
    return false;
  }
  return true;
}

bool InputEditor::Save1Click() {
  if (file_name_.isEmpty()) return SaveAs1Click();
  if (!WriteTo(file_name_)) return false;
  RichEdit1->document()->setModified(false);
  return true;
}

bool InputEditor::SaveAs1Click() {
  const QString name = frame_->Dialogs().SaveFileName(this, SaveSetup(), file_name_);
  bool saved = false;
  if (!name.isEmpty() && WriteTo(name)) {
    file_name_ = name;
    RichEdit1->document()->setModified(false);
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
  RichEdit1->document()->setModified(false);
}

void InputEditor::Run1Click() {
  if (frame_->EngineRunning("Cannot Run.", true)) return;
  if (!frame_->ReportWindow()->SaveQuestion()) return;
  frame_->ReportWindow()->Clear();
  frame_->LogWindow()->Clear();
  const FrontEndPaths& paths = frame_->Paths();
  QString error;
  if (!WriteTextFile(paths.TempInputPath, RichEdit1->toPlainText(), &error, latin1_)) {
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
