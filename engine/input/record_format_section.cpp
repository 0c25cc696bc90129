// The record-format section of an input file: the number of records (rec) and the options of
// record-format data (rt0, epi, rco, rsu, mis, ski, noc).

#include <cmath>
#include <cstdint>
#include <string>

#include "core/stop_run.h"
#include "input/command_table.h"
#include "input/reader.h"
#include "input/sections.h"

namespace tav {
namespace {

bool KeyIs(const std::string& word, const char* key) { return CommandKey(word) == key; }

void NextCommand(RunContext& run) { run.CommandName = ReadWord(run.InputFile); }

// rec n: the number of records, rounded to a whole number.
void ReadRecordCount(RunContext& run) {
  ModelState& model = run.model;
  EventHistoryState& history = run.history;
  if (!history.HazardModel && model.CovariateCount <= 0) history.PerRecordOutput = true;
  const double count = std::round(ReadReal(run, run.InputFile));
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
void ReadSkippedColumns(RunContext& run) {
  EventHistoryState& history = run.history;
  const std::string& command = run.CommandName;
  if (command.empty() || command.back() != '[') {
    if (ReadWord(run.InputFile) != "[") StopRun("  Error: a \"[\" expected in command ski");
  }
  do {
    const std::int32_t column = ReadInteger(run, run.InputFile);
    if (column < 1 || column > kRecordColumns) {
      StopRun("  Error: a column in command ski must be >=1 and <=201");
    }
    history.ColumnUsed[column] = 0;
  } while (run.CurrentWord != "]");
}

}  // namespace

void ParseRecordFormatSection(RunContext& run) {
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

  if (!KeyIs(run.CommandName, "rec")) {
    if (history.RecordFormat) {
      StopRun("  Error: number of records not specified (record format input required)");
    }
    return;
  }
  ReadRecordCount(run);
  NextCommand(run);
  for (;;) {
    const std::string key = CommandKey(run.CommandName);
    if (key == "rt0") {
      history.EntryTimeGiven = true;
    } else if (key == "epi") {
      if (history.MultipleRisks) StopRun("  Error: number of episodes cannot be changed");
      const std::int32_t episodes = ReadInteger(run, run.InputFile);
      if (episodes < 1) StopRun("  Error: number of episodes must be >= 1");
      history.EpisodeCount = episodes;
    } else if (key == "rco") {
      history.RecordCountGiven = true;
    } else if (key == "rsu") {
      history.MissingCode = kNoMissingCode;
      history.SingleSpell = true;
    } else if (key == "mis") {
      history.MissingCode = ReadInteger(run, run.InputFile);
    } else if (key == "ski") {
      ReadSkippedColumns(run);
    } else if (key == "noc") {
      history.PerRecordOutput = false;
    } else {
      return;
    }
    NextCommand(run);
  }
}

}  // namespace tav
