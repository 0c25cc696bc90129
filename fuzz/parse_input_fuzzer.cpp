// Feeds arbitrary bytes to the input parser as an input file. Every input must end either in a
// parsed model or in StopRun with a message.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "core/stop_run.h"
#include "data/parse_input.h"
#include "fuzz_input.h"
#include "newton/run_state.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const tav::fuzz::ScratchDirectory scratch("tav_fuzz");
  const std::filesystem::path& directory = scratch.path();
  const std::string input = tav::fuzz::WriteInput(directory, data, size);
  if (input.empty()) return 0;
  tav::DataRun run;
  tav::fuzz::LimitMemory(run);
  run.arguments = {input, (directory / "output.out").string(), directory.string() + "/"};
  run.InputFileName = input;
  try {
    tav::ParseInput(run);
  } catch (const tav::StopRunError& stop) {
    // Every refusal carries a message that names the fault.
    if (stop.message().empty()) __builtin_trap();
  }
  return 0;
}
