#include "tav95/run_driver.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "data/parse_input.h"
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
    run.arguments = std::move(arguments);
    run.presentation = &window;
    run.clock = [this] {
      const int ms = 250 * readings;
      readings += 5;
      return ClockReading{8, 0, ms / 1000, ms % 1000};
    };
  }
  int Main() { return status = RunMain(run); }

  RunState run;
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
  EXPECT_EQ(three.run.InputPrefix(), "");
  EngineRun dir({"in", "out", "data/"});
  EXPECT_EQ(dir.run.InputPrefix(), "data/");
  EngineRun no_separator({"in", "out", "data", "log"});
  EXPECT_EQ(no_separator.run.InputPrefix(), "data");
  EngineRun two({"in", "out"});
  EXPECT_EQ(two.run.InputPrefix(), "");
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
  EXPECT_FALSE(r.run.LogFile.IsOpen());
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
  r.run.clock = [&reading] {
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
  r.run.clock = [&] {
    if (readings++ == 1) seed_at_second_reading = r.run.SeedUsed;
    return ClockReading{8, 0, 12, 345};
  };
  r.Main();
  EXPECT_EQ(seed_at_second_reading, 12 * 100 + 345 + 1);
}

}  // namespace
}  // namespace tav
