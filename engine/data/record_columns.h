#ifndef TAV_ENGINE_DATA_RECORD_COLUMNS_H_
#define TAV_ENGINE_DATA_RECORD_COLUMNS_H_

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "data/data_run.h"
#include "data/tabular_file.h"

namespace tav {

// The fields of the records, column by column, in the order a record of the record format
// reads them: the manifest variables (all but the last with a continuous covariate, whose
// variable is the record number), the covariates, the count (with `rco`), then the
// event-history fields. Category fields hold the category (1 to the variable's number of
// categories); the other fields the numbers of the file. Each field keeps its distinct values
// once and per record the place of its value among them (-1 for a missing value).
struct RecordColumns {
  struct Field {
    std::string name;                 // the column it came from
    std::vector<double> values;       // the distinct values; NaN for a text that is no number
    std::vector<std::int32_t> place;  // per record
  };
  std::int64_t records = 0;
  int category_fields = 0;
  std::vector<Field> fields;

  // The value of field f in record r (from 0): NaN when it is missing or no number.
  double Value(std::size_t f, std::int64_t r) const {
    const std::int32_t at = fields[f].place[static_cast<std::size_t>(r)];
    return at < 0 ? std::numeric_limits<double>::quiet_NaN()
                  : fields[f].values[static_cast<std::size_t>(at)];
  }
};

// Turns the columns of a data file into the records of the run, and notes in run.data.sources
// where each manifest variable came from.
//
// The columns are those named by `columns` in the order above (`col`), or without it the
// columns whose names are the labels of the manifest variables (then only the manifest
// variables can be read). A name matches a column of that name, else the one column whose name
// equals it apart from case. The number of records is the file's, or `rec`'s when that is
// given (at most the file's).
//
// The distinct values of a manifest variable's column, in ascending order (numbers by value,
// texts by their bytes), become its categories 1, 2, ...; a value label names the category of
// its value. Values marked missing in the file become missing. Numbers of the other fields come
// as they are; a text that does not read as a number is missing there.
//
// Stops the run with a message when a column is not in the file ("unknown column"), when the
// columns named are too few or too many for the record, when `rec` asks for more records than
// the file has, and when a column has more distinct values than its variable has categories
// (naming the column, its number of values and the first of them).
RecordColumns ColumnsToRecords(TabularFile&& file, const std::vector<std::string>& columns,
                               DataRun& run, const std::string& file_name);

}  // namespace tav

#endif  // TAV_ENGINE_DATA_RECORD_COLUMNS_H_
