#include "main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProcess>
#include <QStyle>
#include <QStyleOptionTitleBar>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cmath>

#include "chi_squared_tool.h"
#include "command_reference_window.h"
#include "engine_run.h"
#include "help_files.h"
#include "input_editor.h"
#include "log_viewer.h"
#include "plot_window.h"
#include "report_viewer.h"
#include "run_status_bar.h"
#include "settings_file.h"
#include "text_files.h"

namespace tavwin {

namespace {

constexpr int kChildMargin = 60;
constexpr int kDefaultWidth = 600;
constexpr int kDefaultHeight = 450;
constexpr char kTitle[] = "TAV for Windows";

}  // namespace

MainWindow::MainWindow(const FrontEndPaths& paths, const QString& settings_path,
                       UserDialogs* dialogs)
    : paths_(paths), settings_path_(settings_path) {
  setObjectName("TForm1");
  setWindowTitle(kTitle);
  setWindowIcon(MakeIcon());
  setAcceptDrops(true);
  if (dialogs == nullptr) {
    own_dialogs_ = std::make_unique<QtUserDialogs>();
    dialogs = own_dialogs_.get();
  }
  dialogs_ = dialogs;

  mdi_area_ = new QMdiArea(this);
  mdi_area_->setObjectName("MdiArea");
  mdi_area_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  mdi_area_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(mdi_area_);
  run_ = new EngineRun(this);
  status_bar_ = new RunStatusBar(run_, this);
  setStatusBar(status_bar_);

  createActions();
  createMenus();
  readSettings();

  const QSize client = ClientSize();
  child_width_ = client.width() - kChildMargin;
  child_height_ = client.height() - kChildMargin;

  // The windows are created in this order: chi-squared tool, log, output, input.
  chi_squared_tool_ = new ChiSquaredTool(this);
  log_viewer_ = new LogViewer(this);
  report_viewer_ = new ReportViewer(this);
  input_editor_ = new InputEditor(this);
  AddChild(log_viewer_, 0);
  AddChild(report_viewer_, 1);
  QMdiSubWindow* input = AddChild(input_editor_, 2);
  SetFrameFont(frame_font_);
  for (ChildWindow* child :
       {static_cast<ChildWindow*>(input_editor_), static_cast<ChildWindow*>(report_viewer_),
        static_cast<ChildWindow*>(log_viewer_)}) {
    child->PassDropsTo(this);
  }
  AcceptDropsOn(mdi_area_->viewport());

  // The viewers learn of a run's start and end first; then the frame shows its outcome.
  for (ViewerWindow* viewer :
       {static_cast<ViewerWindow*>(report_viewer_), static_cast<ViewerWindow*>(log_viewer_)}) {
    connect(run_, &EngineRun::started, viewer, [viewer] { viewer->SetEngineBusy(true); });
    connect(run_, &EngineRun::finished, viewer, [viewer] { viewer->SetEngineBusy(false); });
  }
  connect(run_, &EngineRun::finished, this,
          [this](RunStatus status, qint64, const QString&, const QString& log_tail) {
            RunFinished(status, log_tail);
          });
  connect(input_editor_, &InputEditor::RunRequested, this, &MainWindow::RunInput);
  connect(input_editor_, &InputEditor::HelpRequested, this, [this](const QString& command) {
    ShowCommandReference();
    command_reference_->ShowEntry(command);
  });
  connect(report_viewer_, &ReportViewer::ConfirmTurnedOff, this,
          [this] { confirmAct_->setChecked(false); });

  connect(mdi_area_, &QMdiArea::subWindowActivated, this, &MainWindow::SubWindowActivated);
  mdi_area_->installEventFilter(this);
  mdi_area_->setActiveSubWindow(input);
  UpdateMenus(input_editor_);
  UpdateTitle();
}

MainWindow::~MainWindow() {
  // The area reports its windows' deactivation while it is taken down; the frame is gone by
  // then.
  disconnect(mdi_area_, nullptr, this, nullptr);
  mdi_area_->removeEventFilter(this);
}

void MainWindow::createActions() {
  exitAct_ = new QAction("E&xit", this);
  exitAct_->setShortcuts(QKeySequence::Quit);
  connect(exitAct_, &QAction::triggered, this, &MainWindow::Exit);

  chiSquaredAct_ = new QAction("&Chi-squared...", this);
  connect(chiSquaredAct_, &QAction::triggered, this, &MainWindow::ShowChiSquaredTool);
  plotsAct_ = new QAction("P&lots...", this);
  connect(plotsAct_, &QAction::triggered, this, &MainWindow::ShowPlots);

  fontAct_ = new QAction("&Font...", this);
  connect(fontAct_, &QAction::triggered, this, &MainWindow::ChooseFrameFont);

  showLogAct_ = new QAction("&Show Log ", this);
  showLogAct_->setObjectName("Log");
  showLogAct_->setCheckable(true);
  showLogAct_->setChecked(false);

  confirmAct_ = new QAction("&Confirm", this);
  confirmAct_->setObjectName("Confirm1");
  confirmAct_->setCheckable(true);
  confirmAct_->setChecked(true);

  resetAct_ = new QAction("&Reset", this);
  connect(resetAct_, &QAction::triggered, this, &MainWindow::ResetPreferences);

  cascadeAct_ = new QAction("&Cascade", this);
  connect(cascadeAct_, &QAction::triggered, this, &MainWindow::Cascade);
  tileAct_ = new QAction("&Tile", this);
  connect(tileAct_, &QAction::triggered, this, &MainWindow::Tile);
  resizeAct_ = new QAction("&Resize", this);
  connect(resizeAct_, &QAction::triggered, this, &MainWindow::ResizeToDefault);
  arrangeAct_ = new QAction("&Arrange Icons", this);
  connect(arrangeAct_, &QAction::triggered, this, &MainWindow::ArrangeIcons);

  referenceAct_ = new QAction("&Command Reference", this);
  connect(referenceAct_, &QAction::triggered, this, &MainWindow::ShowCommandReference);
  aboutAct_ = new QAction("&About TAV...", this);
  connect(aboutAct_, &QAction::triggered, this, &MainWindow::About);
  aboutQtAct_ = new QAction("About &Qt...", this);
  connect(aboutQtAct_, &QAction::triggered, qApp, &QApplication::aboutQt);
}

void MainWindow::createMenus() {
  // The frame's own "&File" menu shows only while no child window is active; a child's
  // menus take its place.
  fileMenu_ = new QMenu("&File", this);
  fileMenu_->addAction(exitAct_);

  toolsMenu_ = new QMenu("&Tools", this);
  toolsMenu_->addAction(chiSquaredAct_);
  toolsMenu_->addAction(plotsAct_);
  preferencesMenu_ = toolsMenu_->addMenu("&Preferences");
  preferencesMenu_->addAction(fontAct_);
  preferencesMenu_->addAction(showLogAct_);
  preferencesMenu_->addAction(confirmAct_);
  preferencesMenu_->addAction(resetAct_);

  windowMenu_ = new QMenu("&Window", this);
  FillWindowMenu();
  connect(windowMenu_, &QMenu::aboutToShow, this, &MainWindow::FillWindowMenu);

  helpMenu_ = new QMenu("&Help", this);
  helpMenu_->addAction(referenceAct_);
  helpMenu_->addSeparator();
  helpMenu_->addAction(aboutAct_);
  helpMenu_->addAction(aboutQtAct_);
}

void MainWindow::FillWindowMenu() {
  windowMenu_->clear();
  windowMenu_->addAction(cascadeAct_);
  windowMenu_->addAction(tileAct_);
  windowMenu_->addAction(resizeAct_);
  windowMenu_->addAction(arrangeAct_);
  if (mdi_area_ == nullptr) return;
  // The open windows, the active one checked; choosing one brings it to the front.
  const QList<QMdiSubWindow*> windows = mdi_area_->subWindowList(QMdiArea::CreationOrder);
  if (!windows.isEmpty()) windowMenu_->addSeparator();
  for (int i = 0; i < windows.size(); ++i) {
    auto* child = qobject_cast<ChildWindow*>(windows[i]->widget());
    if (child == nullptr) continue;
    QString title = child->windowTitle();
    title.replace('&', "&&");
    QAction* action =
        windowMenu_->addAction((i < 9 ? QString("&%1 ") : QString("%1 ")).arg(i + 1) + title);
    action->setCheckable(true);
    action->setChecked(windows[i] == mdi_area_->activeSubWindow());
    connect(action, &QAction::triggered, this, [this, child] { ActivateChild(child); });
  }
}

void MainWindow::UpdateMenus(ChildWindow* active) {
  QMenuBar* bar = menuBar();
  bar->clear();
  if (active != nullptr) {
    for (QMenu* menu : active->Menus()) bar->addMenu(menu);
  } else {
    bar->addMenu(fileMenu_);
  }
  bar->addMenu(toolsMenu_);
  bar->addMenu(windowMenu_);
  bar->addMenu(helpMenu_);
}

void MainWindow::SubWindowActivated(QMdiSubWindow* window) {
  // No window is reported when the frame itself loses the focus; the menus stay as they are.
  if (window == nullptr) return;
  auto* child = qobject_cast<ChildWindow*>(window->widget());
  if (child == nullptr) return;
  UpdateMenus(child);
  child->Activated();
}

QMdiSubWindow* MainWindow::AddChild(ChildWindow* child, int offset) {
  QMdiSubWindow* window = mdi_area_->addSubWindow(child);
  window->setAttribute(Qt::WA_DeleteOnClose, false);
  window->setWindowIcon(windowIcon());
  window->resize(std::max(child_width_, 100), std::max(child_height_, 60));
  window->move(offset * CascadeStep(), offset * CascadeStep());
  window->show();
  return window;
}

QSize MainWindow::ClientSize() const {
  if (isVisible()) return mdi_area_->size();
  // Before the frame is shown its layout has not placed the area yet.
  return QSize(width(),
               height() - menuBar()->sizeHint().height() - status_bar_->sizeHint().height());
}

QIcon MainWindow::MakeIcon() {
  // The drawing of packaging/tavwin.svg, on a 48-unit square: a white "T" on a blue rounded
  // square.
  QPainterPath letter;
  letter.moveTo(11, 10);
  letter.lineTo(37, 10);
  letter.lineTo(37, 17);
  letter.lineTo(27.5, 17);
  letter.lineTo(27.5, 39);
  letter.lineTo(20.5, 39);
  letter.lineTo(20.5, 17);
  letter.lineTo(11, 17);
  letter.closeSubpath();
  QIcon icon;
  for (const int size : {16, 24, 32, 48, 64, 128}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 48.0, size / 48.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x1f, 0x4e, 0x8c));
    painter.drawRoundedRect(QRectF(0, 0, 48, 48), 8, 8);
    painter.setBrush(Qt::white);
    painter.drawPath(letter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

bool MainWindow::ConfirmChecked() const { return confirmAct_->isChecked(); }

bool MainWindow::ShowLogChecked() const { return showLogAct_->isChecked(); }

QFont MainWindow::FixedPitchFallback() {
  // The system's fixed font first, then its real family (it may be an alias such as
  // "monospace"), then well-known monospace families. Qt's own verdict counts: fontconfig may
  // name a family for "monospace" that Qt reports as not of fixed pitch.
  const QFont system = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  QStringList families = {system.family(), QFontInfo(system).family()};
  families << "DejaVu Sans Mono"
           << "Liberation Mono"
           << "Courier New"
           << "Noto Mono"
           << "Cousine"
           << "Ubuntu Mono"
           << "Source Code Pro"
           << "Consolas"
           << "Menlo"
           << "Monaco"
           << "Noto Sans Mono"
           << "Courier";
  for (const QString& family : families) {
    if (family.isEmpty() || !QFontDatabase::hasFamily(family)) continue;
    const QFont candidate(family);
    const QFontInfo info(candidate);
    if (info.fixedPitch() && QFontDatabase::hasFamily(info.family())) return candidate;
  }
  QFont font = system;
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  return font;
}

QFont MainWindow::MakeFont(const QString& name, int point_size) {
  QFont font;
  if (QFontDatabase::hasFamily(name)) {
    font = QFont(name);
  } else {
    font = FixedPitchFallback();
  }
  font.setPointSize(point_size > 0 ? point_size : 9);
  // The system's fixed font may be an alias ("monospace"); the dialog knows only real families.
  const QString family = QFontInfo(font).family();
  if (!family.isEmpty() && QFontDatabase::hasFamily(family)) font.setFamily(family);
  // The family's upright style of normal weight by its own name ("Regular", "Book", ...), so
  // that the font dialog starts on it rather than on the first style it lists.
  if (font.styleName().isEmpty()) {
    for (const QString& style : QFontDatabase::styles(font.family())) {
      const QFont styled = QFontDatabase::font(font.family(), style, font.pointSize());
      if (styled.style() == QFont::StyleNormal && styled.weight() == font.weight()) {
        font.setStyleName(style);
        break;
      }
    }
  }
  return font;
}

void MainWindow::SetFrameFont(const QFont& font) {
  frame_font_ = font;
  for (ChildWindow* child :
       {static_cast<ChildWindow*>(input_editor_), static_cast<ChildWindow*>(report_viewer_),
        static_cast<ChildWindow*>(log_viewer_)}) {
    if (child != nullptr) child->ApplyFont(font);
  }
}

bool MainWindow::EngineRunning(const QString& message, bool tell) {
  // The engine this front end started counts as running for as long as its process exists,
  // also before it has opened its log file.
  const bool running = run_->Running() || LogFileInUse(paths_.TempLogPath);
  if (running && tell) dialogs_->Inform(this, message + " Program is still running.");
  return running;
}

bool MainWindow::StartEngine(const EngineCommand& command) {
  QString error;
  // The engine runs in the instance's own directory, where its log goes when it is started
  // without a log file name.
  if (!run_->Start(command, paths_.TempDirectory, input_editor_->DocumentName(), &error)) {
    dialogs_->Warn(this, error);
    return false;
  }
  return true;
}

void MainWindow::RunInput() {
  if (EngineRunning("Cannot Run.", true)) return;
  if (!report_viewer_->SaveQuestion()) return;
  report_viewer_->Clear();
  log_viewer_->Clear();
  // An input never saved runs in the working folder, which may not exist yet.
  if (input_directory_.isEmpty() && !QDir().mkpath(paths_.WorkingDirectory)) {
    dialogs_->Warn(this, "Cannot make the folder " +
                             QDir::toNativeSeparators(paths_.WorkingDirectory) +
                             ", where an input that was never saved runs.");
    return;
  }
  QString error;
  if (!input_editor_->WriteRunText(paths_.TempInputPath, &error)) {
    dialogs_->Warn(this,
                   "Cannot write " + QDir::toNativeSeparators(paths_.TempInputPath) + ": " + error);
    return;
  }
  // A log left from a run whose log was never looked at must not pass for this run's.
  QFile::remove(paths_.TempLogPath);
  StartEngine(BuildEngineCommand(paths_, input_directory_, ShowLogChecked()));
}

QString MainWindow::RunStatusText() const { return status_bar_->Text(); }

QString MainWindow::SuggestedSaveName(const QString& suffix) const {
  return input_editor_->SuggestedSaveName(suffix);
}

void MainWindow::ActivateChild(ChildWindow* child) {
  QMdiSubWindow* window = child->SubWindow();
  if (window == nullptr) return;
  if (window->isMinimized()) window->showNormal();
  if (mdi_area_->activeSubWindow() == window) {
    // Already active: activation would not be reported again.
    child->Activated();
  } else {
    mdi_area_->setActiveSubWindow(window);
  }
}

void MainWindow::RunFinished(RunStatus status, const QString& log_tail) {
  if (plot_window_ != nullptr && plot_window_->isVisible()) plot_window_->Reload();
  // Each window loads its file when it is activated: the log first, so that the window that
  // ends up in front is the one that tells the outcome. After a normal end a log window that
  // was put away stays so.
  if (status == RunStatus::kFinished) {
    const QMdiSubWindow* log = log_viewer_->SubWindow();
    if (log != nullptr && !log->isMinimized()) ActivateChild(log_viewer_);
    ActivateChild(report_viewer_);
    return;
  }
  ActivateChild(log_viewer_);
  const int line = ErrorLineInLog(log_tail, paths_.TempInputPath);
  if (status == RunStatus::kFailed && line > 0) {
    ActivateChild(input_editor_);
    input_editor_->SelectLine(line);
  }
}

void MainWindow::Exit() { close(); }

void MainWindow::ShowChiSquaredTool() {
  chi_squared_tool_->show();
  chi_squared_tool_->raise();
  chi_squared_tool_->activateWindow();
}

void MainWindow::ShowPlots() {
  if (plot_window_ == nullptr)
    plot_window_ = new PlotWindow(paths_.TempResultsPath, dialogs_, this);
  plot_window_->SetSaveDirectory(input_directory_.isEmpty() ? paths_.WorkingDirectory
                                                            : input_directory_);
  plot_window_->Reload();
  plot_window_->show();
  plot_window_->raise();
  plot_window_->activateWindow();
}

void MainWindow::ChooseFrameFont() {
  // The dialog starts from the font in use, whose family the font database lists.
  const std::optional<QFont> font = dialogs_->ChooseFont(this, frame_font_);
  if (!font) return;
  SetFrameFont(*font);
  font_name_ = font->family();
}

void MainWindow::ResetPreferences() {
  SetFrameFont(MakeFont("Courier New", 9));
  font_name_ = "Courier New";
  showLogAct_->setChecked(false);
  confirmAct_->setChecked(true);
}

int MainWindow::CascadeStep() const {
  QStyleOptionTitleBar option;
  option.initFrom(mdi_area_);
  option.titleBarFlags = Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint;
  const int title = style()->pixelMetric(QStyle::PM_TitleBarHeight, &option, mdi_area_);
  const int frame = style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, mdi_area_);
  return std::max(title + frame, 16);
}

void MainWindow::Cascade() {
  // The windows in the order they were made, the active one last: each lies one title bar
  // below and to the right of the one before and in front of it, so that every title bar shows
  // and the window the user works in stays in front. Minimised windows stay where they are.
  QMdiSubWindow* active = mdi_area_->activeSubWindow();
  QList<QMdiSubWindow*> windows;
  for (QMdiSubWindow* window : mdi_area_->subWindowList(QMdiArea::CreationOrder)) {
    if (window != active && !window->isMinimized()) windows << window;
  }
  if (active != nullptr && !active->isMinimized()) windows << active;
  const QSize client = ClientSize();
  const int step = CascadeStep();
  for (int i = 0; i < windows.size(); ++i) {
    QMdiSubWindow* window = windows[i];
    if (window->isMaximized()) window->showNormal();
    window->setGeometry(i * step, i * step, std::max(client.width() - kChildMargin, 100),
                        std::max(client.height() - kChildMargin, 60));
    window->raise();
  }
  if (active != nullptr && !active->isMinimized()) mdi_area_->setActiveSubWindow(active);
}

void MainWindow::Tile() { mdi_area_->tileSubWindows(); }

void MainWindow::ResizeToDefault() {
  showNormal();
  resize(kDefaultWidth, kDefaultHeight);
  for (QMdiSubWindow* window : mdi_area_->subWindowList()) window->showNormal();
  Cascade();
}

void MainWindow::ArrangeIcons() {
  // The minimised children in a row along the bottom edge, from the left, rows upwards.
  const int area_width = mdi_area_->viewport()->width();
  int x = 0;
  int y = mdi_area_->viewport()->height();
  int row_height = 0;
  bool first_in_row = true;
  for (QMdiSubWindow* window : mdi_area_->subWindowList()) {
    if (!window->isMinimized()) continue;
    const QSize size = window->size();
    if (first_in_row) {
      row_height = size.height();
    } else if (x + size.width() > area_width) {
      x = 0;
      y -= row_height;
      row_height = size.height();
    }
    row_height = std::max(row_height, size.height());
    window->move(x, y - size.height());
    // In front of the other windows, so that no window hides it.
    window->raise();
    x += size.width();
    first_in_row = false;
  }
}

void MainWindow::ScaleChildren() {
  const QSize client = ClientSize();
  const int new_width = client.width() - kChildMargin;
  const int new_height = client.height() - kChildMargin;
  // A frame too small to leave room for its children gives no scale.
  if (child_width_ > 0 && child_height_ > 0 && new_width > 0 && new_height > 0 &&
      (new_width != child_width_ || new_height != child_height_)) {
    const double x_scale = static_cast<double>(new_width) / child_width_;
    const double y_scale = static_cast<double>(new_height) / child_height_;
    for (QMdiSubWindow* window : mdi_area_->subWindowList()) {
      if (window->isMinimized() || window->isMaximized()) continue;
      window->resize(static_cast<int>(std::lround(window->width() * x_scale)),
                     static_cast<int>(std::lround(window->height() * y_scale)));
    }
  }
  child_width_ = new_width;
  child_height_ = new_height;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == mdi_area_ && event->type() == QEvent::Resize && isVisible()) ScaleChildren();
  // A file dragged over a child's text is opened, not pasted into it as its name.
  if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove ||
      event->type() == QEvent::Drop) {
    auto* drop = static_cast<QDropEvent*>(event);
    if (!DroppedFile(drop->mimeData()).isEmpty()) {
      if (event->type() == QEvent::Drop) {
        dropEvent(drop);
      } else {
        drop->acceptProposedAction();
      }
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::readSettings() {
  ProfileFile file;
  file.Load(settings_path_);
  const TavSettings settings = ReadTavSettings(file);
  if (settings.maximized) {
    resize(kDefaultWidth, kDefaultHeight);
    setWindowState(windowState() | Qt::WindowMaximized);
  } else {
    resize(settings.width, settings.height);
  }
  frame_font_ = MakeFont(settings.font_name, settings.font_size);
  font_name_ = settings.font_name;
  showLogAct_->setChecked(settings.show_log);
  confirmAct_->setChecked(settings.confirm);
  recent_files_ = settings.recent_files;
}

void MainWindow::writeSettings() {
  ProfileFile file;
  file.Load(settings_path_);
  if (file.Damaged()) {
    // A file that cannot be parsed is not carried forward: it is kept beside the new one and
    // replaced by a clean file.
    QString error;
    if (!BackUpDamagedFile(settings_path_, &error)) {
      dialogs_->Warn(this, "The settings file " + QDir::toNativeSeparators(settings_path_) +
                               " cannot be read and is kept as it is: no backup copy could "
                               "be made (" +
                               error + ").");
      return;
    }
    file = ProfileFile();
  }
  TavSettings settings;
  settings.maximized = isMaximized();
  settings.height = height();
  settings.width = width();
  settings.font_name = font_name_;
  settings.font_size = frame_font_.pointSize() > 0 ? frame_font_.pointSize() : 9;
  settings.show_log = showLogAct_->isChecked();
  settings.confirm = confirmAct_->isChecked();
  settings.recent_files = recent_files_;
  WriteTavSettings(file, settings);
  if (!file.Save(settings_path_)) {
    dialogs_->Warn(
        this, "Cannot write the settings file " + QDir::toNativeSeparators(settings_path_) + ".");
  }
}

void MainWindow::AddRecentFile(const QString& path) {
  // A name that would break the settings file's lines is not remembered.
  if (path.isEmpty() || path.contains('\n') || path.contains('\r')) return;
  recent_files_ = WithRecentFile(recent_files_, QDir::toNativeSeparators(path));
}

void MainWindow::RemoveRecentFile(const QString& path) {
  recent_files_.removeAll(QDir::toNativeSeparators(path));
}

bool MainWindow::OpenFile(const QString& path) { return input_editor_->OpenPath(path); }

void MainWindow::UpdateTitle() {
  const QString name = input_editor_->DocumentName();
  setWindowTitle(name.isEmpty() ? QString(kTitle) : name + "[*] - " + kTitle);
  setWindowModified(!name.isEmpty() && input_editor_->TextModified());
}

void MainWindow::ShowCommandReference() {
  if (command_reference_ == nullptr) {
    command_reference_ = new CommandReferenceWindow(
        FindCommandReference(QCoreApplication::applicationDirPath()),
        CommandReferenceCandidates(QCoreApplication::applicationDirPath()), this);
    command_reference_->setFont(QApplication::font());
  }
  command_reference_->show();
  command_reference_->raise();
  command_reference_->activateWindow();
}

void MainWindow::About() {
  QString licence = "No licence file accompanies this copy of TAV.";
  const QString licence_file = FindLicenceFile(QCoreApplication::applicationDirPath());
  QString licence_text;
  if (!licence_file.isEmpty() && ReadTextFile(licence_file, &licence_text, nullptr)) {
    // The notice is the file's first paragraph; the rest stays in the file.
    const QString first = licence_text.trimmed().section("\n\n", 0, 0).simplified();
    if (!first.isEmpty()) licence = first.toHtmlEscaped();
  }
  QMessageBox::about(this, "About TAV",
                     "<h3>TAV for Windows</h3>"
                     "<p>Version " +
                         VersionText().toHtmlEscaped() +
                         "</p>"
                         "<p>A statistical package for categorical data: log-linear, latent "
                         "class, missing-data, association, ordinal and event-history models, "
                         "estimated by maximum likelihood.</p>"
                         "<p>This program edits input files, runs the engine tav95 on them and "
                         "shows its report and log.</p><p>" +
                         licence + "</p>");
}

void MainWindow::AcceptDropsOn(QWidget* widget) {
  widget->setAcceptDrops(true);
  widget->installEventFilter(this);
}

QString MainWindow::DroppedFile(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls()) return QString();
  const QList<QUrl> urls = data->urls();
  if (urls.size() != 1 || !urls.front().isLocalFile()) return QString();
  const QString path = urls.front().toLocalFile();
  return QFileInfo(path).isFile() ? path : QString();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QString path = DroppedFile(event->mimeData());
  if (path.isEmpty()) return;
  event->acceptProposedAction();
  // After the drop has ended: the questions of opening are not asked inside the drag.
  QTimer::singleShot(0, this, [this, path] { OpenFile(path); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // Closing the frame from its close box is the same as "E&xit": not while an engine runs,
  // and not before the children's questions were answered.
  if (EngineRunning("Cannot Exit.", true) || !input_editor_->MayClose() ||
      !report_viewer_->MayClose()) {
    event->ignore();
    return;
  }
  writeSettings();
  QFile::remove(paths_.TempInputPath);
  QFile::remove(paths_.TempOutputPath);
  QFile::remove(paths_.TempLogPath);
  chi_squared_tool_->hide();
  if (plot_window_ != nullptr) plot_window_->close();
  event->accept();
}

}  // namespace tavwin
