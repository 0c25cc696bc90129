#ifndef TAV_ENGINE_DATA_TABULAR_FILE_H_
#define TAV_ENGINE_DATA_TABULAR_FILE_H_

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tav {

// The kinds of data file that are read as a table of named columns rather than as numbers.
enum class TabularKind {
  kNone,      // any other name: whitespace-separated numbers
  kCsv,       // .csv: comma-separated, with a header row
  kTsv,       // .tsv: tab-separated, with a header row
  kSpss,      // .sav and .zsav (SPSS system files)
  kPortable,  // .por (SPSS portable files)
  kStata,     // .dta
  kSas,       // .sas7bdat
  kTransport  // .xpt (SAS transport files)
};

// The kind of a data file by the ending of its name, in any case ("x.SAV" is an SPSS file).
TabularKind TabularKindOf(const std::string& name);

// The ending that named the kind, as written in messages (".sav", ".dta", ...).
std::string ExtensionOf(const std::string& name);

// One column of a data file. A numeric column holds numbers, a string column holds text; each
// row refers to its value by its place among the column's distinct values (value_of). A value
// that the file marks as missing (system-missing, a user-defined missing value, an empty text,
// an empty CSV field or "NA") has missing[row] = 1, and its value_of is then of no use.
struct TabularColumn {
  std::string name;
  std::string label;  // the variable label, empty when the file has none
  bool is_string = false;
  std::vector<double> numbers;         // the distinct numbers of a numeric column, first seen first
  std::vector<std::string> texts;      // the distinct texts of a string column, first seen first
  std::vector<std::int32_t> value_of;  // per row
  std::vector<std::uint8_t> missing;   // per row
  // The value labels of the column: value, label (numbers for numeric columns, texts for
  // string columns).
  std::vector<std::pair<double, std::string>> number_labels;
  std::vector<std::pair<std::string, std::string>> text_labels;
};

// Numbers the distinct numbers of a column as they come: Place(value) is the value's place
// among them, first seen first, appending it to numbers when it is new. Columns of categories
// mostly hold the whole numbers 0 to 255, found by a table; other numbers by a hash table.
class DistinctNumbers {
 public:
  std::int32_t Place(double value, std::vector<double>& numbers) {
    if (value >= 0 && value < static_cast<double>(kSmall)) {
      const auto small = static_cast<std::size_t>(value);
      if (static_cast<double>(small) == value) {
        if (small_[small] < 0) {
          small_[small] = static_cast<std::int32_t>(numbers.size());
          numbers.push_back(value);
        }
        return small_[small];
      }
    }
    if (has_last_ && value == last_value_) return last_place_;
    const auto [at, added] = hashed_.emplace(value, static_cast<std::int32_t>(numbers.size()));
    if (added) numbers.push_back(value);
    has_last_ = true;
    last_value_ = value;
    last_place_ = at->second;
    return last_place_;
  }

 private:
  static constexpr std::size_t kSmall = 256;
  static constexpr std::array<std::int32_t, kSmall> None() {
    std::array<std::int32_t, kSmall> none{};
    for (std::int32_t& place : none) place = -1;
    return none;
  }
  std::array<std::int32_t, kSmall> small_ = None();
  bool has_last_ = false;
  double last_value_ = 0;
  std::int32_t last_place_ = 0;
  std::unordered_map<double, std::int32_t> hashed_;
};

// A data file read whole: its columns in file order, each with rows values.
struct TabularFile {
  std::vector<TabularColumn> columns;
  std::int64_t rows = 0;
};

// Reads the data file at path (the full name, prefix included) of the given kind (not kNone).
// Any fault of the file (it cannot be opened, is damaged or truncated, is in an encoding that
// cannot be converted to UTF-8, has rows of unequal length) stops the run with a message that
// names the file as `name` (as the input names it): "  Error: data file NAME: " and the fault;
// nothing of it is kept. With wanted names, the SPSS, Stata and SAS readers read only the
// columns whose names equal one of them apart from case. A build without the reader of the binary
// formats stops with "  Error: reading .sav files is not available in this build" (the file's own
// ending in place of .sav).
TabularFile ReadTabularFile(const std::string& path, const std::string& name, TabularKind kind,
                            const std::vector<std::string>& wanted = {});

}  // namespace tav

#endif  // TAV_ENGINE_DATA_TABULAR_FILE_H_
