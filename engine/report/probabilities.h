#ifndef TAV_ENGINE_REPORT_PROBABILITIES_H_
#define TAV_ENGINE_REPORT_PROBABILITIES_H_

#include <string>

#include "newton/run_state.h"
#include "report/run_results.h"

namespace tav {

// The text of a category (counted from 0) in report labels: its number counted from 1.
std::string CategoryLabel(int category);

// The "*** (CONDITIONAL) PROBABILITIES ***" section for submodels first .. SubmodelCount - 1,
// when the report shows it: every cell's estimated (conditional) probability, its standard
// error when one was computed, and " *" for a value on the boundary (at most 1E-10 or at least
// 0.9999999999).
ProbabilityResults ComputeProbabilities(const RunState& run, int first);
void WriteProbabilitiesSection(const ProbabilityResults& results, const ModelState& model,
                               TextFile& out);

// The "*** LATENT CLASS OUTPUT ***" section, when the report shows it: class sizes and the
// conditional response probabilities of every manifest variable per latent class, in blocks of
// class columns, then the expected proportion of classification errors E and its proportional
// reduction lambda. Visits every cell of the complete table once.
LatentClassResults ComputeLatentClassOutput(const RunState& run);
void WriteLatentClassSection(const LatentClassResults& results, const ModelState& model,
                             TextFile& out);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_PROBABILITIES_H_
