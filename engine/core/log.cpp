#include "core/log.h"

#include <chrono>
#include <filesystem>
#include <system_error>

#include "core/stop_run.h"

namespace tav {
namespace {

constexpr const char* kBannerLines[] = {
    "TAV - statistical analysis of categorical data",
    "made by the TAV development team",
};

[[noreturn]] void StopCannotWrite(const TextFile& file) {
  StopRun("  Error: cannot write file " + file.path());
}

// A line for the log file: written at once once the log has started, else held back.
void WriteToLogFile(RunContext& run, const std::string& text) {
  if (!run.log_started) {
    run.held_log_lines.push_back(text);
    return;
  }
  run.LogFile.WriteLine(text);
  run.LogFile.Flush();
  if (run.LogFile.failed()) StopCannotWrite(run.LogFile);
}

}  // namespace

void StartLogFile(RunContext& run) {
  if (run.log_started || !run.LogFile.IsOpen()) return;
  run.log_started = true;
  if (!run.LogFile.Truncate()) StopCannotWrite(run.LogFile);
  for (const std::string& line : run.held_log_lines) run.LogFile.WriteLine(line);
  run.held_log_lines.clear();
  run.LogFile.Flush();
  if (run.LogFile.failed()) StopCannotWrite(run.LogFile);
}

void OpenTextFile(RunContext& run, TextFile& file, const std::string& name, const char* mode,
                  TextFile::Destination destination) {
  const std::string mode_text(mode);
  if (mode_text != "r" && mode_text != "w" && mode_text != "a") {
    StopRun("  Error: unknown file mode " + mode_text);
  }
  const std::string full = run.FilePrefix + name;
  // Only a regular file is read: a device or a FIFO could hang the run, a directory reads as
  // nothing.
  if (mode_text == "r" && !name.empty()) {
    std::error_code error;
    const auto status = std::filesystem::status(full, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
      StopRun("  Error: file " + full + " is not a regular file");
    }
  }
  if (name.empty() || !file.Open(full, mode, destination, &run.write_faults, &run.replacements)) {
    StopRun("  Error: cannot open file " + full);
  }
  // Reading a large data file and writing a large result take long: the cancel check goes
  // with them. The log has its own (every log line serves the window).
  if (&file == &run.LogFile) {
    file.SetPoll({});
  } else {
    file.SetPoll([&run] { CheckCancel(run); });
  }
}

void OpenScratchFile(RunContext& run, TextFile& file, const std::string& name, const char* mode) {
  const std::string path = run.scratch.File(name);
  if (path.empty() || !file.Open(path, mode, TextFile::Destination::kDirect, &run.write_faults)) {
    StopRun("  Error: cannot open a scratch file in the temporary directory");
  }
  file.SetPoll([&run] { CheckCancel(run); });
}

void CloseTextFile(TextFile& file) {
  if (!file.Close()) StopCannotWrite(file);
}

namespace {

// Serves the window (or reports to background_progress); true when the run is to stop.
bool CancelRequested(const RunContext& run) {
  const bool cancel = run.background_progress ? run.background_progress(run.progress)
                                              : run.presentation != nullptr &&
                                                    run.presentation->PumpEvents(run.progress);
  if (cancel) run.cancel_seen = true;
  return cancel;
}

}  // namespace

void CheckCancel(const RunContext& run, int worker) {
  if (worker != 0) {
    if (run.cancel_seen.load(std::memory_order_relaxed)) StopRun(StopReason::kCancel);
    return;
  }
  constexpr auto kInterval = std::chrono::milliseconds(100);
  const auto now = std::chrono::steady_clock::now();
  if (now - run.cancel_checked < kInterval) return;
  run.cancel_checked = now;
  if (CancelRequested(run)) StopRun(StopReason::kCancel);
}

namespace {

void WriteLogLineStepping(RunContext& run, const std::string& line, bool step) {
  if (CancelRequested(run)) StopRun(StopReason::kCancel);
  if (run.background_progress) return;
  const std::string text = line.size() > 2 ? line.substr(2, 80) : std::string();
  if (run.LogFileMode()) {
    WriteToLogFile(run, text);
    if (step) {
      run.progress_position += 5;
      if (run.progress_position > 100) run.progress_position = 0;
      if (run.presentation != nullptr) run.presentation->ProgressStep(run.progress_position);
    }
  } else {
    if (run.presentation != nullptr) run.presentation->LogLine(text);
    if (run.ArgumentCount() == 4) WriteToLogFile(run, text);
  }
}

}  // namespace

void WriteLogLine(RunContext& run, const std::string& line) {
  WriteLogLineStepping(run, line, line.compare(0, 4, "    ") == 0);
}

void WriteIterationLogLine(RunContext& run, const std::string& line) {
  WriteLogLineStepping(run, line, true);
}

void WriteBanner(RunContext& run) {
  for (const char* line : kBannerLines) WriteLogLine(run, std::string("  ") + line);
  WriteLogLine(run, std::string("  Version ") + kVersionText + ".");
  WriteLogLine(run, "");
}

void WriteBanner(TextFile& file) {
  for (const char* line : kBannerLines) file.WriteLine(line);
  file.WriteLine(std::string("Version ") + kVersionText + ".");
  file.WriteLine("");
}

}  // namespace tav
