// The reader of SPSS, Stata and SAS data files, on the format library where the build has it.

#include "data/readstat_reader.h"

#include "core/stop_run.h"

#if defined(TAV_HAVE_READSTAT)

#include <readstat.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tav {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// What the library's handlers fill while a file is parsed.
struct Parse {
  TabularFile file;
  std::int64_t declared_rows = -1;        // the row count the file gives, -1 when it gives none
  std::vector<std::string> label_set_of;  // per column, the name of its value labels
  std::map<std::string, std::vector<std::pair<double, std::string>>> number_labels;
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> text_labels;
  std::vector<std::unordered_map<std::string, std::int32_t>> text_index;  // per column
  std::vector<DistinctNumbers> number_index;
  std::vector<bool> missing_ranges;  // per column: it has user-defined missing values
  // The columns asked for, in lower case (all when empty), and per variable of the file its
  // place among the columns read, -1 when it is left out.
  std::vector<std::string> wanted;
  std::vector<int> position_of;
  bool Wanted(const std::string& name) const {
    if (wanted.empty()) return true;
    return std::find(wanted.begin(), wanted.end(), Lower(name)) != wanted.end();
  }
  std::string fault;  // why a handler stopped the parse
  std::string library_message;
};

int OnMetadata(readstat_metadata_t* metadata, void* context) {
  auto& parse = *static_cast<Parse*>(context);
  parse.declared_rows = readstat_get_row_count(metadata);
  return READSTAT_HANDLER_OK;
}

int OnVariable(int index, readstat_variable_t* variable, const char* label_set, void* context) {
  auto& parse = *static_cast<Parse*>(context);
  try {
    if (index != static_cast<int>(parse.position_of.size())) {
      parse.fault = "its variables are out of order";
      return READSTAT_HANDLER_ABORT;
    }
    const char* name = readstat_variable_get_name(variable);
    if (!parse.Wanted(name != nullptr ? name : "")) {
      parse.position_of.push_back(-1);
      return READSTAT_HANDLER_SKIP_VARIABLE;
    }
    parse.position_of.push_back(static_cast<int>(parse.file.columns.size()));
    TabularColumn column;
    const char* label = readstat_variable_get_label(variable);
    column.name = name != nullptr ? name : "";
    column.label = label != nullptr ? label : "";
    column.is_string = readstat_variable_get_type_class(variable) == READSTAT_TYPE_CLASS_STRING;
    if (parse.declared_rows > 0) {
      // Room for the rows the file says it has, up to a million: a damaged header may claim
      // any number, and the values read decide.
      const auto rows =
          static_cast<std::size_t>(std::min<std::int64_t>(parse.declared_rows, 1 << 20));
      column.missing.reserve(rows);
      column.value_of.reserve(rows);
    }
    parse.file.columns.push_back(std::move(column));
    parse.label_set_of.emplace_back(label_set != nullptr ? label_set : "");
    parse.text_index.emplace_back();
    parse.number_index.emplace_back();
    parse.missing_ranges.push_back(readstat_variable_get_missing_ranges_count(variable) > 0);
  } catch (const std::exception&) {
    parse.fault = "it is too large to read";
    return READSTAT_HANDLER_ABORT;
  }
  return READSTAT_HANDLER_OK;
}

int OnValue(int row, readstat_variable_t* variable, readstat_value_t value, void* context) {
  auto& parse = *static_cast<Parse*>(context);
  const int variable_index = readstat_variable_get_index(variable);
  if (variable_index < 0 || variable_index >= static_cast<int>(parse.position_of.size())) {
    parse.fault = "a value of an unknown variable";
    return READSTAT_HANDLER_ABORT;
  }
  const int index = parse.position_of[static_cast<std::size_t>(variable_index)];
  if (index < 0) return READSTAT_HANDLER_OK;  // a column left out
  TabularColumn& column = parse.file.columns[static_cast<std::size_t>(index)];
  if (row < 0 || static_cast<std::size_t>(row) != column.missing.size()) {
    parse.fault = "its records are out of order";
    return READSTAT_HANDLER_ABORT;
  }
  try {
    // User-defined missing values only where the variable has some.
    bool missing = readstat_value_is_system_missing(value) != 0 ||
                   readstat_value_is_tagged_missing(value) != 0 ||
                   (parse.missing_ranges[static_cast<std::size_t>(index)] &&
                    readstat_value_is_defined_missing(value, variable) != 0);
    if (column.is_string) {
      const char* text = readstat_string_value(value);
      if (text == nullptr || text[0] == '\0') missing = true;
      std::int32_t at = 0;
      if (!missing) {
        const auto [found, added] = parse.text_index[static_cast<std::size_t>(index)].emplace(
            text, static_cast<std::int32_t>(column.texts.size()));
        if (added) column.texts.emplace_back(text);
        at = found->second;
      }
      column.value_of.push_back(at);
    } else {
      column.value_of.push_back(missing ? 0
                                        : parse.number_index[static_cast<std::size_t>(index)].Place(
                                              readstat_double_value(value), column.numbers));
    }
    column.missing.push_back(missing ? 1 : 0);
  } catch (const std::exception&) {
    parse.fault = "it is too large to read";
    return READSTAT_HANDLER_ABORT;
  }
  return READSTAT_HANDLER_OK;
}

int OnValueLabel(const char* label_set, readstat_value_t value, const char* label, void* context) {
  auto& parse = *static_cast<Parse*>(context);
  if (label_set == nullptr || label == nullptr) return READSTAT_HANDLER_OK;
  try {
    if (readstat_value_type_class(value) == READSTAT_TYPE_CLASS_STRING) {
      const char* text = readstat_string_value(value);
      if (text != nullptr) parse.text_labels[label_set].emplace_back(text, label);
    } else if (!readstat_value_is_system_missing(value) &&
               !readstat_value_is_tagged_missing(value)) {
      parse.number_labels[label_set].emplace_back(readstat_double_value(value), label);
    }
  } catch (const std::exception&) {
    parse.fault = "it is too large to read";
    return READSTAT_HANDLER_ABORT;
  }
  return READSTAT_HANDLER_OK;
}

void OnError(const char* message, void* context) {
  auto& parse = *static_cast<Parse*>(context);
  if (message != nullptr && parse.library_message.empty()) parse.library_message = message;
}

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  StopRun("  Error: data file " + path + ": " + what);
}

// The library's text for an error, and what it means for the user.
std::string Reason(readstat_error_t error) {
  switch (error) {
    case READSTAT_ERROR_READ:
    case READSTAT_ERROR_SEEK:
      return "it is truncated or cannot be read";
    case READSTAT_ERROR_CONVERT:
    case READSTAT_ERROR_CONVERT_BAD_STRING:
    case READSTAT_ERROR_CONVERT_SHORT_STRING:
    case READSTAT_ERROR_CONVERT_LONG_STRING:
    case READSTAT_ERROR_UNSUPPORTED_CHARSET:
      return "its text is in an encoding that cannot be converted to UTF-8";
    default:
      break;
  }
  const char* text = readstat_error_message(error);
  return "it is damaged (" + std::string(text != nullptr ? text : "unreadable") + ")";
}

}  // namespace

TabularFile ReadStatisticalFile(const std::string& path, const std::string& name, TabularKind kind,
                                const std::vector<std::string>& wanted) {
  std::unique_ptr<readstat_parser_t, void (*)(readstat_parser_t*)> parser(readstat_parser_init(),
                                                                          readstat_parser_free);
  if (parser == nullptr) StopRun("  Error: problem too big to fit in memory");
  Parse parse;
  for (const std::string& column : wanted) parse.wanted.push_back(Lower(column));
  readstat_parser_t* p = parser.get();
  readstat_set_metadata_handler(p, OnMetadata);
  readstat_set_variable_handler(p, OnVariable);
  readstat_set_value_handler(p, OnValue);
  readstat_set_value_label_handler(p, OnValueLabel);
  readstat_set_error_handler(p, OnError);
  readstat_set_handler_character_encoding(p, "UTF-8");

  readstat_error_t error = READSTAT_OK;
  switch (kind) {
    case TabularKind::kSpss:
      error = readstat_parse_sav(p, path.c_str(), &parse);
      break;
    case TabularKind::kPortable:
      error = readstat_parse_por(p, path.c_str(), &parse);
      break;
    case TabularKind::kStata:
      error = readstat_parse_dta(p, path.c_str(), &parse);
      break;
    case TabularKind::kSas:
      error = readstat_parse_sas7bdat(p, path.c_str(), &parse);
      break;
    case TabularKind::kTransport:
      error = readstat_parse_xport(p, path.c_str(), &parse);
      break;
    default:
      Fail(name, "it is not a data file of a known kind");
  }
  if (!parse.fault.empty()) Fail(name, parse.fault);
  // A transport file is made of records of 80 bytes: a part of one is a truncated file, which
  // the library may not notice.
  if (kind == TabularKind::kTransport && error == READSTAT_OK) {
    std::error_code size_error;
    const std::uintmax_t size = std::filesystem::file_size(path, size_error);
    if (size_error || size % 80 != 0) Fail(name, "it is truncated");
  }
  if (error == READSTAT_ERROR_OPEN) StopRun("  Error: cannot open file " + path);
  if (error != READSTAT_OK) Fail(name, Reason(error));

  TabularFile& file = parse.file;
  if (parse.position_of.empty()) Fail(name, "it has no variables");
  // None of the columns asked for: the caller names the first as unknown.
  if (file.columns.empty()) return std::move(parse.file);
  file.rows = static_cast<std::int64_t>(file.columns.front().missing.size());
  for (const TabularColumn& column : file.columns) {
    if (static_cast<std::int64_t>(column.missing.size()) != file.rows) {
      Fail(name, "it is truncated (its last record is incomplete)");
    }
  }
  if (parse.declared_rows >= 0 && parse.declared_rows != file.rows) {
    Fail(name, "it is truncated (" + std::to_string(file.rows) + " of its " +
                   std::to_string(parse.declared_rows) + " records)");
  }
  for (std::size_t c = 0; c < file.columns.size(); ++c) {
    const std::string& set = parse.label_set_of[c];
    if (set.empty()) continue;
    TabularColumn& column = file.columns[c];
    if (column.is_string) {
      const auto at = parse.text_labels.find(set);
      if (at != parse.text_labels.end()) column.text_labels = at->second;
    } else {
      const auto at = parse.number_labels.find(set);
      if (at != parse.number_labels.end()) column.number_labels = at->second;
    }
  }
  return std::move(parse.file);
}

}  // namespace tav

#else  // no format library in this build

namespace tav {

TabularFile ReadStatisticalFile(const std::string&, const std::string& name, TabularKind,
                                const std::vector<std::string>&) {
  StopRun("  Error: reading " + ExtensionOf(name) + " files is not available in this build");
}

}  // namespace tav

#endif
