#ifndef TAV_ENGINE_DATA_PARSE_INPUT_H_
#define TAV_ENGINE_DATA_PARSE_INPUT_H_

#include "data/data_run.h"
#include "data/parsed_run.h"

namespace tav {

// Reads the whole input file run.InputFileName and returns what it says: the sections in their
// fixed order (the model, event-history and record-format sections of input/, then the settings
// section with the data and the designs), with the set-up passes between them. Files named in
// the input are opened under run.InputPrefix(); the prefix is empty again afterwards.
//
// The parse fills run as it goes; a run stopped on an error leaves there what was read (for
// TakeParsedRun), and an error found while the input or a file it names was being read carries
// the reader's position (StopRunError::position, ReadingPositionLine).
ParsedRun ParseInput(DataRun& run);

}  // namespace tav

#endif  // TAV_ENGINE_DATA_PARSE_INPUT_H_
