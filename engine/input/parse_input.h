#ifndef TAV_ENGINE_INPUT_PARSE_INPUT_H_
#define TAV_ENGINE_INPUT_PARSE_INPUT_H_

#include "core/run_state.h"

namespace tav {

// Reads the whole input file run.InputFileName into run.model: the sections in their fixed
// order, the data and the designs. Files named in the input are opened under the third
// command-line argument (unless it is "-log"); the prefix is empty again afterwards.
void ParseInput(RunState& run);

// The directory prefix for files named in the input: the third argument unless it is "-log".
std::string InputPrefix(const RunState& run);

}  // namespace tav

#endif  // TAV_ENGINE_INPUT_PARSE_INPUT_H_
