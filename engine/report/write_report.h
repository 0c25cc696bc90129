#ifndef TAV_ENGINE_REPORT_WRITE_REPORT_H_
#define TAV_ENGINE_REPORT_WRITE_REPORT_H_

#include <string>

#include "newton/run_state.h"

namespace tav {

// n blanks (at most 80): the indent of report lines.
std::string Blanks(int n);

// text padded with blanks on the right, or on the left, to width (a longer text is not cut).
std::string PadRight(std::string text, std::size_t width);
std::string PadLeft(const std::string& text, std::size_t width);

// The files of latent-class and posterior probabilities that `wla` and `wpo` ask for; they are
// written before the standard errors are computed.
void WritePosteriorFiles(RunState& run);

// Writes the report file run.context.OutputFileName: the banner and the sections the model asks
// for. The standard errors, when asked for, are computed before.
void WriteReport(RunState& run);

// The "*** INPUT ***" section: the input text as it was read (InputEcho), each line indented by
// two blanks.
void WriteInputEcho(RunState& run);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_WRITE_REPORT_H_
