#ifndef TAV_ENGINE_REPORT_REPORT_RESULTS_H_
#define TAV_ENGINE_REPORT_REPORT_RESULTS_H_

#include <optional>
#include <vector>

#include "newton/run_state.h"
#include "report/event_history_results.h"
#include "report/latent_class_diagnostics.h"
#include "report/parameter_results.h"
#include "report/random_starts_report.h"
#include "report/result_files.h"
#include "report/run_results.h"

namespace tav {

// Every figure the report of a fitted model gives, worked out before anything is written: the
// text report, the results document and the result files render it and compute nothing.
struct RunResults {
  // The submodel the per-submodel sections start with (0 with `inc`, else 1).
  int first = 1;
  StatisticsResults statistics;
  // The hazard part's tables, for the results document (only when there is one).
  std::optional<EventHistoryResults> event_history;
  // The result files and their warnings, in the order they are written.
  std::vector<ResultFile> result_files;
  PseudoRSquaredResults pseudo_r_squared;
  // The log-linear parameters, unless `npa` leaves them out.
  std::optional<ParameterResults> parameters;
  ProbabilityResults probabilities;
  LatentClassResults latent_classes;
  // The random starts, a detail that `nlo` and the absence of diagnostics leave out.
  std::optional<RandomStartsResults> random_starts;
  DiagnosticsResults diagnostics;
};

// Works out the results from the fitted run, which it only reads; the log says which part is
// being worked out ("statistics and frequencies", "log-linear parameters", "latent class
// parameters"), and the warnings of result files that are not written.
RunResults ComputeRunResults(const RunState& run);

// The report's sections after the banner and the input echo, and the result files between them
// (the files of the statistics after that section, the covariance file after the parameters).
void WriteResultsSections(RunState& run, const RunResults& results);

// The results document's parts (when one is written): the statistics, the hazard part, the
// pseudo R-squared measures, the parameters, the probabilities, the latent class output, the
// random starts and the diagnostics.
void RecordRunResults(RunState& run, const RunResults& results);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_REPORT_RESULTS_H_
