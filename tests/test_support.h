#ifndef TAV_TESTS_TEST_SUPPORT_H_
#define TAV_TESTS_TEST_SUPPORT_H_

#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/presentation.h"
#include "core/text_file.h"
#include "newton/run_state.h"

namespace tav::testing {

// A presentation that records what the run showed.
class RecordingPresentation : public Presentation {
 public:
  void Begin(bool log_file_mode) override { began_log_file_mode = log_file_mode; }
  bool PumpEvents(const RunProgress& progress) override {
    ++pumps;
    last_progress = progress;
    return cancel_after_pumps >= 0 && pumps > cancel_after_pumps;
  }
  void LogLine(const std::string& text) override { lines.push_back(text); }
  void ProgressStep(int position) override { positions.push_back(position); }
  bool AskClose() override {
    ++close_questions;
    return answer_close;
  }
  void ErrorBox(const std::string& text) override { errors.push_back(text); }
  void StayOpen() override { stayed_open = true; }

  bool began_log_file_mode = false;
  int pumps = 0;
  int cancel_after_pumps = -1;  // -1: never cancel
  RunProgress last_progress;
  std::vector<std::string> lines;
  std::vector<int> positions;
  int close_questions = 0;
  bool answer_close = true;
  bool stayed_open = false;
  std::vector<std::string> errors;
};

// A fresh directory under the system's temporary directory, removed at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Path of name inside the directory, as text.
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  // Writes contents (bytes as given) to name and returns its path.
  std::string Write(const std::string& name, const std::string& contents) const;

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::string& path);
std::vector<std::string> ReadLines(const std::string& path);

// Runs body and returns the message of the StopRun it ends in; fails the test when body ends
// without StopRun.
std::string StopMessage(const std::function<void()>& body);
// Runs body and returns the message of the StopRun it ends in, or "" when it ends without one.
std::string StopMessageOrEmpty(const std::function<void()>& body);

// Opens a file holding contents for the reader routines.
class ReaderInput {
 public:
  explicit ReaderInput(const std::string& contents);
  TextFile& file() { return file_; }

 private:
  TempDir dir_;
  TextFile file_;
};

// Parses text as an input file into run (ParseInput), with the data and design files named in
// it looked up in dir. Returns the message the parse stopped with, or "" when it went through.
// Other files for the input can be written into dir beforehand.
std::string ParseText(ProgramRun& run, const std::string& text, const TempDir& dir);

// Like ParseText, but the settings section (with the data and the designs) is left out: the
// model, event-history and record-format sections and the set-up passes run on text.
std::string ParseModelText(ProgramRun& run, const std::string& text, const TempDir& dir);

// The model of an input text (ParseModelText), with the message it stopped with ("" when it
// went through).
struct Parsed {
  explicit Parsed(const std::string& text) { message = ParseModelText(run, text, dir); }
  const ModelState& model() const { return run.model; }
  const Submodel& submodel(int s) const { return run.model.submodels[s]; }
  const Design& design(int s, int d) const { return submodel(s).designs[d]; }
  // The labels of the variables marked in vector, e.g. "AB".
  std::string Term(const Membership& vector, int selection = 0) const {
    return TermText(run.model, vector, selection);
  }
  // The terms of the effects of submodel s.
  std::vector<std::string> Effects(int s) const;

  TempDir dir;
  ProgramRun run;
  std::string message;
};

// An input text parsed in full and estimated as the program does (EM with the Newton-type
// steps it asks for), in window mode so that the log lines reach the recording window.
struct Fitted {
  explicit Fitted(const std::string& text);
  const EstimationState& est() const { return run.estimation; }
  double LogLikelihood() const { return run.estimation.LogLikelihood; }
  double LSquared() const { return 2 * run.estimation.HalfLSquared; }
  // The fitted frequency of cell c of submodel 0 (its table is in frequency form).
  double Frequency(int c) const { return run.estimation.FittedTable[c]; }
  // The number of log lines that begin with start, and the first line that holds text.
  int CountLines(const std::string& start) const;
  std::string LineWith(const std::string& text) const;

  TempDir dir;
  ProgramRun run;
  RecordingPresentation window;
  std::string message;
};

// A whole run of an input text through the run driver in log-file mode, as the front end
// starts it; the report and the log are read back.
struct EngineRun {
  explicit EngineRun(const std::string& input);
  bool Has(const std::string& line) const;
  // The number after the "=" of the statistics line that begins with label (such as
  // "Log-likelihood"); fails the test when there is none.
  double Statistic(const std::string& label) const;
  // The lines from the one equal to `from` up to (not including) the next empty line.
  std::vector<std::string> Block(const std::string& from) const;
  // The numbers after the 14-character label of the line that follows the line of `effect` by
  // `cell` + 1, in a parameter table.
  std::vector<double> Row(const std::string& effect, int cell) const;
  // The numbers of every line of the result file name.
  std::vector<std::vector<double>> Numbers(const std::string& name) const;

  TempDir dir;
  ProgramRun run;
  RecordingPresentation window;
  int status = -1;
  std::vector<std::string> report;
  std::vector<std::string> log;
};

// The run ended normally with the log-likelihood and L-squared to every printed digit and the
// degrees of freedom given; the second form runs input first.
void ExpectFit(const EngineRun& run, double loglik, double lsquared, int df);
void ExpectFit(const std::string& input, double loglik, double lsquared, int df);

// A model parsed from an input text (data included), whose fitted and expected tables the
// test fills in by hand, as if estimation had left them.
struct FittedModel {
  explicit FittedModel(const std::string& text) { message = ParseText(run, text, dir); }

  void SetFitted(const std::vector<double>& fitted) { run.estimation.FittedTable = fitted; }
  void SetExpected(const std::vector<double>& expected) { run.estimation.ExpectedTable = expected; }

  // The fit sums and log-likelihood an E-step leaves for observed frequencies n, their
  // estimates m and the totals t of their subgroups.
  void SetFitSums(const std::vector<double>& n, const std::vector<double>& m,
                  const std::vector<double>& t) {
    EstimationState& e = run.estimation;
    e.HalfLSquared = e.PearsonSum = e.CressieReadSum = e.AbsResidualSum = e.ExpectedTotal = 0;
    e.LogLikelihood = 0;
    for (std::size_t i = 0; i < n.size(); ++i) {
      if (n[i] > 0) {
        e.HalfLSquared += n[i] * std::log(n[i] / m[i]);
        e.CressieReadSum += 1.8 * n[i] * (std::pow(n[i] / m[i], 2.0 / 3.0) - 1);
        e.PearsonSum += n[i] * (n[i] / m[i] - 1);
        e.LogLikelihood += n[i] * std::log(m[i] / t[i]);
      }
      e.AbsResidualSum += std::fabs(n[i] - m[i]);
      e.ExpectedTotal += m[i];
    }
  }

  // Runs write on a fresh report file and returns its lines.
  template <typename Write>
  std::vector<std::string> Report(Write write) {
    const std::string path = dir.File("report.out");
    run.context.FilePrefix.clear();
    OpenTextFile(run.context, run.context.ReportFile, path, "w");
    write(run);
    run.context.ReportFile.Close();
    // The result files the write left waiting take their places, as at the end of a run.
    std::string failed;
    run.context.replacements.Commit(failed);
    return ReadLines(path);
  }

  TempDir dir;
  ProgramRun run;
  std::string message;
};

}  // namespace tav::testing

#endif  // TAV_TESTS_TEST_SUPPORT_H_
