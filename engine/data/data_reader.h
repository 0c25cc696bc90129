#ifndef TAV_ENGINE_DATA_DATA_READER_H_
#define TAV_ENGINE_DATA_DATA_READER_H_

#include "core/text_file.h"
#include "data/data_run.h"
#include "data/record_columns.h"
#include "input/reader.h"

namespace tav {

// Reads the data from source (the input file after "dat [" when inline, else the data file)
// into run.data: a frequency table, or individual records in record format. Sets the subgroup
// totals and the total count.
//
// A count beyond the range of a double, or counts whose total N exceeds 1e100, stop the run
// with "number too large when reading" and what was read ("observed frequencies" or "data"):
// the fit adds counts into margins and totals, squares them (X-squared's (n - m)^2 / m) and
// multiplies them by design values and cell numbers, and with N <= 1e100 every such sum over
// the at most 2^31 cells of a table stays far below the largest double (1.8e308). The data
// entries count against the memory budget (MemoryUse::kData) once read.
//
// With inline data the closing "]" is read too: on return reader.word is "]". When it
// does not follow the data the run stops with "  Error: a "]" expected in command "dat"".
void ReadData(Reader& reader, DataRun& run, TextFile& source, bool inline_data);

// Reads the records of a data file of named columns (ColumnsToRecords, data/record_columns.h)
// into run.data as ReadData reads records from numbers: the same subgroups, cells, counts,
// covariates and event histories, aggregated the same way. A missing or non-numeric count,
// covariate, time or state stops the run naming its column and record ("  Error in data: a
// missing or non-numeric value in column C in record N").
void ReadRecordColumns(Reader& reader, DataRun& run, const RecordColumns& columns);

}  // namespace tav

#endif  // TAV_ENGINE_DATA_DATA_READER_H_
