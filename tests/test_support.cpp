#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <random>
#include <sstream>

#include "core/log.h"
#include "core/stop_run.h"
#include "input/parse_input.h"
#include "input/sections.h"
#include "input/setup_passes.h"

namespace tav::testing {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  std::random_device random;
  path_ = std::filesystem::temp_directory_path() /
          ("tav_test_" + std::to_string(random()) + "_" + std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

std::string TempDir::Write(const std::string& name, const std::string& contents) const {
  const std::string path = File(name);
  std::ofstream out(path, std::ios::binary);
  out << contents;
  return path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string StopMessage(const std::function<void()>& body) {
  try {
    body();
  } catch (const StopRunError& stop) {
    return stop.message();
  }
  ADD_FAILURE() << "the run did not stop";
  return "<no stop>";
}

ReaderInput::ReaderInput(const std::string& contents) {
  file_.Open(dir_.Write("input.txt", contents), "r");
}

std::string ParseText(RunState& run, const std::string& text, const TempDir& dir) {
  const std::string input = dir.Write("input.inp", text);
  run.arguments = {input, dir.File("output.out"), dir.path().string() + "/"};
  run.InputFileName = input;
  try {
    ParseInput(run);
  } catch (const StopRunError& stop) {
    return stop.message();
  }
  return "";
}

std::string ParseModelText(RunState& run, const std::string& text, const TempDir& dir) {
  const std::string input = dir.Write("input.inp", text);
  run.arguments = {input, dir.File("output.out"), dir.path().string() + "/"};
  run.InputFileName = input;
  try {
    OpenTextFile(run, run.InputFile, input, "r");
    run.FilePrefix = dir.path().string() + "/";
    ParseModelSection(run);
    ParseEventHistorySection(run);
    ParseRecordFormatSection(run);
    LayOutSubmodels(run);
    SizeAssociationArrays(run);
    InitialiseParameterArrays(run);
    IndexRestrictedSubmodels(run);
    FinishLayout(run);
    run.InputFile.Close();
  } catch (const StopRunError& stop) {
    return stop.message();
  }
  return "";
}

}  // namespace tav::testing
