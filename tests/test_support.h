#ifndef TAV_TESTS_TEST_SUPPORT_H_
#define TAV_TESTS_TEST_SUPPORT_H_

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/presentation.h"
#include "core/run_state.h"
#include "core/text_file.h"

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
std::string ParseText(RunState& run, const std::string& text, const TempDir& dir);

// Like ParseText, but the settings section (with the data and the designs) is left out: the
// model, event-history and record-format sections and the set-up passes run on text.
std::string ParseModelText(RunState& run, const std::string& text, const TempDir& dir);

}  // namespace tav::testing

#endif  // TAV_TESTS_TEST_SUPPORT_H_
