#include "data/parse_input.h"

#include "core/log.h"
#include "data/settings_section.h"
#include "input/setup_passes.h"

namespace tav {

void ParseInput(DataRun& run) {
  WriteLogLine(run, "  loading data");
  run.FilePrefix.clear();
  OpenTextFile(run, run.InputFile, run.InputFileName, "r");
  run.FilePrefix = run.InputPrefix();
  ParseModelSections(run);
  ParseSettings(run);
  IndexRestrictedSubmodels(run, run.designs.restriction_codes);
  FinishLayout(run, !run.settings.file_posterior.empty());
  IndexDataRecords(run);
  run.FilePrefix.clear();
  run.InputFile.Close();
}

}  // namespace tav
