// The step from the columns of a data file to the fields of the records.

#include "data/record_columns.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "core/stop_run.h"

namespace tav {
namespace {

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

// The places (among the column's distinct values) that some record up to `rows` holds.
std::vector<std::int32_t> UsedPlaces(const TabularColumn& column, std::int64_t rows,
                                     std::size_t distinct) {
  std::vector<std::uint8_t> used(distinct, 0);
  for (std::int64_t r = 0; r < rows; ++r) {
    if (column.missing[r] == 0) used[static_cast<std::size_t>(column.value_of[r])] = 1;
  }
  std::vector<std::int32_t> places;
  for (std::size_t t = 0; t < distinct; ++t) {
    if (used[t] != 0) places.push_back(static_cast<std::int32_t>(t));
  }
  return places;
}

// Per record the place of its value, -1 when missing; taken from the column.
std::vector<std::int32_t> Places(TabularColumn& column, std::int64_t rows) {
  std::vector<std::int32_t> place = std::move(column.value_of);
  place.resize(static_cast<std::size_t>(rows));
  for (std::int64_t r = 0; r < rows; ++r) {
    if (column.missing[r] != 0) place[static_cast<std::size_t>(r)] = -1;
  }
  return place;
}

// The field of a manifest variable's column: the categories 1 to k of its distinct values in
// ascending order, and its source.
RecordColumns::Field Categories(TabularColumn& column, std::int64_t rows, int dimension,
                                const std::string& variable, VariableSource& source) {
  const std::size_t distinct = column.is_string ? column.texts.size() : column.numbers.size();
  std::vector<std::int32_t> used = UsedPlaces(column, rows, distinct);
  if (column.is_string) {
    std::sort(used.begin(), used.end(), [&](std::int32_t a, std::int32_t b) {
      return column.texts[static_cast<std::size_t>(a)] < column.texts[static_cast<std::size_t>(b)];
    });
  } else {
    std::sort(used.begin(), used.end(), [&](std::int32_t a, std::int32_t b) {
      return column.numbers[static_cast<std::size_t>(a)] <
             column.numbers[static_cast<std::size_t>(b)];
    });
  }
  auto text = [&](std::int32_t at) {
    return column.is_string ? column.texts[static_cast<std::size_t>(at)]
                            : NumberText(column.numbers[static_cast<std::size_t>(at)]);
  };
  if (static_cast<int>(used.size()) > dimension) {
    std::vector<std::string> first;
    for (std::size_t i = 0; i < used.size() && i < kValuesShown; ++i) {
      first.push_back(column.is_string ? "\"" + text(used[i]) + "\"" : text(used[i]));
    }
    TooManyValues(column.name, used.size(), first, dimension, variable);
  }
  RecordColumns::Field field;
  field.name = column.name;
  field.values.assign(distinct, std::numeric_limits<double>::quiet_NaN());
  for (std::size_t i = 0; i < used.size(); ++i) {
    const auto at = static_cast<std::size_t>(used[i]);
    field.values[at] = static_cast<double>(i + 1);
    VariableSource::Category category;
    category.code = static_cast<int>(i) + 1;
    category.value = text(used[i]);
    if (column.is_string) {
      for (const auto& [value, label] : column.text_labels) {
        if (value == column.texts[at]) category.label = label;
      }
    } else {
      for (const auto& [value, label] : column.number_labels) {
        if (value == column.numbers[at]) category.label = label;
      }
    }
    source.categories.push_back(std::move(category));
  }
  field.place = Places(column, rows);
  return field;
}

// The field of a column read as numbers; texts that are not numbers are NaN.
RecordColumns::Field Numbers(TabularColumn& column, std::int64_t rows) {
  RecordColumns::Field field;
  field.name = column.name;
  if (!column.is_string) {
    field.values = std::move(column.numbers);
  } else {
    field.values.assign(column.texts.size(), std::numeric_limits<double>::quiet_NaN());
    for (std::size_t t = 0; t < column.texts.size(); ++t) {
      const std::string& text = column.texts[t];
      double value = 0;
      const char* end = text.data() + text.size();
      const auto [stop, error] = std::from_chars(text.data(), end, value);
      if (error == std::errc() && stop == end && std::isfinite(value)) field.values[t] = value;
    }
  }
  field.place = Places(column, rows);
  return field;
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

  std::vector<std::size_t> at;
  for (const std::string& name : names) at.push_back(FindColumn(file, name, file_name));
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

  DataStore& data = run.data;
  data.sources.clear();
  data.source_file = file_name;
  for (std::size_t f = 0; f < names.size(); ++f) {
    // A column named for two fields is taken apart for each.
    const auto named = static_cast<std::size_t>(std::count(at.begin(), at.end(), at[f]));
    TabularColumn copy;
    if (named > 1) copy = file.columns[at[f]];
    TabularColumn& column = named > 1 ? copy : file.columns[at[f]];
    if (static_cast<int>(f) < categories) {
      const int v = model.FirstManifest() + static_cast<int>(f);
      VariableSource source;
      source.variable = v;
      source.column = column.name;
      source.column_label = column.label;
      records.fields.push_back(
          Categories(column, records.records, model.Dimension[v], model.VariableLabel[v], source));
      data.sources.push_back(std::move(source));
    } else {
      records.fields.push_back(Numbers(column, records.records));
    }
  }
  return records;
}

}  // namespace tav
