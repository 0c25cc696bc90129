#include "data/parse_input.h"

#include <new>
#include <utility>

#include "core/log.h"
#include "core/stop_run.h"
#include "data/parsed_run.h"
#include "data/settings_section.h"
#include "input/setup_passes.h"

namespace tav {

namespace {

void ReadInput(Reader& reader, DataRun& run) {
  WriteLogLine(run, "  loading data");
  run.FilePrefix.clear();
  OpenTextFile(run, reader.input, run.InputFileName, "r");
  // The report echoes the text parsed here, not what the file holds when the report is written.
  run.input_echo = InputEcho();
  reader.input.TapReads([&run](std::string_view bytes) { run.input_echo.Add(bytes); });
  run.FilePrefix = run.InputPrefix();
  ParseModelSections(reader, run);
  ParseSettings(reader, run);
  while (reader.input.Get() != TextFile::kEnd) {
  }
  reader.input.TapReads(nullptr);
  run.input_echo.Finish();
  IndexRestrictedSubmodels(run, run.designs.restriction_codes);
  FinishLayout(run, !run.settings.file_posterior.empty());
  IndexDataRecords(run);
  run.FilePrefix.clear();
  reader.input.Close();
}

}  // namespace

ParsedRun ParseInput(DataRun& run) {
  // The reader, with the input file and its words, lives as long as the parse.
  Reader reader;
  try {
    ReadInput(reader, run);
  } catch (StopRunError& stop) {
    stop.set_position(ReadingPositionLine(reader, run));
    throw;
  } catch (const std::bad_alloc&) {
    StopRunError stop(StopReason::kError, "  Error: problem too big to fit in memory");
    stop.set_position(ReadingPositionLine(reader, run));
    throw stop;
  }
  return TakeParsedRun(run);
}

ParsedRun TakeParsedRun(DataRun& run) {
  return ParsedRun{std::exchange(run.model, {}), std::exchange(run.history, {}),
                   std::exchange(run.settings, {}), std::exchange(run.data, {}),
                   std::exchange(run.designs, {})};
}

}  // namespace tav
