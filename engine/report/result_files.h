#ifndef TAV_ENGINE_REPORT_RESULT_FILES_H_
#define TAV_ENGINE_REPORT_RESULT_FILES_H_

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
void WriteResultFiles(RunState& run);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_RESULT_FILES_H_
