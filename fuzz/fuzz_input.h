#ifndef TAV_FUZZ_FUZZ_INPUT_H_
#define TAV_FUZZ_FUZZ_INPUT_H_

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace tav::fuzz {

// A scratch directory of its own for this fuzzing process: the input file and the files the
// engine writes beside it stay there.
inline std::filesystem::path ScratchDirectory(const std::string& name) {
  std::filesystem::path path =
      std::filesystem::temp_directory_path() / (name + "_" + std::to_string(::getpid()));
  std::filesystem::create_directories(path);
  return path;
}

// Writes the fuzzer's bytes as the input file "input.inp" of directory; returns its path, or
// an empty text when it cannot be written.
inline std::string WriteInput(const std::filesystem::path& directory, const std::uint8_t* data,
                              std::size_t size) {
  const std::string input = (directory / "input.inp").string();
  std::FILE* file = std::fopen(input.c_str(), "wb");
  if (file == nullptr) return "";
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  return input;
}

// The fuzzers' memory budget: 100 MB, so that inputs that ask for huge arrays are refused
// instead of taking the machine's memory (libFuzzer's limit is 3 GB).
inline constexpr std::int64_t kFuzzMemoryBudget = 100'000'000;

// Inputs that set their own budget (`mem`) are left out, for the same reason.
inline bool SetsTheMemoryBudget(const std::string& text) {
  return text.find("mem") != std::string::npos;
}

}  // namespace tav::fuzz

#endif  // TAV_FUZZ_FUZZ_INPUT_H_
