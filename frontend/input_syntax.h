#ifndef TAV_FRONTEND_INPUT_SYNTAX_H_
#define TAV_FRONTEND_INPUT_SYNTAX_H_

#include <QString>
#include <QStringView>
#include <vector>

namespace tavwin {

// What the input editor shows in colour, read the way the engine reads an input line:
// words are separated by blanks, control characters and commas; "{", "[", "(", ")" and "}"
// end a word; "*" starts a comment that runs to the end of the line. A word is a command when
// its first three characters name one in the engine's command table and it holds no "."
// (the engine's own test for the end of a list). Brackets are "{", "}", "[", "]", "(" and ")"
// outside comments.
enum class InputToken { kCommand, kComment, kBracket };

struct InputSpan {
  int start = 0;
  int length = 0;
  InputToken kind = InputToken::kCommand;

  bool operator==(const InputSpan&) const = default;
};

// The spans of one line, from left to right.
std::vector<InputSpan> ClassifyInputLine(QStringView line);

// True when word, as the engine reads it, is a command.
bool IsCommandWord(QStringView word);

// The command at column of line (on its word, or just after it), as the command reference
// names its entry: the three characters by which the engine knows it ("model" gives "mod").
// Empty when no command is there.
QString CommandAt(QStringView line, int column);

}  // namespace tavwin

#endif  // TAV_FRONTEND_INPUT_SYNTAX_H_
