#ifndef TAV_FRONTEND_MAIN_WINDOW_H_
#define TAV_FRONTEND_MAIN_WINDOW_H_

#include <QFont>
#include <QIcon>
#include <QMainWindow>
#include <QString>
#include <memory>

#include "engine_launch.h"
#include "user_dialogs.h"

class QAction;
class QMdiArea;
class QMdiSubWindow;
class QMenu;

namespace tavwin {

class ChildWindow;
class InputEditor;
class ReportViewer;
class LogViewer;
class ChiSquaredTool;

// The frame "TAV for Windows": a multiple-document window holding the input editor, the
// report viewer and the log viewer, plus the chi-squared tool outside it. It keeps the
// settings file, the preferences and the files shared with the engine, and knows whether an
// engine is running.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // paths: the engine and the temporary files; settings_path: "TAV.Ini"; dialogs: who answers
  // the questions (the toolkit's boxes when null).
  MainWindow(const FrontEndPaths& paths, const QString& settings_path,
             UserDialogs* dialogs = nullptr);
  ~MainWindow() override;

  // True while an engine runs. With tell, a box shows message followed by
  // " Program is still running.".
  bool EngineRunning(const QString& message, bool tell);
  // Starts the engine without waiting for it; a missing engine program or a failed start is
  // reported to the user (false).
  bool StartEngine(const EngineCommand& command);

  const FrontEndPaths& Paths() const { return paths_; }
  const QString& InputDirectory() const { return input_directory_; }
  void SetInputDirectory(const QString& directory) { input_directory_ = directory; }
  bool ConfirmChecked() const;
  bool ShowLogChecked() const;
  const QFont& FrameFont() const { return frame_font_; }
  // The frame and every child take font.
  void SetFrameFont(const QFont& font);
  UserDialogs& Dialogs() { return *dialogs_; }

  InputEditor* InputWindow() const { return input_editor_; }
  ReportViewer* ReportWindow() const { return report_viewer_; }
  LogViewer* LogWindow() const { return log_viewer_; }
  ChiSquaredTool* ChiSquaredWindow() const { return chi_squared_tool_; }
  QMdiArea* MdiArea() const { return mdi_area_; }
  int ChildWidth() const { return child_width_; }
  int ChildHeight() const { return child_height_; }

  // The font a name and size stand for; monospaced fonts stand in for a missing one.
  static QFont MakeFont(const QString& name, int point_size);
  // The front end's window icon.
  static QIcon MakeIcon();

 public slots:
  void Exit();
  void ShowChiSquaredTool();
  void ChooseFrameFont();
  void ResetPreferences();
  void Cascade();
  void Tile();
  void ResizeToDefault();
  void ArrangeIcons();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private slots:
  void SubWindowActivated(QMdiSubWindow* window);

 private:
  void createActions();
  void createMenus();
  void readSettings();
  void writeSettings();
  void UpdateMenus(ChildWindow* active);
  QMdiSubWindow* AddChild(ChildWindow* child, int offset);
  QSize ClientSize() const;
  void ScaleChildren();

  FrontEndPaths paths_;
  QString settings_path_;
  std::unique_ptr<UserDialogs> own_dialogs_;
  UserDialogs* dialogs_;
  QString input_directory_;
  QFont frame_font_;
  int child_width_ = 0;
  int child_height_ = 0;
  qint64 engine_pid_ = 0;

  QMdiArea* mdi_area_ = nullptr;
  InputEditor* input_editor_ = nullptr;
  ReportViewer* report_viewer_ = nullptr;
  LogViewer* log_viewer_ = nullptr;
  ChiSquaredTool* chi_squared_tool_ = nullptr;

  QMenu* fileMenu_ = nullptr;
  QMenu* toolsMenu_ = nullptr;
  QMenu* preferencesMenu_ = nullptr;
  QMenu* windowMenu_ = nullptr;
  QAction* exitAct_ = nullptr;
  QAction* chiSquaredAct_ = nullptr;
  QAction* fontAct_ = nullptr;
  QAction* showLogAct_ = nullptr;  // "&Show Log "
  QAction* confirmAct_ = nullptr;  // "&Confirm"
  QAction* resetAct_ = nullptr;
  QAction* cascadeAct_ = nullptr;
  QAction* tileAct_ = nullptr;
  QAction* resizeAct_ = nullptr;
  QAction* arrangeAct_ = nullptr;
};

}  // namespace tavwin

#endif  // TAV_FRONTEND_MAIN_WINDOW_H_
