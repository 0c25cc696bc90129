#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <random>
#include <sstream>

#include "core/log.h"
#include "core/stop_run.h"
#include "data/parse_input.h"
#include "input/sections.h"
#include "input/setup_passes.h"
#include "tav95/run_driver.h"

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

std::string StopMessageOrEmpty(const std::function<void()>& body) {
  try {
    body();
  } catch (const StopRunError& stop) {
    return stop.message();
  }
  return "";
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

namespace {

// Sets the fit's generator to the seed read (the program takes the clock's seed in its place
// when none was given).
std::string Seeded(ProgramRun& run, std::string message) {
  run.estimation.random.state = run.settings.random_seed;
  run.estimation.random.amplitude = run.settings.random_amplitude;
  return message;
}

// Moves what a parse read into run's parsed run, also when it stopped on an error.
std::string TakeParsed(ProgramRun& run, std::string message) {
  run.parsed_input = TakeParsedRun(run.input);
  return Seeded(run, std::move(message));
}

}  // namespace

std::string ParseText(ProgramRun& run, const std::string& text, const TempDir& dir) {
  const std::string input = dir.Write("input.inp", text);
  DataRun& parse = run.input;
  parse.arguments = {input, dir.File("output.out"), dir.path().string() + "/"};
  parse.InputFileName = input;
  try {
    run.parsed_input = ParseInput(parse);
  } catch (const StopRunError& stop) {
    return TakeParsed(run, stop.message());
  }
  return Seeded(run, "");
}

std::string ParseModelText(ProgramRun& run, const std::string& text, const TempDir& dir) {
  const std::string input = dir.Write("input.inp", text);
  DataRun& parse = run.input;
  parse.arguments = {input, dir.File("output.out"), dir.path().string() + "/"};
  parse.InputFileName = input;
  try {
    Reader reader;
    OpenTextFile(parse, reader.input, input, "r");
    parse.FilePrefix = dir.path().string() + "/";
    ParseModelSections(reader, parse);
    IndexRestrictedSubmodels(parse, parse.designs.restriction_codes);
    FinishLayout(parse, !parse.settings.file_posterior.empty());
  } catch (const StopRunError& stop) {
    return TakeParsed(run, stop.message());
  }
  return TakeParsed(run, "");
}

std::vector<std::string> Parsed::Effects(int s) const {
  std::vector<std::string> effects;
  for (const Membership& effect : submodel(s).EffectVariables) effects.push_back(Term(effect));
  return effects;
}

Fitted::Fitted(const std::string& text) {
  message = ParseText(run, text, dir);
  if (!message.empty()) return;
  run.context.presentation = &window;
  run.context.arguments = {"in", "out"};  // window mode: log lines reach the recording window
  message = StopMessageOrEmpty([this] { FitModel(run); });
}

int Fitted::CountLines(const std::string& start) const {
  return static_cast<int>(
      std::count_if(window.lines.begin(), window.lines.end(),
                    [&](const std::string& line) { return line.rfind(start, 0) == 0; }));
}

std::string Fitted::LineWith(const std::string& text) const {
  for (const std::string& line : window.lines) {
    if (line.find(text) != std::string::npos) return line;
  }
  return "";
}

EngineRun::EngineRun(const std::string& input) {
  run.context.presentation = &window;
  run.context.arguments = {dir.Write("model.inp", input), dir.File("model.out"),
                           dir.path().string() + "/", dir.File("log.tmp"), "-log"};
  status = RunMain(run);
  report = ReadLines(dir.File("model.out"));
  log = ReadLines(dir.File("log.tmp"));
}

bool EngineRun::Has(const std::string& line) const {
  return std::find(report.begin(), report.end(), line) != report.end();
}

double EngineRun::Statistic(const std::string& label) const {
  for (const std::string& line : report) {
    if (line.rfind("  " + label, 0) == 0) return std::stod(line.substr(line.find('=') + 1));
  }
  ADD_FAILURE() << label << " not in the report";
  return 0;
}

std::vector<std::string> EngineRun::Block(const std::string& from) const {
  auto at = std::find(report.begin(), report.end(), from);
  auto end = std::find(at, report.end(), "");
  return std::vector<std::string>(at, end);
}

std::vector<double> EngineRun::Row(const std::string& effect, int cell) const {
  const auto at = std::find(report.begin(), report.end(), "  " + effect + " ");
  if (at == report.end() || at + cell + 1 >= report.end()) return {};
  std::istringstream in((at + cell + 1)->substr(14));
  std::vector<double> row;
  for (double x; in >> x;) row.push_back(x);
  return row;
}

void ExpectFit(const EngineRun& run, double loglik, double lsquared, int df) {
  ASSERT_EQ(run.status, 0);
  EXPECT_NEAR(run.Statistic("Log-likelihood"), loglik, 0.6e-5);
  EXPECT_NEAR(run.Statistic("L-squared"), lsquared, 0.6e-4);
  EXPECT_EQ(run.Statistic("Degrees of freedom"), df);
}

void ExpectFit(const std::string& input, double loglik, double lsquared, int df) {
  SCOPED_TRACE(input);
  ExpectFit(EngineRun(input), loglik, lsquared, df);
}

std::vector<std::vector<double>> EngineRun::Numbers(const std::string& name) const {
  std::vector<std::vector<double>> rows;
  for (const std::string& line : ReadLines(dir.File(name))) {
    std::istringstream in(line);
    std::vector<double> row;
    for (double x; in >> x;) row.push_back(x);
    rows.push_back(row);
  }
  return rows;
}

}  // namespace tav::testing
