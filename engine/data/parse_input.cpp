#include "data/parse_input.h"

#include <utility>

#include "core/log.h"
#include "data/parsed_run.h"
#include "data/settings_section.h"
#include "input/setup_passes.h"

namespace tav {

void ParseInput(DataRun& run) {
  // The reader's words and command live as long as the parse.
  Reader reader;
  WriteLogLine(run, "  loading data");
  run.FilePrefix.clear();
  OpenTextFile(run, run.InputFile, run.InputFileName, "r");
  // The report echoes the text parsed here, not what the file holds when the report is written.
  run.input_echo = InputEcho();
  run.InputFile.TapReads([&run](std::string_view bytes) { run.input_echo.Add(bytes); });
  run.FilePrefix = run.InputPrefix();
  ParseModelSections(reader, run);
  ParseSettings(reader, run);
  while (run.InputFile.Get() != TextFile::kEnd) {
  }
  run.InputFile.TapReads(nullptr);
  run.input_echo.Finish();
  IndexRestrictedSubmodels(run, run.designs.restriction_codes);
  FinishLayout(run, !run.settings.file_posterior.empty());
  IndexDataRecords(run);
  run.FilePrefix.clear();
  run.InputFile.Close();
}

ParsedRun TakeParsedRun(DataRun& run) {
  return ParsedRun{std::exchange(run.model, {}), std::exchange(run.history, {}),
                   std::exchange(run.settings, {}), std::exchange(run.data, {}),
                   std::exchange(run.designs, {})};
}

}  // namespace tav
