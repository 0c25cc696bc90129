#include "input/parse_input.h"

#include "core/log.h"
#include "input/sections.h"
#include "input/setup_passes.h"

namespace tav {

std::string InputPrefix(const RunState& run) {
  if (run.ArgumentCount() > 2 && run.arguments[2] != "-log") return run.arguments[2];
  return "";
}

void ParseInput(RunState& run) {
  WriteLogLine(run, "  loading data");
  run.FilePrefix.clear();
  OpenTextFile(run, run.InputFile, run.InputFileName, "r");
  run.FilePrefix = InputPrefix(run);
  ParseModelSection(run);
  ParseEventHistorySection(run);
  ParseRecordFormatSection(run);
  LayOutSubmodels(run);
  SizeAssociationArrays(run);
  InitialiseParameterArrays(run);
  ParseSettings(run);
  IndexRestrictedSubmodels(run);
  FinishLayout(run);
  IndexDataRecords(run);
  run.FilePrefix.clear();
  run.InputFile.Close();
}

}  // namespace tav
