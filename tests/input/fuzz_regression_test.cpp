// Inputs that once crashed or hung a run, and the fuzzers' seed inputs: each must end in a
// parsed model or in a stop with a message, and a crash input also runs a few iterations and
// the report, as the whole-run fuzzer does.

#include <gtest/gtest.h>

#include <filesystem>

#include "core/stop_run.h"
#include "data/parse_input.h"
#include "tav95/run_driver.h"
#include "test_support.h"

namespace tav {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// Parses a copy of file as an input file; returns the stop message, or "" when it parsed.
// With whole_run, a parsed model is also estimated (three iterations at most) and reported.
std::string ParseFile(const fs::path& file, bool whole_run = false) {
  TempDir dir;
  const fs::path input = dir.path() / "input.inp";
  fs::copy_file(file, input);
  ProgramRun run;
  run.context.memory_budget = 100'000'000;  // as the fuzzers that found these inputs had it
  run.context.arguments = {input.string(), dir.File("output.out"), dir.path().string() + "/"};
  run.context.InputFileName = input.string();
  run.context.OutputFileName = dir.File("output.out");
  try {
    run.parsed_input = ParseInput(run.input);
    if (whole_run) {
      if (run.settings.max_iterations > 3) run.parsed_input.settings.max_iterations = 3;
      FitAndReport(run);
    }
  } catch (const StopRunError& stop) {
    return stop.message();
  }
  return "";
}

std::vector<fs::path> FilesIn(const fs::path& directory) {
  std::vector<fs::path> files;
  if (!fs::exists(directory)) return files;
  for (const auto& entry : fs::directory_iterator(directory)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

TEST(FuzzRegressions, EveryInputEndsWithAModelOrAMessage) {
  for (const fs::path& file : FilesIn(fs::path(TAV_SOURCE_DIR) / "tests/fuzz_regressions")) {
    const std::string message = ParseFile(file, true);
    EXPECT_TRUE(message.empty() || message.rfind("  Error", 0) == 0)
        << file << " stopped with '" << message << "'";
  }
}

TEST(FuzzSeeds, EverySeedIsAValidInput) {
  const auto files = FilesIn(fs::path(TAV_SOURCE_DIR) / "fuzz/corpus");
  EXPECT_GE(files.size(), 8u);
  for (const fs::path& file : files) EXPECT_EQ(ParseFile(file), "") << file;
}

}  // namespace
}  // namespace tav
