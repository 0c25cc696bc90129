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
  static const std::filesystem::path directory = tav::fuzz::ScratchDirectory("tav_fuzz");
  if (tav::fuzz::SetsTheMemoryBudget(std::string(reinterpret_cast<const char*>(data), size))) {
    return 0;
  }
  const std::string input = tav::fuzz::WriteInput(directory, data, size);
  if (input.empty()) return 0;
  tav::RunState run;
  run.memory_budget = tav::fuzz::kFuzzMemoryBudget;
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
