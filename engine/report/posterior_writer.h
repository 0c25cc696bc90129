#ifndef TAV_ENGINE_REPORT_POSTERIOR_WRITER_H_
#define TAV_ENGINE_REPORT_POSTERIOR_WRITER_H_

#include <string>
#include <vector>

#include "core/run_state.h"

namespace tav {

// Writes one line of the latent-class (mode 1) or posterior (mode 2) probability file to
// run.ResultFile. vector holds the probabilities of the pattern's completions (latent classes
// outermost); count is how many of its entries belong to the pattern. pattern is the number
// of the data entry, or -1 for a vector that belongs to no entry (the vector is then scaled
// to sum 1 and the line carries no categories). With table input the line starts with the
// entry's categories and frequency. Mode 1 writes the class probabilities, the modal class
// and its classification error, and for records (pattern -1) also a class drawn at random.
void WritePosteriorLine(RunState& run, int mode, int pattern, double count,
                        const std::vector<double>& vector);

// Writes the file `name` of latent-class (mode 1) or posterior (mode 2) probabilities: for
// aggregated records from the subgroups and cells kept in "___.lat", otherwise through the
// E-step, which writes one line per data entry.
void WritePosteriorFile(RunState& run, const std::string& name, int mode);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_POSTERIOR_WRITER_H_
