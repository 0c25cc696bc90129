#ifndef TAV_ENGINE_TAV95_RUN_DRIVER_H_
#define TAV_ENGINE_TAV95_RUN_DRIVER_H_

#include "newton/newton_state.h"
#include "newton/run_state.h"

namespace tav {

// Exit statuses of the engine.
inline constexpr int kExitNormal = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitCancel = 2;

// The E-step's evaluation pass, as the Newton-type code receives it.
ModelEvaluator Evaluator(RunState& run);

// Parses the input file run.context.InputFileName into the parsed run (ParseInput).
void ParseRun(ProgramRun& run);

// Sets the fit's random generator from the seed of `see` at the clock's reading (no seed: the
// clock's seed; StartingGenerator), as a run does before it estimates; returns the reading's
// time of day in seconds.
double StartRandomGenerator(RunState& run);

// Estimates the parsed model: EM with the Newton-type steps it asks for.
void FitModel(RunState& run);

// FitModel, then the posterior probability files, the standard errors (when they are wanted)
// and the report.
void FitAndReport(RunState& run);

// One whole run, from opening the log to the elapsed-time line, ending in
// StopRun(StopReason::kNormalEnd).
// run.context.arguments and run.context.presentation must be set.
[[noreturn]] void RunEngine(ProgramRun& run);

// Sets the window up, runs RunEngine and ends the run as StopRun's reason says: a normal end
// puts every file the run wrote (report, result files, results document, simulated data; they
// wait in run.replacements) in place, as the run's last step once the log has been flushed, and
// asks "Close this log window?" in window mode (no log file); an error closes every file,
// writes the error as the log file's last line when a log file is open, and shows the error
// box; a cancel closes the files after a last log line saying so. A run that fails or is
// cancelled replaces none of its files. The run's scratch files are removed whatever the
// outcome. Returns the process exit status.
//
// An error found while the input (or a file it names) was being read is followed in the log
// file by the line "  at line N of NAME" (StopRunError::position): two blanks, the line of the
// word being read and the file's name. The error box shows the message alone, and a run
// without a log file shows the position nowhere.
int RunMain(ProgramRun& run);

}  // namespace tav

#endif  // TAV_ENGINE_TAV95_RUN_DRIVER_H_
