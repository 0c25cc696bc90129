#include "main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QProcess>
#include <algorithm>
#include <cmath>

#include "chi_squared_tool.h"
#include "input_editor.h"
#include "log_viewer.h"
#include "report_viewer.h"
#include "settings_file.h"

namespace tavwin {

namespace {

constexpr int kChildMargin = 60;
constexpr int kDefaultWidth = 600;
constexpr int kDefaultHeight = 450;
// How far each new child is placed below and to the right of the one before.
constexpr int kCascadeStep = 24;

}  // namespace

MainWindow::MainWindow(const FrontEndPaths& paths, const QString& settings_path,
                       UserDialogs* dialogs)
    : paths_(paths), settings_path_(settings_path) {
  setObjectName("TForm1");
  setWindowTitle("TAV for Windows");
  setWindowIcon(MakeIcon());
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

  connect(mdi_area_, &QMdiArea::subWindowActivated, this, &MainWindow::SubWindowActivated);
  mdi_area_->installEventFilter(this);
  mdi_area_->setActiveSubWindow(input);
  UpdateMenus(input_editor_);
}

MainWindow::~MainWindow() {
  // The area reports its windows' deactivation while it is taken down; the frame is gone by
  // then.
  disconnect(mdi_area_, nullptr, this, nullptr);
  mdi_area_->removeEventFilter(this);
}

void MainWindow::createActions() {
  exitAct_ = new QAction("E&xit", this);
  connect(exitAct_, &QAction::triggered, this, &MainWindow::Exit);

  chiSquaredAct_ = new QAction("&Chi-squared...", this);
  connect(chiSquaredAct_, &QAction::triggered, this, &MainWindow::ShowChiSquaredTool);

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
}

void MainWindow::createMenus() {
  // The frame's own "&File" menu shows only while no child window is active; a child's
  // menus take its place.
  fileMenu_ = new QMenu("&File", this);
  fileMenu_->addAction(exitAct_);

  toolsMenu_ = new QMenu("&Tools", this);
  toolsMenu_->addAction(chiSquaredAct_);
  preferencesMenu_ = toolsMenu_->addMenu("&Preferences");
  preferencesMenu_->addAction(fontAct_);
  preferencesMenu_->addAction(showLogAct_);
  preferencesMenu_->addAction(confirmAct_);
  preferencesMenu_->addAction(resetAct_);

  windowMenu_ = new QMenu("&Window", this);
  windowMenu_->addAction(cascadeAct_);
  windowMenu_->addAction(tileAct_);
  windowMenu_->addAction(resizeAct_);
  windowMenu_->addAction(arrangeAct_);
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
  window->move(offset * kCascadeStep, offset * kCascadeStep);
  window->show();
  return window;
}

QSize MainWindow::ClientSize() const {
  if (isVisible()) return mdi_area_->size();
  // Before the frame is shown its layout has not placed the area yet.
  return QSize(width(), height() - menuBar()->sizeHint().height());
}

QIcon MainWindow::MakeIcon() {
  QIcon icon;
  for (const int size : {16, 32, 48}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x1f, 0x4e, 0x8c));
    painter.drawRoundedRect(QRectF(0, 0, size, size), size / 6.0, size / 6.0);
    QFont font("Sans Serif");
    font.setBold(true);
    font.setPixelSize(size * 3 / 4);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, "T");
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

bool MainWindow::ConfirmChecked() const { return confirmAct_->isChecked(); }

bool MainWindow::ShowLogChecked() const { return showLogAct_->isChecked(); }

QFont MainWindow::MakeFont(const QString& name, int point_size) {
  QFont font(name);
  font.setStyleHint(QFont::TypeWriter);
  font.setPointSize(point_size > 0 ? point_size : 9);
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
  bool running = LogFileInUse(paths_.TempLogPath);
  // The engine this front end started counts as running for as long as its process exists,
  // also before it has opened its log file.
  if (!running && engine_pid_ != 0) {
    running = ProcessAlive(engine_pid_);
    if (!running) engine_pid_ = 0;
  }
  if (running && tell) dialogs_->Inform(this, message + " Program is still running.");
  return running;
}

bool MainWindow::StartEngine(const EngineCommand& command) {
  if (!QFileInfo(command.program).isFile()) {
    dialogs_->Warn(this, "The engine program " + command.program + " was not found.");
    return false;
  }
  qint64 pid = 0;
  if (!QProcess::startDetached(command.program, command.arguments, QString(), &pid)) {
    dialogs_->Warn(this, "Cannot start the engine: " + command.Text());
    return false;
  }
  engine_pid_ = pid;
  return true;
}

void MainWindow::Exit() { close(); }

void MainWindow::ShowChiSquaredTool() {
  chi_squared_tool_->show();
  chi_squared_tool_->raise();
  chi_squared_tool_->activateWindow();
}

void MainWindow::ChooseFrameFont() {
  const std::optional<QFont> font = dialogs_->ChooseFont(this, frame_font_);
  if (font) SetFrameFont(*font);
}

void MainWindow::ResetPreferences() {
  SetFrameFont(MakeFont("Courier New", 9));
  showLogAct_->setChecked(false);
  confirmAct_->setChecked(true);
}

void MainWindow::Cascade() {
  mdi_area_->cascadeSubWindows();
  const QSize client = ClientSize();
  for (QMdiSubWindow* window : mdi_area_->subWindowList()) {
    if (window->isMinimized() || window->isMaximized()) continue;
    window->resize(client.width() - kChildMargin, client.height() - kChildMargin);
  }
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
  showLogAct_->setChecked(settings.show_log);
  confirmAct_->setChecked(settings.confirm);
}

void MainWindow::writeSettings() {
  ProfileFile file;
  file.Load(settings_path_);
  TavSettings settings;
  settings.maximized = isMaximized();
  settings.height = height();
  settings.width = width();
  settings.font_name = frame_font_.family();
  settings.font_size = frame_font_.pointSize() > 0 ? frame_font_.pointSize() : 9;
  settings.show_log = showLogAct_->isChecked();
  settings.confirm = confirmAct_->isChecked();
  WriteTavSettings(file, settings);
  file.Save(settings_path_);
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
  event->accept();
}

}  // namespace tavwin
