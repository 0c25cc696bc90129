#include "input_editor.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QTextBlock>
#include <QVBoxLayout>

#include "engine_launch.h"
#include "input_highlighter.h"
#include "input_syntax.h"
#include "main_window.h"
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
  highlighter_ = new InputHighlighter(editor_->document());
  editor_->installEventFilter(this);
  connect(editor_->document(), &QTextDocument::modificationChanged, frame_,
          &MainWindow::UpdateTitle);

  createActions();
  createMenus();
  BuildExamplesMenu();

  // F1 on a command opens its entry in the command reference; elsewhere it opens the examples
  // menu.
  auto* help_key = new QShortcut(QKeySequence(Qt::Key_F1), this);
  help_key->setContext(Qt::WidgetWithChildrenShortcut);
  connect(help_key, &QShortcut::activated, this, [this] {
    const QTextCursor cursor = editor_->textCursor();
    const QString command = CommandAt(cursor.block().text(), cursor.positionInBlock());
    if (command.isEmpty()) {
      frame_->menuBar()->setActiveAction(examplesMenu_->menuAction());
    } else {
      emit HelpRequested(command);
    }
  });
}

FileDialogSetup InputEditor::OpenSetup() {
  return FileDialogSetup{"inp", {"Input  Files (*.inp)", AllFilesFilter()}};
}

FileDialogSetup InputEditor::SaveSetup() {
  return FileDialogSetup{"inp", {"Input Files (*.inp)", AllFilesFilter()}};
}

void InputEditor::createActions() {
  newAct_ =
      NewAction("&New", QKeySequence::keyBindings(QKeySequence::New), this, &InputEditor::New);
  openAct_ = NewAction("&Open...", QKeySequence::keyBindings(QKeySequence::Open), this,
                       &InputEditor::Open);
  saveAct_ =
      NewAction("&Save", QKeySequence::keyBindings(QKeySequence::Save), this, &InputEditor::Save);
  saveAsAct_ = NewAction("Save &As...", QKeySequence::keyBindings(QKeySequence::SaveAs), this,
                         &InputEditor::SaveAs);
  runAct_ = NewAction("&Run", {QKeySequence("Ctrl+R")}, this, &InputEditor::Run);
  exitAct_ =
      NewAction("E&xit", QKeySequence::keyBindings(QKeySequence::Quit), frame_, &MainWindow::Exit);

  undoAct_ = new QAction("&Undo", this);
  undoAct_->setShortcuts(QKeySequence::Undo);
  undoAct_->setEnabled(false);
  connect(undoAct_, &QAction::triggered, editor_, &QPlainTextEdit::undo);
  connect(editor_, &QPlainTextEdit::undoAvailable, undoAct_, &QAction::setEnabled);
  redoAct_ = new QAction("&Redo", this);
  redoAct_->setShortcuts(QKeySequence::Redo);
  redoAct_->setEnabled(false);
  connect(redoAct_, &QAction::triggered, editor_, &QPlainTextEdit::redo);
  connect(editor_, &QPlainTextEdit::redoAvailable, redoAct_, &QAction::setEnabled);
  cutAct_ = NewAction("Cu&t", {QKeySequence("Ctrl+X")}, editor_, &QPlainTextEdit::cut);
  copyAct_ = NewAction("&Copy", {QKeySequence("Ctrl+C")}, editor_, &QPlainTextEdit::copy);
  pasteAct_ = NewAction("&Paste", {QKeySequence("Ctrl+V")}, editor_, &QPlainTextEdit::paste);
}

void InputEditor::createMenus() {
  fileMenu_ = new QMenu("&File", this);
  fileMenu_->addAction(newAct_);
  fileMenu_->addAction(openAct_);
  recentMenu_ = fileMenu_->addMenu("Open &Recent");
  recentMenu_->setObjectName("Recent");
  connect(recentMenu_, &QMenu::aboutToShow, this, &InputEditor::FillRecentMenu);
  fileMenu_->addAction(saveAct_);
  fileMenu_->addAction(saveAsAct_);
  fileMenu_->addSeparator();
  fileMenu_->addAction(runAct_);
  fileMenu_->addSeparator();
  fileMenu_->addAction(exitAct_);

  editMenu_ = new QMenu("&Edit", this);
  editMenu_->addAction(undoAct_);
  editMenu_->addAction(redoAct_);
  editMenu_->addSeparator();
  editMenu_->addAction(cutAct_);
  editMenu_->addAction(copyAct_);
  editMenu_->addAction(pasteAct_);
  editMenu_->addSeparator();
  AddSelectAndFindActions(editMenu_);

  examplesMenu_ = new QMenu("E&xamples ", this);
  examplesMenu_->setObjectName("Examples");
}

QList<QMenu*> InputEditor::Menus() const { return {fileMenu_, editMenu_, examplesMenu_}; }

void InputEditor::FillRecentMenu() {
  recentMenu_->clear();
  const QStringList files = frame_->RecentFiles();
  for (int i = 0; i < files.size(); ++i) {
    // "&1 name" and so on: the digit chooses the entry from the keyboard.
    const QString number = i < 9 ? QString("&%1 ").arg(i + 1) : QString("%1 ").arg(i + 1);
    QString shown = QDir::toNativeSeparators(files[i]);
    shown.replace('&', "&&");
    QAction* action = recentMenu_->addAction(number + shown);
    const QString path = files[i];
    connect(action, &QAction::triggered, this, [this, path] {
      if (!QFileInfo(path).isFile()) {
        frame_->Dialogs().Warn(this,
                               "The file " + QDir::toNativeSeparators(path) + " was not found.");
        frame_->RemoveRecentFile(path);
        return;
      }
      OpenPath(path);
    });
  }
  recentMenu_->setEnabled(true);
  if (files.isEmpty()) recentMenu_->addAction("(none)")->setEnabled(false);
}

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

bool InputEditor::TextModified() const { return editor_->document()->isModified(); }

QPlainTextEdit* InputEditor::TextEditor() const { return editor_; }

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
  frame_->UpdateTitle();
}

QString InputEditor::DocumentName() const {
  if (!file_name_.isEmpty()) return QFileInfo(file_name_).fileName();
  return example_name_;
}

QString InputEditor::InputOrWorkingDirectory() const {
  const QString directory = frame_->InputDirectory();
  return directory.isEmpty() ? frame_->Paths().WorkingDirectory : directory;
}

QString InputEditor::SuggestedSaveName(const QString& suffix) const {
  if (suffix == "inp" && !file_name_.isEmpty()) return file_name_;
  const QString name = DocumentName();
  const QString directory = InputOrWorkingDirectory();
  if (name.isEmpty()) return directory;
  const QString base = QFileInfo(name).completeBaseName();
  return QDir(directory).filePath(base + "." + suffix);
}

QString InputEditor::RunText() const {
  QStringList lines;
  for (QTextBlock block = editor_->document()->begin(); block.isValid(); block = block.next()) {
    QString line = block.text();
    line.replace(QChar::LineSeparator, ' ');
    lines << line;
  }
  return lines.join('\n');
}

void InputEditor::SelectLine(int line) {
  const QTextBlock block = editor_->document()->findBlockByNumber(line - 1);
  if (!block.isValid()) return;
  QTextCursor cursor(block);
  cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  editor_->setTextCursor(cursor);
  editor_->centerCursor();
  editor_->setFocus();
}

bool InputEditor::eventFilter(QObject* watched, QEvent* event) {
  // Shift+Return makes a line of its own, as Return does: the engine knows no other kind of
  // line break.
  if (watched == editor_ && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
        (key->modifiers() & Qt::ShiftModifier)) {
      editor_->textCursor().insertBlock();
      editor_->ensureCursorVisible();
      return true;
    }
  }
  return ChildWindow::eventFilter(watched, event);
}

void InputEditor::New() { NewText(); }

bool InputEditor::NewText() {
  if (!AskToSave()) return false;
  editor_->clear();
  editor_->document()->setModified(false);
  latin1_ = false;
  setWindowTitle(base_caption_);
  file_name_.clear();
  example_name_.clear();
  frame_->UpdateTitle();
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
  const QString name = frame_->Dialogs().OpenFileName(this, OpenSetup(), InputOrWorkingDirectory());
  if (name.isEmpty() || !LoadFile(name)) return;
  TakeOpenedFile(name);
}

bool InputEditor::OpenPath(const QString& path) {
  if (!AskToSave() || !LoadFile(path)) return false;
  TakeOpenedFile(path);
  return true;
}

void InputEditor::TakeOpenedFile(const QString& path) {
  file_name_ = path;
  example_name_.clear();
  ShowFileCaption(QFileInfo(path).fileName());
  frame_->SetInputDirectory(DirectoryWithSeparator(path));
  frame_->AddRecentFile(QFileInfo(path).absoluteFilePath());
}

bool InputEditor::WriteTo(const QString& path) {
  QString error;
  if (!WriteTextFile(path, RunText(), &error, latin1_)) {
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
  const QString name = frame_->Dialogs().SaveFileName(this, SaveSetup(), SuggestedSaveName("inp"));
  bool saved = false;
  if (!name.isEmpty() && WriteTo(name)) {
    file_name_ = name;
    example_name_.clear();
    editor_->document()->setModified(false);
    ShowFileCaption(QFileInfo(name).fileName());
    frame_->AddRecentFile(QFileInfo(name).absoluteFilePath());
    saved = true;
  }
  // The directory follows the dialog's file name, after Cancel too.
  frame_->SetInputDirectory(DirectoryWithSeparator(file_name_));
  return saved;
}

void InputEditor::OpenExample(const QString& caption, const QString& file_name) {
  const QString path = ExampleFilePath(examples_directory_, file_name);
  if (!QFileInfo(path).isFile()) {
    frame_->Dialogs().Warn(this, "The file of the example \"" + caption + "\", " +
                                     QDir::toNativeSeparators(path) + ", was not found.");
    return;
  }
  if (!NewText()) return;
  if (!LoadFile(path)) return;
  // The example runs as a text never saved, in the working folder, beside its data.
  QString error;
  if (!CopyExampleDataFiles(examples_directory_, frame_->Paths().WorkingDirectory, &error)) {
    frame_->Dialogs().Warn(this, error);
  }
  frame_->SetInputDirectory(QString());
  example_name_ = QFileInfo(path).fileName();
  ShowFileCaption(file_name + ".inp");
  editor_->document()->setModified(false);
}

void InputEditor::Run() { emit RunRequested(); }

bool InputEditor::WriteRunText(const QString& path, QString* error) const {
  return WriteTextFile(path, RunText(), error, latin1_);
}

}  // namespace tavwin
