#ifndef TAV_ENGINE_REPORT_RESULT_FILES_H_
#define TAV_ENGINE_REPORT_RESULT_FILES_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "newton/run_state.h"

namespace tav {

// The plain-text result files that the statistics section writes after the frequency table,
// each only when its name is set, in this order: wfi (the complete table), wfr (the expected
// tables of the submodels), wda (the data), wco (the fitted tables, the first as
// probabilities), wpa (one line appended: half L-squared, seed, random amplitude, the margin
// parameters, then the special-effect parameters: design effects, thresholds and the
// multipliers of lin, log and mar restrictions, then per association term its row scores,
// column scores and association parameters), then the wma margins in their order (a name
// that repeats an earlier wma name is appended to). Every file is written to a temporary file
// beside its destination and put in place when complete (an appended file starts as a copy of
// the old one), so that a failed run never leaves half a file; a file that cannot be written
// stops the run.
//
// Files too large to write are not written: the complete table of 2,147,483,647 cells or more
// (wfi, and a wma over every variable) and a margin of 163,800 cells or more. Each such file
// gets a warning line in the report and in the log, saying which file and why. So does every
// file of the data or of what the E-step takes from them when the data were simulated (wla,
// wpo, wfr, wda, wfa, wex): they are not written.
//
// ComputeResultFiles works out every file's contents (and every warning) in that order; the
// writers render them, and WriteResultFiles does both.

// A file of numbers: blocks of lines, block b of block_rows[b] lines of `width` numbers in
// fixed `field`.8, each block followed by an empty line when blank_after_block.
struct NumberFile {
  int field = 8;
  int width = 1;
  std::vector<std::int64_t> block_rows;
  bool blank_after_block = false;
  // The numbers, line by line; shared, for a table that two files write.
  std::shared_ptr<const std::vector<double>> values;
  // In place of values for a complete table too large to hold beside the run's arrays: the
  // number at a place, read from the fitted tables as the file is written (the run lives as
  // long as its results).
  std::function<double(std::int64_t)> value_at;
};

// The data file: per data entry the category (from 1) of every manifest variable its subgroup
// observes, 0 for the others, and its count when the entries carry counts.
struct DataFileRows {
  int items = 0;                // manifest variables per line
  std::vector<int> categories;  // entry by entry, `items` each
  bool counts_given = false;
  std::vector<double> counts;
};

// The line that wpa appends: half L-squared, the seed, the random amplitude, then the values.
struct ParameterLine {
  double half_l_squared = 0;
  double seed = 0;
  double amplitude = 0;
  std::vector<double> values;
};

struct ResultFile {
  enum class Form { kWarning, kNumbers, kData, kParameters };
  Form form = Form::kWarning;
  std::string command;  // wfi, wma, ...
  std::string name;
  bool append = false;
  std::string warning;  // kWarning: the line, for the report and the log, instead of the file
  NumberFile numbers;
  DataFileRows data;
  ParameterLine parameters;
};

// The files and warnings in the order they are written.
std::vector<ResultFile> ComputeResultFiles(const RunState& run);
// The warnings go to the log (LogResultFileWarnings) and to the report with the files
// (WriteResultFileContents).
void LogResultFileWarnings(RunContext& context, const std::vector<ResultFile>& files);
void WriteResultFileContents(RunState& run, const std::vector<ResultFile>& files);

void WriteResultFiles(RunState& run);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_RESULT_FILES_H_
