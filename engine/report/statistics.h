#ifndef TAV_ENGINE_REPORT_STATISTICS_H_
#define TAV_ENGINE_REPORT_STATISTICS_H_

#include <cstdint>

#include "newton/run_state.h"
#include "report/run_results.h"

namespace tav {

// The parameter count and degrees of freedom of the fitted model.
struct ParameterCount {
  std::int64_t cells = 0;           // observed cells over all subgroups
  std::int64_t parameters = 0;      // free parameters, the fixed ones left out
  std::int64_t fixed = 1;           // parameters fixed by the sample size or a fixed margin
  std::int64_t df = 0;              // cells minus all parameters
  std::int64_t all_parameters = 0;  // with the hazard part's parameters
  std::int64_t hazard_parameters = 0;
  std::int64_t hazard_df = 0;
};

ParameterCount CountParameters(const RunState& run);

// The figures of the "*** STATISTICS ***" section (fit statistics, information criteria,
// identification and warnings) and the frequency tables, when the report lists them; the
// dissimilarity index comes from the absolute-residual sum of the last E-step.
StatisticsResults ComputeStatistics(const RunState& run);

// Writes the "*** STATISTICS ***" and "*** FREQUENCIES ***" sections of results.
void WriteStatisticsSection(const StatisticsResults& results, const ModelState& model,
                            TextFile& out);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_STATISTICS_H_
