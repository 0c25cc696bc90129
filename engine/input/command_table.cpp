#include "input/command_table.h"

namespace tav {
namespace {

// Every row of the command list, listed or not.
constexpr CommandEntry kAllCommands[] = {
#define TAV_COMMAND(word, section, listed, role, handler, operand) \
  {word, Section::section, role, listed},
#include "input/commands.def"
#undef TAV_COMMAND
};

// The listed rows, in their order.
constexpr std::array<CommandEntry, kCommandCount> ListedCommands() {
  std::array<CommandEntry, kCommandCount> listed{};
  std::size_t n = 0;
  for (const CommandEntry& entry : kAllCommands) {
    if (entry.listed) listed[n++] = entry;
  }
  return listed;
}

constexpr std::array<CommandEntry, kCommandCount> kCommands = ListedCommands();

constexpr std::size_t CountListed() {
  std::size_t n = 0;
  for (const CommandEntry& entry : kAllCommands) n += entry.listed ? 1 : 0;
  return n;
}
static_assert(CountListed() == kCommandCount, "the command-name table has kCommandCount rows");

}  // namespace

const std::array<CommandEntry, kCommandCount>& CommandTable() { return kCommands; }

std::string CommandKey(std::string_view word) { return std::string(word.substr(0, 3)); }

const CommandEntry* FindCommand(std::string_view word) {
  const std::string key = CommandKey(word);
  for (const CommandEntry& entry : kCommands) {
    if (entry.name == key) return &entry;
  }
  return nullptr;
}

std::span<const CommandEntry> AllCommands() { return kAllCommands; }

bool IsCommand(std::string_view word) { return FindCommand(word) != nullptr; }

bool EndsList(std::string_view word) {
  if (word.find('.') != std::string_view::npos) return false;
  return word.empty() || IsCommand(word);
}

}  // namespace tav
