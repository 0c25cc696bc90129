// Feeds arbitrary bytes to the reader of data files of named columns: the first byte picks the
// kind of file (CSV, TSV, SPSS system and portable, Stata, SAS and SAS transport), the rest is
// the file. Every file must be read whole or refused through StopRun with a message.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/stop_run.h"
#include "data/tabular_file.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const tav::fuzz::ScratchDirectory scratch("tav_fuzz_files");
  static constexpr std::array<const char*, 7> kEndings = {".csv", ".tsv",      ".sav", ".por",
                                                          ".dta", ".sas7bdat", ".xpt"};
  if (size == 0) return 0;
  const char* ending = kEndings[data[0] % kEndings.size()];
  const std::string path = (scratch.path() / (std::string("data") + ending)).string();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    if (!out) return 0;
  }
  try {
    const tav::TabularFile file = tav::ReadTabularFile(path, path, tav::TabularKindOf(path));
    // What was read is whole: every column has a value and a missing flag for every row.
    for (const tav::TabularColumn& column : file.columns) {
      if (static_cast<std::int64_t>(column.missing.size()) != file.rows) __builtin_trap();
      if (static_cast<std::int64_t>(column.value_of.size()) != file.rows) __builtin_trap();
      const std::size_t distinct = column.is_string ? column.texts.size() : column.numbers.size();
      for (std::size_t r = 0; r < column.value_of.size(); ++r) {
        const std::int32_t place = column.value_of[r];
        if (column.missing[r] == 0 && (place < 0 || static_cast<std::size_t>(place) >= distinct)) {
          __builtin_trap();
        }
      }
    }
  } catch (const tav::StopRunError& stop) {
    if (stop.message().empty()) __builtin_trap();
  }
  return 0;
}
