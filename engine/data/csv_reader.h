#ifndef TAV_ENGINE_DATA_CSV_READER_H_
#define TAV_ENGINE_DATA_CSV_READER_H_

#include <string>

#include "data/tabular_file.h"

namespace tav {

// Reads a delimited text file: a header row of column names, then one row per record, the
// fields apart by separator (',' or '\t'). A field may be quoted with '"': it may then hold the
// separator and line ends, and a doubled '"' stands for one. Lines end in "\n" or "\r\n"; empty
// lines are passed over; a UTF-8 byte-order mark in front is dropped.
//
// A column is numeric when every field of it that is not missing reads whole as a number
// (blanks around it allowed), else a string column of the fields' texts. An empty field and an
// unquoted NA are missing. The file has no labels.
//
// Stops the run, naming the file as `name`, when it cannot be opened, is not UTF-8 (the message
// says so), has no header, has a quoted field that is never closed, a character after a closing
// quote, a row whose number of fields is not the header's (naming its line), or two columns of
// one name.
TabularFile ReadCsvFile(const std::string& path, const std::string& name, char separator);

}  // namespace tav

#endif  // TAV_ENGINE_DATA_CSV_READER_H_
