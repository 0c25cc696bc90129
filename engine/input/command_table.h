#ifndef TAV_ENGINE_INPUT_COMMAND_TABLE_H_
#define TAV_ENGINE_INPUT_COMMAND_TABLE_H_

#include <array>
#include <string>
#include <string_view>

namespace tav {

// The sections of an input file, in the order they must appear.
enum class Section { kNone = 0, kModel = 1, kEventHistory = 2, kRecordFormat = 3, kSettings = 4 };

struct CommandEntry {
  std::string_view name;  // the three letters that recognise it ("[" is one character)
  Section section;
  std::string_view role;
};

inline constexpr int kCommandCount = 80;

// Every word that ends an argument list, in table order.
const std::array<CommandEntry, kCommandCount>& CommandTable();

// The first three characters of word (fewer if it is shorter).
std::string CommandKey(std::string_view word);

// The table entry whose name equals the key of word, or nullptr.
const CommandEntry* FindCommand(std::string_view word);

// True when the key of word names a command of the table (case-sensitive).
bool IsCommand(std::string_view word);

// True when word contains no "." and is either empty or a command: the end of a list.
bool EndsList(std::string_view word);

}  // namespace tav

#endif  // TAV_ENGINE_INPUT_COMMAND_TABLE_H_
