// The record-format section of an input file: the number of records (rec) and the options of
// record-format data (rt0, epi, rco, rsu, mis, ski, noc).

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/stop_run.h"
#include "input/command_table.h"
#include "input/reader.h"
#include "input/sections.h"

namespace tav {
namespace {

bool KeyIs(const std::string& word, const char* key) { return CommandKey(word) == key; }

void NextCommand(Reader& reader, InputRun& run) { reader.command = ReadWord(reader.input); }

// rec n: the number of records, rounded to a whole number.
void ReadRecordCount(Reader& reader, InputRun& run) {
  ModelState& model = run.model;
  EventHistoryState& history = run.history;
  if (!history.HazardModel && model.CovariateCount <= 0) history.PerRecordOutput = true;
  const double count = std::round(ReadReal(reader, run, reader.input));
  if (!(count >= 1 && count <= 2147483647.0)) {
    StopRun("  Error: impossible number of records in command rec");
  }
  history.RecordCount = static_cast<std::int32_t>(count);
  if (model.CovariateCount > 0) {
    // Every record is a category of the covariate's variable.
    model.Dimension[model.VariableCount - 1] = history.RecordCount;
    model.ManifestCellCount *= history.RecordCount;
  }
  history.RecordFormat = true;
  history.MissingCode = 0;
}

// ski [c ...]: record columns that are not read.
void ParseSkippedColumns(Reader& reader, InputRun& run) {
  EventHistoryState& history = run.history;
  const std::string& command = reader.command;
  if (command.empty() || command.back() != '[') {
    if (ReadWord(reader.input) != "[") StopRun("  Error: a \"[\" expected in command ski");
  }
  do {
    const std::int32_t column = ReadInteger(reader, run, reader.input);
    if (column < 1 || column > kRecordColumns) {
      StopRun("  Error: a column in command ski must be >=1 and <=201");
    }
    history.ColumnUsed[column] = 0;
  } while (reader.word != "]");
}

void ParseEntryTimes(Reader&, InputRun& run) { run.history.EntryTimeGiven = true; }

void ParseEpisodes(Reader& reader, InputRun& run) {
  if (run.history.MultipleRisks) StopRun("  Error: number of episodes cannot be changed");
  const std::int32_t episodes = ReadInteger(reader, run, reader.input);
  if (episodes < 1) StopRun("  Error: number of episodes must be >= 1");
  run.history.EpisodeCount = episodes;
}

void ParseRecordCounts(Reader&, InputRun& run) { run.history.RecordCountGiven = true; }

void ParseSingleSpells(Reader&, InputRun& run) {
  run.history.MissingCode = kNoMissingCode;
  run.history.SingleSpell = true;
}

void ParseMissingCode(Reader& reader, InputRun& run) {
  run.history.MissingCode = ReadInteger(reader, run, reader.input);
}

void ParseNoRecordOutput(Reader&, InputRun& run) { run.history.PerRecordOutput = false; }

// The options after `rec`, in any order: the record-format rows of the command list with their
// handlers (none for the other rows, which end the section).
using OptionHandler = void (*)(Reader&, InputRun&);
constexpr OptionHandler InSectionOrder = nullptr;

struct OptionRow {
  std::string_view name;
  OptionHandler parse;
};

constexpr OptionRow kOptionRows[] = {
#define TAV_HANDLER_kModel(handler) nullptr
#define TAV_HANDLER_kEventHistory(handler) nullptr
#define TAV_HANDLER_kRecordFormat(handler) handler
#define TAV_HANDLER_kSettings(handler) nullptr
#define TAV_HANDLER_kNone(handler) nullptr
#define TAV_COMMAND(word, section, listed, role, handler, operand) \
  {word, TAV_HANDLER_##section(handler)},
#include "input/commands.def"
#undef TAV_COMMAND
#undef TAV_HANDLER_kNone
#undef TAV_HANDLER_kSettings
#undef TAV_HANDLER_kRecordFormat
#undef TAV_HANDLER_kEventHistory
#undef TAV_HANDLER_kModel
};

// The handler of the record-format option that word names, or nullptr.
OptionHandler FindOption(const std::string& word) {
  const std::string key = CommandKey(word);
  for (const OptionRow& row : kOptionRows) {
    if (row.name == key) return row.parse;
  }
  return nullptr;
}

}  // namespace

void ParseRecordFormatSection(Reader& reader, InputRun& run) {
  EventHistoryState& history = run.history;
  history.RecordCount = 0;
  history.EntryTimeGiven = false;
  history.RecordCountGiven = false;
  history.SingleSpell = false;
  history.PerRecordOutput = false;
  // With multiple risks one episode per risk given with mul: one less than the states, also
  // when discrete time numbered a stay risk for every state.
  history.EpisodeCount = history.MultipleRisks ? history.StateCount - 1 : 1;
  if (run.model.CovariateCount > 0) history.RecordFormat = true;
  history.ColumnUsed = AllColumnsUsed();

  if (!KeyIs(reader.command, "rec")) {
    if (history.RecordFormat) {
      StopRun("  Error: number of records not specified (record format input required)");
    }
    return;
  }
  ReadRecordCount(reader, run);
  NextCommand(reader, run);
  for (OptionHandler parse = FindOption(reader.command); parse != nullptr;
       parse = FindOption(reader.command)) {
    parse(reader, run);
    NextCommand(reader, run);
  }
}

}  // namespace tav
