#include "tav95/run_driver.h"

#include <new>
#include <string>
#include <vector>

#include "core/format_real.h"
#include "core/log.h"
#include "core/random.h"
#include "core/stop_run.h"
#include "data/parse_input.h"
#include "estimation/e_step.h"
#include "estimation/estimate.h"
#include "input/reader.h"
#include "newton/newton_iteration.h"
#include "report/correspondence_report.h"
#include "report/simulation.h"
#include "report/write_report.h"
#include "tav95/random_starts.h"

namespace tav {
namespace {

// A run must never write into its input file: refuse an output name that leads there.
void CheckNotInputFile(const RunContext& run, const std::string& name, const char* what) {
  if (run.ArgumentCount() >= 2 && SameFile(name, run.arguments[0])) {
    StopRun(std::string("  Error: ") + what + " would overwrite the input file " + name);
  }
}

// Opens the log without emptying it and locks it: its lines are held back until the run's
// files are known not to clash with it (StartLogFile). A log that another run holds is left
// alone.
void OpenLogFile(RunContext& run) {
  const std::string name = run.LogFileName();
  CheckNotInputFile(run, name, "log file");
  if (run.ArgumentCount() >= 2 && SameFile(name, run.arguments[1])) {
    StopRun("  Error: log file and report file are the same file " + run.arguments[1]);
  }
  run.FilePrefix.clear();
  OpenTextFile(run, run.LogFile, name, "a");
  if (run.on_log_file_open && !run.on_log_file_open(run.LogFile.handle())) {
    run.LogFile.Discard();
    StopRun("  Error: another run is writing the log file " + name);
  }
}

// The log names none of the data, design and start-value files (OpenLogFile has refused the
// input and the report already), so it may be emptied and written.
bool LogMayBeWritten(const ProgramRun& run) {
  const std::string log = run.input.LogFileName();
  const std::string prefix = run.input.InputPrefix();
  // The settings read so far: those of the parse, or of the parsed run once it is complete.
  for (const Settings* settings : {&run.input.settings, &run.parsed_input.settings}) {
    std::vector<std::string> read = settings->start_value_files;
    read.push_back(settings->data_file);
    read.push_back(settings->design_file);
    for (const std::string& name : read) {
      if (!name.empty() && SameFile(log, prefix + name)) return false;
    }
  }
  return true;
}

// The log's last lines at the end of a run that did not go through: the held lines are written
// first when the log may be written at all.
void FinishLog(ProgramRun& run, const std::vector<std::string>& last_lines) {
  RunContext& context = run.input;
  if (!context.LogFile.IsOpen()) return;
  if (!context.log_started) {
    if (!LogMayBeWritten(run)) return;
    try {
      StartLogFile(context);
    } catch (const StopRunError&) {
      return;
    }
  }
  for (const std::string& line : last_lines) {
    if (!line.empty()) context.LogFile.WriteLine(line);
  }
}

}  // namespace

ModelEvaluator Evaluator(RunState& run) {
  // The Newton-type code evaluates the model once per entry of a differenced information
  // matrix: a cancel is looked for before each.
  return [&run] {
    CheckCancel(run.context);
    return EvaluateModel(run);
  };
}

void ParseRun(ProgramRun& run) { run.parsed_input = ParseInput(run.input); }

double StartRandomGenerator(RunState& run) {
  const ClockReading now = run.context.clock();
  run.estimation.random =
      StartingGenerator(run.settings.random_seed, run.settings.random_amplitude, now);
  return SecondsOfDay(now);
}

void FitModel(RunState& run) {
  const ModelEvaluator evaluate = Evaluator(run);
  Estimate(run, [&](NewtonAlgorithm algorithm) { newton_iteration(run, algorithm, evaluate); });
}

void FitAndReport(RunState& run) {
  CheckSimulationAvailable(run);
  if (run.settings.random_starts > 0) {
    FitFromRandomStarts(run);
  } else {
    FitModel(run);
  }
  if (!run.settings.simulate_file.empty()) SimulateData(run);
  WritePosteriorFiles(run);
  // A correspondence or association analysis has a report of its own, which shows no standard
  // errors.
  const CorrespondenceKind correspondence = run.model.CorrespondenceType;
  if (correspondence != CorrespondenceKind::kNone) {
    WriteCorrespondenceReport(run, correspondence);
    return;
  }
  // Standard errors, the eigenvalues of the information matrix and the boundary counters.
  if (StandardErrorsWanted(run)) {
    WriteLogLine(run.context, "  standard errors");
    ComputeStandardErrors(run, Evaluator(run));
  } else if (run.settings.show_std_errors && run.estimation.free_parameters.full) {
    SkipStandardErrors(run, kMaxFreeParameters, false);
  }
  WriteReport(run);
}

void RunEngine(ProgramRun& run) {
  RunContext& context = run.input;
  if (context.WritesLogFile()) OpenLogFile(context);
  WriteBanner(context);
  if (context.ArgumentCount() < 2) StopRun("   Error: No input and output file specified");
  for (const std::string& argument : context.arguments) {
    if (argument.size() > static_cast<std::size_t>(kMaxFileName)) {
      StopRun("  Error: file name longer than " + IntegerText(kMaxFileName) + " characters");
    }
  }
  context.InputFileName = context.arguments[0];
  context.OutputFileName = context.arguments[1];
  CheckNotInputFile(context, context.OutputFileName, "report file");
  ParseRun(run);
  StartLogFile(context);
  const double t0 = StartRandomGenerator(run);
  FitAndReport(run);
  double elapsed = SecondsOfDay(context.clock()) - t0;
  if (elapsed < 0) elapsed += 24 * 3600.0;  // the run went past midnight
  WriteLogLine(context, "  cpu-time = " + FormatReal(2, 2, elapsed) + " seconds");
  StopRun(StopReason::kNormalEnd);
}

namespace {

// RunEngine and its end: the files closed, the log's last line, the window's questions.
int RunAndEnd(ProgramRun& program) {
  RunContext& run = program.input;
  StopReason reason = StopReason::kError;
  std::string message;
  std::string position;
  if (run.presentation != nullptr) run.presentation->Begin(run.LogFileMode());
  try {
    RunEngine(program);
  } catch (const StopRunError& stop) {
    reason = stop.reason();
    message = stop.message();
    position = stop.position();
  } catch (const std::bad_alloc&) {
    message = "  Error: problem too big to fit in memory";
  }
  // The log's last lines reach the disk first: a failure there fails the run. Then, the run
  // having gone through, the files it wrote take their destinations' places, all at the end;
  // a run that failed or was cancelled leaves them as they were (CloseAllFiles).
  if (reason == StopReason::kNormalEnd && run.LogFile.IsOpen()) {
    run.LogFile.Flush();
    if (run.LogFile.failed()) {
      reason = StopReason::kError;
      message = "  Error: cannot write file " + run.LogFile.path();
    }
  }
  std::string failed_name;
  if (reason == StopReason::kNormalEnd && !run.replacements.Commit(failed_name)) {
    reason = StopReason::kError;
    message = "  Error: cannot write file " + failed_name;
  }
  if (reason == StopReason::kNormalEnd && run.LogFile.IsOpen() && !run.LogFile.Close()) {
    reason = StopReason::kError;
    message = "  Error: cannot write file " + run.LogFile.path();
  }
  if (reason == StopReason::kNormalEnd) {
    if (run.WritesLogFile()) {
      run.CloseAllFiles();
      return kExitNormal;
    }
    run.CloseAllFiles();
    if (run.presentation != nullptr && !run.presentation->AskClose()) {
      run.presentation->StayOpen();
    }
    return kExitNormal;
  }
  if (reason == StopReason::kCancel) {
    FinishLog(program, {"The run was cancelled."});
    run.CloseAllFiles();
    return kExitCancel;
  }
  // An error found while the input was read also says where (with its two blanks), unless its
  // message already does.
  if (!position.empty() && message.find(position.substr(2)) != std::string::npos) position.clear();
  FinishLog(program, {message.size() > 2 ? message.substr(2) : "", position});
  run.CloseAllFiles();
  if (run.presentation != nullptr) run.presentation->ErrorBox(ErrorBoxText(message));
  return kExitError;
}

}  // namespace

int RunMain(ProgramRun& run) {
  const int status = RunAndEnd(run);
  // The scratch files go whatever the outcome.
  run.context.scratch.Remove();
  return status;
}

}  // namespace tav
