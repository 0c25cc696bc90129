#ifndef TAV_ENGINE_REPORT_RESULTS_DOCUMENT_H_
#define TAV_ENGINE_REPORT_RESULTS_DOCUMENT_H_

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "newton/run_state.h"
#include "report/correspondence_report.h"
#include "report/event_history_results.h"
#include "report/parameter_results.h"
#include "report/pseudo_r_squared.h"
#include "report/run_results.h"

namespace tav {

// The JSON results document (wjs): what the report shows, for other programs, every number at
// full double precision (a number that is not finite is null). Its schema is
// docs/results-schema.json. Its parts render the run's results (RecordRunResults,
// report/report_results.h), worked out before the report is written; the document goes to its
// file, put in place when complete, after the report.

// The document goes to the file `wjs` names (under the run's prefix) and to
// run.context.results_path (as it stands) when that is set; both are put in place when complete.

// Starts the document when wjs was given or run.context.results_path is set: the program and the
// model (variables with their numbers of categories, submodels with their variables and
// conditioning variables).
void StartResultsDocument(RunState& run);

// The statistics section, then the frequency tables listed (each subgroup with rows).
void RecordStatistics(RunState& run, const StatisticsResults& results);

// The log-linear parameters: per table shown (its term and its probability label) its effects
// in order, each with its cells (the categories from 1; beta, its standard error and z-value,
// exp(beta); not finite where the report shows asterisks or nothing) and the Wald test of its
// free parameters when it has one; the blocks after the tables (design, threshold, restriction
// and shape parameters, association terms), each of its table (its term, or "all") with its
// heading, its parameters (the label, ln x as beta, its standard error and z-value, x as
// exp_beta; the values of association terms and shapes as beta, without exp_beta) and the Wald
// test of its free parameters. Tables and blocks come in the order of the report.
void RecordParameters(RunState& run, const ParameterResults& results);

// The (conditional) probabilities of the tables listed, a table per submodel label.
void RecordProbabilities(RunState& run, const ProbabilityResults& results);

// The latent class output.
void RecordLatentClasses(RunState& run, const LatentClassFigures& figures);

// The bivariate residuals: per pair of manifest variables (in the order of the report's
// columns, then rows) the two labels, X-squared, its degrees of freedom and X-squared / df (not
// finite where the report shows "--").
struct BivariateResidualFigures {
  std::string first;
  std::string second;
  double x_squared = 0;
  int df = 0;
  double ratio = 0;
};
void RecordBivariateResiduals(RunState& run, const std::vector<BivariateResidualFigures>& pairs);

// The classification: per latent class (the categories of the latent variables, the first
// slowest) the cases assigned to it and the average posterior probability of every class among
// them (not finite when it has none); the cases classified and the entropy R-squared (not
// finite when there were none).
struct ClassificationFigures {
  struct Class {
    std::vector<int> latent;
    double cases = 0;
    std::vector<double> average_posteriors;
  };
  std::vector<Class> classes;
  double cases = 0;
  double entropy_r_squared = NAN;
};
void RecordClassification(RunState& run, const ClassificationFigures& figures);

// The pseudo R-squared measures of the submodel labelled label.
void RecordPseudoRSquared(RunState& run, const PseudoRSquaredResults& results);

// The association or correspondence analysis of a model with cor, which stands in place of the
// statistics and the other sections: its type, the reason it was left out (or null), N, every
// dimension of the general table, each category's weight and scores, and for multiple
// correspondence analysis the discrimination measures and contributions of the variables.
void RecordCorrespondence(RunState& run, const CorrespondenceAnalysis& analysis);

// The hazard part of an event-history model: its kind, time grid, risks and shapes, and per
// covariate cell (the categories of its covariates), interval and risk the estimated rate, the
// (expected) number of events and the exposure, per covariate cell, interval and state that
// can be left the survival to the end of the interval, and per covariate cell and such state
// the points of its survival curve.
void RecordEventHistory(RunState& run, const EventHistoryResults& results);

// Adds the iteration history and writes the document to its file.
void FinishResultsDocument(RunState& run);

// The iteration history of the document stays small however long the run: all rows of a run
// of at most kIterationRowsKept records; of a longer one the first kFirstIterationRows, then
// every k-th row after them, k the smallest step that keeps the rows within kIterationRowsKept,
// and the last row. Returns the indices of the rows kept, in order.
inline constexpr std::int64_t kIterationRowsKept = 1000;
inline constexpr std::int64_t kFirstIterationRows = 100;
std::vector<std::int64_t> KeptIterationRows(std::int64_t count);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_RESULTS_DOCUMENT_H_
