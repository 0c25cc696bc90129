// The front end's windows on the offscreen platform: menus, preferences, the settings file,
// the input editor's files and examples, runs of a stand-in engine, the viewers and the
// chi-squared tool. Questions and dialogs are answered by a script instead of a user.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextLayout>
#include <QTreeWidget>
#include <QtTest>
#include <cstdio>
#include <memory>

#include "chi_squared_tool.h"
#include "command_reference_window.h"
#include "engine_launch.h"
#include "input_editor.h"
#include "log_viewer.h"
#include "main_window.h"
#include "plot_window.h"
#include "report_viewer.h"
#include "scripted_dialogs.h"
#include "settings_file.h"
#include "tav95/log_lock.h"
#include "text_files.h"

using namespace tavwin;

namespace {

QString ReadAll(const QString& path) {
  QString text;
  ReadTextFile(path, &text, nullptr);
  return text;
}

}  // namespace

class FrontendWindowsTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void MenusFollowTheActiveChild();
  void PreferencesCheckMarksFontAndReset();
  void SettingsAreReadAndWritten();
  void MaximisedFrameIsRemembered();
  void InputEditorOpensAndSaves();
  void ModifiedTextQuestions();
  void SaveAsCancelledSetsDirectoryFromName();
  void ExamplesMenuLoadsExamples();
  void RunStartsTheEngineAndViewersLoadAfterIt();
  void RunWithShowLogPassesFourArguments();
  void RunAsksAboutAnUnsavedReport();
  void MissingEngineIsReported();
  void GoToJumpsToTheHeader();
  void ReportViewerSaveAndClose();
  void ChildrenAreMinimisedNotClosed();
  void ChiSquaredToolAnswers();
  void PrintingWritesPages();
  void ShortcutsReachTheActiveChild();
  void ArrangeIconsLinesUpMinimisedChildren();
  void LockedLogMeansARunningEngine();
  void MissingFontFallsBackToAFixedFontThatExists();
  void CascadeKeepsEveryTitleBarInView();
  void DamagedSettingsFileIsReplacedWithABackup();
  void ReadOnlyProgramDirectoryIsNeverWritten();
  void FindSelectAllAndUndo();
  void RecentFilesDroppedFilesAndTheTitle();
  void LogEndsInViewAndSaveAsSuggestsTheInputsName();
  void EditorHighlightsCommandsCommentsAndBrackets();
  void CommandReferenceShowsTheDocumentOrSaysItIsMissing();
  void FailedRunSelectsTheLineOfTheError();
  void ReportIsShownWhenTheRunEnds();
  void CancelFromTheStatusBar();
  void SaveQuestionTurnedOff();

 private:
  MainWindow* MakeFrame();
  void InstallFakeEngine();
  void ActivateChild(QWidget* child);

  std::unique_ptr<QTemporaryDir> directory_;
  FrontEndPaths paths_;
  QString settings_path_;
  ScriptedDialogs dialogs_;
  std::unique_ptr<MainWindow> frame_;
};

void FrontendWindowsTest::init() {
  directory_ = std::make_unique<QTemporaryDir>();
  QVERIFY(directory_->isValid());
  // The program, the instance's temporary files and the working folder each in a directory of
  // their own.
  const QDir root(directory_->path());
  QVERIFY(root.mkpath("program") && root.mkpath("temp"));
  paths_ =
      FrontEndPaths::Make(root.filePath("program"), root.filePath("temp"), root.filePath("work"));
  qputenv("FAKE_ENGINE_HOME", QFile::encodeName(root.filePath("program")));
  settings_path_ = directory_->filePath("config/TAV.Ini");
  dialogs_ = ScriptedDialogs();
}

void FrontendWindowsTest::cleanup() {
  if (frame_) {
    // Let any stand-in engine end before its directory goes.
    QFile release(paths_.directory + "release");
    release.open(QIODevice::WriteOnly);
    release.close();
    QTRY_VERIFY_WITH_TIMEOUT(!frame_->EngineRunning(QString(), false), 10000);
    frame_.reset();
  }
  if (directory_) {
    // A directory made read-only by a test is taken away all the same.
    QFile::setPermissions(paths_.directory,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  }
  directory_.reset();
}

MainWindow* FrontendWindowsTest::MakeFrame() {
  frame_ = std::make_unique<MainWindow>(paths_, settings_path_, &dialogs_);
  frame_->show();
  if (!QTest::qWaitForWindowExposed(frame_.get())) qWarning("frame not exposed");
  return frame_.get();
}

void FrontendWindowsTest::InstallFakeEngine() {
  QFile::remove(paths_.EnginePath);
  QVERIFY(QFile::copy(FAKE_ENGINE_PATH, paths_.EnginePath));
  QFile::setPermissions(paths_.EnginePath, QFile::permissions(paths_.EnginePath) |
                                               QFileDevice::ExeOwner | QFileDevice::ReadOwner);
}

void FrontendWindowsTest::ActivateChild(QWidget* child) {
  auto* window = qobject_cast<QMdiSubWindow*>(child->parentWidget());
  QVERIFY(window != nullptr);
  Child<QMdiArea>(frame_.get())->setActiveSubWindow(window);
}

void FrontendWindowsTest::MenusFollowTheActiveChild() {
  MainWindow* frame = MakeFrame();
  QCOMPARE(frame->windowTitle(), QString("TAV for Windows"));
  QCOMPARE(Child<QMdiArea>(frame)->subWindowList().size(), 3);
  QVERIFY(Child<ChiSquaredTool>(frame)->isHidden());
  QCOMPARE(Child<InputEditor>(frame)->windowTitle(), QString("Input"));
  QCOMPARE(Child<ReportViewer>(frame)->windowTitle(), QString("Output"));
  QCOMPARE(Child<LogViewer>(frame)->windowTitle(), QString("Log"));

  QMenuBar* bar = frame->menuBar();
  // The input editor is created last and is active at start.
  QCOMPARE(MenuTitles(bar),
           QStringList({"&File", "&Edit", "E&xamples ", "&Tools", "&Window", "&Help"}));
  QMenu* file = MenuNamed(bar, "&File");
  QCOMPARE(ItemTexts(file), QStringList({"&New", "&Open...", "Open &Recent", "&Save", "Save &As...",
                                         "&Run", "E&xit"}));
  QCOMPARE(ItemNamed(file, "&Save")->shortcut(), QKeySequence("Ctrl+S"));
  QCOMPARE(ItemNamed(file, "&Run")->shortcut(), QKeySequence("Ctrl+R"));
  // The platform's standard keys.
  QCOMPARE(ItemNamed(file, "&New")->shortcuts(), QKeySequence::keyBindings(QKeySequence::New));
  QCOMPARE(ItemNamed(file, "&Open...")->shortcuts(), QKeySequence::keyBindings(QKeySequence::Open));
  QCOMPARE(ItemNamed(file, "&Save")->shortcuts(), QKeySequence::keyBindings(QKeySequence::Save));
  QCOMPARE(ItemNamed(file, "Save &As...")->shortcuts(),
           QKeySequence::keyBindings(QKeySequence::SaveAs));
  QCOMPARE(ItemNamed(file, "E&xit")->shortcuts(), QKeySequence::keyBindings(QKeySequence::Quit));
  QMenu* edit = MenuNamed(bar, "&Edit");
  QCOMPARE(ItemTexts(edit), QStringList({"&Undo", "&Redo", "Cu&t", "&Copy", "&Paste", "Select &All",
                                         "&Find...", "Find &Next"}));
  QCOMPARE(ItemNamed(edit, "Cu&t")->shortcut(), QKeySequence("Ctrl+X"));
  QCOMPARE(ItemNamed(edit, "&Paste")->shortcut(), QKeySequence("Ctrl+V"));
  QCOMPARE(ItemNamed(edit, "&Undo")->shortcuts(), QKeySequence::keyBindings(QKeySequence::Undo));
  QCOMPARE(ItemNamed(edit, "&Redo")->shortcuts(), QKeySequence::keyBindings(QKeySequence::Redo));
  QCOMPARE(ItemNamed(edit, "Select &All")->shortcuts(),
           QKeySequence::keyBindings(QKeySequence::SelectAll));
  QCOMPARE(ItemNamed(edit, "&Find...")->shortcuts(), QKeySequence::keyBindings(QKeySequence::Find));
  QCOMPARE(ItemTexts(MenuNamed(bar, "&Help")),
           QStringList({"&Command Reference", "&About TAV...", "About &Qt..."}));
  QCOMPARE(ItemTexts(MenuNamed(bar, "&Tools")),
           QStringList({"&Chi-squared...", "P&lots...", "&Preferences"}));
  QCOMPARE(ItemTexts(ItemNamed(MenuNamed(bar, "&Tools"), "&Preferences")->menu()),
           QStringList({"&Font...", "&Show Log ", "&Confirm", "&Reset"}));
  QCOMPARE(ItemTexts(MenuNamed(bar, "&Window")),
           QStringList({"&Cascade", "&Tile", "&Resize", "&Arrange Icons"}));

  ActivateChild(Child<ReportViewer>(frame));
  QCOMPARE(MenuTitles(bar), QStringList({"&File", "&Edit", "&GoTo", "&Tools", "&Window", "&Help"}));
  QCOMPARE(ItemTexts(MenuNamed(bar, "&File")), QStringList({"Save &As...", "&Print...", "E&xit"}));
  QCOMPARE(ItemTexts(MenuNamed(bar, "&Edit")),
           QStringList({"&Copy", "Select &All", "&Find...", "Find &Next"}));
  QCOMPARE(ItemNamed(MenuNamed(bar, "&Edit"), "&Copy")->shortcut(), QKeySequence("Ctrl+C"));
  QCOMPARE(ItemTexts(MenuNamed(bar, "&GoTo")),
           QStringList({"Top", "Statistics", "Frequencies", "R-squared", "Log-linear", "Hazard",
                        "Conditional", "Latent", "Random", "Bivariate", "Classification"}));
  for (QAction* item : MenuNamed(bar, "&GoTo")->actions()) QVERIFY(!item->isEnabled());

  ActivateChild(Child<LogViewer>(frame));
  QCOMPARE(MenuTitles(bar), QStringList({"&File", "&Edit", "&Tools", "&Window", "&Help"}));
  QCOMPARE(ItemTexts(MenuNamed(bar, "&File")), QStringList({"Save &As...", "E&xit"}));

  // The children's sizes follow the frame's client area less 60.
  QCOMPARE(frame->ChildWidth(), Child<QMdiArea>(frame)->width() - 60);
  QCOMPARE(frame->ChildHeight(), Child<QMdiArea>(frame)->height() - 60);
  frame->Cascade();
  for (QMdiSubWindow* window : Child<QMdiArea>(frame)->subWindowList()) {
    QCOMPARE(window->size(), QSize(frame->ChildWidth(), frame->ChildHeight()));
  }
  // Resizing the frame scales the children.
  QMdiSubWindow* input = Child<QMdiArea>(frame)->subWindowList().back();
  const QSize before = input->size();
  const QSize area = Child<QMdiArea>(frame)->size();
  frame->resize(frame->width() + 100, frame->height() + 50);
  QTRY_COMPARE(Child<QMdiArea>(frame)->size(), area + QSize(100, 50));
  QCOMPARE(input->width(),
           qRound(before.width() * double(area.width() + 40) / (area.width() - 60)));
  QCOMPARE(input->height(),
           qRound(before.height() * double(area.height() - 10) / (area.height() - 60)));
  frame->Tile();
  frame->ResizeToDefault();
  QCOMPARE(frame->size(), QSize(600, 450));
  frame->ArrangeIcons();
}

void FrontendWindowsTest::PreferencesCheckMarksFontAndReset() {
  MainWindow* frame = MakeFrame();
  QMenu* preferences = ItemNamed(MenuNamed(frame->menuBar(), "&Tools"), "&Preferences")->menu();
  QAction* show_log = ItemNamed(preferences, "&Show Log ");
  QAction* confirm = ItemNamed(preferences, "&Confirm");
  QVERIFY(show_log->isCheckable() && confirm->isCheckable());
  QVERIFY(!show_log->isChecked());
  QVERIFY(confirm->isChecked());
  show_log->trigger();
  confirm->trigger();
  QVERIFY(frame->ShowLogChecked());
  QVERIFY(!frame->ConfirmChecked());

  dialogs_.font = QFont("DejaVu Sans", 13);
  ItemNamed(preferences, "&Font...")->trigger();
  QCOMPARE(frame->FrameFont().pointSize(), 13);
  QCOMPARE(Child<QPlainTextEdit>(Child<InputEditor>(frame))->font().pointSize(), 13);
  QCOMPARE(Child<QPlainTextEdit>(Child<ReportViewer>(frame))->font().pointSize(), 13);
  QCOMPARE(Child<QPlainTextEdit>(Child<LogViewer>(frame))->font().pointSize(), 13);
  dialogs_.font.reset();
  ItemNamed(preferences, "&Font...")->trigger();  // Cancel changes nothing
  QCOMPARE(frame->FrameFont().pointSize(), 13);

  ItemNamed(preferences, "&Reset")->trigger();
  QVERIFY(!frame->ShowLogChecked());
  QVERIFY(frame->ConfirmChecked());
  QCOMPARE(frame->FontName(), QString("Courier New"));
  QCOMPARE(frame->FrameFont().pointSize(), 9);
  QCOMPARE(Child<QPlainTextEdit>(Child<LogViewer>(frame))->font().pointSize(), 9);
}

void FrontendWindowsTest::SettingsAreReadAndWritten() {
  QDir().mkpath(QFileInfo(settings_path_).path());
  QVERIFY(WriteTextFile(settings_path_,
                        "[Window]\nMaximized=0\nHeight=0x1F4\nWidth=640\n[Preferences]\n"
                        "FontName=DejaVu Sans Mono\nFontSize=11\nShowLog=1\nConfirm=0\n",
                        nullptr));
  MainWindow* frame = MakeFrame();
  QCOMPARE(frame->size(), QSize(640, 500));
  QVERIFY(frame->ShowLogChecked());
  QVERIFY(!frame->ConfirmChecked());
  QCOMPARE(frame->FrameFont().family(), QString("DejaVu Sans Mono"));
  QCOMPARE(Child<QPlainTextEdit>(Child<InputEditor>(frame))->font().pointSize(), 11);

  frame->ResetPreferences();
  frame->resize(620, 480);
  QVERIFY(WriteTextFile(paths_.TempInputPath, "x", nullptr));
  QVERIFY(frame->close());
  const QString text = ReadAll(settings_path_);
  QVERIFY2(text.contains("Height=480\n"), qPrintable(text));
  QVERIFY(text.contains("Width=620\n"));
  QVERIFY(text.contains("Maximized=0\n"));
  QVERIFY(text.contains("FontName=Courier New\n"));
  QVERIFY(text.contains("FontSize=9\n"));
  QVERIFY(text.contains("ShowLog=0\n"));
  QVERIFY(text.contains("Confirm=1\n"));
  QVERIFY(!QFile::exists(paths_.TempInputPath));  // temporary files go on close

  // A missing settings file gives the defaults.
  QFile::remove(settings_path_);
  frame_.reset();
  frame = MakeFrame();
  QCOMPARE(frame->size(), QSize(600, 450));
  QVERIFY(frame->ConfirmChecked());
  QVERIFY(!frame->ShowLogChecked());
}

void FrontendWindowsTest::MaximisedFrameIsRemembered() {
  MainWindow* frame = MakeFrame();
  frame->showMaximized();
  QTRY_VERIFY(frame->isMaximized());
  QVERIFY(frame->close());
  QVERIFY(ReadAll(settings_path_).contains("Maximized=1\n"));
  frame_.reset();
  frame_ = std::make_unique<MainWindow>(paths_, settings_path_, &dialogs_);
  QVERIFY(frame_->windowState() & Qt::WindowMaximized);
  QCOMPARE(frame_->size(), QSize(600, 450));  // the restored size
}

void FrontendWindowsTest::InputEditorOpensAndSaves() {
  MainWindow* frame = MakeFrame();
  InputEditor* input = Child<InputEditor>(frame);
  QDir(directory_->path()).mkdir("models");
  const QString model = directory_->filePath("models/a.inp");
  QVERIFY(WriteTextFile(model, "man 2\ndim 2 2\n", nullptr));

  dialogs_.open_names << model;
  input->Open();
  QCOMPARE(dialogs_.last_setup.default_suffix, QString("inp"));
  QCOMPARE(dialogs_.last_setup.filters.front(), QString("Input  Files (*.inp)"));
  QCOMPARE(Child<QPlainTextEdit>(input)->toPlainText(), QString("man 2\ndim 2 2\n"));
  QCOMPARE(input->windowTitle(), QString("Input - a.inp"));
  QCOMPARE(frame->InputDirectory(), QDir::toNativeSeparators(directory_->filePath("models/")));
  QVERIFY(!Child<QPlainTextEdit>(input)->document()->isModified());

  Child<QPlainTextEdit>(input)->appendPlainText("lat 1");
  QVERIFY(Child<QPlainTextEdit>(input)->document()->isModified());
  QVERIFY(input->Save());
  QCOMPARE(ReadAll(model), QString("man 2\ndim 2 2\n\nlat 1"));
  QVERIFY(!Child<QPlainTextEdit>(input)->document()->isModified());

  const QString other = directory_->filePath("b.inp");
  dialogs_.save_names << other;
  QVERIFY(input->SaveAs());
  QCOMPARE(dialogs_.last_setup.filters.front(), QString("Input Files (*.inp)"));
  QCOMPARE(dialogs_.save_starts.back(), model);
  QCOMPARE(input->windowTitle(), QString("Input - b.inp"));
  QCOMPARE(input->FileName(), other);
  QCOMPARE(frame->InputDirectory(), QDir::toNativeSeparators(directory_->path() + '/'));
  QVERIFY(QFile::exists(other));

  // A file in Latin-1 is written back in Latin-1, for the run too.
  QFile latin1_file(directory_->filePath("latin1.inp"));
  QVERIFY(latin1_file.open(QIODevice::WriteOnly));
  latin1_file.write("lab caf\xe9\n");
  latin1_file.close();
  dialogs_.open_names << latin1_file.fileName();
  input->Open();
  QCOMPARE(Child<QPlainTextEdit>(input)->toPlainText(), QString::fromLatin1("lab caf\xe9\n"));
  Child<QPlainTextEdit>(input)->appendPlainText("x");
  QVERIFY(input->Save());
  QVERIFY(latin1_file.open(QIODevice::ReadOnly));
  QCOMPARE(latin1_file.readAll(), QByteArray("lab caf\xe9\n\nx"));
  latin1_file.close();
  dialogs_.open_names << other;
  input->Open();

  // A file that cannot be read gives a message and leaves the editor as it was.
  dialogs_.open_names << directory_->filePath("vanished.inp");
  input->Open();
  QCOMPARE(dialogs_.warned.size(), 1);
  QCOMPARE(input->windowTitle(), QString("Input - b.inp"));

  // A file that cannot be written gives a message and keeps the text modified.
  Child<QPlainTextEdit>(input)->appendPlainText("more");
  dialogs_.save_names << directory_->filePath("no/such/dir/c.inp");
  QVERIFY(!input->SaveAs());
  QCOMPARE(dialogs_.warned.size(), 2);
  QVERIFY(Child<QPlainTextEdit>(input)->document()->isModified());
}

void FrontendWindowsTest::ModifiedTextQuestions() {
  MainWindow* frame = MakeFrame();
  InputEditor* input = Child<InputEditor>(frame);
  Child<QPlainTextEdit>(input)->setPlainText("man 2");
  Child<QPlainTextEdit>(input)->document()->setModified(true);

  dialogs_.answers << UserDialogs::Answer::kCancel;
  input->New();
  QCOMPARE(dialogs_.asked, QStringList({"Input not saved. Save now?"}));
  QCOMPARE(Child<QPlainTextEdit>(input)->toPlainText(), QString("man 2"));

  // "Yes" whose save dialog is cancelled keeps the text.
  dialogs_.answers << UserDialogs::Answer::kYes;
  input->New();
  QCOMPARE(Child<QPlainTextEdit>(input)->toPlainText(), QString("man 2"));

  // "Yes" saves, then the text goes.
  dialogs_.answers << UserDialogs::Answer::kYes;
  dialogs_.save_names << directory_->filePath("saved.inp");
  input->New();
  QCOMPARE(ReadAll(directory_->filePath("saved.inp")), QString("man 2"));
  QCOMPARE(Child<QPlainTextEdit>(input)->toPlainText(), QString());
  QCOMPARE(input->windowTitle(), QString("Input"));
  QVERIFY(input->FileName().isEmpty());

  Child<QPlainTextEdit>(input)->setPlainText("dim 3");
  Child<QPlainTextEdit>(input)->document()->setModified(true);
  dialogs_.answers << UserDialogs::Answer::kNo;
  input->New();
  QCOMPARE(Child<QPlainTextEdit>(input)->toPlainText(), QString());

  // With "&Confirm" unchecked there is no question.
  frame->ResetPreferences();
  ItemNamed(ItemNamed(MenuNamed(frame->menuBar(), "&Tools"), "&Preferences")->menu(), "&Confirm")
      ->trigger();
  QVERIFY(!frame->ConfirmChecked());
  Child<QPlainTextEdit>(input)->setPlainText("dim 4");
  Child<QPlainTextEdit>(input)->document()->setModified(true);
  const int asked = dialogs_.asked.size();
  input->New();
  QCOMPARE(dialogs_.asked.size(), asked);
  QCOMPARE(Child<QPlainTextEdit>(input)->toPlainText(), QString());
}

void FrontendWindowsTest::SaveAsCancelledSetsDirectoryFromName() {
  MainWindow* frame = MakeFrame();
  InputEditor* input = Child<InputEditor>(frame);
  frame->SetInputDirectory("/somewhere/");
  input->SaveAs();  // cancelled, no name yet
  QCOMPARE(frame->InputDirectory(), QString());
  const QString name = directory_->filePath("x.inp");
  dialogs_.save_names << name;
  QVERIFY(input->SaveAs());
  frame->SetInputDirectory("/elsewhere/");
  input->SaveAs();  // cancelled: the dialog still holds the last name
  QCOMPARE(frame->InputDirectory(), QDir::toNativeSeparators(directory_->path() + '/'));
}

void FrontendWindowsTest::ExamplesMenuLoadsExamples() {
  QDir(directory_->path()).mkdir("examples");
  const QString examples = directory_->filePath("examples/");
  QVERIFY(WriteTextFile(examples + "examples.lis",
                        "Log-linear_models\n"
                        " Hierarchical\n"
                        "  Independence                         LOGLIN01\n"
                        "  Missing_file                         MISSING\n"
                        "Latent class\n"
                        " No examples yet\n"
                        "\n"
                        "After the end\n",
                        nullptr));
  QVERIFY(WriteTextFile(examples + "LOGLIN01.inp", "man 2\n", nullptr));
  QVERIFY(WriteTextFile(examples + "loglin01.dat", "1 2 3 4\n", nullptr));
  // The examples lie where the program looks for them.
  QVERIFY(QDir().rename(examples, paths_.directory + "examples"));
  MainWindow* frame = MakeFrame();
  InputEditor* input = Child<InputEditor>(frame);
  QMenu* menu = input->findChild<QMenu*>("Examples");
  QCOMPARE(ItemTexts(menu), QStringList({"Log-linear models", "Latent class"}));
  QMenu* hierarchical =
      ItemNamed(ItemNamed(menu, "Log-linear models")->menu(), "Hierarchical")->menu();
  QVERIFY(hierarchical != nullptr);
  QCOMPARE(ItemTexts(hierarchical), QStringList({"Independence", "Missing file"}));

  Child<QPlainTextEdit>(input)->setPlainText("old");
  Child<QPlainTextEdit>(input)->document()->setModified(true);
  dialogs_.answers << UserDialogs::Answer::kCancel;
  ItemNamed(hierarchical, "Independence")->trigger();
  QCOMPARE(Child<QPlainTextEdit>(input)->toPlainText(),
           QString("old"));  // the question was cancelled

  dialogs_.answers << UserDialogs::Answer::kNo;
  ItemNamed(hierarchical, "Independence")->trigger();
  QCOMPARE(Child<QPlainTextEdit>(input)->toPlainText(), QString("man 2\n"));
  QCOMPARE(input->windowTitle(), QString("Input - LOGLIN01.inp"));
  QCOMPARE(frame->windowTitle(), QString("LOGLIN01.inp[*] - TAV for Windows"));
  QVERIFY(!Child<QPlainTextEdit>(input)->document()->isModified());
  QVERIFY(input->FileName().isEmpty());  // "&Save" asks for a name: the example stays
  QVERIFY(dialogs_.warned.isEmpty());
  // An example runs as a text never saved, in the working folder, where its data now lie.
  QCOMPARE(frame->InputDirectory(), QString());
  QCOMPARE(ReadAll(paths_.WorkingDirectory + "loglin01.dat"), QString("1 2 3 4\n"));
  QVERIFY(!QFile::exists(paths_.WorkingDirectory + "LOGLIN01.inp"));
  QVERIFY(!QFile::exists(paths_.WorkingDirectory + "examples.lis"));
  // Save As suggests the example's name there.
  input->SaveAs();
  QCOMPARE(dialogs_.save_starts.back(), paths_.WorkingDirectory + "LOGLIN01.inp");

  // A missing example file is reported, and the editor keeps its text.
  Child<QPlainTextEdit>(input)->setPlainText("kept");
  ItemNamed(hierarchical, "Missing file")->trigger();
  QCOMPARE(Child<QPlainTextEdit>(input)->toPlainText(), QString("kept"));
  QCOMPARE(input->windowTitle(), QString("Input - LOGLIN01.inp"));
  QCOMPARE(dialogs_.warned.size(), 1);
  QVERIFY2(dialogs_.warned.front().contains("was not found") &&
               dialogs_.warned.front().contains("MISSING.inp"),
           qPrintable(dialogs_.warned.front()));
}

void FrontendWindowsTest::RunStartsTheEngineAndViewersLoadAfterIt() {
  InstallFakeEngine();
  MainWindow* frame = MakeFrame();
  InputEditor* input = Child<InputEditor>(frame);
  ReportViewer* output = Child<ReportViewer>(frame);
  LogViewer* log = Child<LogViewer>(frame);
  const QString report =
      "TAV\n*** INPUT ***\nman 2\n*** STATISTICS ***\nX-squared\n*** FREQUENCIES ***\n"
      "*** LOG-LINEAR PARAMETERS ***\n*** CONDITIONAL PROBABILITIES ***\n";
  Child<QPlainTextEdit>(input)->setPlainText(report);
  frame->SetInputDirectory("/data dir/");

  input->Run();
  QVERIFY(dialogs_.warned.isEmpty());
  QVERIFY(frame->EngineRunning(QString(), false));
  QTRY_VERIFY(QFile::exists(paths_.directory + "args.txt"));
  QTRY_VERIFY(QFile::exists(paths_.TempOutputPath));
  // The temporary files are the instance's own, and the engine runs in their directory.
  QVERIFY(paths_.TempInputPath.startsWith(paths_.TempDirectory));
  QTRY_COMPARE(ReadAll(paths_.directory + "args.txt"),
               QString("5\n%1\n%2\n/data dir/\n%3\n-log\ncwd %4\nresults %5\n")
                   .arg(paths_.TempInputPath, paths_.TempOutputPath, paths_.TempLogPath,
                        QDir(paths_.TempDirectory).absolutePath(), paths_.TempResultsPath));
  QCOMPARE(ReadAll(paths_.TempInputPath), report);

  // While the engine runs: no second run, no exit, nothing loaded.
  QVERIFY(frame->EngineRunning(QString(), false));
  input->Run();
  QCOMPARE(dialogs_.informed, QStringList({"Cannot Run. Program is still running."}));
  QVERIFY(!frame->close());
  QCOMPARE(dialogs_.informed.back(), QString("Cannot Exit. Program is still running."));
  ActivateChild(output);
  output->Activated();
  QCOMPARE(Child<QPlainTextEdit>(output)->toPlainText(), QString());
  QVERIFY(QFile::exists(paths_.TempOutputPath));

  // The plots window, open while the engine runs, has nothing to draw yet.
  frame->ShowPlots();
  QVERIFY(Child<PlotWindow>(frame)->Message().startsWith("No results to plot"));
  QFile document(paths_.TempResultsPath);
  QVERIFY(document.open(QIODevice::WriteOnly));
  document.write(R"({"program": "tav95", "format": 1, "latent_classes": {"classes": [
      {"latent": [1], "size": 1, "items": [{"variable": "A", "probabilities": [0.3, 0.7]}]}]}})");
  document.close();

  // The engine ends: the viewers pick their files up and delete them; the plots window draws
  // the run's results.
  QFile release(paths_.directory + "release");
  QVERIFY(release.open(QIODevice::WriteOnly));
  release.close();
  QTRY_VERIFY_WITH_TIMEOUT(!frame->EngineRunning(QString(), false), 10000);
  QTRY_COMPARE(Child<PlotWindow>(frame)->Plots().plots.size(), size_t{2});
  Child<PlotWindow>(frame)->close();
  output->Activated();
  QCOMPARE(Child<QPlainTextEdit>(output)->toPlainText() + '\n', report);
  QVERIFY(!QFile::exists(paths_.TempOutputPath));
  QVERIFY(!output->OutputSaved());
  QCOMPARE(output->windowTitle(), QString("Output"));
  const bool expected[] = {true, true, true, false, true, false, true, false, false, false, false};
  for (int item = 0; item < kGoToItemCount; ++item) {
    QCOMPARE(output->GoToAction(item)->isEnabled(), expected[item]);
  }

  ActivateChild(log);
  log->Activated();
  QCOMPARE(Child<QPlainTextEdit>(log)->toPlainText(), QString("fake engine\nreport written"));
  QVERIFY(!QFile::exists(paths_.TempLogPath));
  log->Activated();  // a second activation shows the same text
  QCOMPARE(Child<QPlainTextEdit>(log)->toPlainText(), QString("fake engine\nreport written"));
}

void FrontendWindowsTest::RunWithShowLogPassesFourArguments() {
  InstallFakeEngine();
  MainWindow* frame = MakeFrame();
  QFile release(paths_.directory + "release");
  QVERIFY(release.open(QIODevice::WriteOnly));
  release.close();
  frame->ResetPreferences();
  ItemNamed(ItemNamed(MenuNamed(frame->menuBar(), "&Tools"), "&Preferences")->menu(), "&Show Log ")
      ->trigger();
  Child<InputEditor>(frame)->Run();
  // A never-saved input runs in the working folder, which is made for it.
  QTRY_VERIFY(ReadAll(paths_.directory + "args.txt")
                  .startsWith(QString("4\n%1\n%2\n%3\n%4\n")
                                  .arg(paths_.TempInputPath, paths_.TempOutputPath,
                                       paths_.WorkingDirectory, paths_.TempLogPath)));
  QVERIFY(QFileInfo(paths_.WorkingDirectory).isDir());
}

void FrontendWindowsTest::RunAsksAboutAnUnsavedReport() {
  InstallFakeEngine();
  MainWindow* frame = MakeFrame();
  QFile release(paths_.directory + "release");
  QVERIFY(release.open(QIODevice::WriteOnly));
  release.close();
  InputEditor* input = Child<InputEditor>(frame);
  ReportViewer* output = Child<ReportViewer>(frame);
  Child<QPlainTextEdit>(input)->setPlainText("first");
  input->Run();
  QTRY_VERIFY_WITH_TIMEOUT(!frame->EngineRunning(QString(), false), 10000);
  // The report is shown as the run ends, and is not saved yet.
  QTRY_COMPARE(Child<QPlainTextEdit>(output)->toPlainText(), QString("first"));
  QFile::remove(paths_.directory + "args.txt");

  dialogs_.answers << UserDialogs::Answer::kCancel;
  input->Run();
  QCOMPARE(dialogs_.asked, QStringList({"Output not saved. Save now?"}));
  QTest::qWait(200);
  QVERIFY(!QFile::exists(paths_.directory + "args.txt"));  // no run
  QCOMPARE(Child<QPlainTextEdit>(output)->toPlainText(), QString("first"));

  // A report the window has not picked up yet counts as unsaved too.
  QVERIFY(WriteTextFile(paths_.TempOutputPath, "first\n", nullptr));
  output->Clear();
  dialogs_.answers << UserDialogs::Answer::kCancel;
  input->Run();
  QCOMPARE(dialogs_.asked.size(), 2);
  output->Activated();
  QCOMPARE(Child<QPlainTextEdit>(output)->toPlainText(), QString("first"));
  Child<QPlainTextEdit>(input)->setPlainText("second");
  dialogs_.answers << UserDialogs::Answer::kNo;
  input->Run();
  QCOMPARE(Child<QPlainTextEdit>(output)->toPlainText(), QString());  // emptied for the run
  for (int item = 0; item < kGoToItemCount; ++item) QVERIFY(!output->GoToAction(item)->isEnabled());
  QTRY_VERIFY(QFile::exists(paths_.directory + "args.txt"));
  QTRY_VERIFY_WITH_TIMEOUT(!frame->EngineRunning(QString(), false), 10000);
  output->Activated();
  QCOMPARE(Child<QPlainTextEdit>(output)->toPlainText(), QString("second"));
}

void FrontendWindowsTest::MissingEngineIsReported() {
  MainWindow* frame = MakeFrame();
  Child<QPlainTextEdit>(Child<InputEditor>(frame))->setPlainText("man 2");
  Child<InputEditor>(frame)->Run();
  QCOMPARE(dialogs_.warned.size(), 1);
  QVERIFY(dialogs_.warned.front().contains("was not found"));
  QVERIFY(!frame->EngineRunning(QString(), false));
}

void FrontendWindowsTest::GoToJumpsToTheHeader() {
  MainWindow* frame = MakeFrame();
  ReportViewer* output = Child<ReportViewer>(frame);
  QStringList lines;
  for (int i = 0; i < 300; ++i) lines << QString("line %1").arg(i);
  lines[120] = "*** STATISTICS ***";
  lines[200] = "*** FREQUENCIES ***";
  QVERIFY(WriteTextFile(paths_.TempOutputPath, lines.join('\n') + '\n', nullptr));
  ActivateChild(output);
  output->Activated();
  QVERIFY(output->GoToAction(1)->isEnabled());
  QVERIFY(output->GoToAction(2)->isEnabled());
  QVERIFY(!output->GoToAction(3)->isEnabled());

  QPlainTextEdit* editor = Child<QPlainTextEdit>(output);
  output->GoToAction(2)->trigger();
  QCOMPARE(editor->textCursor().blockNumber(), 200);
  QCOMPARE(editor->textCursor().positionInBlock(), 0);
  // The header is in the top lines of the window.
  const int line_height = editor->fontMetrics().lineSpacing();
  QVERIFY(editor->cursorRect().top() < 3 * line_height);
  output->GoToAction(1)->trigger();
  QCOMPARE(editor->textCursor().blockNumber(), 120);
  QVERIFY(editor->cursorRect().top() < 3 * line_height);
  output->GoToAction(0)->trigger();
  QCOMPARE(editor->textCursor().position(), 0);
}

void FrontendWindowsTest::ReportViewerSaveAndClose() {
  MainWindow* frame = MakeFrame();
  ReportViewer* output = Child<ReportViewer>(frame);
  QVERIFY(output->OutputSaved());
  QVERIFY(WriteTextFile(paths_.TempOutputPath, "*** STATISTICS ***\nreport\n", nullptr));

  // "Save &As..." picks up a report not yet shown.
  const QString saved = directory_->filePath("result.out");
  dialogs_.save_names << saved;
  QVERIFY(output->SaveAs());
  QCOMPARE(dialogs_.last_setup.default_suffix, QString("out"));
  QCOMPARE(dialogs_.last_setup.filters.front(), QString("Output Files (*.out)"));
  QCOMPARE(ReadAll(saved), QString("*** STATISTICS ***\nreport\n"));
  QCOMPARE(output->windowTitle(), QString("Output - result.out"));
  QVERIFY(!QFile::exists(paths_.TempOutputPath));
  QVERIFY(output->OutputSaved());

  // Closing with an unsaved report: Cancel keeps it, Yes with a cancelled dialog keeps it.
  QVERIFY(WriteTextFile(paths_.TempOutputPath, "next\n", nullptr));
  dialogs_.answers << UserDialogs::Answer::kCancel << UserDialogs::Answer::kYes;
  QVERIFY(!output->MayClose());
  QVERIFY(!output->MayClose());
  QVERIFY(QFile::exists(paths_.TempOutputPath));
  QVERIFY(!output->OutputSaved());

  // With "&Confirm" unchecked the report is discarded without a question.
  ItemNamed(ItemNamed(MenuNamed(frame->menuBar(), "&Tools"), "&Preferences")->menu(), "&Confirm")
      ->trigger();
  const int asked = dialogs_.asked.size();
  QVERIFY(output->MayClose());
  QCOMPARE(dialogs_.asked.size(), asked);
  QVERIFY(!QFile::exists(paths_.TempOutputPath));
  QVERIFY(output->OutputSaved());

  // The log viewer saves with its own dialog set-up.
  LogViewer* log = Child<LogViewer>(frame);
  QVERIFY(WriteTextFile(paths_.TempLogPath, "log line\n", nullptr));
  log->Activated();
  dialogs_.save_names << directory_->filePath("run.log");
  QVERIFY(log->SaveAs());
  QCOMPARE(dialogs_.last_setup.default_suffix, QString("log"));
  QCOMPARE(dialogs_.last_setup.filters.front(), QString("Log Files (*.log)"));
  QCOMPARE(ReadAll(directory_->filePath("run.log")), QString("log line\n"));
  QCOMPARE(log->windowTitle(), QString("Log - run.log"));
}

void FrontendWindowsTest::ChildrenAreMinimisedNotClosed() {
  MainWindow* frame = MakeFrame();
  InputEditor* input = Child<InputEditor>(frame);
  Child<QPlainTextEdit>(input)->setPlainText("keep");
  Child<QPlainTextEdit>(input)->document()->setModified(true);
  dialogs_.answers << UserDialogs::Answer::kCancel;
  QMdiSubWindow* window = qobject_cast<QMdiSubWindow*>(input->parentWidget());
  window->close();
  QTest::qWait(50);
  QVERIFY(!window->isMinimized());
  dialogs_.answers << UserDialogs::Answer::kNo;
  window->close();
  QTRY_VERIFY(window->isMinimized());
  QCOMPARE(Child<QMdiArea>(frame)->subWindowList().size(), 3);
  QCOMPARE(Child<QPlainTextEdit>(input)->toPlainText(), QString("keep"));
}

void FrontendWindowsTest::ChiSquaredToolAnswers() {
  MainWindow* frame = MakeFrame();
  ChiSquaredTool* tool = Child<ChiSquaredTool>(frame);
  // The controls by their names.
  auto* value_label = tool->findChild<QLabel*>("Label1");
  auto* degrees_label = tool->findChild<QLabel*>("Label2");
  auto* answer_label = tool->findChild<QLabel*>("Label3");
  auto* value_edit = tool->findChild<QLineEdit*>("Edit1");
  auto* degrees_edit = tool->findChild<QLineEdit*>("Edit2");
  auto* ok_button = tool->findChild<QPushButton*>("Ok");
  auto* cancel_button = tool->findChild<QPushButton*>("Cancel");
  QVERIFY(value_label && degrees_label && answer_label && value_edit && degrees_edit && ok_button &&
          cancel_button);
  QVERIFY(!tool->isVisible());
  ItemNamed(MenuNamed(frame->menuBar(), "&Tools"), "&Chi-squared...")->trigger();
  QVERIFY(tool->isVisible());
  QCOMPARE(tool->windowTitle(), QString("Chi-squared probability"));
  QCOMPARE(value_label->text(), QString("Chi-squared value"));
  QCOMPARE(degrees_label->text(), QString("Degrees of freedom"));
  QCOMPARE(ok_button->text(), QString("OK"));
  QCOMPARE(cancel_button->text(), QString("Cancel"));
  // The specified layout, scaled as a whole for the font.
  const double scale = tool->Scale();
  QVERIFY(scale >= 1.0);
  auto scaled = [scale](int x, int y, int w, int h) {
    const int left = qRound(x * scale);
    const int top = qRound(y * scale);
    return QRect(left, top, qRound((x + w) * scale) - left, qRound((y + h) * scale) - top);
  };
  QCOMPARE(tool->size(), QSize(qRound(162 * scale), qRound(121 * scale)));
  QCOMPARE(value_edit->geometry(), scaled(112, 8, 45, 21));
  QCOMPARE(degrees_edit->geometry(), scaled(112, 32, 45, 21));
  QCOMPARE(ok_button->geometry(), scaled(3, 64, 75, 25));
  QCOMPARE(cancel_button->geometry(), scaled(83, 64, 75, 25));
  // Every text shows in full: the labels beside the fields, the messages within the dialog.
  const QFontMetrics metrics(tool->font());
  for (QLabel* label : {value_label, degrees_label}) {
    QVERIFY(label->x() + metrics.horizontalAdvance(label->text()) < value_edit->x());
  }
  for (const QString message :
       {"Impossible degrees of freedom", "Impossible chi-squared value", "The P value is 0.0500"}) {
    QVERIFY2(answer_label->x() + metrics.horizontalAdvance(message) <=
                 answer_label->geometry().right() + 1,
             qPrintable(message));
    QVERIFY(answer_label->geometry().right() < tool->width());
  }
  QVERIFY(metrics.height() <= value_edit->height());
  // A long value shows whole: its first digit is not scrolled out of the field.
  value_edit->setText("1234.56789");
  QVERIFY(QFontMetrics(value_edit->font()).horizontalAdvance("1234.56789") <=
          value_edit->contentsRect().width() - 8);
  QVERIFY(answer_label->geometry().bottom() < tool->height());
  // A large font makes it larger; a small one never makes it smaller than specified.
  QFont large = tool->font();
  large.setPointSize(20);
  QVERIFY(ChiSquaredTool::LayoutScale(large, large) > 2.0);
  QFont small = tool->font();
  small.setPixelSize(4);
  QCOMPARE(ChiSquaredTool::LayoutScale(small, small), 1.0);

  value_edit->setText("3.841");
  degrees_edit->setText("1");
  QTest::mouseClick(ok_button, Qt::LeftButton);
  QCOMPARE(answer_label->text(), QString("The P value is 0.0500"));

  value_edit->setText("3,841");
  QTest::mouseClick(ok_button, Qt::LeftButton);
  QCOMPARE(answer_label->text(), QString("Impossible chi-squared value"));
  QCOMPARE(tool->focusWidget(), value_edit);

  value_edit->setText("3.841");
  degrees_edit->setText("one");
  QTest::mouseClick(ok_button, Qt::LeftButton);
  QCOMPARE(answer_label->text(), QString("Impossible degrees of freedom"));
  QCOMPARE(tool->focusWidget(), degrees_edit);

  tool->Activated();
  QCOMPARE(answer_label->text(), QString());
  QCOMPARE(tool->focusWidget(), value_edit);

  QTest::mouseClick(cancel_button, Qt::LeftButton);
  QVERIFY(!tool->isVisible());
  QCOMPARE(value_edit->text(), QString("3.841"));  // the fields keep their text
}

void FrontendWindowsTest::PrintingWritesPages() {
  const QString pdf = directory_->filePath("out.pdf");
  QPrinter printer;
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(pdf);
  QStringList lines;
  for (int i = 0; i < 200; ++i) lines << QString("report line %1").arg(i);
  QVERIFY(PrintTextLines(&printer, lines, QFont("Courier New", 9)));
  QVERIFY(QFileInfo(pdf).size() > 0);
  // 200 lines do not fit on one page.
  QFile file(pdf);
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QString content = QString::fromLatin1(file.readAll());
  QVERIFY(content.count(QRegularExpression("/Type\\s*/Page[^s]")) >= 2);

  // "&Print..." cancelled in its dialog prints nothing and says nothing.
  MainWindow* frame = MakeFrame();
  Child<ReportViewer>(frame)->Print();
  QVERIFY(dialogs_.warned.isEmpty());
}

void FrontendWindowsTest::ShortcutsReachTheActiveChild() {
  MainWindow* frame = MakeFrame();
  frame->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(frame));
  ReportViewer* output = Child<ReportViewer>(frame);
  QVERIFY(WriteTextFile(paths_.TempOutputPath, "report text\n", nullptr));
  ActivateChild(output);
  QCOMPARE(Child<QPlainTextEdit>(output)->toPlainText(),
           QString("report text"));  // loaded on activation
  Child<QPlainTextEdit>(output)->selectAll();
  QApplication::clipboard()->clear();
  QTest::keyClick(Child<QPlainTextEdit>(output), Qt::Key_C, Qt::ControlModifier);
  QCOMPARE(QApplication::clipboard()->text(), QString("report text"));

  // Ctrl+R belongs to the input editor: it runs (here: finds no engine) only there.
  QTest::keyClick(Child<QPlainTextEdit>(output), Qt::Key_R, Qt::ControlModifier);
  QVERIFY(dialogs_.warned.isEmpty());
  QVERIFY(dialogs_.asked.isEmpty());
  ActivateChild(Child<InputEditor>(frame));
  Child<QPlainTextEdit>(Child<InputEditor>(frame))->setFocus();
  dialogs_.answers << UserDialogs::Answer::kNo;  // the report shown is not kept
  QTest::keyClick(Child<QPlainTextEdit>(Child<InputEditor>(frame)), Qt::Key_R, Qt::ControlModifier);
  QCOMPARE(dialogs_.asked, QStringList({"Output not saved. Save now?"}));
  QCOMPARE(dialogs_.warned.size(), 1);
  QVERIFY(dialogs_.warned.front().contains("was not found"));
}

void FrontendWindowsTest::ArrangeIconsLinesUpMinimisedChildren() {
  MainWindow* frame = MakeFrame();
  const QList<QMdiSubWindow*> windows = Child<QMdiArea>(frame)->subWindowList();
  for (QMdiSubWindow* window : windows) window->showMinimized();
  QTRY_VERIFY(windows.back()->isMinimized());
  windows.front()->move(150, 40);
  windows.back()->move(10, 10);
  frame->ArrangeIcons();
  // Side by side along the bottom, in the order the windows were made.
  const int bottom = Child<QMdiArea>(frame)->viewport()->height();
  int x = 0;
  for (QMdiSubWindow* window : windows) {
    QCOMPARE(window->pos(), QPoint(x, bottom - window->height()));
    x += window->width();
  }

  // A window in front that covers the bottom edge hides no icon after arranging.
  QMdiSubWindow* input = Child<InputEditor>(frame)->SubWindow();
  input->showNormal();
  QTRY_VERIFY(!input->isMinimized());
  input->setGeometry(0, 0, Child<QMdiArea>(frame)->viewport()->width(),
                     Child<QMdiArea>(frame)->viewport()->height());
  input->raise();
  frame->ArrangeIcons();
  const QList<QMdiSubWindow*> stacking =
      Child<QMdiArea>(frame)->subWindowList(QMdiArea::StackingOrder);
  for (int i = 0; i < stacking.size(); ++i) {
    if (!stacking[i]->isMinimized()) continue;
    for (int j = i + 1; j < stacking.size(); ++j) {
      QVERIFY(!stacking[j]->geometry().intersects(stacking[i]->geometry()) ||
              stacking[j]->isMinimized());
      if (stacking[j]->isMinimized()) {
        QVERIFY(!stacking[j]->geometry().intersects(stacking[i]->geometry()));
      }
    }
  }
}

void FrontendWindowsTest::LockedLogMeansARunningEngine() {
  MainWindow* frame = MakeFrame();
  QVERIFY(!frame->EngineRunning("Cannot Exit.", true));
  std::FILE* log = std::fopen(QFile::encodeName(paths_.TempLogPath).constData(), "w");
  QVERIFY(log != nullptr);
  tav::LockLogFile(log);
  QVERIFY(frame->EngineRunning("Cannot Exit.", true));
  QCOMPARE(dialogs_.informed, QStringList({"Cannot Exit. Program is still running."}));
  QVERIFY(frame->EngineRunning(QString(), false));
  Child<LogViewer>(frame)->Activated();
  QCOMPARE(Child<QPlainTextEdit>(Child<LogViewer>(frame))->toPlainText(), QString());
  std::fputs("done\n", log);
  std::fclose(log);
  QVERIFY(!frame->EngineRunning(QString(), false));
  Child<LogViewer>(frame)->Activated();
  QCOMPARE(Child<QPlainTextEdit>(Child<LogViewer>(frame))->toPlainText(), QString("done"));
  QVERIFY(!QFile::exists(paths_.TempLogPath));
}

void FrontendWindowsTest::MissingFontFallsBackToAFixedFontThatExists() {
  QDir().mkpath(QFileInfo(settings_path_).path());
  QVERIFY(WriteTextFile(settings_path_, "[Preferences]\nFontName=No Such Font 42\nFontSize=10\n",
                        nullptr));
  MainWindow* frame = MakeFrame();
  // A family the font database knows, of fixed pitch, at the size asked for.
  const QFont font = frame->FrameFont();
  QVERIFY2(QFontDatabase::families().contains(font.family()), qPrintable(font.family()));
  QVERIFY(QFontInfo(font).fixedPitch());
  QCOMPARE(font.pointSize(), 10);
  QCOMPARE(Child<QPlainTextEdit>(Child<InputEditor>(frame))->font(), font);
  QCOMPARE(Child<QPlainTextEdit>(Child<ReportViewer>(frame))->font(), font);

  // The font dialog starts from the font in use; OK without a change keeps it.
  dialogs_.font = font;
  frame->ChooseFrameFont();
  QCOMPARE(dialogs_.font_starts.size(), 1);
  QCOMPARE(dialogs_.font_starts.front().family(), font.family());
  QCOMPARE(dialogs_.font_starts.front().pointSize(), 10);
  // On the family's upright style of normal weight, named as the dialog lists it.
  const QString style = dialogs_.font_starts.front().styleName();
  QVERIFY2(QFontDatabase::styles(font.family()).contains(style), qPrintable(style));
  const QFont styled = QFontDatabase::font(font.family(), style, 10);
  QCOMPARE(styled.style(), QFont::StyleNormal);  // neither italic nor oblique
  QCOMPARE(styled.weight(), QFont::Normal);
  QCOMPARE(QFontInfo(Child<QPlainTextEdit>(Child<InputEditor>(frame))->font()).style(),
           QFont::StyleNormal);
  QVERIFY(QFontInfo(Child<QPlainTextEdit>(Child<LogViewer>(frame))->font()).fixedPitch());
  QCOMPARE(frame->FontName(), font.family());

  // An installed family is taken as it is.
  const QString family = QFontDatabase::families().front();
  QCOMPARE(MainWindow::MakeFont(family, 12).family(), family);
  QCOMPARE(MainWindow::MakeFont(family, 0).pointSize(), 9);
  // Reset asks for "Courier New", which stays the name kept in the settings file.
  frame->ResetPreferences();
  QVERIFY(QFontDatabase::families().contains(frame->FrameFont().family()));
  QVERIFY(frame->close());
  QVERIFY(ReadAll(settings_path_).contains("FontName=Courier New\n"));
}

void FrontendWindowsTest::CascadeKeepsEveryTitleBarInView() {
  MainWindow* frame = MakeFrame();
  QMdiArea* area = Child<QMdiArea>(frame);
  // The log window is the one in use: it ends in front, and no title bar is hidden.
  ActivateChild(Child<LogViewer>(frame));
  Child<LogViewer>(frame)->SubWindow()->move(0, 0);
  frame->Cascade();
  const QList<QMdiSubWindow*> stacking = area->subWindowList(QMdiArea::StackingOrder);
  QCOMPARE(stacking.size(), 3);
  QCOMPARE(stacking.back(), Child<LogViewer>(frame)->SubWindow());
  QCOMPARE(area->activeSubWindow(), Child<LogViewer>(frame)->SubWindow());
  QCOMPARE(stacking[0], Child<ReportViewer>(frame)->SubWindow());
  QCOMPARE(stacking[1], Child<InputEditor>(frame)->SubWindow());
  const int step = frame->CascadeStep();
  QVERIFY(step >= 16);
  for (int i = 0; i < stacking.size(); ++i) {
    QMdiSubWindow* window = stacking[i];
    QCOMPARE(window->pos(), QPoint(i * step, i * step));
    QCOMPARE(window->size(), QSize(frame->ChildWidth(), frame->ChildHeight()));
    // Its title bar is under no window in front of it.
    const QRect title(window->pos(), QSize(window->width(), step));
    for (int j = i + 1; j < stacking.size(); ++j) {
      QVERIFY(!stacking[j]->geometry().intersects(title));
    }
  }
  QVERIFY(Child<LogViewer>(frame)->SubWindow()->pos() != QPoint(0, 0));

  // A minimised window stays an icon; the others cascade without it.
  Child<ReportViewer>(frame)->SubWindow()->showMinimized();
  QTRY_VERIFY(Child<ReportViewer>(frame)->SubWindow()->isMinimized());
  ActivateChild(Child<InputEditor>(frame));
  frame->Cascade();
  QVERIFY(Child<ReportViewer>(frame)->SubWindow()->isMinimized());
  QCOMPARE(Child<LogViewer>(frame)->SubWindow()->pos(), QPoint(0, 0));
  QCOMPARE(Child<InputEditor>(frame)->SubWindow()->pos(), QPoint(step, step));
  QCOMPARE(area->subWindowList(QMdiArea::StackingOrder).back(),
           Child<InputEditor>(frame)->SubWindow());
}

void FrontendWindowsTest::DamagedSettingsFileIsReplacedWithABackup() {
  QDir().mkpath(QFileInfo(settings_path_).path());
  QByteArray garbage;
  for (int i = 0; i < 600; ++i) garbage += static_cast<char>((i * 167 + 13) % 256);
  {
    QFile file(settings_path_);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(garbage), garbage.size());
  }
  MainWindow* frame = MakeFrame();
  QCOMPARE(frame->size(), QSize(600, 450));  // the defaults
  QVERIFY(frame->ConfirmChecked());
  QVERIFY(frame->close());
  QVERIFY(dialogs_.warned.isEmpty());
  QFile backup(BackupPath(settings_path_));
  QVERIFY(backup.open(QIODevice::ReadOnly));
  QCOMPARE(backup.readAll(), garbage);
  backup.close();
  const QString clean = ReadAll(settings_path_);
  QVERIFY(!clean.contains(QChar::ReplacementCharacter));
  QVERIFY(clean.startsWith("[Window]\nHeight=450\n"));
  ProfileFile check;
  QVERIFY(check.Load(settings_path_));
  QVERIFY(!check.Damaged());

  // The clean file is read and written again as it is: it never grows.
  for (int round = 0; round < 2; ++round) {
    frame_.reset();
    frame = MakeFrame();
    QVERIFY(frame->close());
    QCOMPARE(ReadAll(settings_path_), clean);
  }
  backup.open(QIODevice::ReadOnly);
  QCOMPARE(backup.readAll(), garbage);  // the backup stays the damaged file
}

void FrontendWindowsTest::ReadOnlyProgramDirectoryIsNeverWritten() {
  InstallFakeEngine();
  const QString examples = paths_.directory + "examples/";
  QVERIFY(QDir().mkpath(examples));
  QVERIFY(WriteTextFile(examples + "examples.lis",
                        "Group\n Sub\n  One                                  one\n", nullptr));
  QVERIFY(WriteTextFile(examples + "one.inp", "dat one.dat\n", nullptr));
  QVERIFY(WriteTextFile(examples + "one.dat", "1 2 3 4\n", nullptr));
  // The stand-in engine keeps its notes elsewhere, as the real one keeps nothing there.
  const QString home = directory_->filePath("engine-home/");
  QVERIFY(QDir().mkpath(home));
  qputenv("FAKE_ENGINE_HOME", QFile::encodeName(home));
  QFile release(home + "release");
  QVERIFY(release.open(QIODevice::WriteOnly));
  release.close();
  auto listing = [this] {
    QStringList names;
    QDirIterator it(paths_.directory, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) names << it.next();
    names.sort();
    return names;
  };
  const QStringList before = listing();
  QVERIFY(QFile::setPermissions(paths_.directory, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                      QFileDevice::ReadGroup |
                                                      QFileDevice::ExeGroup));

  MainWindow* frame = MakeFrame();
  QAction* example = ItemNamed(
      ItemNamed(
          ItemNamed(Child<InputEditor>(frame)->findChild<QMenu*>("Examples"), "Group")->menu(),
          "Sub")
          ->menu(),
      "One");
  QVERIFY(example != nullptr);
  example->trigger();
  QCOMPARE(Child<QPlainTextEdit>(Child<InputEditor>(frame))->toPlainText(),
           QString("dat one.dat\n"));
  Child<InputEditor>(frame)->Run();
  QVERIFY2(dialogs_.warned.isEmpty(), qPrintable(dialogs_.warned.join('\n')));
  QTRY_VERIFY(QFile::exists(home + "args.txt"));
  QTRY_VERIFY_WITH_TIMEOUT(!frame->EngineRunning(QString(), false), 10000);
  // The example ran in the working folder, beside its data, from the private directory.
  const QStringList args = ReadAll(home + "args.txt").split('\n');
  QCOMPARE(args[1], paths_.TempInputPath);
  QCOMPARE(args[3], paths_.WorkingDirectory);
  QCOMPARE(ReadAll(paths_.WorkingDirectory + "one.dat"), QString("1 2 3 4\n"));
  Child<ReportViewer>(frame)->Activated();
  QCOMPARE(Child<QPlainTextEdit>(Child<ReportViewer>(frame))->toPlainText(),
           QString("dat one.dat"));
  dialogs_.answers << UserDialogs::Answer::kNo;  // the report is not kept
  QVERIFY(frame->close());
  QCOMPARE(listing(), before);
  // The private directory is left empty.
  QVERIFY(QDir(paths_.TempDirectory).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot));
}

void FrontendWindowsTest::FindSelectAllAndUndo() {
  MainWindow* frame = MakeFrame();
  InputEditor* input = Child<InputEditor>(frame);
  QPlainTextEdit* editor = Child<QPlainTextEdit>(input);
  editor->setPlainText("man 2\ndim 2 2\nlab A B\nmod {AB}\n");
  dialogs_.texts << "dim";
  input->Find();
  QCOMPARE(editor->textCursor().selectedText(), QString("dim"));
  QCOMPARE(editor->textCursor().blockNumber(), 1);
  // Find Next goes on from the top after the end.
  input->FindNext();
  QCOMPARE(editor->textCursor().selectedText(), QString("dim"));
  QCOMPARE(editor->textCursor().blockNumber(), 1);
  dialogs_.texts << "nowhere";
  input->Find();
  QCOMPARE(dialogs_.informed, QStringList({"Cannot find \"nowhere\"."}));
  QCOMPARE(editor->textCursor().selectedText(), QString("dim"));  // the selection stays
  input->Find();                                                  // cancelled: nothing happens
  QCOMPARE(dialogs_.informed.size(), 1);

  QMenu* edit = MenuNamed(frame->menuBar(), "&Edit");
  ItemNamed(edit, "Select &All")->trigger();
  QCOMPARE(editor->textCursor().selectedText().size(), editor->toPlainText().size());
  QAction* undo = ItemNamed(edit, "&Undo");
  QAction* redo = ItemNamed(edit, "&Redo");
  QVERIFY(!undo->isEnabled());
  editor->moveCursor(QTextCursor::End);
  editor->insertPlainText("lat 1");
  QVERIFY(undo->isEnabled());
  undo->trigger();
  QVERIFY(!editor->toPlainText().contains("lat 1"));
  QVERIFY(redo->isEnabled());
  redo->trigger();
  QVERIFY(editor->toPlainText().endsWith("lat 1"));

  // The report viewer finds too.
  ReportViewer* output = Child<ReportViewer>(frame);
  Child<QPlainTextEdit>(output)->setPlainText("*** STATISTICS ***\nL-squared\n");
  dialogs_.texts << "l-squared";
  output->Find();
  QCOMPARE(Child<QPlainTextEdit>(output)->textCursor().selectedText(), QString("L-squared"));
}

void FrontendWindowsTest::RecentFilesDroppedFilesAndTheTitle() {
  const QString first = directory_->filePath("first.inp");
  const QString second = directory_->filePath("second model.inp");
  QVERIFY(WriteTextFile(first, "man 1\n", nullptr));
  QVERIFY(WriteTextFile(second, "man 2\n", nullptr));
  MainWindow* frame = MakeFrame();
  InputEditor* input = Child<InputEditor>(frame);
  QCOMPARE(frame->windowTitle(), QString("TAV for Windows"));

  // Opening a file by name (as "tavwin FILE" does): the title shows it, and so does the list.
  QVERIFY(frame->OpenFile(first));
  QCOMPARE(Child<QPlainTextEdit>(input)->toPlainText(), QString("man 1\n"));
  QCOMPARE(frame->windowTitle(), QString("first.inp[*] - TAV for Windows"));
  QVERIFY(!frame->isWindowModified());
  Child<QPlainTextEdit>(input)->appendPlainText("x");
  QVERIFY(frame->isWindowModified());
  Child<QPlainTextEdit>(input)->document()->setModified(false);

  // A file dropped on the frame, or on the editor's text, is opened.
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(second)});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(Child<QPlainTextEdit>(input)->viewport(), &enter);
  QVERIFY(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(Child<QPlainTextEdit>(input)->viewport(), &drop);
  QTRY_COMPARE(Child<QPlainTextEdit>(input)->toPlainText(), QString("man 2\n"));
  QCOMPARE(input->FileName(), second);
  QCOMPARE(frame->windowTitle(), QString("second model.inp[*] - TAV for Windows"));
  // Something that is no file is not taken.
  QMimeData text;
  text.setText("man 3");
  QDragEnterEvent refused(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  refused.setAccepted(false);
  QApplication::sendEvent(frame, &refused);
  QVERIFY(!refused.isAccepted());

  QCOMPARE(frame->RecentFiles(), QStringList({second, first}));
  QMenu* recent = input->findChild<QMenu*>("Recent");
  emit recent->aboutToShow();
  QCOMPARE(ItemTexts(recent), QStringList({"&1 " + second, "&2 " + first}));
  recent->actions()[1]->trigger();
  QCOMPARE(input->FileName(), first);
  // A file that went away is said to be missing and leaves the list.
  QVERIFY(QFile::remove(second));
  emit recent->aboutToShow();
  recent->actions()[1]->trigger();
  QCOMPARE(dialogs_.warned.size(), 1);
  QVERIFY(dialogs_.warned.front().contains("was not found"));
  QCOMPARE(frame->RecentFiles(), QStringList({first}));
  // The list lasts from one session to the next.
  QVERIFY(frame->close());
  frame_.reset();
  frame = MakeFrame();
  QCOMPARE(frame->RecentFiles(), QStringList({first}));
  // New: the title is the program's alone.
  Child<InputEditor>(frame)->New();
  QCOMPARE(frame->windowTitle(), QString("TAV for Windows"));
}

void FrontendWindowsTest::LogEndsInViewAndSaveAsSuggestsTheInputsName() {
  MainWindow* frame = MakeFrame();
  QStringList lines;
  for (int i = 0; i < 400; ++i) lines << QString("log line %1").arg(i);
  QVERIFY(WriteTextFile(paths_.TempLogPath, lines.join('\n') + '\n', nullptr));
  LogViewer* log = Child<LogViewer>(frame);
  ActivateChild(log);
  QCOMPARE(Child<QPlainTextEdit>(log)->textCursor().blockNumber(), 399);
  QScrollBar* bar = Child<QPlainTextEdit>(log)->verticalScrollBar();
  QVERIFY(bar->maximum() > 0);
  QCOMPARE(bar->value(), bar->maximum());

  // Save As: the input's name with the window's extension, in the input's directory.
  const QString model = directory_->filePath("models/a.inp");
  QVERIFY(QDir().mkpath(directory_->filePath("models")));
  QVERIFY(WriteTextFile(model, "man 2\n", nullptr));
  QVERIFY(frame->OpenFile(model));
  log->SaveAs();
  QCOMPARE(dialogs_.save_starts.back(), QDir(directory_->filePath("models")).filePath("a.log"));
  Child<ReportViewer>(frame)->SaveAs();
  QCOMPARE(dialogs_.save_starts.back(), QDir(directory_->filePath("models")).filePath("a.out"));
  Child<InputEditor>(frame)->SaveAs();
  QCOMPARE(dialogs_.save_starts.back(), model);
  // A new text: the input's directory stays, without a name; never saved anywhere: the
  // working folder.
  Child<InputEditor>(frame)->New();
  Child<InputEditor>(frame)->SaveAs();
  QCOMPARE(dialogs_.save_starts.back(), QDir::toNativeSeparators(directory_->filePath("models/")));
  frame->SetInputDirectory(QString());
  Child<InputEditor>(frame)->SaveAs();
  QCOMPARE(dialogs_.save_starts.back(), paths_.WorkingDirectory);
}

void FrontendWindowsTest::EditorHighlightsCommandsCommentsAndBrackets() {
  MainWindow* frame = MakeFrame();
  QPlainTextEdit* editor = Child<QPlainTextEdit>(Child<InputEditor>(frame));
  editor->setPlainText("man 2 * two manifest variables\nmod {AB}\n");
  auto formats = [editor](int line) {
    return editor->document()->findBlockByNumber(line).layout()->formats();
  };
  const QList<QTextLayout::FormatRange> first = formats(0);
  QCOMPARE(first.size(), 2);
  QCOMPARE(first[0].start, 0);
  QCOMPARE(first[0].length, 3);
  QCOMPARE(first[0].format.fontWeight(), int(QFont::Bold));
  QCOMPARE(first[1].start, 6);
  QVERIFY(first[1].format.fontItalic());
  const QList<QTextLayout::FormatRange> second = formats(1);
  QCOMPARE(second.size(), 3);
  QCOMPARE(second[1].start, 4);  // "{"
  QCOMPARE(second[2].start, 7);  // "}"
  QVERIFY(second[1].format.foreground() != second[0].format.foreground());
  // Highlighting changes how the text looks, never the text or its modified state.
  QCOMPARE(editor->toPlainText(), QString("man 2 * two manifest variables\nmod {AB}\n"));
}

void FrontendWindowsTest::CommandReferenceShowsTheDocumentOrSaysItIsMissing() {
  const QString path = directory_->filePath("commands.md");
  QVERIFY(
      WriteTextFile(path, "# Commands\n\n## man\n\n`man n` the manifest variables.\n", nullptr));
  CommandReferenceWindow found(path, {path}, nullptr);
  QVERIFY(found.Found());
  QVERIFY(Child<QTextBrowser>(&found)->toPlainText().contains("the manifest variables."));
  QVERIFY(!Child<QTextBrowser>(&found)->toPlainText().contains("##"));  // shown as a document
  CommandReferenceWindow missing(QString(), {"/nowhere/share/tav/commands.md"}, nullptr);
  QVERIFY(!missing.Found());
  QVERIFY(
      Child<QTextBrowser>(&missing)->toPlainText().contains("The command reference was not found"));
  QVERIFY(Child<QTextBrowser>(&missing)->toPlainText().contains("/nowhere/share/tav/commands.md"));

  // From the Help menu, once.
  MainWindow* frame = MakeFrame();
  QAction* item = ItemNamed(MenuNamed(frame->menuBar(), "&Help"), "&Command Reference");
  item->trigger();
  QVERIFY(Child<CommandReferenceWindow>(frame) != nullptr);
  QVERIFY(Child<CommandReferenceWindow>(frame)->isVisible());
  CommandReferenceWindow* shown = Child<CommandReferenceWindow>(frame);
  item->trigger();
  QCOMPARE(Child<CommandReferenceWindow>(frame), shown);
  QVERIFY(shown->Found());

  // The headings stand out from the examples: bold, larger, not in the examples' fixed font.
  QTextBlock heading = Child<QTextBrowser>(shown)->document()->begin();
  while (heading.isValid() && heading.text() != "man") heading = heading.next();
  QVERIFY(heading.isValid());
  const QTextCharFormat look = heading.begin().fragment().charFormat();
  QVERIFY(!look.fontFixedPitch() && look.fontWeight() == QFont::Bold);
  QVERIFY(look.fontPointSize() > QApplication::font().pointSizeF());
  // The contents: the sections with their commands under them.
  QTreeWidget* contents = Child<QTreeWidget>(shown);
  QList<QTreeWidgetItem*> entries =
      contents->findItems("man", Qt::MatchExactly | Qt::MatchRecursive);
  QCOMPARE(entries.size(), 1);
  QCOMPARE(entries.front()->parent()->text(0), QString("Model section: variables"));
  contents->setCurrentItem(contents->findItems("mod", Qt::MatchExactly | Qt::MatchRecursive)[0]);
  QCOMPARE(Child<QTextBrowser>(shown)->textCursor().block().text(), QString("mod"));

  // F1 in the editor on a command opens its entry.
  InputEditor* input = Child<InputEditor>(frame);
  Child<QPlainTextEdit>(input)->setPlainText("man 4\ndimension 2 2 2 2\n");
  Child<QPlainTextEdit>(input)->moveCursor(QTextCursor::Down);
  Child<QPlainTextEdit>(input)->moveCursor(QTextCursor::Right);
  QTest::keyClick(Child<QPlainTextEdit>(input), Qt::Key_F1);
  QCOMPARE(Child<QTreeWidget>(shown)->currentItem()->text(0), QString("dim"));
  QCOMPARE(Child<QTextBrowser>(shown)->textCursor().block().text(), QString("dim"));

  // Search, on from the top after the end.
  QVERIFY(shown->FindText("fixed margin"));
  QCOMPARE(Child<QTextBrowser>(shown)->textCursor().selectedText(), QString("fixed margin"));
  QVERIFY(!shown->FindText("no such words here"));
  QCOMPARE(shown->findChild<QLabel*>("FindStatus")->text(), QString("Not found"));
}

void FrontendWindowsTest::FailedRunSelectsTheLineOfTheError() {
  InstallFakeEngine();
  QFile release(paths_.directory + "release");
  QVERIFY(release.open(QIODevice::WriteOnly));
  release.close();
  MainWindow* frame = MakeFrame();
  InputEditor* input = Child<InputEditor>(frame);
  QPlainTextEdit* editor = Child<QPlainTextEdit>(input);
  // A line separator inside a line must not shift the lines the engine counts.
  editor->setPlainText("man 2\ndim 2 2\nlab A B\nerror here\nmod {AB}\n");
  QTextCursor cursor(editor->document()->findBlockByNumber(1));
  cursor.movePosition(QTextCursor::EndOfBlock);
  cursor.insertText(QString(QChar::LineSeparator) + "x");
  QCOMPARE(input->RunText(), QString("man 2\ndim 2 2 x\nlab A B\nerror here\nmod {AB}\n"));
  editor->moveCursor(QTextCursor::Start);
  ActivateChild(Child<ReportViewer>(frame));
  input->Run();
  QTRY_VERIFY_WITH_TIMEOUT(!frame->EngineRunning(QString(), false), 10000);
  // Without the log window being looked at, the editor shows the line.
  QTRY_COMPARE(editor->textCursor().selectedText(), QString("error here"));
  QCOMPARE(editor->textCursor().blockNumber(), 3);
  QCOMPARE(Child<QMdiArea>(frame)->activeSubWindow(), input->SubWindow());
  // The log viewer shows the run's log; reading it does not select the line again.
  editor->moveCursor(QTextCursor::Start);
  Child<LogViewer>(frame)->Activated();
  QVERIFY(Child<QPlainTextEdit>(Child<LogViewer>(frame))
              ->toPlainText()
              .contains("at line 4 of " + paths_.TempInputPath));
  QCOMPARE(editor->textCursor().blockNumber(), 0);

  // An error in a data file leaves the editor alone.
  editor->setPlainText("man 2\ndata error\n");
  editor->moveCursor(QTextCursor::End);
  const int end = editor->textCursor().position();
  input->Run();
  QTRY_VERIFY_WITH_TIMEOUT(!frame->EngineRunning(QString(), false), 10000);
  QTest::qWait(600);
  QCOMPARE(editor->textCursor().position(), end);
  QVERIFY(!editor->textCursor().hasSelection());

  // Shift+Return makes a line of its own.
  editor->setPlainText("man 2");
  editor->moveCursor(QTextCursor::End);
  QTest::keyClick(editor, Qt::Key_Return, Qt::ShiftModifier);
  QCOMPARE(editor->blockCount(), 2);
}

void FrontendWindowsTest::ReportIsShownWhenTheRunEnds() {
  InstallFakeEngine();
  MainWindow* frame = MakeFrame();
  frame->Tile();
  InputEditor* input = Child<InputEditor>(frame);
  Child<QPlainTextEdit>(input)->setPlainText("man 2\ndim 2");
  input->Run();
  QCOMPARE(frame->RunStatusText(), QString("Running: 0:00"));
  QTRY_VERIFY(QFile::exists(paths_.TempOutputPath));
  QFile release(paths_.directory + "release");
  QVERIFY(release.open(QIODevice::WriteOnly));
  release.close();
  // Nothing is clicked: the report and the log show, the output window in front, and the
  // status bar says how long the run took.
  QTRY_COMPARE_WITH_TIMEOUT(Child<QPlainTextEdit>(Child<ReportViewer>(frame))->toPlainText(),
                            QString("man 2\ndim 2"), 10000);
  QCOMPARE(Child<QPlainTextEdit>(Child<LogViewer>(frame))->toPlainText(),
           QString("fake engine\nreport written"));
  QCOMPARE(Child<QMdiArea>(frame)->activeSubWindow(), Child<ReportViewer>(frame)->SubWindow());
  QVERIFY2(
      QRegularExpression(R"(^Finished in \d+\.\d s$)").match(frame->RunStatusText()).hasMatch(),
      qPrintable(frame->RunStatusText()));
  QVERIFY(frame->findChild<QPushButton*>("CancelRun")->isHidden());
  // The Window menu lists the open windows, the active one checked.
  QMenu* window_menu = MenuNamed(frame->menuBar(), "&Window");
  emit window_menu->aboutToShow();
  QCOMPARE(ItemTexts(window_menu), QStringList({"&Cascade", "&Tile", "&Resize", "&Arrange Icons",
                                                "&1 Log", "&2 Output", "&3 Input"}));
  QVERIFY(ItemNamed(window_menu, "&2 Output")->isChecked());
  QVERIFY(!ItemNamed(window_menu, "&3 Input")->isChecked());
  ItemNamed(window_menu, "&3 Input")->trigger();
  QCOMPARE(Child<QMdiArea>(frame)->activeSubWindow(), Child<InputEditor>(frame)->SubWindow());

  // A run that stops on an input error, at the end of a long log, says where; the log and
  // then the editor on the line come to the front.
  Child<QPlainTextEdit>(input)->setPlainText("man 2\niterations 3000\nerror");
  dialogs_.answers << UserDialogs::Answer::kNo;
  input->Run();
  QTRY_COMPARE_WITH_TIMEOUT(frame->RunStatusText(),
                            QString("Stopped: error at line 3 of the input"), 10000);
  QVERIFY(Child<QPlainTextEdit>(Child<LogViewer>(frame))->toPlainText().size() > 100000);
  QVERIFY(
      Child<QPlainTextEdit>(Child<LogViewer>(frame))->toPlainText().contains("Error: wrong word"));
  QCOMPARE(Child<QPlainTextEdit>(input)->textCursor().selectedText(), QString("error"));
}

void FrontendWindowsTest::CancelFromTheStatusBar() {
  InstallFakeEngine();
  MainWindow* frame = MakeFrame();
  InputEditor* input = Child<InputEditor>(frame);
  Child<QPlainTextEdit>(input)->setPlainText("man 2\niterations 10234");
  input->Run();
  // The progress goes on past iteration 9,999, read from the log.
  QTRY_COMPARE_WITH_TIMEOUT(frame->RunStatusText().section("   ", 0, 1),
                            QString("Iteration 10,234   log-likelihood -1000.000098"), 10000);
  auto* cancel = frame->findChild<QPushButton*>("CancelRun");
  QVERIFY(cancel->isVisible());
  QTest::mouseClick(cancel, Qt::LeftButton);
  QTRY_COMPARE_WITH_TIMEOUT(frame->RunStatusText(), QString("Cancelled"), 10000);
  QVERIFY(!frame->EngineRunning(QString(), false));
  QVERIFY(cancel->isHidden());
  // The engine stopped as on its own Cancel: no report, the log says so.
  QVERIFY(!QFile::exists(paths_.TempOutputPath));
  QCOMPARE(Child<QPlainTextEdit>(Child<ReportViewer>(frame))->toPlainText(), QString());
  QVERIFY(Child<QPlainTextEdit>(Child<LogViewer>(frame))
              ->toPlainText()
              .endsWith("The run was cancelled."));
}

void FrontendWindowsTest::SaveQuestionTurnedOff() {
  InstallFakeEngine();
  QFile release(paths_.directory + "release");
  QVERIFY(release.open(QIODevice::WriteOnly));
  release.close();
  MainWindow* frame = MakeFrame();
  InputEditor* input = Child<InputEditor>(frame);
  Child<QPlainTextEdit>(input)->setPlainText("first");
  input->Run();
  QTRY_COMPARE_WITH_TIMEOUT(Child<QPlainTextEdit>(Child<ReportViewer>(frame))->toPlainText(),
                            QString("first"), 10000);
  // "Don't ask again" with Cancel changes nothing.
  dialogs_.dont_ask_again = true;
  dialogs_.answers << UserDialogs::Answer::kCancel;
  input->Run();
  QVERIFY(frame->ConfirmChecked());
  // With No, "&Confirm" goes off, and the next runs ask nothing.
  dialogs_.answers << UserDialogs::Answer::kNo;
  input->Run();
  QCOMPARE(dialogs_.asked.size(), 2);
  QVERIFY(!frame->ConfirmChecked());
  QTRY_VERIFY_WITH_TIMEOUT(!frame->EngineRunning(QString(), false), 10000);
  QTRY_COMPARE(Child<QPlainTextEdit>(Child<ReportViewer>(frame))->toPlainText(), QString("first"));
  input->Run();
  QTRY_VERIFY_WITH_TIMEOUT(!frame->EngineRunning(QString(), false), 10000);
  QCOMPARE(dialogs_.asked.size(), 2);
}

QTEST_MAIN(FrontendWindowsTest)
#include "frontend_windows_test.moc"
