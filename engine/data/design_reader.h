#ifndef TAV_ENGINE_DATA_DESIGN_READER_H_
#define TAV_ENGINE_DATA_DESIGN_READER_H_

#include "core/run_state.h"
#include "core/text_file.h"

namespace tav {

// Reads the user designs from source (the input file after "des [", or the design file) into
// run.designs, walking the model's submodels in their fixed order.
void ReadDesigns(RunState& run, TextFile& source);

}  // namespace tav

#endif  // TAV_ENGINE_DATA_DESIGN_READER_H_
