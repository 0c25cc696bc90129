#ifndef TAV_ENGINE_CORE_RUN_CONTEXT_H_
#define TAV_ENGINE_CORE_RUN_CONTEXT_H_

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "core/input_echo.h"
#include "core/presentation.h"
#include "core/scratch_directory.h"
#include "core/text_file.h"

namespace tav {

// The arrays a run keeps, each counted against the memory budget as one figure.
enum class MemoryUse {
  kData,          // the data entries, their episodes and covariate values
  kTimeGrid,      // the time boundaries of a hazard model
  kModelTables,   // the fitted and expected tables and their margins
  kIndexMaps,     // the E-step's cells of the completions of every pattern
  kNewtonTables,  // the fitted tables saved at the start of a Newton-type iteration
  kHazardTables,  // the exposures of the hazard part and the intervals of the episodes
  kCount
};

// A reading of the local time of day.
struct ClockReading {
  int hours = 0;
  int minutes = 0;
  int seconds = 0;
  int milliseconds = 0;
};

ClockReading LocalClock();

// The memory budget of a run unless `mem` sets it: three quarters of the machine's physical
// memory (4 GB where that is unknown).
std::int64_t DefaultMemoryBudget();

// What every layer of a run shares: the command line, the window, the open files, the progress
// the Info button shows and the memory budget. The input is read through a run of its own
// (InputRun, input/input_run.h; DataRun, data/data_run.h), which the parse turns into the
// parsed run (ParsedRun, data/parsed_run.h).
//
// A fit (EstimationRun, estimation/estimation_state.h; RunState, newton/run_state.h) refers to
// the context and to the parsed run, which it reads only, and owns what it changes; a random
// start in a thread of its own has a context of its own (TakeFitSettings).
struct RunContext {
  // The command line after the program name.
  std::vector<std::string> arguments;
  Presentation* presentation = nullptr;
  std::function<ClockReading()> clock = LocalClock;
  // Called right after the log file is opened (the program locks it there); false when another
  // run holds the log.
  std::function<bool(std::FILE*)> on_log_file_open;

  std::string InputFileName;
  std::string OutputFileName;
  std::string FilePrefix;
  // A further path for the JSON results document, which is then written whether or not `wjs`
  // asks for it (the program takes it from the environment variable TAV_RESULTS_JSON, which the
  // front end sets); empty for none. It is used as it stands, without the prefix.
  std::string results_path;

  // The input text as it was read, for the report's echo.
  InputEcho input_echo;
  TextFile ReportFile;
  TextFile LogFile;
  // The log file is opened (and locked) at once but emptied and written only when the run's
  // files are known not to clash with it; the lines written before wait here.
  bool log_started = false;
  std::vector<std::string> held_log_lines;
  TextFile ResultFile;
  // The file of data, designs or start values being read, one at a time while the input is
  // read (and scratch files the report reads back).
  TextFile DataFile;
  TextFile DataFile2;
  // The report, result files, results document and simulated data written so far: they take
  // their destinations' places only when the whole run has gone through (the run driver
  // commits them), and a run that fails or is cancelled leaves every destination as it was.
  PendingReplacements replacements;
  // Write failures injected by tests (none unless set).
  WriteFaults write_faults;
  // The directory of the run's scratch files.
  ScratchDirectory scratch;

  // The progress the Info button shows: the iteration and stop criterion of the fit in
  // progress, and the start being fitted with the number of starts (`rst`; 0 without).
  RunProgress progress;

  // Position of the progress bar (0 to 100) in log-file mode.
  int progress_position = 0;

  // A fit made away from the window (a random start in a thread of its own): when set, log
  // lines are dropped and this is told the progress instead of the window; true asks the fit
  // to stop (StopRun(StopReason::kCancel)).
  std::function<bool(const RunProgress&)> background_progress;
  // The cancel check of long computations (CheckCancel, core/log.h): when it last served the
  // window, and whether the run's thread has seen a cancel request, for the threads that work
  // for the run.
  mutable std::chrono::steady_clock::time_point cancel_checked{};
  mutable std::atomic<bool> cancel_seen{false};

  // The memory the run's large arrays may take, in bytes (DefaultMemoryBudget, or `mem`).
  std::int64_t memory_budget = DefaultMemoryBudget();
  // The largest budget `mem` may set (a larger one is taken as this): none for a user's run; a
  // process that runs many inputs in its own memory (the fuzzers) sets its own.
  std::int64_t largest_memory_budget = std::numeric_limits<std::int64_t>::max();
  // What of the budget is taken: the arrays the run keeps, one figure per use (KeepMemory),
  // and the working buffers of the step in progress (MemoryReservation). Only the thread that
  // serves the run changes them, outside the parallel loops.
  std::array<double, static_cast<int>(MemoryUse::kCount)> memory_kept{};
  mutable double memory_reserved = 0;

  int ArgumentCount() const { return static_cast<int>(arguments.size()); }
  // The last argument is "-log": log lines go to the log file and the dialog shows progress.
  bool LogFileMode() const { return !arguments.empty() && arguments.back() == "-log"; }
  // The log file is written in log-file mode and when there are exactly four arguments.
  bool WritesLogFile() const { return LogFileMode() || ArgumentCount() == 4; }
  // The log file's name: the fourth argument when there are four or five, else "tav.log".
  std::string LogFileName() const {
    const int count = ArgumentCount();
    return count == 4 || count == 5 ? arguments[3] : std::string("tav.log");
  }
  // The directory prefix for files named in the input: the third argument unless it is "-log".
  std::string InputPrefix() const {
    return ArgumentCount() > 2 && arguments[2] != "-log" ? arguments[2] : std::string();
  }

  // Takes what a fit away from the window (a random start in a thread of its own) needs of the
  // run it works for: the clock and the memory budget.
  void TakeFitSettings(const RunContext& run) {
    clock = run.clock;
    memory_budget = run.memory_budget;
    largest_memory_budget = run.largest_memory_budget;
  }

  // Closes every file the run may have open, without checking: a file that was to replace its
  // destination leaves the destination as it was, and so do the files waiting in
  // replacements (their temporaries are removed).
  void CloseAllFiles();

  // Stops the run with message unless bytes (of one array, or of the arrays that live
  // together) fit in what the memory budget leaves beside the kept arrays and the reserved
  // buffers.
  void CheckMemory(double bytes,
                   const char* message = "  Error: problem too big to fit in memory") const;
  // The bytes of the budget not yet kept or reserved (0 at least).
  double MemoryAvailable() const;
  // Records that the arrays of `use` take bytes from now on, in place of what they took
  // before; stops the run ("problem too big to fit in memory") when that exceeds the budget
  // beside the other uses and the reserved buffers. Called before the arrays are allocated
  // (with 0 first when the arrays of a use are set up anew, so that the old ones do not count
  // twice).
  void KeepMemory(MemoryUse use, double bytes);
};

// The working buffers of one step (a simulation's table, derivative and share tables, a
// report's tables), counted against the memory budget while the object lives: the constructor
// stops the run when they do not fit beside what is kept and reserved already.
class MemoryReservation {
 public:
  MemoryReservation(const RunContext& run, double bytes);
  ~MemoryReservation();
  MemoryReservation(const MemoryReservation&) = delete;
  MemoryReservation& operator=(const MemoryReservation&) = delete;

 private:
  const RunContext& run_;
  double bytes_;
};

// Arrays of count reals (value) or 32-bit integers (0), within the run's memory budget
// ("problem too big to fit in memory"); integer arrays also within kMaxIntArrayCount ("array
// too big to fit in memory"). Large real arrays ask the system for large pages, which halves
// the time of their first touch and spares the processor's address cache on the passes over
// them.
std::vector<double> AllocRealArray(const RunContext& run, std::int64_t count, double value = 0);
std::vector<std::int32_t> AllocIntArray(const RunContext& run, std::int64_t count);

}  // namespace tav

#endif  // TAV_ENGINE_CORE_RUN_CONTEXT_H_
