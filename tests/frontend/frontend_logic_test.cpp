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
};

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
                             "end"};
  const auto targets = IndexGoTo(lines);
  QVERIFY(targets[0].enabled);
  QCOMPARE(targets[0].position, 0);
  const int header_lines[] = {0, 3, 5, 6, 7, 8, 9, 10};
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
  const FrontEndPaths paths = FrontEndPaths::ForDirectory("/opt/tav");
  QCOMPARE(paths.directory, QString("/opt/tav/"));
  QCOMPARE(paths.EnginePath, QString("/opt/tav/tav95"));
  const EngineCommand command = BuildEngineCommand(paths, "/home/u/models/", false);
  QCOMPARE(command.program, QString("/opt/tav/tav95"));
  QCOMPARE(command.arguments, QStringList({"/opt/tav/inp.tmp", "/opt/tav/out.tmp",
                                           "/home/u/models/", "/opt/tav/log.tmp", "-log"}));
  QCOMPARE(command.Text(), QString("/opt/tav/tav95 /opt/tav/inp.tmp /opt/tav/out.tmp "
                                   "/home/u/models/ /opt/tav/log.tmp -log"));
}

void FrontendLogicTest::CommandLineWithShowLog() {
  const FrontEndPaths paths = FrontEndPaths::ForDirectory("/opt/tav/");
  const EngineCommand command = BuildEngineCommand(paths, "/data with blanks/", true);
  QCOMPARE(command.arguments.size(), 4);
  QCOMPARE(command.arguments[2], QString("/data with blanks/"));
  QCOMPARE(command.arguments.back(), QString("/opt/tav/log.tmp"));
}

void FrontendLogicTest::CommandLineForNeverSavedInput() {
  const FrontEndPaths paths = FrontEndPaths::ForDirectory("/opt/tav");
  const EngineCommand command = BuildEngineCommand(paths, QString(), false);
  QCOMPARE(command.arguments[2], QString("/opt/tav/"));
  QCOMPARE(DirectoryWithSeparator("/home/u/models/a.inp"), QString("/home/u/models/"));
  QCOMPARE(DirectoryWithSeparator(QString()), QString());
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
  QVERIFY(!ProcessAlive(0));
  QVERIFY(ProcessAlive(QCoreApplication::applicationPid()));
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
#include "frontend_logic_test.moc"
