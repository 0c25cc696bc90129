// The step from the columns of a data file to the fields of the records.

#include "data/record_columns.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <set>
#include <utility>

#include "core/stop_run.h"

namespace tav {
namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();
// How many of a column's values a message about them shows.
constexpr std::size_t kValuesShown = 5;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The column of name: the one of exactly that name, else the only one of that name apart from
// case.
std::size_t FindColumn(const TabularFile& file, const std::string& name,
                       const std::string& file_name) {
  for (std::size_t c = 0; c < file.columns.size(); ++c) {
    if (file.columns[c].name == name) return c;
  }
  std::size_t found = file.columns.size();
  for (std::size_t c = 0; c < file.columns.size(); ++c) {
    if (Lower(file.columns[c].name) != Lower(name)) continue;
    if (found != file.columns.size()) {
      StopRun("  Error: column " + name + " of data file " + file_name +
              " matches several columns that differ in case only");
    }
    found = c;
  }
  if (found == file.columns.size()) {
    StopRun("  Error: unknown column " + name + " in data file " + file_name);
  }
  return found;
}

// A number as the report writes a value: the shortest text that reads back as it.
std::string NumberText(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

// The distinct values of a numeric column (not missing), ascending; at most `most` + 1 of them
// unless all are asked for (most < 0).
std::vector<double> DistinctNumbers(const TabularColumn& column, std::int64_t rows, int most) {
  std::vector<double> distinct;
  double last = kMissing;
  for (std::int64_t r = 0; r < rows; ++r) {
    if (column.missing[r] != 0) continue;
    const double value = column.numbers[r];
    if (value == last) continue;
    last = value;
    if (std::find(distinct.begin(), distinct.end(), value) != distinct.end()) continue;
    distinct.push_back(value);
    if (most >= 0 && static_cast<int>(distinct.size()) > most) break;
  }
  std::sort(distinct.begin(), distinct.end());
  return distinct;
}

// The indices of the texts of a string column that some record holds, in ascending order of
// text.
std::vector<std::int32_t> DistinctTexts(const TabularColumn& column, std::int64_t rows) {
  std::vector<std::uint8_t> used(column.texts.size(), 0);
  for (std::int64_t r = 0; r < rows; ++r) {
    if (column.missing[r] == 0) used[static_cast<std::size_t>(column.text_of[r])] = 1;
  }
  std::vector<std::int32_t> distinct;
  for (std::size_t t = 0; t < used.size(); ++t) {
    if (used[t] != 0) distinct.push_back(static_cast<std::int32_t>(t));
  }
  std::sort(distinct.begin(), distinct.end(), [&](std::int32_t a, std::int32_t b) {
    return column.texts[static_cast<std::size_t>(a)] < column.texts[static_cast<std::size_t>(b)];
  });
  return distinct;
}

[[noreturn]] void TooManyValues(const std::string& column, std::size_t count,
                                const std::vector<std::string>& first, int categories,
                                const std::string& variable) {
  std::string message = "  Error in data: column " + column + " has " + std::to_string(count) +
                        " distinct values, more than the " + std::to_string(categories) +
                        " categories of " + variable + ":";
  for (std::size_t i = 0; i < first.size() && i < kValuesShown; ++i) message += " " + first[i];
  if (count > kValuesShown) message += " ...";
  StopRun(message);
}

// The categories of a manifest variable's column: the record values, and its source.
std::vector<double> Categories(const TabularColumn& column, std::int64_t rows, int dimension,
                               const std::string& variable, VariableSource& source) {
  std::vector<double> codes(static_cast<std::size_t>(rows), kMissing);
  if (!column.is_string) {
    std::vector<double> distinct = DistinctNumbers(column, rows, dimension);
    if (static_cast<int>(distinct.size()) > dimension) {
      distinct = DistinctNumbers(column, rows, -1);
      std::vector<std::string> first;
      for (std::size_t i = 0; i < distinct.size() && i < kValuesShown; ++i) {
        first.push_back(NumberText(distinct[i]));
      }
      TooManyValues(column.name, distinct.size(), first, dimension, variable);
    }
    for (std::size_t i = 0; i < distinct.size(); ++i) {
      VariableSource::Category category;
      category.code = static_cast<int>(i) + 1;
      category.value = NumberText(distinct[i]);
      for (const auto& [value, label] : column.number_labels) {
        if (value == distinct[i]) category.label = label;
      }
      source.categories.push_back(std::move(category));
    }
    double last_value = kMissing;
    double last_code = kMissing;
    for (std::int64_t r = 0; r < rows; ++r) {
      if (column.missing[r] != 0) continue;
      const double value = column.numbers[r];
      if (value != last_value) {
        last_value = value;
        last_code = static_cast<double>(std::lower_bound(distinct.begin(), distinct.end(), value) -
                                        distinct.begin() + 1);
      }
      codes[static_cast<std::size_t>(r)] = last_code;
    }
    return codes;
  }
  const std::vector<std::int32_t> distinct = DistinctTexts(column, rows);
  if (static_cast<int>(distinct.size()) > dimension) {
    std::vector<std::string> first;
    for (std::size_t i = 0; i < distinct.size() && i < kValuesShown; ++i) {
      first.push_back("\"" + column.texts[static_cast<std::size_t>(distinct[i])] + "\"");
    }
    TooManyValues(column.name, distinct.size(), first, dimension, variable);
  }
  std::vector<double> code_of_text(column.texts.size(), kMissing);
  for (std::size_t i = 0; i < distinct.size(); ++i) {
    const std::string& text = column.texts[static_cast<std::size_t>(distinct[i])];
    code_of_text[static_cast<std::size_t>(distinct[i])] = static_cast<double>(i + 1);
    VariableSource::Category category;
    category.code = static_cast<int>(i) + 1;
    category.value = text;
    for (const auto& [value, label] : column.text_labels) {
      if (value == text) category.label = label;
    }
    source.categories.push_back(std::move(category));
  }
  for (std::int64_t r = 0; r < rows; ++r) {
    if (column.missing[r] == 0) {
      codes[static_cast<std::size_t>(r)] =
          code_of_text[static_cast<std::size_t>(column.text_of[r])];
    }
  }
  return codes;
}

// The numbers of a column as a record reads them; texts that are not numbers are missing.
std::vector<double> Numbers(TabularColumn& column, std::int64_t rows) {
  std::vector<double> values;
  if (!column.is_string) {
    values = column.numbers;
  } else {
    values.assign(static_cast<std::size_t>(rows), kMissing);
    std::vector<double> number_of_text(column.texts.size(), kMissing);
    for (std::size_t t = 0; t < column.texts.size(); ++t) {
      const std::string& text = column.texts[t];
      double value = 0;
      const char* end = text.data() + text.size();
      const auto [stop, error] = std::from_chars(text.data(), end, value);
      if (error == std::errc() && stop == end && std::isfinite(value)) number_of_text[t] = value;
    }
    for (std::int64_t r = 0; r < rows; ++r) {
      values[static_cast<std::size_t>(r)] =
          number_of_text[static_cast<std::size_t>(column.text_of[r])];
    }
  }
  values.resize(static_cast<std::size_t>(rows));
  for (std::int64_t r = 0; r < rows; ++r) {
    if (column.missing[r] != 0) values[static_cast<std::size_t>(r)] = kMissing;
  }
  return values;
}

}  // namespace

RecordColumns ColumnsToRecords(TabularFile&& file, const std::vector<std::string>& columns,
                               DataRun& run, const std::string& file_name) {
  const ModelState& model = run.model;
  const EventHistoryState& history = run.history;
  const int manifest = std::clamp(model.ManifestCount, 0, kVectorSize);
  const int covariates = std::max(model.CovariateCount, 0);
  const int categories = covariates > 0 ? manifest - 1 : manifest;
  const int fixed = categories + covariates + (history.RecordCountGiven ? 1 : 0);

  std::vector<std::string> names = columns;
  if (names.empty()) {
    if (fixed != categories || history.HazardModel) {
      StopRun("  Error: the columns of the counts, covariates and event histories of data file " +
              file_name + " must be named with col");
    }
    for (int k = 0; k < categories; ++k) {
      names.push_back(model.VariableLabel[model.FirstManifest() + k]);
    }
  }
  if (static_cast<int>(names.size()) < fixed ||
      (!history.HazardModel && static_cast<int>(names.size()) != fixed)) {
    StopRun("  Error: col names " + std::to_string(names.size()) + " columns, a record has " +
            std::to_string(fixed) + (history.HazardModel ? " and more" : ""));
  }

  RecordColumns records;
  records.records = file.rows;
  if (history.RecordFormat && history.RecordCount > 0) {
    if (history.RecordCount > file.rows) {
      StopRun("  Error: data file " + file_name + " has " + std::to_string(file.rows) +
              " records, rec asks for " + std::to_string(history.RecordCount));
    }
    records.records = history.RecordCount;
  }
  if (records.records == 0) StopRun("  Error: data file " + file_name + " has no records");
  records.category_fields = categories;
  std::vector<std::size_t> at;
  for (const std::string& name : names) at.push_back(FindColumn(file, name, file_name));

  DataStore& data = run.data;
  data.sources.clear();
  data.source_file = file_name;
  for (std::size_t f = 0; f < names.size(); ++f) {
    TabularColumn& column = file.columns[at[f]];
    records.names.push_back(column.name);
    if (static_cast<int>(f) < categories) {
      const int v = model.FirstManifest() + static_cast<int>(f);
      VariableSource source;
      source.variable = v;
      source.column = column.name;
      source.column_label = column.label;
      records.values.push_back(
          Categories(column, records.records, model.Dimension[v], model.VariableLabel[v], source));
      data.sources.push_back(std::move(source));
    } else {
      records.values.push_back(Numbers(column, records.records));
    }
  }
  return records;
}

}  // namespace tav
