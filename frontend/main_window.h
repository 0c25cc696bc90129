#ifndef TAV_FRONTEND_MAIN_WINDOW_H_
#define TAV_FRONTEND_MAIN_WINDOW_H_

#include <QFont>
#include <QIcon>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <memory>

#include "engine_launch.h"
#include "run_log.h"
#include "user_dialogs.h"

class QAction;
class QDragEnterEvent;
class QDropEvent;
class QMimeData;
class QMdiArea;
class QMdiSubWindow;
class QMenu;

namespace tavwin {

class ChildWindow;
class InputEditor;
class ReportViewer;
class LogViewer;
class ChiSquaredTool;
class CommandReferenceWindow;
class PlotWindow;
class EngineRun;
class RunStatusBar;

// The frame "TAV for Windows": a multiple-document window holding the input editor, the
// report viewer and the log viewer, plus the chi-squared tool and the command reference
// outside it. It keeps the settings file, the preferences, the recent files and the files
// shared with the engine, and knows whether an engine is running. Its title shows the
// input's name; a file dropped on it is opened in the input editor.
//
// The frame runs the engine on the input editor's text (EngineRun) and follows the run in its
// status bar. When the run ends, the window that tells its outcome is activated, which loads
// its file: the log (and then the report) after a normal end, the log alone after an error or
// a cancel; when the run stopped on an error in the input, the input editor selects the line
// of the error; an open plots window draws the run's results.
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
  // "&Run" of the input editor: asks about an unsaved report, empties the viewers, writes the
  // input to the temporary input file and starts the engine on it.
  void RunInput();
  // The run under way, or the last one.
  EngineRun* Run() const { return run_; }
  // What the status bar says about the run.
  QString RunStatusText() const;
  // Where "Save &As..." of the report or log (suffix "out" or "log") starts.
  QString SuggestedSaveName(const QString& suffix) const;

  const FrontEndPaths& Paths() const { return paths_; }
  const QString& InputDirectory() const { return input_directory_; }
  void SetInputDirectory(const QString& directory) { input_directory_ = directory; }
  bool ConfirmChecked() const;
  bool ShowLogChecked() const;
  const QFont& FrameFont() const { return frame_font_; }
  // The name of the font as the settings file keeps it: the family chosen, or the name asked
  // for when a stand-in shows for a font that is not installed.
  const QString& FontName() const { return font_name_; }
  // The frame and every child take font.
  void SetFrameFont(const QFont& font);

  // Input files opened or saved of late, the latest first.
  const QStringList& RecentFiles() const { return recent_files_; }
  void AddRecentFile(const QString& path);
  void RemoveRecentFile(const QString& path);
  // Opens a file in the input editor (asking first to save the text being edited).
  bool OpenFile(const QString& path);
  // The frame's title from the input's name and modified state.
  void UpdateTitle();
  UserDialogs& Dialogs() { return *dialogs_; }

  int ChildWidth() const { return child_width_; }
  int ChildHeight() const { return child_height_; }

  // The font a name and size stand for. A family that is not installed is replaced by a
  // fixed-pitch font (FixedPitchFallback), so that the report's columns line up; the family of the
  // result is always one the font database lists, so that the font dialog can start from it.
  static QFont MakeFont(const QString& name, int point_size);
  // The font that stands in for a family that is not installed: the first of the system's
  // fixed font and well-known monospace families that the toolkit reports as of fixed pitch.
  static QFont FixedPitchFallback();
  // The distance between two cascaded windows: their title bar's height.
  int CascadeStep() const;
  // The front end's window icon.
  static QIcon MakeIcon();

 public slots:
  void Exit();
  void ShowChiSquaredTool();
  // "P&lots...": the plots of the last run's results document.
  void ShowPlots();
  void ChooseFrameFont();
  void ResetPreferences();
  void Cascade();
  void Tile();
  void ResizeToDefault();
  void ArrangeIcons();
  void ShowCommandReference();
  void About();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private slots:
  void SubWindowActivated(QMdiSubWindow* window);

 private:
  void createActions();
  void createMenus();
  void readSettings();
  void writeSettings();
  void UpdateMenus(ChildWindow* active);
  // "&Window": its four items, then the open windows.
  void FillWindowMenu();
  QMdiSubWindow* AddChild(ChildWindow* child, int offset);
  QSize ClientSize() const;
  void ScaleChildren();
  void RunFinished(RunStatus status, const QString& log_tail);
  // Shows a child (restored when minimised) and makes it the active one.
  void ActivateChild(ChildWindow* child);
  // Lets a child's text take dropped files to the frame.
  void AcceptDropsOn(QWidget* widget);
  // The local file a drag carries, or empty.
  static QString DroppedFile(const QMimeData* data);

  FrontEndPaths paths_;
  QString settings_path_;
  std::unique_ptr<UserDialogs> own_dialogs_;
  UserDialogs* dialogs_;
  QString input_directory_;
  QFont frame_font_;
  QString font_name_;
  QStringList recent_files_;
  EngineRun* run_ = nullptr;
  RunStatusBar* status_bar_ = nullptr;
  int child_width_ = 0;
  int child_height_ = 0;

  QMdiArea* mdi_area_ = nullptr;
  InputEditor* input_editor_ = nullptr;
  ReportViewer* report_viewer_ = nullptr;
  LogViewer* log_viewer_ = nullptr;
  ChiSquaredTool* chi_squared_tool_ = nullptr;
  CommandReferenceWindow* command_reference_ = nullptr;
  PlotWindow* plot_window_ = nullptr;

  QMenu* fileMenu_ = nullptr;
  QMenu* toolsMenu_ = nullptr;
  QMenu* preferencesMenu_ = nullptr;
  QMenu* windowMenu_ = nullptr;
  QMenu* helpMenu_ = nullptr;
  QAction* exitAct_ = nullptr;
  QAction* chiSquaredAct_ = nullptr;
  QAction* plotsAct_ = nullptr;
  QAction* fontAct_ = nullptr;
  QAction* showLogAct_ = nullptr;  // "&Show Log "
  QAction* confirmAct_ = nullptr;  // "&Confirm"
  QAction* resetAct_ = nullptr;
  QAction* cascadeAct_ = nullptr;
  QAction* tileAct_ = nullptr;
  QAction* resizeAct_ = nullptr;
  QAction* arrangeAct_ = nullptr;
  QAction* referenceAct_ = nullptr;
  QAction* aboutAct_ = nullptr;
  QAction* aboutQtAct_ = nullptr;
};

}  // namespace tavwin

#endif  // TAV_FRONTEND_MAIN_WINDOW_H_
