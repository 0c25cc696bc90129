#include "input/reader.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "core/stop_run.h"

namespace tav {
namespace {

constexpr std::size_t kMaxWord = 80;

bool IsSeparator(int c) { return c <= ' ' || c == ','; }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }
bool EndsWord(int c) {
  return c <= ' ' || c == ',' || c == '{' || c == '[' || c == '(' || c == ')' || c == '*' ||
         c == '}';
}

// True when c may end a number: a separator, a comment's "*", a comma that is not followed
// directly by more of a number ("10, 20" is two numbers; "1,000" is neither one nor two), and
// outside the data and design files the brackets that the input language writes next to
// numbers ("[1 2 3]", "cov(MS 1)", "tim 3[0 2 5]").
bool EndsNumber(const RunContext& run, TextFile& file, int c) {
  if (c <= ' ' || c == '*') return true;
  if (c == ',') {
    const int next = file.Peek();
    return !IsDigit(next) && next != '.' && next != '-';
  }
  const bool bracket = c == '[' || c == ']' || c == '(' || c == ')' || c == '{' || c == '}';
  return bracket && &file != &run.DataFile && &file != &run.DataFile2;
}

// Stops the run on a number that runs on into other characters ("7o", "7x9", "7-3", "1,000"),
// naming the text read and where it stands. c is the character after the number's digits;
// text is the number as collected, or empty when it was the whole number value.
[[noreturn]] void RefuseNumber(const Reader& reader, const RunContext& run, TextFile& file,
                               double value, const std::string& text, int c) {
  constexpr std::size_t kShown = 40;
  std::string shown = text.empty() ? std::to_string(static_cast<std::int64_t>(value)) : text;
  while (c != TextFile::kEnd && c > ' ' && c != '*' && shown.size() < kShown) {
    shown += static_cast<char>(c);
    c = file.Get();
  }
  std::string where;
  if (file.WordLine() > 0) {
    // The input file is opened under its name as given, the files it names with their prefix.
    where = ", at line " + std::to_string(file.WordLine()) + " of " + file.path();
  }
  const bool data = reader.command == "data" || reader.command == "observed frequencies";
  if (data) StopRun("  Error in data: \"" + shown + "\" is not a number" + where);
  StopRun("  Error: \"" + shown + "\" is not a number when reading " + reader.command + where);
}

}  // namespace

bool IsNumberText(const std::string& text) {
  std::size_t i = text.size() > 0 && text[0] == '-' ? 1 : 0;
  int digits = 0;
  int points = 0;
  for (; i < text.size(); ++i) {
    if (IsDigitChar(text[i])) {
      ++digits;
    } else if (text[i] == '.') {
      ++points;
    } else {
      return false;
    }
  }
  return digits > 0 && points <= 1;
}

double NumberValue(const std::string& text) {
  const bool negative = text[0] == '-';
  std::size_t i = negative ? 1 : 0;
  if (text.size() - i <= 15) {
    std::int64_t whole = 0;
    for (; i < text.size() && IsDigitChar(text[i]); ++i) whole = whole * 10 + (text[i] - '0');
    if (i == text.size()) {
      const auto value = static_cast<double>(whole);
      return negative ? -value : value;
    }
  }
  double value = 0;
  const std::from_chars_result result =
      std::from_chars(text.data(), text.data() + text.size(), value);
  // Beyond the range of doubles: infinity or the nearest tiny value, as strtod gives.
  if (result.ec != std::errc()) return std::strtod(text.c_str(), nullptr);
  return value;
}

// A word of at most limit characters; *cut tells whether it was longer.
std::string ReadWordUpTo(TextFile& file, std::size_t limit, bool* cut) {
  std::string word;
  *cut = false;
  auto add = [&](int c) {
    if (word.size() < limit) {
      word += static_cast<char>(c);
    } else {
      *cut = true;
    }
  };
  while (word.empty() && !file.AtEnd()) {
    int c = file.Get();
    while (c != TextFile::kEnd && IsSeparator(c)) c = file.Get();
    if (c != TextFile::kEnd && c != '*') file.MarkWord();
    while (c != TextFile::kEnd && !EndsWord(c)) {
      add(c);
      c = file.Get();
    }
    if (c == '{' || c == '[' || c == '(' || c == ')' || c == '}') {
      add(c);
    } else if (c == '*') {
      file.SkipLine();
    }
  }
  if (word.empty()) file.MarkEnd();
  return word;
}

std::string ReadWord(TextFile& file) {
  bool cut = false;
  return ReadWordUpTo(file, kMaxWord, &cut);
}

std::string ReadFileName(TextFile& file) {
  bool cut = false;
  std::string name = ReadWordUpTo(file, kMaxFileName, &cut);
  if (cut) StopRun("  Error: file name longer than " + IntegerText(kMaxFileName) + " characters");
  return name;
}

double ReadReal(Reader& reader, const RunContext& run, TextFile& file) {
  int c = file.Get();
  for (;;) {
    while (c != TextFile::kEnd && c <= ' ') c = file.Get();
    if (c == '*' && !file.AtEnd()) {
      file.SkipLine();
      c = file.Get();
      continue;
    }
    break;
  }
  if (c == TextFile::kEnd) {
    file.MarkEnd();
  } else {
    file.MarkWord();
  }
  std::string text;
  double value = 0;
  // A whole number of at most 15 digits, the common datum, needs no text: its value is exact.
  bool whole = IsDigit(c);
  if (whole) {
    std::int64_t number = 0;
    int digits = 0;
    for (; IsDigit(c) && digits < 15; ++digits) {
      number = number * 10 + (c - '0');
      c = file.Get();
    }
    whole = !IsDigit(c) && c != '.';
    if (whole) {
      value = static_cast<double>(number);
    } else {
      text = std::to_string(number);
      text.insert(0, static_cast<std::size_t>(digits) - text.size(), '0');
    }
  } else if (c == '.') {
    text = "0";
  } else if (c == '-') {
    text = "-";
    c = file.Get();
    if (c == '.') text = "-0";
  }
  if (!whole) {
    while (c != TextFile::kEnd && (IsDigit(c) || c == '.')) {
      text += static_cast<char>(c);
      c = file.Get();
    }
    if (!IsNumberText(text)) {
      StopRun("  Error: too few numbers encountered when reading " + reader.command);
    }
    value = NumberValue(text);
  }
  if (!EndsNumber(run, file, c))
    RefuseNumber(reader, run, file, text.empty() ? value : 0.0, text, c);
  if (c == '*' && !file.AtEnd()) {
    file.SkipLine();
    c = ' ';
  }
  if (c == TextFile::kEnd) {
    reader.word.clear();
  } else {
    reader.word.assign(1, static_cast<char>(c));
  }
  return value;
}

std::int32_t ReadInteger(Reader& reader, const RunContext& run, TextFile& file) {
  const double value = ReadReal(reader, run, file);
  const double whole = std::trunc(value);
  if (whole != value) {
    StopRun("  Error: a real where an integer is expected when reading " + reader.command);
  }
  if (std::fabs(whole) > std::numeric_limits<std::int32_t>::max()) {
    StopRun("  Error: number too large when reading " + reader.command);
  }
  return static_cast<std::int32_t>(whole);
}

std::string ReadingPositionLine(const Reader& reader, const RunContext& run) {
  const bool in_other_file = run.DataFile.IsOpen();
  const TextFile& file = in_other_file ? run.DataFile : reader.input;
  if (!file.IsOpen() || file.WordLine() <= 0) return "";
  return "  at line " + std::to_string(file.WordLine()) + " of " +
         (in_other_file ? file.path() : run.InputFileName);
}

const std::string& ReadCurrentWord(Reader& reader) {
  reader.word = ReadWord(reader.input);
  return reader.word;
}

std::int32_t WordToInteger(const std::string& word) {
  std::size_t i = 0;
  bool negative = false;
  if (!word.empty() && word[0] == '-') {
    negative = true;
    i = 1;
  }
  std::int64_t value = 0;
  constexpr std::int64_t kLimit = std::numeric_limits<std::int32_t>::max();
  for (; i < word.size() && IsDigit(static_cast<unsigned char>(word[i])); ++i) {
    value = value * 10 + (word[i] - '0');
    if (value > kLimit) value = kLimit;
  }
  return static_cast<std::int32_t>(negative ? -value : value);
}

std::string IntegerText(int value) { return std::to_string(value < 0 ? 0 : value); }

void ParseTerm(const Reader& reader, const ModelState& model, const std::string& word,
               std::span<std::uint8_t> vector, int n, bool keep) {
  n = std::min<int>(n, static_cast<int>(vector.size()));
  if (!keep) std::fill(vector.begin(), vector.begin() + n, 0);
  if (reader.word == "-" || reader.word == "-}") return;
  auto is_stop = [](char c) { return c == '}' || c == '{' || c == ')' || c == '|' || c == '.'; };
  std::uint8_t mark = 1;
  std::size_t pos = 0;
  while (pos < word.size()) {
    std::string label;
    if (model.LongLabels) {
      while (pos < word.size() && !is_stop(word[pos])) label += word[pos++];
      label.resize(std::min<std::size_t>(label.size(), 3));
    } else if (!is_stop(word[pos])) {
      label = word.substr(pos++, 1);
    }
    if (!label.empty()) {
      int found = -1;
      for (int v = 0; v < n && found < 0; ++v) {
        if (model.VariableLabel[v] == label) found = v;
      }
      if (found < 0) {
        StopRun("  Error: wrong label (" + label + ") in " + reader.word + " in command " +
                reader.command);
      }
      if (vector[found] != 0) {
        StopRun("  Error: double label (" + label + ") in " + reader.word + " in command " +
                reader.command);
      }
      vector[found] = mark;
    }
    if (pos < word.size() && is_stop(word[pos])) {
      if (word[pos] == '|') mark = 2;
      ++pos;
    }
  }
}

}  // namespace tav
