#include "core/log.h"

#include <gtest/gtest.h>

#include "core/stop_run.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::ReadLines;
using testing::RecordingPresentation;
using testing::StopMessage;
using testing::TempDir;

TEST(WriteLogLine, DropsTheMarginAndKeepsEightyCharacters) {
  DataRun run;
  RecordingPresentation window;
  run.presentation = &window;
  run.arguments = {"in", "out"};
  const std::string digits = "0123456789";
  std::string long_line = "  ";
  for (int i = 0; i < 10; ++i) long_line += digits;
  WriteLogLine(run, long_line);
  WriteLogLine(run, "  loading data");
  WriteLogLine(run, "");
  WriteLogLine(run, "x");
  ASSERT_EQ(window.lines.size(), 4u);
  EXPECT_EQ(window.lines[0], long_line.substr(2, 80));
  EXPECT_EQ(window.lines[0].size(), 80u);
  EXPECT_EQ(window.lines[1], "loading data");
  EXPECT_EQ(window.lines[2], "");
  EXPECT_EQ(window.lines[3], "");
  EXPECT_EQ(window.pumps, 4);  // events are served before every line
}

TEST(WriteLogLine, LogFileModeWritesTheFileAndMovesTheBar) {
  TempDir dir;
  DataRun run;
  RecordingPresentation window;
  run.presentation = &window;
  run.arguments = {"in", "out", "-log"};
  ASSERT_TRUE(run.LogFile.Open(dir.File("log.txt"), "w"));
  // Lines written before the log is started wait for it.
  for (int i = 0; i < 2; ++i) WriteLogLine(run, "    iteration line");
  EXPECT_EQ(testing::ReadFile(dir.File("log.txt")), "");
  StartLogFile(run);
  for (int i = 2; i < 22; ++i) WriteLogLine(run, "    iteration line");
  WriteLogLine(run, "   three blanks do not move the bar");
  WriteLogLine(run, "  nor do two");
  // The line of an iteration beyond 9999 moves it as those below do.
  WriteIterationLogLine(run, "   10000     -1.00000000      0.00000000");
  run.LogFile.Close();

  EXPECT_TRUE(window.lines.empty());
  const auto lines = ReadLines(dir.File("log.txt"));
  ASSERT_EQ(lines.size(), 25u);
  EXPECT_EQ(lines[0], "  iteration line");
  EXPECT_EQ(lines[23], "nor do two");
  // Step 5 on 0..100: twenty steps fill the bar, the next one starts it again.
  ASSERT_EQ(window.positions.size(), 23u);
  EXPECT_EQ(window.positions[0], 5);
  EXPECT_EQ(window.positions[19], 100);
  EXPECT_EQ(window.positions[20], 0);
  EXPECT_EQ(window.positions[21], 5);
  EXPECT_EQ(window.positions[22], 10);
}

TEST(WriteLogLine, FourArgumentsWriteWindowAndFile) {
  TempDir dir;
  DataRun run;
  RecordingPresentation window;
  run.presentation = &window;
  run.arguments = {"in", "out", "dir/", dir.File("log.txt")};
  ASSERT_TRUE(run.LogFile.Open(dir.File("log.txt"), "w"));
  StartLogFile(run);
  WriteLogLine(run, "    both");
  run.LogFile.Close();
  EXPECT_EQ(window.lines, std::vector<std::string>{"  both"});
  EXPECT_EQ(ReadLines(dir.File("log.txt")), std::vector<std::string>{"  both"});
  EXPECT_TRUE(window.positions.empty());
}

TEST(WriteLogLine, CancelStopsTheRunBetweenLines) {
  DataRun run;
  RecordingPresentation window;
  window.cancel_after_pumps = 1;
  run.presentation = &window;
  run.arguments = {"in", "out"};
  run.progress.iteration = 12;
  run.progress.stop_criterion = 0.25;
  WriteLogLine(run, "  first");
  StopReason reason = StopReason::kError;
  try {
    WriteLogLine(run, "  second");
  } catch (const StopRunError& stop) {
    reason = stop.reason();
  }
  EXPECT_EQ(reason, StopReason::kCancel);
  EXPECT_EQ(window.lines, std::vector<std::string>{"first"});
  EXPECT_EQ(window.last_progress.iteration, 12);
  EXPECT_EQ(window.last_progress.stop_criterion, 0.25);
}

TEST(WriteBanner, LogChannelAndFile) {
  TempDir dir;
  DataRun run;
  RecordingPresentation window;
  run.presentation = &window;
  run.arguments = {"in", "out"};
  WriteBanner(run);
  ASSERT_EQ(window.lines.size(), 4u);
  EXPECT_NE(window.lines[0].find("TAV"), std::string::npos);
  EXPECT_EQ(window.lines[2], "Version 1.0.");
  EXPECT_EQ(window.lines[3], "");

  TextFile file;
  ASSERT_TRUE(file.Open(dir.File("report.txt"), "w"));
  WriteBanner(file);
  file.Close();
  EXPECT_EQ(ReadLines(dir.File("report.txt")), window.lines);
}

TEST(OpenTextFile, PrefixAndFailures) {
  TempDir dir;
  dir.Write("data.txt", "1 2 3\n");
  DataRun run;
  run.FilePrefix = dir.path().string() + "/";
  TextFile file;
  OpenTextFile(run, file, "data.txt", "r");
  EXPECT_TRUE(file.IsOpen());
  file.Close();

  EXPECT_EQ(StopMessage([&] { OpenTextFile(run, file, "", "r"); }),
            "  Error: cannot open file " + run.FilePrefix);
  EXPECT_EQ(StopMessage([&] { OpenTextFile(run, file, "missing.txt", "r"); }),
            "  Error: cannot open file " + run.FilePrefix + "missing.txt");
  // The prefix is put in front verbatim, without a separator.
  run.FilePrefix = dir.path().string() + "/da";
  OpenTextFile(run, file, "ta.txt", "r");
  EXPECT_TRUE(file.IsOpen());
}

TEST(OpenTextFile, AppendAndWrite) {
  TempDir dir;
  DataRun run;
  const std::string name = dir.File("out.txt");
  TextFile file;
  OpenTextFile(run, file, name, "w");
  file.WriteLine("one");
  file.Close();
  OpenTextFile(run, file, name, "a");
  file.WriteLine("two");
  file.Close();
  EXPECT_EQ(ReadLines(name), (std::vector<std::string>{"one", "two"}));
}

TEST(ErrorBoxText, FromTheTenthCharacterCapitalised) {
  EXPECT_EQ(ErrorBoxText("  Error: cannot open file x.dat"), "Cannot open file x.dat");
  EXPECT_EQ(ErrorBoxText("  Error in data: too many records"), "In data: too many records");
  EXPECT_EQ(ErrorBoxText("   Error: No input and output file specified"),
            " No input and output file specified");
  EXPECT_EQ(ErrorBoxText("  Error in command wma"), "In command wma");
  EXPECT_EQ(ErrorBoxText("short"), "");
  EXPECT_EQ(ErrorBoxText("123456789"), "");
  EXPECT_EQ(ErrorBoxText("123456789a"), "A");
}

TEST(StopRun, MessagesAreCutTo255Characters) {
  EXPECT_EQ(StopMessage([] { StopRun(std::string(300, 'x')); }), std::string(255, 'x'));
}

}  // namespace
}  // namespace tav
