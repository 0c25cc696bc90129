#ifndef TAV_ENGINE_DATA_DATA_READER_H_
#define TAV_ENGINE_DATA_DATA_READER_H_

#include "core/text_file.h"
#include "data/data_run.h"

namespace tav {

// Reads the data from source (the input file after "dat [" when inline, else the data file)
// into run.data: a frequency table, or individual records in record format. Sets the subgroup
// totals and the total count.
//
// With inline data the closing "]" is read too: on return run.CurrentWord is "]". When it
// does not follow the data the run stops with "  Error: a "]" expected in command "dat"".
void ReadData(DataRun& run, TextFile& source, bool inline_data);

}  // namespace tav

#endif  // TAV_ENGINE_DATA_DATA_READER_H_
