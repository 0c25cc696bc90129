// The front end's logic without windows: settings file, examples list, GoTo index, engine
// command line, running-engine test and chi-squared probability.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <cstdio>

#include "chi_squared.h"
#include "engine_launch.h"
#include "examples_list.h"
#include "goto_index.h"
#include "help_files.h"
#include "input/command_table.h"
#include "input_syntax.h"
#include "results_plots.h"
#include "run_log.h"
#include "settings_file.h"
#include "tav95/log_lock.h"
#include "text_files.h"

using namespace tavwin;

class FrontendLogicTest : public QObject {
  Q_OBJECT

 private slots:
  void ProfileIntegersAreDecimalOrHexadecimal();
  void SettingsHaveTheirDefaults();
  void SettingsSurviveARoundTrip();
  void SettingsFileKeepsOtherLines();
  void UnreadableSettingsGiveDefaults();
  void ExamplesListLevelsAndColumns();
  void ExamplesListEndsAtEmptyLine();
  void ExamplesListOrphansDoNotCrash();
  void ExamplesDirectoryIsFound();
  void GoToIndexesSectionsInOrder();
  void GoToSkipsMissingSections();
  void GoToFindsChecksWithoutRandomStarts();
  void GoToStopsAtUnmatchedHeader();
  void GoToIgnoresInputHeader();
  void CommandLineEndsInLogOption();
  void CommandLineWithShowLog();
  void CommandLineForNeverSavedInput();
  void LogFileInUseFollowsTheLock();
  void ChiSquaredKnownValues();
  void ChiSquaredClosedForms();
  void ChiSquaredShortcutsAndLimits();
  void ChiSquaredMessages();
  void TextDecoding();
  void DamagedSettingsAreNotRead();
  void RecentFilesAreKeptInOrder();
  void InstalledExamplesAndTheirDataFiles();
  void ErrorLineComesFromTheLog();
  void RunProgressAndOutcomeFromTheLog();
  void CommandUnderTheCursor();
  void SyntaxSpansFollowTheEngineReader();
  void CommandReferenceIsLookedForInstalledThenInSources();
  void PlotsNameCategoriesByValueLabels();
};

void FrontendLogicTest::DamagedSettingsAreNotRead() {
  QTemporaryDir directory;
  const QString path = directory.filePath("TAV.Ini");
  auto write_bytes = [&path](const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
  };
  // Binary garbage, text with a stray line, a key before any section, U+FFFD carried forward
  // by an earlier program, a control character, a file far too large: none is read.
  const QList<QByteArray> damaged = {
      QByteArray("\x00\xff\xfe\x01[Window]\nHeight=300\n", 20),
      "[Window]\nHeight=300\nthis is no setting\n",
      "Height=300\n[Window]\n",
      "[Window]\nHeight=300\n[Pre\xef\xbf\xbd]\n",
      "[Window]\nHeight=3\x01"
      "00\n",
      "[Window]\n" + QByteArray(ProfileFile::kMaxProfileBytes, ';') + "\nHeight=300\n",
  };
  for (const QByteArray& bytes : damaged) {
    write_bytes(bytes);
    ProfileFile file;
    QVERIFY(!file.Load(path));
    QVERIFY(file.Damaged());
    QCOMPARE(ReadTavSettings(file).height, 450);
  }
  // The backup is the damaged file byte for byte, beside it, and replaces an older one.
  write_bytes(damaged.front());
  QVERIFY(BackUpDamagedFile(path, nullptr));
  QCOMPARE(BackupPath(path), path + ".bak");
  QFile backup(BackupPath(path));
  QVERIFY(backup.open(QIODevice::ReadOnly));
  QCOMPARE(backup.readAll(), damaged.front());
  backup.close();
  QString error;
  QVERIFY(!BackUpDamagedFile(directory.filePath("missing.ini"), &error));
  QVERIFY(!error.isEmpty());

  // Comments, blank lines and sections with odd blanks still parse.
  write_bytes("; TAV\n\n[Window]\n  Height = 300\n# note\n[Preferences]\nFontName=A B\n");
  ProfileFile good;
  QVERIFY(good.Load(path));
  QVERIFY(!good.Damaged());
  QCOMPARE(ReadTavSettings(good).height, 300);
  QVERIFY(ProfileLinesParse({}));
  QVERIFY(!ProfileLinesParse({"[]"}));
  QVERIFY(!ProfileLinesParse({"[Window", "Height=1"}));
  QVERIFY(!ProfileLinesParse({"[Window]", "=1"}));
}

void FrontendLogicTest::RecentFilesAreKeptInOrder() {
  QStringList list;
  for (int i = 0; i < 10; ++i) list = WithRecentFile(list, QString("/m/%1.inp").arg(i));
  QCOMPARE(list.size(), kMaxRecentFiles);
  QCOMPARE(list.front(), QString("/m/9.inp"));
  QCOMPARE(list.back(), QString("/m/2.inp"));
  list = WithRecentFile(list, "/m/5.inp");  // once, and first
  QCOMPARE(list.front(), QString("/m/5.inp"));
  QCOMPARE(list.count("/m/5.inp"), 1);
  QCOMPARE(list.size(), kMaxRecentFiles);

  ProfileFile file;
  TavSettings settings;
  settings.recent_files = {"/a b/c.inp", "/d.inp"};
  WriteTavSettings(file, settings);
  QCOMPARE(ReadTavSettings(file).recent_files, settings.recent_files);
  QVERIFY(file.Text().contains("[Recent Files]\nFile1=/a b/c.inp\nFile2=/d.inp\n"));
  settings.recent_files = {"/e.inp"};
  WriteTavSettings(file, settings);  // the list grew shorter: no old entry stays behind
  QCOMPARE(ReadTavSettings(file).recent_files, QStringList({"/e.inp"}));
  QVERIFY(!file.Text().contains("File2"));
}

void FrontendLogicTest::InstalledExamplesAndTheirDataFiles() {
  QTemporaryDir directory;
  const QDir root(directory.path());
  QVERIFY(root.mkpath("bin") && root.mkpath("share/tav/examples"));
  QVERIFY(WriteTextFile(root.filePath("share/tav/examples/examples.lis"), "Group\n", nullptr));
  QCOMPARE(FindExamplesDirectory(root.filePath("bin")),
           QDir::toNativeSeparators(root.filePath("share/tav/examples") + '/'));

  // Every file but the inputs and the list goes to the working folder, made when missing.
  const QString examples = root.filePath("share/tav/examples/");
  QVERIFY(WriteTextFile(examples + "a.inp", "dat a.dat\n", nullptr));
  QVERIFY(WriteTextFile(examples + "B.INP", "man 2\n", nullptr));
  QVERIFY(WriteTextFile(examples + "a.dat", "1 2\n", nullptr));
  QVERIFY(WriteTextFile(examples + "design.des", "1 0\n", nullptr));
  QFile::setPermissions(examples + "a.dat", QFileDevice::ReadOwner);
  const QString working = root.filePath("home/TAV/");
  QString error;
  QVERIFY2(CopyExampleDataFiles(examples, working, &error), qPrintable(error));
  QCOMPARE(QDir(working).entryList(QDir::Files), QStringList({"a.dat", "design.des"}));
  QVERIFY(QFileInfo(working + "a.dat").isWritable());  // the user's own copy
  // A copy that is newer than the example's file is left alone.
  QVERIFY(WriteTextFile(working + "design.des", "mine\n", nullptr));
  QVERIFY(CopyExampleDataFiles(examples, working, &error));
  QCOMPARE(QDir(working).entryList(QDir::Files), QStringList({"a.dat", "design.des"}));
  QString text;
  QVERIFY(ReadTextFile(working + "design.des", &text, nullptr));
  QCOMPARE(text, QString("mine\n"));
#if !defined(Q_OS_WIN)
  // A working folder that cannot be made is reported.
  if (QFile::setPermissions(root.filePath("home"),
                            QFileDevice::ReadOwner | QFileDevice::ExeOwner) &&
      !QFileInfo(root.filePath("home")).isWritable()) {
    QVERIFY(!CopyExampleDataFiles(examples, root.filePath("home/other/"), &error));
    QVERIFY(error.contains("Cannot make the folder"));
  }
  QFile::setPermissions(root.filePath("home"),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
#endif
}

void FrontendLogicTest::ErrorLineComesFromTheLog() {
  const QString input = "/tmp/tavwin-a1/inp.tmp";
  const QString log =
      "TAV\nloading data\nError: wrong label (C) in C} in command mod\n"
      "  at line 12 of /tmp/tavwin-a1/inp.tmp\n";
  QCOMPARE(ErrorLineInLog(log, input), 12);
  // Without the margin, with Windows line ends.
  QCOMPARE(ErrorLineInLog("Error: x\r\nat line 3 of /tmp/tavwin-a1/inp.tmp\r\n", input), 3);
  // An error in a data file, another input, no error, a line that is no number.
  QCOMPARE(ErrorLineInLog("Error: x\n  at line 4 of data.dat\n", input), 0);
  QCOMPARE(ErrorLineInLog("  at line 4 of /tmp/other/inp.tmp\n", input), 0);
  QCOMPARE(ErrorLineInLog("TAV\n  cpu-time = 0.1\n", input), 0);
  QCOMPARE(ErrorLineInLog("  at line x of /tmp/tavwin-a1/inp.tmp\n", input), 0);
  QCOMPARE(ErrorLineInLog("  at line -2 of /tmp/tavwin-a1/inp.tmp\n", input), 0);
  QCOMPARE(ErrorLineInLog("  at line +2 of /tmp/tavwin-a1/inp.tmp\n", input), 0);
  QCOMPARE(ErrorLineInLog(QString(), input), 0);
  // A name with blanks and " of " in it.
  QCOMPARE(ErrorLineInLog("  at line 7 of /a of b/inp.tmp\n", "/a of b/inp.tmp"), 7);
}

void FrontendLogicTest::RunProgressAndOutcomeFromTheLog() {
  // Lines of the log of tav95 on examples/lcstouff.inp (its first and last iterations).
  const QString log =
      "TAV - statistical analysis of categorical data\nVersion 1.0.\n\nloading data\n"
      "iteration   log-likelihood      stop-criterion         L-squared\n"
      "     0       -586.32292946       -586.32292946      166.43044056\n"
      "    79       -504.46767406          0.00000087        2.71992976\n"
      "standard errors\ncpu-time = 0.02 seconds\n";
  std::optional<IterationProgress> last = LastIterationInLog(log);
  QVERIFY(last.has_value());
  QCOMPARE(last->iteration, qint64{79});
  QCOMPARE(last->log_likelihood, -504.46767406);
  // A line still being written does not count; nor do words, integers alone, the header.
  last = LastIterationInLog(log.left(log.indexOf("standard")) + "    80       -504.4676");
  QCOMPARE(last->iteration, qint64{79});
  QVERIFY(!LastIterationInLog(log.left(log.indexOf("     0 "))).has_value());
  QVERIFY(!LastIterationInLog(u"1 2 3\n12 -1.5 x\n").has_value());
  // Without L-squared, past iteration 999,999 where the field widens, with CR LF.
  last = LastIterationInLog(u"1234567       -10.00000000          0.00000001\r\n");
  QCOMPARE(last->iteration, qint64{1234567});

  QCOMPARE(StatusFromExit(false, 0), RunStatus::kFinished);
  QCOMPARE(StatusFromExit(false, 2), RunStatus::kCancelled);
  QCOMPARE(StatusFromExit(false, 1), RunStatus::kFailed);
  QCOMPARE(StatusFromExit(true, 0), RunStatus::kFailed);

  QCOMPARE(FormatElapsed(2300), QString("2.3 s"));
  QCOMPARE(FormatElapsed(49), QString("0.0 s"));
  QCOMPARE(FormatElapsed(59949), QString("59.9 s"));
  QCOMPARE(FormatElapsed(59950), QString("1 min 0 s"));
  QCOMPARE(FormatElapsed(65400), QString("1 min 5 s"));
  QCOMPARE(FormatElapsed(3723000), QString("1 h 2 min"));
  QCOMPARE(FormatClock(7999), QString("0:07"));
  QCOMPARE(FormatClock(754000), QString("12:34"));
  QCOMPARE(FormatClock(3723000), QString("1:02:03"));
  QCOMPARE(RunProgressMessage(-1, 0, 3000), QString("Running: 0:03"));
  QCOMPARE(RunProgressMessage(10234, -1000.0000977, 7000),
           QString("Iteration 10,234   log-likelihood -1000.000098   0:07"));

  // The end of a run: the log of tav95 on an input whose fifth line is "bogus".
  const QString input = "/tmp/tavwin-a1/inp.tmp";
  const QString failed =
      "loading data\nError: wrong label (b) in bogus in command mod\n  at line 5 of " + input;
  QCOMPARE(RunEndMessage(RunStatus::kFailed, false, 1, 100, failed, input, "lcstouff.inp"),
           QString("Stopped: error at line 5 of lcstouff.inp"));
  QCOMPARE(RunEndMessage(RunStatus::kFailed, false, 1, 100, failed, input, QString()),
           QString("Stopped: error at line 5 of the input"));
  QCOMPARE(RunEndMessage(RunStatus::kFailed, false, 1, 100,
                         "Error: problem too big to fit in memory\n", input, "a.inp"),
           QString("Stopped: problem too big to fit in memory"));
  QCOMPARE(RunEndMessage(RunStatus::kFailed, false, 1, 100,
                         "Error in data: 7x9\n  at line 3 of data.dat\n", input, "a.inp"),
           QString("Stopped: error in data: 7x9"));
  QCOMPARE(RunEndMessage(RunStatus::kFailed, true, 11, 100, "loading data\n", input, "a.inp"),
           QString("Stopped: the engine crashed"));
  QCOMPARE(RunEndMessage(RunStatus::kFailed, false, 3, 100, QString(), input, "a.inp"),
           QString("Stopped: the engine ended with status 3"));
  QCOMPARE(RunEndMessage(RunStatus::kFinished, false, 0, 2340, log, input, "a.inp"),
           QString("Finished in 2.3 s"));
  QCOMPARE(RunEndMessage(RunStatus::kCancelled, false, 2, 2340, log, input, "a.inp"),
           QString("Cancelled"));
}

void FrontendLogicTest::CommandUnderTheCursor() {
  // On the word, at its end, or on its bracket; a command is named by its first three letters.
  QCOMPARE(CommandAt(u"model X A|X", 0), QString("mod"));
  QCOMPARE(CommandAt(u"model X A|X", 5), QString("mod"));
  QCOMPARE(CommandAt(u"  dat[1 2 3 4]", 3), QString("dat"));
  QCOMPARE(CommandAt(u"lab X A B _we", 12), QString("_we"));
  // Not on a command: a label, a file name with a ".", a comment.
  QCOMPARE(CommandAt(u"model X A|X", 6), QString());
  QCOMPARE(CommandAt(u"fre model.dat", 7), QString());
  QCOMPARE(CommandAt(u"* mod in a comment", 3), QString());
  QCOMPARE(CommandAt(u"", 0), QString());
}

void FrontendLogicTest::SyntaxSpansFollowTheEngineReader() {
  using K = InputToken;
  QCOMPARE(ClassifyInputLine(u"man 2"), (std::vector<InputSpan>{{0, 3, K::kCommand}}));
  // A command is known by its first three letters; case matters; a "." makes it a name.
  QCOMPARE(ClassifyInputLine(u"dimension 2"), (std::vector<InputSpan>{{0, 9, K::kCommand}}));
  QVERIFY(ClassifyInputLine(u"Dim 2").empty());
  QVERIFY(ClassifyInputLine(u"data.dat").empty());
  QVERIFY(ClassifyInputLine(u"di").empty());
  // Brackets end a word, and a bracket that ends a command's word is still a bracket.
  QCOMPARE(ClassifyInputLine(u"mod{A,B}"),
           (std::vector<InputSpan>{{0, 3, K::kCommand}, {3, 1, K::kBracket}, {7, 1, K::kBracket}}));
  QCOMPARE(ClassifyInputLine(u"dat [1 2]"),
           (std::vector<InputSpan>{{0, 3, K::kCommand}, {4, 1, K::kBracket}, {8, 1, K::kBracket}}));
  // "*" starts a comment anywhere, also inside a word; commands in it are not commands.
  QCOMPARE(ClassifyInputLine(u"lat 1 * man 2 {x}"),
           (std::vector<InputSpan>{{0, 3, K::kCommand}, {6, 11, K::kComment}}));
  QCOMPARE(ClassifyInputLine(u"abc*def"), (std::vector<InputSpan>{{3, 4, K::kComment}}));
  QCOMPARE(ClassifyInputLine(u"*"), (std::vector<InputSpan>{{0, 1, K::kComment}}));
  // Commas and tabs separate words.
  QCOMPARE(ClassifyInputLine(u"1,lab\tind"),
           (std::vector<InputSpan>{{2, 3, K::kCommand}, {6, 3, K::kCommand}}));
  QVERIFY(ClassifyInputLine(u"").empty());
  QVERIFY(ClassifyInputLine(u"   ").empty());
  // Every command of the engine's table is one to the editor (the opening bracket is a
  // bracket).
  for (const tav::CommandEntry& entry : tav::CommandTable()) {
    const QString name = QString::fromUtf8(entry.name.data(), entry.name.size());
    const std::vector<InputSpan> spans = ClassifyInputLine(name + " 1");
    QVERIFY2(!spans.empty(), qPrintable(name));
    QCOMPARE(spans.front().kind, name == "[" ? K::kBracket : K::kCommand);
  }
  QVERIFY(!IsCommandWord(u"xyz"));
}

void FrontendLogicTest::CommandReferenceIsLookedForInstalledThenInSources() {
  QTemporaryDir directory;
  const QDir root(directory.path());
  QVERIFY(root.mkpath("bin") && root.mkpath("share/tav"));
  const QStringList candidates = CommandReferenceCandidates(root.filePath("bin"));
  QCOMPARE(candidates.front(), root.filePath("share/tav/commands.md"));
  QCOMPARE(candidates.size(), 2);
  QVERIFY(candidates[1].endsWith("/docs/commands.md"));
  QVERIFY(QFileInfo(candidates[1]).isAbsolute());
  QVERIFY(WriteTextFile(root.filePath("share/tav/commands.md"), "# Commands\n", nullptr));
  QCOMPARE(FindCommandReference(root.filePath("bin")), root.filePath("share/tav/commands.md"));
  QVERIFY(!VersionText().isEmpty());
}

void FrontendLogicTest::ProfileIntegersAreDecimalOrHexadecimal() {
  QCOMPARE(ParseProfileInteger("450"), std::optional<int>(450));
  QCOMPARE(ParseProfileInteger(" 450 "), std::optional<int>(450));
  QCOMPARE(ParseProfileInteger("-12"), std::optional<int>(-12));
  QCOMPARE(ParseProfileInteger("+7"), std::optional<int>(7));
  QCOMPARE(ParseProfileInteger("0x1C2"), std::optional<int>(450));
  QCOMPARE(ParseProfileInteger("0X1c2"), std::optional<int>(450));
  QCOMPARE(ParseProfileInteger("0x10"), std::optional<int>(16));
  QCOMPARE(ParseProfileInteger("0xFFFFFFFF"), std::optional<int>(-1));
  QCOMPARE(ParseProfileInteger("010"), std::optional<int>(10));  // decimal, not octal
  QVERIFY(!ParseProfileInteger(""));
  QVERIFY(!ParseProfileInteger("0x"));
  QVERIFY(!ParseProfileInteger("0x1G"));
  QVERIFY(!ParseProfileInteger("0x123456789"));
  QVERIFY(!ParseProfileInteger("12a"));
  QVERIFY(!ParseProfileInteger("1.5"));
  QVERIFY(!ParseProfileInteger("-"));
  QVERIFY(!ParseProfileInteger("99999999999"));
  QVERIFY(!ParseProfileInteger("$10"));
}

void FrontendLogicTest::SettingsHaveTheirDefaults() {
  ProfileFile empty;
  const TavSettings settings = ReadTavSettings(empty);
  QCOMPARE(settings.maximized, false);
  QCOMPARE(settings.height, 450);
  QCOMPARE(settings.width, 600);
  QCOMPARE(settings.font_name, QString("Courier New"));
  QCOMPARE(settings.font_size, 9);
  QCOMPARE(settings.show_log, false);
  QCOMPARE(settings.confirm, true);
}

void FrontendLogicTest::SettingsSurviveARoundTrip() {
  QTemporaryDir directory;
  const QString path = directory.filePath("sub/TAV.Ini");
  TavSettings written;
  written.maximized = true;
  written.height = 512;
  written.width = 700;
  written.font_name = "DejaVu Sans Mono";
  written.font_size = 11;
  written.show_log = true;
  written.confirm = false;
  ProfileFile file;
  WriteTavSettings(file, written);
  QVERIFY(file.Save(path));

  QString text;
  QVERIFY(ReadTextFile(path, &text, nullptr));
  QCOMPARE(text, QString("[Window]\nHeight=512\nWidth=700\nMaximized=1\n\n[Preferences]\n"
                         "FontName=DejaVu Sans Mono\nFontSize=11\nShowLog=1\nConfirm=0\n"));

  ProfileFile reread;
  QVERIFY(reread.Load(path));
  const TavSettings read = ReadTavSettings(reread);
  QCOMPARE(read.maximized, true);
  QCOMPARE(read.height, 512);
  QCOMPARE(read.width, 700);
  QCOMPARE(read.font_name, QString("DejaVu Sans Mono"));
  QCOMPARE(read.font_size, 11);
  QCOMPARE(read.show_log, true);
  QCOMPARE(read.confirm, false);
}

void FrontendLogicTest::SettingsFileKeepsOtherLines() {
  ProfileFile file;
  file.SetText(
      "; written by hand\r\n[window]\r\nheight = 0x1C2\r\nColour=blue\r\n\r\n[Other]\r\nA=1\r\n");
  QCOMPARE(file.ReadInteger("Window", "Height", 1), 450);
  QCOMPARE(file.ReadString("WINDOW", "colour", ""), QString("blue"));
  file.WriteInteger("Window", "Height", 300);
  file.WriteInteger("Window", "Width", 400);
  file.WriteString("Preferences", "FontName", "Courier New");
  QCOMPARE(file.Text(), QString("; written by hand\n[window]\nHeight=300\nColour=blue\nWidth=400\n"
                                "\n[Other]\nA=1\n\n[Preferences]\nFontName=Courier New\n"));
}

void FrontendLogicTest::UnreadableSettingsGiveDefaults() {
  ProfileFile missing;
  QVERIFY(!missing.Load("/nonexistent/dir/TAV.Ini"));
  QCOMPARE(ReadTavSettings(missing).width, 600);

  ProfileFile corrupt;
  corrupt.SetText(
      QString::fromLatin1("\x01\x02[Window\nHeight=abc\nWidth=\n=5\n[Preferences]\n"
                          "FontSize=-3\nFontName=\nConfirm=x\nShowLog=0x\n"));
  const TavSettings settings = ReadTavSettings(corrupt);
  QCOMPARE(settings.height, 450);
  QCOMPARE(settings.width, 600);
  QCOMPARE(settings.font_size, 9);
  QCOMPARE(settings.font_name, QString("Courier New"));
  QCOMPARE(settings.confirm, true);
  QCOMPARE(settings.show_log, false);
}

// A line of the examples list: blanks, the caption up to column 38, the file in 40 to 47.
static QString ExampleLine(int blanks, const QString& caption, const QString& file = QString()) {
  QString line = QString(blanks, ' ') + caption;
  if (!file.isEmpty()) line = line.leftJustified(39, ' ') + file;
  return line;
}

void FrontendLogicTest::ExamplesListLevelsAndColumns() {
  const QStringList lines = {
      ExampleLine(0, "Log-linear_models"),
      ExampleLine(1, "Hierarchical"),
      ExampleLine(2, "Independence_model", "LOGLIN01"),
      ExampleLine(3, "Saturated model   ", "loglin02"),
      ExampleLine(1, "Latent_class"),
      ExampleLine(2, "Two classes", "LATCLS1") + "   trailing comment",
      ExampleLine(0, "Event history"),
  };
  const std::vector<ExampleEntry> menu = ParseExamplesList(lines);
  QCOMPARE(menu.size(), size_t{2});
  QCOMPARE(menu[0].caption, QString("Log-linear models"));
  QVERIFY(!menu[0].is_example);
  QCOMPARE(menu[0].children.size(), size_t{2});
  const ExampleEntry& hierarchical = menu[0].children[0];
  QCOMPARE(hierarchical.caption, QString("Hierarchical"));
  QVERIFY(!hierarchical.is_example);
  QCOMPARE(hierarchical.children.size(), size_t{2});
  QCOMPARE(hierarchical.children[0].caption, QString("Independence model"));
  QCOMPARE(hierarchical.children[0].file_name, QString("LOGLIN01"));
  QVERIFY(hierarchical.children[0].is_example);
  QCOMPARE(hierarchical.children[1].caption, QString("Saturated model"));
  QCOMPARE(hierarchical.children[1].file_name, QString("loglin02"));
  QCOMPARE(menu[0].children[1].children[0].file_name, QString("LATCLS1"));
  QCOMPARE(menu[1].caption, QString("Event history"));
  QVERIFY(menu[1].children.empty());

  // The caption stops at column 38; column 39 is not part of it.
  const QString long_caption = QString("A").repeated(40);
  const std::vector<ExampleEntry> cut = ParseExamplesList({long_caption});
  QCOMPARE(cut[0].caption, QString("A").repeated(38));
}

void FrontendLogicTest::ExamplesListEndsAtEmptyLine() {
  const std::vector<ExampleEntry> menu = ParseExamplesList(
      {ExampleLine(0, "First"), ExampleLine(2, "One", "ONE"), "\r", ExampleLine(0, "Second")});
  QCOMPARE(menu.size(), size_t{1});
  QCOMPARE(menu[0].caption, QString("First"));
}

void FrontendLogicTest::ExamplesListOrphansDoNotCrash() {
  // A subgroup and an example before any group, an example straight under a group.
  const std::vector<ExampleEntry> menu = ParseExamplesList(
      {ExampleLine(1, "Sub"), ExampleLine(2, "Deep", "DEEP"), ExampleLine(0, "Group"),
       ExampleLine(2, "Direct", "DIRECT"), ExampleLine(1, "Sub2")});
  QCOMPARE(menu.size(), size_t{2});
  QCOMPARE(menu[0].caption, QString("Sub"));
  QCOMPARE(menu[0].children[0].file_name, QString("DEEP"));
  QCOMPARE(menu[1].children.size(), size_t{2});
  QCOMPARE(menu[1].children[0].file_name, QString("DIRECT"));
  QCOMPARE(menu[1].children[1].caption, QString("Sub2"));
  QVERIFY(!menu[1].children[1].is_example);
}

void FrontendLogicTest::ExamplesDirectoryIsFound() {
  QTemporaryDir program;
  const QString directory = program.path() + '/';
  QCOMPARE(FindExamplesDirectory(directory), QString());
  QVERIFY(WriteTextFile(directory + "examples.lis", "Group\n", nullptr));
  QCOMPARE(FindExamplesDirectory(directory), QDir::toNativeSeparators(directory));
  QVERIFY(QDir(directory).mkdir("examples"));
  QVERIFY(WriteTextFile(directory + "examples/examples.lis", "Group\n", nullptr));
  QCOMPARE(FindExamplesDirectory(directory), QDir::toNativeSeparators(directory + "examples/"));
  QVERIFY(WriteTextFile(directory + "examples/Mixed.INP", "x\n", nullptr));
  QCOMPARE(QFileInfo(ExampleFilePath(directory + "examples/", "MIXED")).fileName(),
           QString("Mixed.INP"));
  QCOMPARE(QFileInfo(ExampleFilePath(directory + "examples/", "NONE")).fileName(),
           QString("NONE.inp"));
}

// Character positions as the report viewer counts them: two characters per line end.
static int PositionOfLine(const QStringList& lines, int line) {
  int position = 0;
  for (int i = 0; i < line; ++i) position += lines[i].size() + 2;
  return position;
}

void FrontendLogicTest::GoToIndexesSectionsInOrder() {
  const QStringList lines = {"TAV banner",
                             "*** INPUT ***",
                             "man 2",
                             "*** STATISTICS ***",
                             "L-squared = 1.0",
                             "*** FREQUENCIES ***",
                             "*** PSEUDO R-SQUARED MEASURES ***",
                             "*** LOG-LINEAR PARAMETERS ***",
                             "*** HAZARD PARAMETERS ***",
                             "*** CONDITIONAL PROBABILITIES ***",
                             "*** LATENT CLASS OUTPUT ***",
                             "*** RANDOM STARTS ***",
                             "*** BIVARIATE RESIDUALS ***",
                             "  A",
                             "*** CLASSIFICATION ***",
                             "end"};
  const auto targets = IndexGoTo(lines);
  QVERIFY(targets[0].enabled);
  QCOMPARE(targets[0].position, 0);
  const int header_lines[] = {0, 3, 5, 6, 7, 8, 9, 10, 11, 12, 14};
  for (int item = 1; item < kGoToItemCount; ++item) {
    QVERIFY2(targets[item].enabled, kGoToCaptions[item]);
    QCOMPARE(targets[item].line, header_lines[item]);
    QCOMPARE(targets[item].position, PositionOfLine(lines, header_lines[item]));
  }
  // Worked out by hand: "TAV banner" 10+2, "*** INPUT ***" 13+2, "man 2" 5+2.
  QCOMPARE(targets[1].position, 34);
}

void FrontendLogicTest::GoToSkipsMissingSections() {
  const QStringList lines = {"*** STATISTICS ***", "*** FREQUENCIES ***",
                             "*** LOG-LINEAR PARAMETERS ***", "x",
                             "*** CONDITIONAL PROBABILITIES ***"};
  const auto targets = IndexGoTo(lines);
  QVERIFY(targets[1].enabled);
  QCOMPARE(targets[1].position, 0);
  QVERIFY(targets[2].enabled);
  QCOMPARE(targets[2].position, 20);
  QVERIFY(!targets[3].enabled);  // R-squared
  QVERIFY(targets[4].enabled);
  QCOMPARE(targets[4].position, 41);
  QVERIFY(!targets[5].enabled);  // Hazard
  QVERIFY(targets[6].enabled);
  QCOMPARE(targets[6].position, 41 + 31 + 3);
  QVERIFY(!targets[7].enabled);  // Latent: the text ended
}

void FrontendLogicTest::GoToFindsChecksWithoutRandomStarts() {
  // A latent class report of a run without random starts: the two sections that check the
  // model follow the latent class output directly.
  const QStringList lines = {
      "*** STATISTICS ***",          "*** LATENT CLASS OUTPUT ***", "E = 0.0976",
      "*** BIVARIATE RESIDUALS ***", "*** CLASSIFICATION ***",      "  Entropy R-squared"};
  const auto targets = IndexGoTo(lines);
  QVERIFY(targets[1].enabled);
  for (int item = 2; item <= 6; ++item) QVERIFY2(!targets[item].enabled, kGoToCaptions[item]);
  QCOMPARE(targets[7].line, 1);
  QVERIFY(!targets[8].enabled);  // Random
  QVERIFY(targets[9].enabled);
  QCOMPARE(targets[9].line, 3);
  QCOMPARE(targets[9].position, PositionOfLine(lines, 3));
  QVERIFY(targets[10].enabled);
  QCOMPARE(targets[10].line, 4);
  // Worked out by hand: 18+2, 27+2, 10+2, 27+2.
  QCOMPARE(targets[10].position, 90);
}

void FrontendLogicTest::GoToStopsAtUnmatchedHeader() {
  const QStringList lines = {"*** STATISTICS ***", "*** WARNINGS ***", "*** FREQUENCIES ***",
                             "*** LATENT CLASS OUTPUT ***"};
  const auto targets = IndexGoTo(lines);
  QVERIFY(targets[0].enabled);
  QVERIFY(targets[1].enabled);
  for (int item = 2; item < kGoToItemCount; ++item) QVERIFY(!targets[item].enabled);
  // A report without any header leaves only "Top".
  const auto plain = IndexGoTo({"no sections here", ""});
  QVERIFY(plain[0].enabled);
  for (int item = 1; item < kGoToItemCount; ++item) QVERIFY(!plain[item].enabled);
}

void FrontendLogicTest::GoToIgnoresInputHeader() {
  QVERIFY(!IsSectionHeader("*** INPUT ***"));
  QVERIFY(IsSectionHeader("*** INPUT *** (continued)"));
  QVERIFY(IsSectionHeader("***"));
  QVERIFY(!IsSectionHeader(" *** STATISTICS ***"));
  // An input echo that mentions a section word does not count before its header.
  const auto targets = IndexGoTo({"*** INPUT ***", "STATISTICS", "*** STATISTICS ***"});
  QCOMPARE(targets[1].line, 2);
}

void FrontendLogicTest::CommandLineEndsInLogOption() {
  const FrontEndPaths paths = FrontEndPaths::Make("/opt/tav", "/tmp/tavwin-x", "/home/u/TAV");
  QCOMPARE(paths.directory, QString("/opt/tav/"));
  QCOMPARE(paths.TempDirectory, QString("/tmp/tavwin-x/"));
  QCOMPARE(paths.WorkingDirectory, QString("/home/u/TAV/"));
  QCOMPARE(paths.EnginePath, QString("/opt/tav/tav95"));
  const EngineCommand command = BuildEngineCommand(paths, "/home/u/models/", false);
  QCOMPARE(command.program, QString("/opt/tav/tav95"));
  // The temporary files are the instance's own; the prefix is the input's directory.
  QCOMPARE(command.arguments, QStringList({"/tmp/tavwin-x/inp.tmp", "/tmp/tavwin-x/out.tmp",
                                           "/home/u/models/", "/tmp/tavwin-x/log.tmp", "-log"}));
  QCOMPARE(command.Text(), QString("/opt/tav/tav95 /tmp/tavwin-x/inp.tmp /tmp/tavwin-x/out.tmp "
                                   "/home/u/models/ /tmp/tavwin-x/log.tmp -log"));
}

void FrontendLogicTest::CommandLineWithShowLog() {
  const FrontEndPaths paths = FrontEndPaths::Make("/opt/tav/", "/tmp/t/", "/home/u/TAV/");
  const EngineCommand command = BuildEngineCommand(paths, "/data with blanks/", true);
  QCOMPARE(command.arguments.size(), 4);
  QCOMPARE(command.arguments[2], QString("/data with blanks/"));
  QCOMPARE(command.arguments.back(), QString("/tmp/t/log.tmp"));
}

void FrontendLogicTest::CommandLineForNeverSavedInput() {
  // Never the program's directory: it may not be writable, and results do not belong there.
  const FrontEndPaths paths = FrontEndPaths::Make("/opt/tav", "/tmp/t", "/home/u/TAV");
  const EngineCommand command = BuildEngineCommand(paths, QString(), false);
  QCOMPARE(command.arguments[2], QString("/home/u/TAV/"));
  QCOMPARE(DirectoryWithSeparator("/home/u/models/a.inp"), QString("/home/u/models/"));
  QCOMPARE(DirectoryWithSeparator(QString()), QString());
  QVERIFY(DefaultWorkingDirectory().endsWith("/TAV/"));
}

void FrontendLogicTest::LogFileInUseFollowsTheLock() {
  QTemporaryDir directory;
  const QString path = directory.filePath("log.tmp");
  QVERIFY(!LogFileInUse(path));  // no log: no engine
  std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "w");
  QVERIFY(file != nullptr);
  std::fputs("banner\n", file);
#if defined(Q_OS_WIN)
  QVERIFY(LogFileInUse(path));  // an open file cannot be opened exclusively
#else
  QVERIFY(!LogFileInUse(path));  // open but not locked
  tav::LockLogFile(file);
  QVERIFY(LogFileInUse(path));
  QVERIFY(LogFileInUse(path));  // testing does not take the lock away
#endif
  std::fclose(file);
  QVERIFY(!LogFileInUse(path));
  QVERIFY(QFile::exists(path));
}

static QString PValue(double x, int df) { return FormatFixed(6, 4, ChiSquaredUpperTail(df, x)); }

void FrontendLogicTest::ChiSquaredKnownValues() {
  // Critical values from the published table of the chi-squared distribution.
  QCOMPARE(PValue(3.841, 1), QString("0.0500"));
  QCOMPARE(PValue(6.635, 1), QString("0.0100"));
  QCOMPARE(PValue(5.991, 2), QString("0.0500"));
  QCOMPARE(PValue(11.070, 5), QString("0.0500"));
  QCOMPARE(PValue(15.086, 5), QString("0.0100"));
  QCOMPARE(PValue(18.307, 10), QString("0.0500"));
  QCOMPARE(PValue(31.410, 20), QString("0.0500"));
  QCOMPARE(PValue(124.342, 100), QString("0.0500"));
  QCOMPARE(PValue(2.706, 1), QString("0.1000"));
}

void FrontendLogicTest::ChiSquaredClosedForms() {
  for (double x : {0.1, 0.5, 1.0, 2.0, 4.0, 9.21, 20.0, 40.0}) {
    // Two degrees of freedom: exp(-x/2). Four: (1 + x/2) exp(-x/2). One: erfc(sqrt(x/2)).
    const double two = std::exp(-x / 2);
    const double four = (1 + x / 2) * std::exp(-x / 2);
    const double one = std::erfc(std::sqrt(x / 2));
    QVERIFY2(std::fabs(ChiSquaredUpperTail(2, x) - two) < 2e-6, qPrintable(QString::number(x)));
    QVERIFY2(std::fabs(ChiSquaredUpperTail(4, x) - four) < 2e-6, qPrintable(QString::number(x)));
    QVERIFY2(std::fabs(ChiSquaredUpperTail(1, x) - one) < 2e-6, qPrintable(QString::number(x)));
  }
}

void FrontendLogicTest::ChiSquaredShortcutsAndLimits() {
  QCOMPARE(ChiSquaredUpperTail(5, 0.0), 1.0);
  QCOMPARE(ChiSquaredUpperTail(5, -3.0), 1.0);
  QCOMPARE(ChiSquaredUpperTail(0, 3.0), 1.0);
  QCOMPARE(ChiSquaredUpperTail(-4, 3.0), 1.0);
  QCOMPARE(ChiSquaredUpperTail(200, 100.0), 1.0);
  QCOMPARE(ChiSquaredUpperTail(200, 300.0), 0.0);
  // Far in the tail the density factor underflows.
  QCOMPARE(ChiSquaredUpperTail(1, 1000.0), 0.0);
  QCOMPARE(ChiSquaredUpperTail(50, 1e-30), 1.0);
  // The largest number of degrees of freedom is answered, and near its mean about one half.
  const double half = ChiSquaredUpperTail(2147483647, 2147483647.0);
  QVERIFY(half > 0.45 && half < 0.55);
}

void FrontendLogicTest::ChiSquaredMessages() {
  QCOMPARE(EvaluateChiSquared("3.841", "1").text, QString("The P value is 0.0500"));
  QCOMPARE(EvaluateChiSquared(" 3.841 ", " 1 ").text, QString("The P value is 0.0500"));
  QCOMPARE(EvaluateChiSquared("0", "7").text, QString("The P value is 1.0000"));
  QCOMPARE(EvaluateChiSquared("5", "0").text, QString("The P value is 1.0000"));
  QCOMPARE(EvaluateChiSquared("5", "-2").text, QString("The P value is 1.0000"));
  QCOMPARE(EvaluateChiSquared("100", "200").text, QString("The P value is 1.0000"));
  QCOMPARE(EvaluateChiSquared("300", "200").text, QString("The P value is 0.0000"));
  QCOMPARE(EvaluateChiSquared("3.841e0", "1").text, QString("The P value is 0.0500"));

  for (const char* bad : {"3,841", "", "abc", "nan", "inf", "1e999", "0x10", "1.2.3", "."}) {
    const ChiSquaredAnswer answer = EvaluateChiSquared(bad, "1");
    QCOMPARE(answer.text, QString("Impossible chi-squared value"));
    QCOMPARE(answer.focus, ChiSquaredAnswer::Focus::kValue);
  }
  for (const char* bad : {"1.5", "", "two", "3000000000", "1e2"}) {
    const ChiSquaredAnswer answer = EvaluateChiSquared("3.841", bad);
    QCOMPARE(answer.text, QString("Impossible degrees of freedom"));
    QCOMPARE(answer.focus, ChiSquaredAnswer::Focus::kDegreesOfFreedom);
  }
  // The value is checked first.
  QCOMPARE(EvaluateChiSquared("x", "y").text, QString("Impossible chi-squared value"));
}

void FrontendLogicTest::TextDecoding() {
  QCOMPARE(DecodeText("caf\xc3\xa9"), QString::fromUtf8("caf\xc3\xa9"));
  QCOMPARE(DecodeText("caf\xe9"), QString::fromLatin1("caf\xe9"));
  QTemporaryDir directory;
  const QString path = directory.filePath("a.txt");
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write("a\r\nb\r\n");
  file.close();
  QString text;
  QVERIFY(ReadTextFile(path, &text, nullptr));
  QCOMPARE(text, QString("a\nb\n"));
  QString error;
  QVERIFY(!ReadTextFile(directory.filePath("missing"), &text, &error));
  QVERIFY(!error.isEmpty());
  QVERIFY(!WriteTextFile(directory.filePath("no/such/dir/x"), "x", &error));
}

QTEST_GUILESS_MAIN(FrontendLogicTest)
// The results document of the golden case readsav, whose data came from an SPSS file with value
// labels: the frequency plots name the cells by them (its region has none: numbers stay).
void FrontendLogicTest::PlotsNameCategoriesByValueLabels() {
  const tavwin::ResultsPlots plots =
      tavwin::PlotsFromFile(TAV_SOURCE_DIR "/tests/golden/readsav.json");
  QVERIFY2(plots.message.isEmpty(), qPrintable(plots.message));
  QStringList tips;
  for (const tavwin::Plot& plot : plots.plots) {
    for (const tavwin::PlotSeries& series : plot.series) tips << series.point_tips;
  }
  QVERIFY(!tips.isEmpty());
  QVERIFY2(tips.first().startsWith("S=male G=1 O=agree: observed"), qPrintable(tips.first()));
  QVERIFY(tips.filter("S=female G=3 O=disagree").size() >= 1);
  QVERIFY(tips.filter("O=3").isEmpty());
}

#include "frontend_logic_test.moc"
