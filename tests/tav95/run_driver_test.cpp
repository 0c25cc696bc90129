#include "tav95/run_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/log.h"
#include "core/stop_run.h"
#include "data/parse_input.h"
#include "tav95/usage.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::ReadFile;
using testing::ReadLines;
using testing::RecordingPresentation;
using testing::TempDir;

constexpr const char* kInput = "man 2\ndim 2 2\ndat [ 10 20 30 40 ]\n";

// Runs the engine on arguments with a recording window and a clock that advances 1.25 s
// between its readings.
struct EngineRun {
  explicit EngineRun(std::vector<std::string> arguments) {
    run.context.arguments = std::move(arguments);
    run.context.presentation = &window;
    run.context.clock = [this] {
      const int ms = 250 * readings;
      readings += 5;
      return ClockReading{8, 0, ms / 1000, ms % 1000};
    };
  }
  int Main() { return status = RunMain(run); }

  ProgramRun run;
  RecordingPresentation window;
  int readings = 0;
  int status = -1;
};

// The current directory is changed for one test and put back afterwards.
class InDirectory {
 public:
  explicit InDirectory(const std::filesystem::path& path)
      : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(path);
  }
  ~InDirectory() { std::filesystem::current_path(previous_); }

 private:
  std::filesystem::path previous_;
};

const std::vector<std::string> kBanner = {
    "TAV - statistical analysis of categorical data",
    "made by the TAV development team",
    "Version 1.0.",
    "",
};

std::vector<std::string> WithBanner(std::vector<std::string> lines) {
  lines.insert(lines.begin(), kBanner.begin(), kBanner.end());
  return lines;
}

// A whole run's log: the banner, "loading data", the iteration log of the 2 x 2 table (its
// independence model converges in two iterations) and the elapsed time.
void ExpectRunLog(const std::vector<std::string>& lines) {
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 5),
            WithBanner({"loading data"}));
  EXPECT_EQ(lines[5], "iteration   log-likelihood      stop-criterion         L-squared");
  EXPECT_EQ(lines[6].substr(0, 6), "     0");
  EXPECT_EQ(lines.back(), "cpu-time = 1.25 seconds");
}

TEST(RunDriver, TooFewArguments) {
  for (const auto& arguments : std::vector<std::vector<std::string>>{{}, {"input.inp"}}) {
    EngineRun r(arguments);
    EXPECT_EQ(r.Main(), kExitError);
    EXPECT_EQ(r.window.lines, kBanner);  // the banner comes first
    EXPECT_EQ(r.window.errors, std::vector<std::string>{" No input and output file specified"});
    EXPECT_EQ(r.window.close_questions, 0);
  }
}

TEST(RunDriver, TwoArgumentsRunInWindowModeAndAskToClose) {
  TempDir dir;
  const std::string input = dir.Write("model.inp", kInput);
  EngineRun r({input, dir.File("model.out")});
  EXPECT_EQ(r.Main(), kExitNormal);
  EXPECT_FALSE(r.window.began_log_file_mode);
  // One clock reading after parsing and one before the last line: 1.25 s apart.
  ExpectRunLog(r.window.lines);
  EXPECT_EQ(r.window.close_questions, 1);
  EXPECT_FALSE(r.window.stayed_open);
  EXPECT_TRUE(r.window.errors.empty());
  EXPECT_FALSE(std::filesystem::exists(dir.File("tav.log")));
  EXPECT_EQ(ReadFile(input), kInput);  // never written

  const auto report = ReadLines(dir.File("model.out"));
  ASSERT_GE(report.size(), 10u);
  EXPECT_EQ(std::vector<std::string>(report.begin(), report.begin() + 4), kBanner);
  EXPECT_EQ(report[5], "*** INPUT ***");
  EXPECT_EQ(report[7], "  man 2");
  EXPECT_EQ(report[9], "  dat [ 10 20 30 40 ]");
}

// The report echoes the input that was parsed: an input changed and then removed once it has
// been read shows its text as run, and the run ends normally.
TEST(RunDriver, EchoIsTheInputThatWasRun) {
  TempDir dir;
  const std::string input = dir.Write("model.inp", kInput);
  EngineRun r({input, dir.File("model.out")});
  // The clock is first read right after the input has been parsed.
  r.run.context.clock = [&r, &dir, input] {
    if (r.readings++ == 0) {
      dir.Write("model.inp", "man 2\ndim 3 3\n");
      std::filesystem::remove(input);
    }
    return ClockReading{8, 0, 0, 0};
  };
  ASSERT_EQ(r.Main(), kExitNormal);
  const auto report = ReadLines(dir.File("model.out"));
  ASSERT_GE(report.size(), 11u);
  EXPECT_EQ(std::vector<std::string>(report.begin() + 7, report.begin() + 11),
            (std::vector<std::string>{"  man 2", "  dim 2 2", "  dat [ 10 20 30 40 ]", ""}));
}

TEST(RunDriver, AnsweringNoLeavesTheWindowOpen) {
  TempDir dir;
  EngineRun r({dir.Write("model.inp", kInput), dir.File("model.out")});
  r.window.answer_close = false;
  EXPECT_EQ(r.Main(), kExitNormal);
  EXPECT_TRUE(r.window.stayed_open);
}

TEST(RunDriver, LogFileModeWithThreeArgumentsWritesTavLogInTheCurrentDirectory) {
  TempDir dir;
  TempDir elsewhere;
  const std::string input = dir.Write("model.inp", kInput);
  InDirectory cd(elsewhere.path());
  EngineRun r({input, dir.File("model.out"), "-log"});
  EXPECT_EQ(r.Main(), kExitNormal);
  EXPECT_TRUE(r.window.began_log_file_mode);
  EXPECT_TRUE(r.window.lines.empty());
  EXPECT_EQ(r.window.close_questions, 0);
  ExpectRunLog(ReadLines(elsewhere.File("tav.log")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("tav.log")));
}

TEST(RunDriver, FourArgumentsShowTheLogAndWriteItWithoutAsking) {
  TempDir dir;
  const std::string log = dir.File("run.log");
  EngineRun r(
      {dir.Write("model.inp", kInput), dir.File("model.out"), dir.path().string() + "/", log});
  EXPECT_EQ(r.Main(), kExitNormal);
  ExpectRunLog(r.window.lines);
  EXPECT_EQ(ReadLines(log), r.window.lines);
  EXPECT_EQ(r.window.close_questions, 0);
}

TEST(RunDriver, FiveArgumentsEndingInLogWriteTheNamedLog) {
  TempDir dir;
  const std::string log = dir.File("log.tmp");
  EngineRun r(
      {dir.Write("inp.tmp", kInput), dir.File("out.tmp"), dir.path().string() + "/", log, "-log"});
  EXPECT_EQ(r.Main(), kExitNormal);
  EXPECT_TRUE(r.window.lines.empty());
  ExpectRunLog(ReadLines(log));
  EXPECT_TRUE(std::filesystem::exists(dir.File("out.tmp")));
}

TEST(RunDriver, SixArgumentsEndingInLogWriteTavLog) {
  TempDir dir;
  InDirectory cd(dir.path());
  EngineRun r({dir.Write("model.inp", kInput), "model.out", "prefix/", "ignored.log", "x", "-log"});
  EXPECT_EQ(r.Main(), kExitNormal);
  EXPECT_TRUE(std::filesystem::exists(dir.File("tav.log")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("ignored.log")));
}

TEST(RunDriver, PrefixForFilesNamedInTheInput) {
  EngineRun three({"in", "out", "-log"});
  EXPECT_EQ(three.run.context.InputPrefix(), "");
  EngineRun dir({"in", "out", "data/"});
  EXPECT_EQ(dir.run.context.InputPrefix(), "data/");
  EngineRun no_separator({"in", "out", "data", "log"});
  EXPECT_EQ(no_separator.run.context.InputPrefix(), "data");
  EngineRun two({"in", "out"});
  EXPECT_EQ(two.run.context.InputPrefix(), "");
}

TEST(RunDriver, MissingInputFileIsReportedAndLogged) {
  TempDir dir;
  const std::string log = dir.File("log.tmp");
  const std::string missing = dir.File("missing.inp");
  EngineRun r({missing, dir.File("out.tmp"), dir.path().string() + "/", log, "-log"});
  EXPECT_EQ(r.Main(), kExitError);
  EXPECT_EQ(r.window.errors, std::vector<std::string>{"Cannot open file " + missing});
  // The log says why the run ended, as its last line.
  EXPECT_EQ(ReadLines(log), WithBanner({"loading data", "Error: cannot open file " + missing}));
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.tmp")));
}

TEST(RunDriver, LogFileThatCannotBeCreated) {
  TempDir dir;
  const std::string log = dir.File("no/such/dir/log.tmp");
  EngineRun r({dir.Write("model.inp", kInput), dir.File("out.tmp"), "", log, "-log"});
  EXPECT_EQ(r.Main(), kExitError);
  EXPECT_EQ(r.window.errors, std::vector<std::string>{"Cannot open file " + log});
}

TEST(RunDriver, CancelEndsTheRunWithoutABox) {
  TempDir dir;
  const std::string log = dir.File("log.tmp");
  EngineRun r({dir.Write("model.inp", kInput), dir.File("out.tmp"), "", log, "-log"});
  r.window.cancel_after_pumps = 4;  // during "loading data"
  EXPECT_EQ(r.Main(), kExitCancel);
  EXPECT_TRUE(r.window.errors.empty());
  EXPECT_FALSE(r.run.context.LogFile.IsOpen());
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.tmp")));
  std::vector<std::string> expected = kBanner;
  expected.push_back("The run was cancelled.");
  EXPECT_EQ(ReadLines(log), expected);
}

TEST(RunDriver, NeverWritesIntoTheInputFile) {
  TempDir dir;
  const std::string input = dir.Write("model.inp", kInput);
  EngineRun as_report({input, input});
  EXPECT_EQ(as_report.Main(), kExitError);
  EXPECT_EQ(as_report.window.errors,
            std::vector<std::string>{"Report file would overwrite the input file " + input});
  EXPECT_EQ(ReadFile(input), kInput);

  EngineRun as_log({input, dir.File("out"), "", input});
  EXPECT_EQ(as_log.Main(), kExitError);
  EXPECT_EQ(as_log.window.errors,
            std::vector<std::string>{"Log file would overwrite the input file " + input});
  EXPECT_EQ(ReadFile(input), kInput);
}

TEST(RunDriver, ElapsedTimeAcrossMidnight) {
  TempDir dir;
  EngineRun r({dir.Write("model.inp", kInput), dir.File("out")});
  int reading = 0;
  r.run.context.clock = [&reading] {
    return reading++ == 0 ? ClockReading{23, 59, 59, 500} : ClockReading{0, 0, 1, 0};
  };
  EXPECT_EQ(r.Main(), kExitNormal);
  EXPECT_EQ(r.window.lines.back(), "cpu-time = 1.50 seconds");
}

TEST(RunDriver, SeedFromTheClockWithoutASeedCommand) {
  TempDir dir;
  EngineRun r({dir.Write("model.inp", kInput), dir.File("out")});
  // The first reading, right after parsing, fixes the seed that estimation starts from.
  int readings = 0;
  int seed_at_second_reading = -1;
  r.run.context.clock = [&] {
    if (readings++ == 1) seed_at_second_reading = r.run.estimation.random.seed_used;
    return ClockReading{8, 0, 12, 345};
  };
  r.Main();
  EXPECT_EQ(seed_at_second_reading, 12 * 100 + 345 + 1);
}

// An error found while the input is read is followed in the log by the line of the word being
// read: in the input file as the command line names it, or in the file the input names.
TEST(RunDriver, InputErrorsNameTheLineOfTheWordBeingRead) {
  const std::string model = "man 2\ndim 2 2\nlab A B\n";
  const std::string records = model + "mod {A,B}\nrec 3\n";
  const struct {
    const char* section;
    std::string input;
    std::vector<std::pair<std::string, std::string>> files;
    std::string error;  // as the log shows it
    std::string where;  // the file with the error ("" for the input file); no line when empty
    int line;           // 0: no line
  } cases[] = {
      {"model",
       model + "mod {A,C}\ndat [ 1 2 3 4 ]\n",
       {},
       "Error: wrong label (C) in C} in command mod",
       "",
       4},
      {"event history, CR LF lines and a comment",
       "* a comment\r\nman 1\r\ndim 2\r\nlab A\r\nmod {A}\r\ndis\r\ntim 5\r\nris 2 [1 3]\r\n",
       {},
       "Error: state specified in command ris greater than number of states-1",
       "",
       8},
      {"record format",
       records + "mis x\ndat [\n1 1\n]\n",
       {},
       "Error: too few numbers encountered when reading mis",
       "",
       6},
      {"settings, a word before a comment",
       model + "mod {A,B}\nite 10\nsca 9 * bad\ndat [ 1 2 3 4 ]",
       {},
       "Error: impossible value in command sca",
       "",
       6},
      {"table data",
       model + "mod {A,B}\ndat [ 1 2\n 3\n\n -4 ]\n",
       {},
       "Error: negative observed frequency",
       "",
       8},
      {"table data, the closing bracket too early",
       model + "mod {A,B}\ndat [ 1 2\n 3\n]\n",
       {},
       "Error: too few numbers encountered when reading observed frequencies",
       "",
       7},
      {"records",
       records + "dat [\n1 1\n2 3\n1 2\n]\n",
       {},
       "Error in data: an impossible category for variable B in record 2",
       "",
       8},
      {"data file",
       records + "dat data.txt\n",
       {{"data.txt", "1 1\n2 2\n\n1 7\n"}},
       "Error in data: an impossible category for variable B in record 3",
       "data.txt",
       4},
      {"design file",
       model + "mod AB {AB fac(AB 2)}\ndat [1 2 3 4]\ndes factors.txt\n",
       {{"factors.txt", "0 1\n\n2 x\n"}},
       "Error: too few numbers encountered when reading design_matrix",
       "factors.txt",
       3},
      {"start-value file",
       model + "mod {AB}\ndat [1 2 3 4]\nsta AB values.txt\n",
       {{"values.txt", "1\n-2 x\n"}},
       "Error: too few numbers encountered when reading sta(rting_values)",
       "values.txt",
       2},
      // Found at the end of the input or after it: no line.
      {"list not closed at the end",
       model + "mod {A,B\n",
       {},
       "Error: a \"}\" expected in command mod",
       "",
       0},
      {"numbers run out at the end",
       model + "mod {A,B}\ndat [ 1 2\n 3",
       {},
       "Error: too few numbers encountered when reading observed frequencies",
       "",
       0},
      {"after the last command",
       model + "mod {A,B}\ncas 11\ndat [ 1 2 3 4 ]\n",
       {},
       "Error: number of cases is wrong (10.00 and not 11.00)",
       "",
       0},
      {"end of a data file",
       records + "dat data.txt\n",
       {{"data.txt", "1 1\n2 2\n"}},
       "Error: too few numbers encountered when reading data",
       "",
       0},
  };
  for (const auto& c : cases) {
    TempDir dir;
    for (const auto& [name, contents] : c.files) dir.Write(name, contents);
    const std::string input = dir.Write("inp.tmp", c.input);
    const std::string log = dir.File("log.tmp");
    EngineRun r({input, dir.File("out.tmp"), dir.path().string() + "/", log, "-log"});
    EXPECT_EQ(r.Main(), kExitError) << c.section;
    std::vector<std::string> expected = {"loading data", c.error};
    if (c.line > 0) {
      const std::string name = c.where.empty() ? input : dir.File(c.where);
      expected.push_back("  at line " + std::to_string(c.line) + " of " + name);
    }
    EXPECT_EQ(ReadLines(log), WithBanner(expected)) << c.section;
    // The error box shows the message alone.
    EXPECT_EQ(r.window.errors, std::vector<std::string>{ErrorBoxText("  " + c.error)}) << c.section;
  }
}

// Errors of estimation and of the report come after the input was read: they name no line.
TEST(RunDriver, ErrorsAfterTheInputNameNoLine) {
  TempDir dir;
  const std::string log = dir.File("log.tmp");
  const std::string input =
      dir.Write("inp.tmp", std::string(kInput) + "wfr " + dir.File("no/such/dir/x.fre") + "\n");
  EngineRun r({input, dir.File("out.tmp"), "", log, "-log"});
  EXPECT_EQ(r.Main(), kExitError);
  const auto lines = ReadLines(log);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.back(), "Error: cannot open file " + dir.File("no/such/dir/x.fre"));
  // It was found after estimation, in the report.
  EXPECT_NE(std::find(lines.begin(), lines.end(), "statistics and frequencies"), lines.end());
  for (const std::string& line : lines) EXPECT_EQ(line.find("at line"), std::string::npos);
}

TEST(RunDriver, HelpAndVersionAlone) {
  const auto help = InformationRequest({"--help"});
  ASSERT_TRUE(help.has_value());
  EXPECT_EQ(help->rfind("Usage: tav95 input report [directory [log]] [-log]\n", 0), 0u);
  EXPECT_NE(help->find("Exit status: 0 after a normal end, 1 after an error"), std::string::npos);
  std::istringstream lines(*help);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
  EXPECT_EQ(InformationRequest({"--version"}), "tav95 (TAV) " + std::string(kVersionText) + "\n");
  // Only alone: with other arguments they are file names like any other.
  EXPECT_FALSE(InformationRequest({"--help", "out"}).has_value());
  EXPECT_FALSE(InformationRequest({"in", "--version"}).has_value());
  EXPECT_FALSE(InformationRequest({"-h"}).has_value());
}

}  // namespace
}  // namespace tav
