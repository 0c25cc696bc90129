#ifndef TAV_ENGINE_DATA_READSTAT_READER_H_
#define TAV_ENGINE_DATA_READSTAT_READER_H_

#include <string>
#include <vector>

#include "data/tabular_file.h"

namespace tav {

// Reads an SPSS (.sav, .zsav, .por), Stata (.dta) or SAS (.sas7bdat, .xpt) data file whole,
// with its variable labels, value labels and missing values: system-missing values, Stata's
// and SAS's tagged missing values and SPSS's user-defined missing values and ranges are all
// marked missing. Texts come in UTF-8, converted from the file's own encoding.
//
// Stops the run with "  Error: data file NAME: " (name as the input gives it) and the reason when
// the file cannot be opened or read, is damaged or truncated, or its encoding cannot be converted.
// Built without the format library it stops with "  Error: reading .sav files is not available in
// this build" (the file's ending in place of .sav).
TabularFile ReadStatisticalFile(const std::string& path, const std::string& name, TabularKind kind,
                                const std::vector<std::string>& wanted = {});

}  // namespace tav

#endif  // TAV_ENGINE_DATA_READSTAT_READER_H_
