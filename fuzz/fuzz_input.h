#ifndef TAV_FUZZ_FUZZ_INPUT_H_
#define TAV_FUZZ_FUZZ_INPUT_H_

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "core/run_context.h"

namespace tav::fuzz {

// A scratch directory of its own for this fuzzing process: the input file and the files the
// engine writes beside it stay there while the process runs, and the directory is removed when
// it ends normally (after a crash it stays, with the files of the input that caused it).
class ScratchDirectory {
 public:
  explicit ScratchDirectory(const std::string& name)
      : path_(std::filesystem::temp_directory_path() / (name + "_" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(path_);
  }
  ~ScratchDirectory() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

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
// instead of taking the machine's memory (libFuzzer's limit is 3 GB). An input's `mem` may set
// a smaller budget, never a larger one.
inline constexpr std::int64_t kFuzzMemoryBudget = 100'000'000;

inline void LimitMemory(RunContext& run) {
  run.memory_budget = kFuzzMemoryBudget;
  run.largest_memory_budget = kFuzzMemoryBudget;
}

}  // namespace tav::fuzz

#endif  // TAV_FUZZ_FUZZ_INPUT_H_
