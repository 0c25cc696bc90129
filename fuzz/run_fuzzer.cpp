// Feeds arbitrary bytes to a whole engine run: parsing, a few iterations of the estimation and
// the report. Every input must end in a report or in StopRun with a message.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <string>

#include "core/console_presentation.h"
#include "core/stop_run.h"
#include "data/parse_input.h"
#include "fuzz_input.h"
#include "newton/run_state.h"
#include "tav95/run_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::filesystem::path directory = tav::fuzz::ScratchDirectory("tav_run_fuzz");
  const std::string input = tav::fuzz::WriteInput(directory, data, size);
  if (input.empty()) return 0;
  static std::ostream null_stream(nullptr);
  tav::ConsolePresentation console(null_stream, null_stream);
  tav::RunState run;
  run.presentation = &console;
  run.arguments = {input, (directory / "output.out").string(), directory.string() + "/",
                   (directory / "log.txt").string(), "-log"};
  run.InputFileName = input;
  run.OutputFileName = run.arguments[1];
  try {
    tav::ParseInput(run);
    // A few iterations are enough to reach every step; standard errors only for small models.
    if (run.settings.max_iterations > 3) run.settings.max_iterations = 3;
    if (run.model.submodel_cell_total > 20000) return 0;
    run.settings.show_std_errors =
        run.settings.show_std_errors && run.model.submodel_cell_total < 200;
    tav::FitAndReport(run);
  } catch (const tav::StopRunError& stop) {
    if (stop.message().empty()) __builtin_trap();
  }
  return 0;
}
