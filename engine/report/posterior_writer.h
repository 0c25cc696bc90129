#ifndef TAV_ENGINE_REPORT_POSTERIOR_WRITER_H_
#define TAV_ENGINE_REPORT_POSTERIOR_WRITER_H_

#include <vector>

#include "core/run_state.h"

namespace tav {

// Writes one line of the latent (mode 1) or posterior (mode 2) probability file to
// run.ResultFile: for an observed pattern of table input its categories and frequency, then
// per latent class the summed posterior probability with the modal class (mode 1), or every
// posterior probability (mode 2). count is the number of entries of vector; pattern -1 marks a
// vector of the report's own, which is normalised first.
void WritePosteriorLine(RunState& run, int mode, int pattern, double count,
                        const std::vector<double>& vector);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_POSTERIOR_WRITER_H_
