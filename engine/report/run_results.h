#ifndef TAV_ENGINE_REPORT_RUN_RESULTS_H_
#define TAV_ENGINE_REPORT_RUN_RESULTS_H_

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace tav {

// What a run reports, computed after the fit from the fitted state, which the computations
// leave as it is. The text report, the results document and the result files render these
// values and compute none of their own.

// A test statistic and its chi-squared p-value.
struct FitTest {
  double value = 0;
  double p = 0;
};

// One row of a subgroup's frequency table.
struct FrequencyRow {
  std::vector<int> categories;  // of the subgroup's observed variables, from 1
  double observed = 0;
  double estimated = 0;
  double residual = NAN;  // standardised; not finite when the estimate is 0
};

// The frequency table of one subgroup: the cells the report lists (every cell, or with `nze`
// the cells with data), with X-squared and L-squared over them.
struct FrequencyTable {
  int subgroup = 0;            // from 0
  std::vector<int> variables;  // the observed manifest variables (variable numbers)
  std::vector<FrequencyRow> rows;
  double x_squared = 0;
  double l_squared = 0;
};

// How the "*** FREQUENCIES ***" section appears.
enum class FrequencyListing {
  kNone,         // left out (nfr, nlo, an event-history model, no counts)
  kListed,       // the tables
  kNotComputed,  // the data were simulated
  kNotListed,    // the observed table is too large to list
};

// The "*** STATISTICS ***" section and the frequency tables.
struct StatisticsResults {
  int iterations = 0;
  double convergence_criterion = 0;
  std::int32_t seed = 0;
  bool seed_shown = false;  // several subgroups or latent variables

  // Which block of figures the section shows: simulated data (no likelihood), an event-history
  // model (hazard_model; grouped_hazard when it has subgroups or latent classes, which leave out
  // the hazard part's own fit), the fit statistics (fit_block; not for a cumulative model i,
  // special, nor a table of 1E18 cells and more).
  bool simulated = false;
  bool hazard_model = false;
  bool grouped_hazard = false;
  bool special = false;
  bool fit_block = false;

  FitTest x_squared, l_squared, cressie_read;
  bool has_dissimilarity = false;
  double dissimilarity = 0;
  std::int64_t df = 0;
  double log_likelihood = 0;
  std::int64_t parameters = 0;  // free parameters, the fixed ones left out
  std::int64_t fixed_parameters = 1;
  std::int64_t all_parameters = 0;  // with the hazard part's
  double sample_size = 0;
  double bic_l_squared = 0, aic_l_squared = 0;
  double bic_log_likelihood = 0, aic_log_likelihood = 0;

  // The hazard part on its own (an event-history model without subgroups or latent classes).
  FitTest hazard_x_squared, hazard_l_squared;
  std::int64_t hazard_df = 0;
  double hazard_log_likelihood = 0;
  std::int64_t hazard_parameters = 0;

  // The eigenvalues of the information matrix (largest first), shown when the standard errors
  // were computed for a model without mar restrictions; the warnings in their order.
  std::vector<double> eigenvalues;
  bool eigenvalues_shown = false;
  std::vector<std::string> warnings;

  FrequencyListing frequency_listing = FrequencyListing::kNone;
  std::vector<FrequencyTable> frequencies;
};

// The baseline and fitted figures of one submodel's pseudo R-squared block.
struct PseudoRSquared {
  double entropy_baseline = 0, entropy_fitted = 0, entropy_r2 = 0;
  double variance_baseline = 0, variance_fitted = 0, variance_r2 = 0;
  double error_baseline = 0, error_fitted = 0, error_r2 = 0;
  double deviance_baseline = 0, deviance_fitted = 0, deviance_r2 = 0, deviance_ratio = 0;
  double likelihood_baseline = 0, likelihood_fitted = 0, likelihood_r2 = 0, likelihood_ratio = 0;
};

// The "*** PSEUDO R-SQUARED MEASURES ***" section: a block per submodel that gets one, or
// "not computed" for simulated data.
struct PseudoRSquaredResults {
  enum class Listing { kNone, kShown, kNotComputed };
  struct Block {
    int submodel = 0;
    std::string label;  // the submodel's probability label, P(...)
    PseudoRSquared figures;
  };
  Listing listing = Listing::kNone;
  std::vector<Block> blocks;
};

// The "*** (CONDITIONAL) PROBABILITIES ***" section: per submodel from the first shown its
// table, unless it has too many cells to list.
struct ProbabilityCell {
  std::vector<int> categories;  // of the submodel's variables, from 1
  double probability = 0;
  // Its standard error when the table shows them (std_err_known; else NaN in the document);
  // 0 where none was computed.
  double std_err = 0;
  bool std_err_known = false;
};
struct ProbabilityTable {
  int submodel = 0;
  std::string label;  // P(...)
  bool listed = true;
  bool std_errors = false;  // the table shows standard errors
  std::vector<ProbabilityCell> cells;
};
struct ProbabilityResults {
  bool shown = false;
  std::vector<ProbabilityTable> tables;
};

// The latent class output: per latent class (the categories of the latent variables, the
// first slowest) its size and, per manifest variable shown, the probabilities of its
// categories in the class (size and probabilities NaN for a class without estimated
// frequency, which the report shows as "---"); E and lambda.
struct LatentClassFigures {
  struct Class {
    std::vector<int> latent;
    double size = 0;
    std::vector<std::vector<double>> items;
  };
  std::vector<Class> classes;
  double classification_errors = 0;
  double lambda = 0;
};

// The "*** LATENT CLASS OUTPUT ***" section, or why it is left out.
struct LatentClassResults {
  enum class Listing { kNone, kShown, kNotListed };
  Listing listing = Listing::kNone;
  LatentClassFigures figures;
};

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_RUN_RESULTS_H_
