// Feeds arbitrary bytes to the input parser as an input file. Every input must end either in a
// parsed model or in StopRun with a message.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "core/run_state.h"
#include "core/stop_run.h"
#include "input/parse_input.h"

namespace {

// One scratch directory per fuzzing process: the input file and the files the parser writes
// (the data reader's temporary files) stay in it.
const std::filesystem::path& ScratchDirectory() {
  static const std::filesystem::path directory = [] {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("tav_fuzz_" + std::to_string(::getpid()));
    std::filesystem::create_directories(path);
    return path;
  }();
  return directory;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path& directory = ScratchDirectory();
  const std::string input = (directory / "input.inp").string();
  if (std::FILE* file = std::fopen(input.c_str(), "wb")) {
    std::fwrite(data, 1, size, file);
    std::fclose(file);
  } else {
    return 0;
  }
  tav::RunState run;
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
