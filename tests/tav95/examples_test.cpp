// Every example of the examples list runs through the engine without an error.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tav95/run_driver.h"
#include "test_support.h"

namespace tav {
namespace {

namespace fs = std::filesystem;
using testing::RecordingPresentation;
using testing::TempDir;

// The file names (columns 40 to 47) of the example lines (two or more leading blanks).
std::vector<std::string> ExampleNames() {
  std::ifstream list(fs::path(TAV_SOURCE_DIR) / "examples/examples.lis");
  std::vector<std::string> names;
  for (std::string line; std::getline(list, line) && !line.empty();) {
    if (line.rfind("  ", 0) != 0 || line.size() < 40) continue;
    std::string name = line.substr(39, 8);
    name.erase(name.find_last_not_of(' ') + 1);
    names.push_back(name);
  }
  return names;
}

TEST(Examples, ListNamesAtLeastEightExamples) { EXPECT_GE(ExampleNames().size(), 8u); }

TEST(Examples, EveryExampleRunsToTheEnd) {
  for (const std::string& name : ExampleNames()) {
    TempDir dir;
    const fs::path input = fs::path(TAV_SOURCE_DIR) / "examples" / (name + ".inp");
    ASSERT_TRUE(fs::exists(input)) << input;
    RunState run;
    RecordingPresentation window;
    run.presentation = &window;
    run.arguments = {input.string(), dir.File(name + ".out"), dir.path().string() + "/",
                     dir.File("log.tmp"), "-log"};
    EXPECT_EQ(RunMain(run), kExitNormal)
        << name << ": " << (window.errors.empty() ? "" : window.errors[0]);
    EXPECT_TRUE(fs::exists(dir.File(name + ".out"))) << name;
  }
}

}  // namespace
}  // namespace tav
