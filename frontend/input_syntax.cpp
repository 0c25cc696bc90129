#include "input_syntax.h"

#include <QString>
#include <algorithm>
#include <string>

#include "input/command_table.h"

namespace tavwin {
namespace {

bool IsSeparator(QChar c) { return c.unicode() <= ' ' || c == ','; }
bool IsWordBracket(QChar c) { return c == '{' || c == '[' || c == '(' || c == ')' || c == '}'; }
bool EndsWord(QChar c) { return IsSeparator(c) || IsWordBracket(c) || c == '*'; }

}  // namespace

bool IsCommandWord(QStringView word) {
  if (word.isEmpty() || word.contains('.')) return false;
  const std::string text = word.toString().toStdString();
  return tav::IsCommand(text);
}

QString CommandAt(QStringView line, int column) {
  for (const InputSpan& span : ClassifyInputLine(line)) {
    if (span.kind == InputToken::kCommand && column >= span.start &&
        column <= span.start + span.length) {
      return line.mid(span.start, std::min(span.length, 3)).toString();
    }
  }
  return QString();
}

std::vector<InputSpan> ClassifyInputLine(QStringView line) {
  std::vector<InputSpan> spans;
  const int size = static_cast<int>(line.size());
  int i = 0;
  while (i < size) {
    const QChar c = line[i];
    if (c == '*') {
      spans.push_back({i, size - i, InputToken::kComment});
      break;
    }
    if (IsSeparator(c)) {
      ++i;
      continue;
    }
    if (IsWordBracket(c) || c == ']') {
      spans.push_back({i, 1, InputToken::kBracket});
      ++i;
      continue;
    }
    int end = i;
    while (end < size && !EndsWord(line[end]) && line[end] != ']') ++end;
    // "]" is an ordinary character to the engine: the word goes on through it.
    int word_end = end;
    while (word_end < size && !EndsWord(line[word_end])) ++word_end;
    // A bracket that ends the word belongs to it.
    const int taken = word_end < size && IsWordBracket(line[word_end]) ? word_end + 1 : word_end;
    if (IsCommandWord(line.mid(i, taken - i))) {
      spans.push_back({i, end - i, InputToken::kCommand});
    }
    i = end;
    // The rest of the word (from a "]" on) is looked at again, for its brackets only.
    while (i < word_end) {
      if (line[i] == ']') spans.push_back({i, 1, InputToken::kBracket});
      ++i;
    }
  }
  return spans;
}

}  // namespace tavwin
