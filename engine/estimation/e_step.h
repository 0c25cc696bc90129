#ifndef TAV_ENGINE_ESTIMATION_E_STEP_H_
#define TAV_ENGINE_ESTIMATION_E_STEP_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/double_double.h"
#include "estimation/estimation_state.h"

namespace tav {

// Receives the posterior probabilities of the completions of data entry `pattern` (latent
// classes outermost, then the unobserved manifest variables its subgroup carries, the last
// variable fastest).
using PosteriorSink =
    std::function<void(std::int64_t pattern, const std::vector<double>& posterior)>;

// Hands the posterior probabilities of every data entry at the fitted tables to sink, in entry
// order, as the E-step forms them; entries whose completions all have probability 0 are left
// out. Changes nothing of the fit: the report's classification and the posterior files read the
// posteriors of the fitted model.
void ForEachPosterior(const EstimationRun& run, const PosteriorSink& sink);

// Lays out the E-step's work (EstimationState::completion_start and the tables beside it):
// every observed pattern (entry of the data store) has the complete-data cells that agree with
// it as its completions (latent classes outermost, then the unobserved manifest variables the
// pattern's subgroup carries, last variable fastest).
void BuildIndexMaps(EstimationRun& run);

// The cells of the completions of one pattern at a time, computed from the pattern's categories:
// row k holds, for every submodel, the cell completion k falls into, or -1 for a submodel that
// drops out in the pattern's subgroup. Each thread has its own.
class PatternCells {
 public:
  explicit PatternCells(const EstimationRun& run);
  // The Completions(p) rows of SubmodelCount cells of pattern p; valid until the next call.
  const std::int32_t* Of(std::int64_t p);
  // The same cells for the Width(p) submodels that stay in p's subgroup (in submodel order)
  // only, without writing them: the cell of completion k in column j is Bases(p)[j] +
  // Rows(p)[k * Width(p) + j]. Bases is valid until the next call.
  int Width(std::int64_t p) const;
  const std::int32_t* Bases(std::int64_t p);
  const std::int32_t* Rows(std::int64_t p) const;
  // The same as Rows by columns: completion k in column j at Columns(p)[j * Completions(p) + k].
  const std::int32_t* Columns(std::int64_t p) const;
  std::int64_t Completions(std::int64_t p) const {
    return run_.estimation.completion_start[p + 1] - run_.estimation.completion_start[p];
  }
  // The first of those cells (completion 0, first submodel that stays); -1 if none stays.
  std::int64_t FirstCell(std::int64_t p) const;

 private:
  const EstimationRun& run_;
  std::vector<std::int32_t> cells_;
  std::vector<std::int32_t> base_;
};

// The E-step. For every pattern with weight n, the joint probability of each complete cell is
// the product of the submodels' fitted values, M their sum; the log-likelihood is the sum of
// n ln(M / T_s) over the patterns, T_s the total of the pattern's subgroup. Leaves the expected
// tables (when they change), the log-likelihood, half L-squared, the stop criterion and the
// iteration line. Half L-squared, the sum of n ln(n / M), is not added up pattern by pattern: it
// is ObservedLogTerms less the terms of the patterns left out (M of 0) less the log-likelihood.
void EStep(EstimationRun& run);

// The E-step without its line: the expected tables (when they change), half L-squared and the
// observations left out at the current fitted tables; returns their log-likelihood, leaving
// LogLikelihood, the stop criterion and the iteration history as they were. The accelerated
// iterations (estimation/em_acceleration.h) take it between the E-steps that end iterations.
double ExpectationStep(EstimationRun& run);

// The sum over the patterns of n ln(n / T_s) (n > 0), once per fit, as a double-double: half
// L-squared less the log-likelihood when no pattern is left out. NaN when a pattern with weight has
// a subgroup without a total (the E-step then adds up half L-squared itself).
double_double::Pair ObservedLogTerms(const EstimationRun& run);

// The fit sums of the report, once the iterations have ended, on the tables of the last E-step
// and in its order of addition: half L-squared, X-squared and the Cressie-Read sum from each
// pattern's ratio n / M, the absolute residuals and the expected total (nothing without an
// L-squared column).
void ComputeFitSums(EstimationRun& run);

// The log line of an iteration: its number (width 8, wider from iteration 1000000 on, so that
// the log's two-character margin keeps every digit), the log-likelihood and the stop criterion
// (20.8 each), and where the record has it L-squared (18.8); a value that fills its column
// gets one blank more in front, so that the columns never run together.
std::string IterationLine(const IterationRecord& record);

// The evaluation pass for the Newton-type code: the log-likelihood and half the
// likelihood-ratio statistic of the current fitted tables. Changes nothing of the estimation
// state but its work vector.
Evaluation EvaluateModel(EstimationRun& run);

// The product of the fitted cells `cells` of one completion (n submodel cells, -1 where a
// submodel has none).
double CompletionProduct(const double* fitted, const std::int32_t* cells, int n);

// The expected complete-data tables of the fitted tables `fitted` (laid out as FittedTable):
// expected (as large) receives, per cell of every submodel, the sum over the patterns of their
// weight times the posterior probability of the completions that fall into the cell. It reads
// nothing of the run but its data and index maps, so that several can run at once, each with
// tables and work vector (posterior) of its own. Models with a hazard part, whose factors this
// does not form, are not for it.
void ExpectedCompleteTables(const EstimationRun& run, const double* fitted, double* expected,
                            std::vector<double>& posterior);

// The product of the fitted cells of every completion of every pattern, in the order of the
// index maps (pattern by pattern, completion by completion).
std::vector<double> CompletionProducts(const EstimationRun& run, const double* fitted);

// ExpectedCompleteTables for fitted tables that differ from those
// whose CompletionProducts are `products` only in submodel t, whose cell c (counted from its
// first cell) is multiplied by factor[c] (in the submodels tied to t too, which share its
// cells): one product per completion instead of one per submodel.
void ExpectedCompleteTablesAfterChange(const EstimationRun& run,
                                       const std::vector<double>& products, int t,
                                       const double* factor, double* expected,
                                       std::vector<double>& posterior);

// The header of the iteration log.
void WriteIterationHeader(EstimationRun& run);

}  // namespace tav

#endif  // TAV_ENGINE_ESTIMATION_E_STEP_H_
