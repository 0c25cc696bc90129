// The reader of comma- and tab-separated files with a header row.

#include "data/csv_reader.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <deque>
#include <fstream>
#include <iterator>
#include <set>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/stop_run.h"

namespace tav {
namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& what) {
  StopRun("  Error: data file " + path + ": " + what);
}

// True when text is UTF-8 (no overlong forms, surrogates or values above U+10FFFF).
bool IsUtf8(std::string_view text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    int more = 0;
    std::uint32_t value = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      more = 1;
      value = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      more = 2;
      value = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      more = 3;
      value = c & 0x07;
    } else {
      return false;
    }
    for (int k = 1; k <= more; ++k) {
      if (i + k >= n) return false;
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      value = (value << 6) | (next & 0x3F);
    }
    if ((more == 2 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))) ||
        (more == 3 && (value < 0x10000 || value > 0x10FFFF))) {
      return false;
    }
    i += static_cast<std::size_t>(more) + 1;
  }
  return true;
}

// One field as read: its text (quotes removed, doubled quotes made single) and whether it was
// quoted.
struct Field {
  std::string_view text;
  bool quoted = false;
};

// Walks the rows of the file; calls row(fields, line) for each non-empty line, line being the
// number (from 1) of the line the row begins on.
class Scanner {
 public:
  Scanner(const std::string& path, std::string_view text, char separator)
      : path_(path), text_(text), separator_(separator) {}

  template <typename RowFn>
  void Rows(RowFn row) {
    std::size_t at = 0;
    std::int64_t line = 1;
    std::vector<Field> fields;
    while (at < text_.size()) {
      const std::int64_t first_line = line;
      fields.clear();
      bool line_end = false;
      while (!line_end) {
        Field field;
        if (at < text_.size() && text_[at] == '"') {
          field.quoted = true;
          ++at;
          std::size_t start = at;
          bool escaped = false;
          for (;; ++at) {
            if (at >= text_.size()) Fail(path_, "a quoted field is not closed");
            if (text_[at] == '"') {
              if (at + 1 < text_.size() && text_[at + 1] == '"') {
                escaped = true;
                ++at;
                continue;
              }
              break;
            }
            if (text_[at] == '\n') ++line;
          }
          field.text = text_.substr(start, at - start);
          if (escaped) {
            unquoted_.emplace_back();
            std::string& own = unquoted_.back();
            for (std::size_t k = 0; k < field.text.size(); ++k) {
              own.push_back(field.text[k]);
              if (field.text[k] == '"') ++k;
            }
            field.text = own;
          }
          ++at;  // the closing quote
          if (at < text_.size() && text_[at] != separator_ && text_[at] != '\n' &&
              text_[at] != '\r') {
            Fail(path_, "a character follows a closing quote at line " + std::to_string(line));
          }
        } else {
          const std::size_t start = at;
          while (at < text_.size() && text_[at] != separator_ && text_[at] != '\n') ++at;
          std::size_t end = at;
          if (end > start && text_[end - 1] == '\r') --end;
          field.text = text_.substr(start, end - start);
        }
        fields.push_back(field);
        if (at < text_.size() && text_[at] == '\r') ++at;
        if (at >= text_.size() || text_[at] == '\n') {
          line_end = true;
          if (at < text_.size()) ++at;
          ++line;
        } else {
          ++at;  // the separator
        }
      }
      if (fields.size() == 1 && !fields[0].quoted && fields[0].text.empty()) continue;
      row(fields, first_line);
      if (unquoted_.size() > 4096) unquoted_.clear();
    }
  }

 private:
  const std::string& path_;
  std::string_view text_;
  char separator_;
  std::deque<std::string> unquoted_;
};

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool IsMissing(const Field& field) {
  if (field.text.empty()) return true;
  return !field.quoted && Trimmed(field.text) == "NA";
}

// The number a field reads as whole, or false.
bool ReadsAsNumber(std::string_view text, double& value) {
  text = Trimmed(text);
  if (text.empty()) return false;
  if (text.front() == '+') text.remove_prefix(1);
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && stop == end && std::isfinite(value);
}

}  // namespace

TabularFile ReadCsvFile(const std::string& path, const std::string& name, char separator) {
  std::string content;
  {
    std::ifstream in(path, std::ios::binary);
    if (!in) StopRun("  Error: cannot open file " + path);
    content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) Fail(name, "it cannot be read");
  }
  std::string_view text = content;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  if (!IsUtf8(text)) Fail(name, "it is not in UTF-8, the encoding a CSV file is read in");

  TabularFile file;
  // First pass: the header, the shape of every row, and which columns are numeric.
  std::vector<bool> numeric;
  Scanner scanner(name, text, separator);
  bool header = true;
  scanner.Rows([&](const std::vector<Field>& fields, std::int64_t line) {
    if (header) {
      std::set<std::string> seen;
      for (const Field& field : fields) {
        TabularColumn column;
        column.name = std::string(Trimmed(field.text));
        if (column.name.empty()) Fail(name, "a column without a name in the header");
        if (!seen.insert(column.name).second) {
          Fail(name, "two columns are named " + column.name);
        }
        file.columns.push_back(std::move(column));
      }
      numeric.assign(fields.size(), true);
      header = false;
      return;
    }
    if (fields.size() != file.columns.size()) {
      Fail(name, "line " + std::to_string(line) + " has " + std::to_string(fields.size()) +
                     " fields, the header " + std::to_string(file.columns.size()));
    }
    double value = 0;
    for (std::size_t c = 0; c < fields.size(); ++c) {
      if (numeric[c] && !IsMissing(fields[c]) && !ReadsAsNumber(fields[c].text, value)) {
        numeric[c] = false;
      }
    }
    ++file.rows;
  });
  if (header) Fail(name, "it has no header row");

  for (std::size_t c = 0; c < file.columns.size(); ++c) {
    TabularColumn& column = file.columns[c];
    column.is_string = !numeric[c];
    column.missing.reserve(static_cast<std::size_t>(file.rows));
    column.value_of.reserve(static_cast<std::size_t>(file.rows));
  }
  // Second pass: the values.
  std::vector<std::unordered_map<std::string, std::int32_t>> text_index(file.columns.size());
  std::vector<DistinctNumbers> number_index(file.columns.size());
  header = true;
  scanner.Rows([&](const std::vector<Field>& fields, std::int64_t) {
    if (header) {
      header = false;
      return;
    }
    for (std::size_t c = 0; c < fields.size(); ++c) {
      TabularColumn& column = file.columns[c];
      const bool missing = IsMissing(fields[c]);
      column.missing.push_back(missing ? 1 : 0);
      if (missing) {
        column.value_of.push_back(0);
      } else if (!column.is_string) {
        double value = 0;
        ReadsAsNumber(fields[c].text, value);
        column.value_of.push_back(number_index[c].Place(value, column.numbers));
      } else {
        const std::string key(fields[c].text);
        const auto [at, added] =
            text_index[c].emplace(key, static_cast<std::int32_t>(column.texts.size()));
        if (added) column.texts.push_back(key);
        column.value_of.push_back(at->second);
      }
    }
  });
  return file;
}

}  // namespace tav
