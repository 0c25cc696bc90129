// Every example of the examples list, run as the front end runs it, leaves exactly the report
// and result files kept in tests/golden. After a deliberate change of the output,
// scripts/update-golden writes them anew (TAV_UPDATE_GOLDEN=1) and the diff is reviewed.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "tav95/run_driver.h"
#include "test_support.h"

namespace tav {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::RecordingPresentation;
using testing::TempDir;

const fs::path kSource = TAV_SOURCE_DIR;
const fs::path kGolden = kSource / "tests/golden";

// The file names (columns 40 to 47) of the example lines (two or more leading blanks), then
// the inputs of tests/golden/cases, which try what the examples do not.
std::vector<std::string> ExampleNames() {
  std::ifstream list(kSource / "examples/examples.lis");
  std::vector<std::string> names;
  for (std::string line; std::getline(list, line) && !line.empty();) {
    if (line.rfind("  ", 0) != 0 || line.size() < 40) continue;
    std::string name = line.substr(39, 8);
    name.erase(name.find_last_not_of(' ') + 1);
    names.push_back(name);
  }
  std::set<std::string> cases;
  for (const fs::directory_entry& entry : fs::directory_iterator(kGolden / "cases")) {
    if (entry.path().extension() == ".inp") cases.insert(entry.path().stem().string());
  }
  names.insert(names.end(), cases.begin(), cases.end());
  return names;
}

bool Updating() {
  const char* value = std::getenv("TAV_UPDATE_GOLDEN");
  return value != nullptr && std::string(value) == "1";
}

// Runs the example in a scratch directory of its own, so that its result files land there,
// and returns the files it wrote (the log left out), by name.
std::map<std::string, std::string> RunExample(const std::string& name, std::string& error) {
  TempDir dir;
  const fs::path example = kSource / "examples" / (name + ".inp");
  fs::copy_file(fs::exists(example) ? example : kGolden / "cases" / (name + ".inp"),
                dir.path() / (name + ".inp"));
  // Its data file lies beside its input: examples/NAME.sav, cases/NAME.csv, ...
  std::set<std::string> data_files;
  const fs::path folder = fs::exists(example) ? kSource / "examples" : kGolden / "cases";
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    const fs::path& path = entry.path();
    if (path.stem() != name || path.extension() == ".inp") continue;
    fs::copy_file(path, dir.path() / path.filename());
    data_files.insert(path.filename().string());
  }
  ProgramRun run;
  RecordingPresentation window;
  run.context.presentation = &window;
  run.context.arguments = {dir.File(name + ".inp"), dir.File(name + ".out"),
                           dir.path().string() + "/", dir.File("log.tmp"), "-log"};
  if (RunMain(run) != kExitNormal) error = window.errors.empty() ? "failed" : window.errors[0];
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir.path())) {
    const std::string file = entry.path().filename().string();
    if (file == name + ".inp" || file == "log.tmp" || data_files.count(file)) continue;
    files[file] = ReadFile(entry.path().string());
  }
  return files;
}

// The golden files of example name: its report and the result files it writes.
std::set<std::string> GoldenFilesOf(const std::string& name) {
  std::set<std::string> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(kGolden)) {
    const std::string file = entry.path().filename().string();
    if (entry.is_regular_file() && file.rfind(name + ".", 0) == 0) files.insert(file);
  }
  return files;
}

TEST(ExamplesList, NamesAtLeastEightExamples) { EXPECT_GE(ExampleNames().size(), 13u); }

class Golden : public ::testing::TestWithParam<std::string> {};

TEST_P(Golden, ExampleLeavesItsGoldenReportAndFiles) {
  const std::string name = GetParam();
  std::string error;
  const std::map<std::string, std::string> files = RunExample(name, error);
  ASSERT_EQ(error, "");
  ASSERT_TRUE(files.count(name + ".out"));
  if (Updating()) {
    for (const std::string& old : GoldenFilesOf(name)) fs::remove(kGolden / old);
    for (const auto& [file, contents] : files) {
      std::ofstream(kGolden / file, std::ios::binary) << contents;
    }
    return;
  }
  std::set<std::string> written;
  for (const auto& [file, contents] : files) {
    written.insert(file);
    EXPECT_EQ(contents, ReadFile((kGolden / file).string())) << file;
  }
  EXPECT_EQ(written, GoldenFilesOf(name));
}

INSTANTIATE_TEST_SUITE_P(Examples, Golden, ::testing::ValuesIn(ExampleNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return info.param;
                         });

}  // namespace
}  // namespace tav
