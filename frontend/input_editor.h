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

// The input editor "Input": writes, opens and saves input files, offers the example inputs
// and starts the engine on the text being edited.
class InputEditor : public ChildWindow {
  Q_OBJECT

 public:
  explicit InputEditor(MainWindow* frame);

  QList<QMenu*> Menus() const override;
  void Activated() override;
  bool MayClose() override;
  void ApplyFont(const QFont& font) override;

  QPlainTextEdit* Editor() const { return editor_; }
  const QString& FileName() const { return file_name_; }
  const QString& ExamplesDirectory() const { return examples_directory_; }
  QMenu* ExamplesMenu() const { return examplesMenu_; }

  // Loads a file into the editor as "&Open..." does after its dialog; false (with a message)
  // when it cannot be read.
  bool LoadFile(const QString& path);

  static FileDialogSetup OpenSetup();
  static FileDialogSetup SaveSetup();

 public slots:
  void New();
  void Open();
  bool Save();
  bool SaveAs();
  void Run();
  void OpenExample(const QString& caption, const QString& file_name);

 private:
  void createActions();
  void createMenus();
  void BuildExamplesMenu();
  void AddExampleEntries(QMenu* menu, const std::vector<ExampleEntry>& entries);
  // When the text was changed and "&Confirm" is checked, asks whether to save it first.
  // false: the user cancelled, and the request is dropped.
  bool AskToSave();
  // "&New": false when the user cancelled its question.
  bool NewText();
  bool WriteTo(const QString& path);
  void ShowFileCaption(const QString& name);

  QPlainTextEdit* editor_ = nullptr;
  QString file_name_;
  // The file was read as Latin-1; it is written back the same way.
  bool latin1_ = false;
  QString examples_directory_;

  QMenu* fileMenu_ = nullptr;
  QMenu* editMenu_ = nullptr;
  QMenu* examplesMenu_ = nullptr;
  QAction* newAct_ = nullptr;
  QAction* openAct_ = nullptr;
  QAction* saveAct_ = nullptr;
  QAction* saveAsAct_ = nullptr;
  QAction* runAct_ = nullptr;
  QAction* exitAct_ = nullptr;
  QAction* cutAct_ = nullptr;
  QAction* copyAct_ = nullptr;
  QAction* pasteAct_ = nullptr;
};

}  // namespace tavwin

#endif  // TAV_FRONTEND_INPUT_EDITOR_H_
