#include "tav95/run_driver.h"

#include <new>

#include "core/format_real.h"
#include "core/log.h"
#include "core/random.h"
#include "core/stop_run.h"
#include "data/parse_input.h"
#include "estimation/e_step.h"
#include "estimation/estimate.h"
#include "newton/newton_iteration.h"
#include "report/write_report.h"

namespace tav {
namespace {

constexpr std::size_t kMaxNameLength = 80;

// A run must never write into its input file: refuse an output name that leads there.
void CheckNotInputFile(const RunState& run, const std::string& name, const char* what) {
  if (run.ArgumentCount() >= 2 && SameFile(name, run.arguments[0])) {
    StopRun(std::string("  Error: ") + what + " would overwrite the input file " + name);
  }
}

void OpenLogFile(RunState& run) {
  const int count = run.ArgumentCount();
  const std::string name = (count == 4 || count == 5) ? run.arguments[3] : "tav.log";
  CheckNotInputFile(run, name, "log file");
  run.FilePrefix.clear();
  OpenTextFile(run, run.LogFile, name, "w");
  if (run.on_log_file_open) run.on_log_file_open(run.LogFile.handle());
}

}  // namespace

ModelEvaluator Evaluator(RunState& run) {
  return [&run] { return EvaluateModel(run); };
}

void FitModel(RunState& run) {
  const ModelEvaluator evaluate = Evaluator(run);
  Estimate(run, [&](NewtonAlgorithm algorithm) { newton_iteration(run, algorithm, evaluate); });
}

void FitAndReport(RunState& run) {
  FitModel(run);
  WritePosteriorFiles(run);
  // Standard errors, the eigenvalues of the information matrix and the boundary counters.
  if (StandardErrorsWanted(run)) {
    WriteLogLine(run, "  standard errors");
    ComputeStandardErrors(run, Evaluator(run));
  }
  WriteReport(run);
}

void RunEngine(RunState& run) {
  if (run.WritesLogFile()) OpenLogFile(run);
  WriteBanner(run);
  if (run.ArgumentCount() < 2) StopRun("   Error: No input and output file specified");
  run.InputFileName = run.arguments[0].substr(0, kMaxNameLength);
  ParseInput(run);
  const double t0 = TimeOfDaySeconds(run);
  run.OutputFileName = run.arguments[1].substr(0, kMaxNameLength);
  CheckNotInputFile(run, run.OutputFileName, "report file");
  FitAndReport(run);
  double elapsed = TimeOfDaySeconds(run) - t0;
  if (elapsed < 0) elapsed += 24 * 3600.0;  // the run went past midnight
  WriteLogLine(run, "  cpu-time = " + FormatReal(2, 2, elapsed) + " seconds");
  StopRun(StopReason::kNormalEnd);
}

int RunMain(RunState& run) {
  StopReason reason = StopReason::kError;
  std::string message;
  if (run.presentation != nullptr) run.presentation->Begin(run.LogFileMode());
  try {
    RunEngine(run);
  } catch (const StopRunError& stop) {
    reason = stop.reason();
    message = stop.message();
  } catch (const std::bad_alloc&) {
    message = "  Error: problem too big to fit in memory";
  }
  // The log's last lines reach the disk only now: a failure there fails the run.
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
    run.CloseAllFiles();
    return kExitCancel;
  }
  if (run.LogFile.IsOpen()) run.LogFile.WriteLine(message.size() > 2 ? message.substr(2) : "");
  run.CloseAllFiles();
  if (run.presentation != nullptr) run.presentation->ErrorBox(ErrorBoxText(message));
  return kExitError;
}

}  // namespace tav
