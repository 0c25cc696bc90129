#ifndef TAV_ENGINE_INPUT_COMMAND_TABLE_H_
#define TAV_ENGINE_INPUT_COMMAND_TABLE_H_

#include <array>
#include <span>
#include <string>
#include <string_view>

namespace tav {

// The sections of an input file, in the order they must appear.
enum class Section { kNone = 0, kModel = 1, kEventHistory = 2, kRecordFormat = 3, kSettings = 4 };

// One row of the command list (input/commands.def, which also names the handler of each
// command of the settings section: ParseSettings, data/settings_section.h).
struct CommandEntry {
  std::string_view name;  // the three letters that recognise it ("[" is one character)
  Section section = Section::kNone;
  std::string_view role;
  bool listed = true;  // in the command-name table: the word ends an argument list
};

inline constexpr int kCommandCount = 82;

// Every word that ends an argument list, in table order: the listed rows of the command list.
const std::array<CommandEntry, kCommandCount>& CommandTable();

// Every row of the command list, with the words that the settings section takes beside the
// listed ones ("st1", "nsd", "wic"...), in the order of input/commands.def.
std::span<const CommandEntry> AllCommands();

// The first three characters of word (fewer if it is shorter).
std::string CommandKey(std::string_view word);

// The entry of the command-name table whose name equals the key of word, or nullptr.
const CommandEntry* FindCommand(std::string_view word);

// True when the key of word names a command of the table (case-sensitive).
bool IsCommand(std::string_view word);

// True when word contains no "." and is either empty or a command: the end of a list.
bool EndsList(std::string_view word);

}  // namespace tav

#endif  // TAV_ENGINE_INPUT_COMMAND_TABLE_H_
