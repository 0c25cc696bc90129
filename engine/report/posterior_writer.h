#ifndef TAV_ENGINE_REPORT_POSTERIOR_WRITER_H_
#define TAV_ENGINE_REPORT_POSTERIOR_WRITER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "newton/run_state.h"

namespace tav {

// The two files of posterior probabilities: the latent classes (`wla`) and the posterior
// probabilities of every completion (`wpo`).
enum class PosteriorFile { kLatentClasses, kCompletions };

// Writes one line of a posterior probability file to run.context.ResultFile. vector holds the
// probabilities of the pattern's completions (latent classes outermost); count is how many of
// its entries belong to the pattern. pattern is the number of the data entry, or -1 for a
// vector that belongs to no entry (the vector is then scaled to sum 1 and the line carries no
// categories). With table input the line starts with the entry's categories and frequency. The
// latent-class file has the class probabilities, the modal class and its classification
// error, and for records (pattern -1) also a class drawn at random.
void WritePosteriorLine(RunState& run, PosteriorFile file, std::int64_t pattern, double count,
                        const std::vector<double>& vector);

// Writes the posterior probability file `name`: for aggregated records from the subgroups and
// cells kept in the run's scratch file, otherwise one line per data entry from an E-step pass.
void WritePosteriorFile(RunState& run, const std::string& name, PosteriorFile file);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_POSTERIOR_WRITER_H_
