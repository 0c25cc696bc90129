#ifndef TAV_ENGINE_CORE_RUN_STATE_H_
#define TAV_ENGINE_CORE_RUN_STATE_H_

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "core/event_history.h"
#include "core/model_state.h"
#include "core/presentation.h"
#include "core/text_file.h"
#include "data/data_store.h"
#include "data/design_store.h"
#include "data/settings.h"
#include "estimation/estimation_state.h"
#include "newton/newton_state.h"

namespace tav {

// A reading of the local time of day.
struct ClockReading {
  int hours = 0;
  int minutes = 0;
  int seconds = 0;
  int milliseconds = 0;
};

ClockReading LocalClock();

// Everything one run of the engine holds: the command line, the open files, the reader's word
// buffers, the random generator and the model. Passed by reference to every routine, so one
// process can run many models one after another.
struct RunState {
  // The command line after the program name.
  std::vector<std::string> arguments;
  Presentation* presentation = nullptr;
  std::function<ClockReading()> clock = LocalClock;
  // Called right after the log file is opened (the program locks it there).
  std::function<void(std::FILE*)> on_log_file_open;

  std::string InputFileName;
  std::string OutputFileName;
  std::string FilePrefix;

  TextFile InputFile;
  TextFile ReportFile;
  TextFile LogFile;
  TextFile ResultFile;
  TextFile DataFile;
  TextFile DataFile2;

  // Reader word buffers.
  std::string CurrentWord;
  std::string CommandName;

  // Random generator.
  double RandomSeed = 0.0;
  std::int32_t SeedUsed = 0;
  std::int32_t random_amplitude = 1;

  // Iteration state shown by the Info button.
  int IterationCount = 0;
  double StopCriterion = 0.0;

  // Position of the progress bar (0 to 100) in log-file mode.
  int progress_position = 0;

  ModelState model;
  EventHistoryState history;
  Settings settings;
  DataStore data;
  DesignStore designs;
  EstimationState estimation;
  NewtonState newton;

  int ArgumentCount() const { return static_cast<int>(arguments.size()); }
  // The last argument is "-log": log lines go to the log file and the dialog shows progress.
  bool LogFileMode() const { return !arguments.empty() && arguments.back() == "-log"; }
  // The log file is written in log-file mode and when there are exactly four arguments.
  bool WritesLogFile() const { return LogFileMode() || ArgumentCount() == 4; }

  // Closes every file the run may have open.
  void CloseAllFiles();
};

}  // namespace tav

#endif  // TAV_ENGINE_CORE_RUN_STATE_H_
