// tav95: the engine. Usage: tav95 input report [directory [log]] [-log], or tav95 --help,
// tav95 --version.

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "core/console_presentation.h"
#include "newton/run_state.h"
#include "tav95/log_lock.h"
#include "tav95/run_driver.h"
#include "tav95/stop_signals.h"
#include "tav95/usage.h"

#ifdef TAV_HAVE_QT
#include "tav95/qt_presentation.h"
#endif

int main(int argc, char** argv) {
  tav::ProgramRun program;
  tav::RunContext& run = program.context;
  run.arguments.assign(argv + 1, argv + argc);
  // --help and --version print their text and end, before any window is made.
  if (const auto text = tav::InformationRequest(run.arguments)) {
    std::cout << *text << std::flush;
    return std::cout ? tav::kExitNormal : tav::kExitError;
  }
  std::unique_ptr<tav::Presentation> window;
#ifdef TAV_HAVE_QT
  window = MakeWindowPresentation(argc, argv);
#endif
  // The log file stays locked while the run lasts: the front end takes a locked log for a
  // running engine.
  run.on_log_file_open = tav::LockLogFile;
  // Tests of a full disk make the n-th write fail.
  if (const char* fail_at = std::getenv("TAV_FAIL_WRITE_AT")) {
    run.write_faults.fail_at = std::strtol(fail_at, nullptr, 10);
  }
  // The front end asks for the results document here, without touching the user's input.
  if (const char* path = std::getenv("TAV_RESULTS_JSON")) run.results_path = path;
  tav::ConsolePresentation console(std::cout, std::cerr);
  tav::StopSignalPresentation presentation(window ? *window : console);
  run.presentation = &presentation;
  tav::InstallStopSignals();
  return tav::RunMain(program);
}
