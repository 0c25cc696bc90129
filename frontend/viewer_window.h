#ifndef TAV_FRONTEND_VIEWER_WINDOW_H_
#define TAV_FRONTEND_VIEWER_WINDOW_H_

#include <QString>

#include "child_window.h"
#include "user_dialogs.h"

class QAction;
class QMenu;
class QPlainTextEdit;

namespace tavwin {

// A read-only child window that shows a file the engine wrote ("out.tmp" or "log.tmp"). It
// picks the file up when it is activated after the engine has finished, and deletes it then.
// The frame tells it when a run starts and ends (SetEngineBusy); a file that an engine holds
// locked (a log being written) is not taken either.
class ViewerWindow : public ChildWindow {
  Q_OBJECT

 public:
  ViewerWindow(MainWindow* frame, const QString& base_caption, const QString& editor_name,
               const QString& temp_path, const FileDialogSetup& save_setup);

  void Activated() override;
  void ApplyFont(const QFont& font) override;

  // Empties the window and resets its caption (before a run).
  virtual void Clear();
  // A run is under way (true) or has ended (false): the window leaves its file alone while
  // the engine may still write it.
  void SetEngineBusy(bool busy) { engine_busy_ = busy; }

  const QString& TempPath() const { return temp_path_; }
  const FileDialogSetup& SaveSetup() const { return save_setup_; }

 public slots:
  // "Save &As...": true when the text was written.
  virtual bool SaveAs();

 protected:
  QPlainTextEdit* TextEditor() const override;
  // Loads the temporary file when no engine is running: the text is shown, the file deleted.
  // false when there was nothing to load.
  bool LoadTempFile();
  // Called after a load.
  virtual void Loaded() {}
  bool WriteTo(const QString& path);
  // Where "Save &As..." starts: the name last saved under, else the input's name with the
  // window's extension in the input's directory.
  QString SaveStart() const;

  QPlainTextEdit* editor_ = nullptr;
  QString temp_path_;
  FileDialogSetup save_setup_;
  QString save_name_;
  bool engine_busy_ = false;

  QMenu* fileMenu_ = nullptr;
  QMenu* editMenu_ = nullptr;
  QAction* saveAsAct_ = nullptr;
  QAction* exitAct_ = nullptr;
  QAction* copyAct_ = nullptr;
};

}  // namespace tavwin

#endif  // TAV_FRONTEND_VIEWER_WINDOW_H_
