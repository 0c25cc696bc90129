#ifndef TAV_FRONTEND_INPUT_EDITOR_H_
#define TAV_FRONTEND_INPUT_EDITOR_H_

#include <QString>

#include "child_window.h"
#include "examples_list.h"
#include "user_dialogs.h"

class QAction;
class QMenu;
class QPlainTextEdit;

namespace tavwin {

class InputHighlighter;

// The input editor "Input": writes, opens and saves input files, offers the example inputs
// and starts the engine on the text being edited. Commands, comments and brackets show in
// colour.
//
// The engine reads the text from the temporary input file, whose lines are the editor's lines
// one to one (RunText), so that the line of an input error in the log is the editor's line.
// An example is loaded as a text that was never saved: it runs in the working folder, to
// which its data files are copied, and a missing example file is reported and changes
// nothing.
class InputEditor : public ChildWindow {
  Q_OBJECT

 public:
  explicit InputEditor(MainWindow* frame);

  QList<QMenu*> Menus() const override;
  void Activated() override;
  bool MayClose() override;
  void ApplyFont(const QFont& font) override;

  // The text was changed since it was last opened or saved.
  bool TextModified() const;
  const QString& FileName() const { return file_name_; }
  // The name the input goes by: its file's name without directory, the example's file name,
  // or empty for a new text.
  QString DocumentName() const;
  // Where "Save &As..." of the input, or of its report or log with the extension suffix,
  // starts: the file's own name, else the name in the input's directory (the working folder
  // for an input never saved), else that directory.
  QString SuggestedSaveName(const QString& suffix) const;
  // The directory of the input, or the working folder for an input never saved.
  QString InputOrWorkingDirectory() const;
  // The text as the engine gets it: the editor's lines joined by line ends, one to one (a line
  // separator inside a line becomes a blank).
  QString RunText() const;
  // Writes RunText() to path in the file's own encoding; false with the reason in *error.
  bool WriteRunText(const QString& path, QString* error) const;
  // Puts the cursor on line (counted from 1) and selects the line.
  void SelectLine(int line);
  const QString& ExamplesDirectory() const { return examples_directory_; }

  // Loads a file into the editor as "&Open..." does after its dialog; false (with a message)
  // when it cannot be read.
  bool LoadFile(const QString& path);
  // "&Open..." without its dialog: asks to save, loads the file and takes its name; false
  // when the user cancelled or the file could not be read.
  bool OpenPath(const QString& path);

  static FileDialogSetup OpenSetup();
  static FileDialogSetup SaveSetup();

 public slots:
  void New();
  void Open();
  bool Save();
  bool SaveAs();
  void Run();
  void OpenExample(const QString& caption, const QString& file_name);

 signals:
  // "&Run": the user wants the text run.
  void RunRequested();
  // F1 on a command: the user wants its entry in the command reference.
  void HelpRequested(const QString& command);

 protected:
  QPlainTextEdit* TextEditor() const override;

 private:
  void createActions();
  void createMenus();
  void BuildExamplesMenu();
  void AddExampleEntries(QMenu* menu, const std::vector<ExampleEntry>& entries);
  void FillRecentMenu();
  bool eventFilter(QObject* watched, QEvent* event) override;
  // When the text was changed and "&Confirm" is checked, asks whether to save it first.
  // false: the user cancelled, and the request is dropped.
  bool AskToSave();
  // "&New": false when the user cancelled its question.
  bool NewText();
  bool WriteTo(const QString& path);
  void ShowFileCaption(const QString& name);
  // The file just read becomes the input's file.
  void TakeOpenedFile(const QString& path);

  QPlainTextEdit* editor_ = nullptr;
  QString file_name_;
  // The example's file name ("name.inp") while an example is loaded and not saved.
  QString example_name_;
  InputHighlighter* highlighter_ = nullptr;
  // The file was read as Latin-1; it is written back the same way.
  bool latin1_ = false;
  QString examples_directory_;

  QMenu* fileMenu_ = nullptr;
  QMenu* editMenu_ = nullptr;
  QMenu* examplesMenu_ = nullptr;
  QMenu* recentMenu_ = nullptr;
  QAction* newAct_ = nullptr;
  QAction* openAct_ = nullptr;
  QAction* saveAct_ = nullptr;
  QAction* saveAsAct_ = nullptr;
  QAction* runAct_ = nullptr;
  QAction* exitAct_ = nullptr;
  QAction* cutAct_ = nullptr;
  QAction* copyAct_ = nullptr;
  QAction* pasteAct_ = nullptr;
  QAction* undoAct_ = nullptr;
  QAction* redoAct_ = nullptr;
};

}  // namespace tavwin

#endif  // TAV_FRONTEND_INPUT_EDITOR_H_
