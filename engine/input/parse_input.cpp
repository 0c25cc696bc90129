#include "input/parse_input.h"

#include "core/log.h"

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
  // The section parsers and set-up passes run here as they are added.
  run.FilePrefix.clear();
  run.InputFile.Close();
}

}  // namespace tav
