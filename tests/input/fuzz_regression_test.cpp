// Inputs that once crashed the parser, and the fuzzer's seed inputs: each must end in a parsed
// model or in a stop with a message.

#include <gtest/gtest.h>

#include <filesystem>

#include "core/stop_run.h"
#include "input/parse_input.h"
#include "test_support.h"

namespace tav {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// Parses a copy of file as an input file; returns the stop message, or "" when it parsed.
std::string ParseFile(const fs::path& file) {
  TempDir dir;
  const fs::path input = dir.path() / "input.inp";
  fs::copy_file(file, input);
  RunState run;
  run.arguments = {input.string(), dir.File("output.out"), dir.path().string() + "/"};
  run.InputFileName = input.string();
  try {
    ParseInput(run);
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
    const std::string message = ParseFile(file);
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
