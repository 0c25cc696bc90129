#ifndef TAV_ENGINE_DATA_TABULAR_FILE_H_
#define TAV_ENGINE_DATA_TABULAR_FILE_H_

#include <cstdint>
#include <string>
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

// One column of a data file. A numeric column holds numbers, a string column holds text; a
// value that the file marks as missing (system-missing, a user-defined missing value, an
// empty CSV field or "NA") has missing[row] = 1, and its number or text is then of no use.
struct TabularColumn {
  std::string name;
  std::string label;  // the variable label, empty when the file has none
  bool is_string = false;
  std::vector<double> numbers;        // per row, numeric columns
  std::vector<std::int32_t> text_of;  // per row, string columns: an index into texts
  std::vector<std::string> texts;     // the distinct texts of a string column, first seen first
  std::vector<std::uint8_t> missing;  // per row
  // The value labels of the column: value, label (numbers for numeric columns, texts for
  // string columns).
  std::vector<std::pair<double, std::string>> number_labels;
  std::vector<std::pair<std::string, std::string>> text_labels;
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
// nothing of it is kept. A build without the reader of the binary formats
// stops with "  Error: reading .sav files is not available in this build" (the file's own
// ending in place of .sav).
TabularFile ReadTabularFile(const std::string& path, const std::string& name, TabularKind kind);

}  // namespace tav

#endif  // TAV_ENGINE_DATA_TABULAR_FILE_H_
