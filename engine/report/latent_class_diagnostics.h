#ifndef TAV_ENGINE_REPORT_LATENT_CLASS_DIAGNOSTICS_H_
#define TAV_ENGINE_REPORT_LATENT_CLASS_DIAGNOSTICS_H_

#include <cstdint>
#include <vector>

#include "core/model_state.h"
#include "newton/run_state.h"
#include "report/pair_tables.h"

namespace tav {

// Two checks of a model with latent variables, written after the latent class output unless
// `ndi` was given; neither is written for event-history (hazard) models or correspondence
// analysis. Both read the model as estimation left it and change nothing of the run.
//
// "*** BIVARIATE RESIDUALS ***": for every pair (a, b) of manifest variables (the record number
// of covariate records left out) the two-way margins of what the frequencies section compares,
// summed over the subgroups that observe both variables:
//   observed n_ij  the counts of the data entries of those subgroups with a = i and b = j;
//   expected m_ij  per such subgroup, the estimated frequencies of its observed table summed
//                  onto (a, b); they come from the margin pattern of the pair (MarginPattern:
//                  the pair observed, every other variable left out where the model allows,
//                  else summed over), so that a plain latent class model costs classes x I x J
//                  per pair and subgroup.
// (PairTables in report/pair_tables.h forms both, for many pairs at once.)
// X² = sum over the cells with m_ij > 0 of (n_ij - m_ij)² / m_ij, df = (I - 1)(J - 1), and the
// table shows X² / df, lower-triangular, with a note naming the pairs above 3.84 (the 5% point
// of chi-squared on 1 df). Cells with m_ij = 0 are left out of X²; those that hold observed
// cases are counted in a note. A pair no subgroup observes, or with df = 0, shows "--".
//
// "*** CLASSIFICATION ***": every data entry goes to the latent class of its largest posterior
// probability (the first on ties), from an E-step pass over the data (the posteriors of its
// completions summed within each class). With K = LatentStateCount classes (several latent
// variables make joint classes, the first latent variable slowest) and N the total count of
// the entries the pass classified (those with a posterior sum of 0 are not):
//   cases_k         the count of the entries assigned to class k;
//   average_k,l     sum of count x p_l over those entries, divided by cases_k;
//   entropy R²      1 - sum_e count_e sum_l (-p_el ln p_el) / (N ln K); 1 when K = 1.

// The residual of a pair from its tables.
struct PairResidual {
  int first = 0;
  int second = 0;
  double x_squared = 0;
  int df = 0;
  double ratio = 0;      // x_squared / df; 0 when not defined
  bool defined = false;  // a subgroup observes both and df > 0
  int lost_cells = 0;    // cells with an expected 0 that hold observed cases
};
PairResidual BivariateResidual(const PairTable& table);

// The classification of the data entries by their posterior probabilities.
struct ClassificationTable {
  std::int64_t classes = 1;
  std::vector<double> cases;    // per assigned class
  std::vector<double> average;  // average[k * classes + l]: of class l among those assigned k
  double total = 0;             // N
  double entropy_r_squared = 1;
};
ClassificationTable ClassifyEntries(const RunState& run);

// The two checks as the report shows them: left out (ndi, nlo, no latent variables, an
// event-history model or correspondence analysis), not computed (simulated data), or computed.
struct DiagnosticsResults {
  enum class Listing { kNone, kShown, kNotComputed };
  // Why the bivariate residuals are not listed, or that they are.
  enum class Pairs { kShown, kTooFewVariables, kPairTableTooLarge, kTooMuchWork };
  Listing listing = Listing::kNone;
  Pairs pairs = Pairs::kShown;
  std::vector<int> variables;  // the manifest variables paired (variable numbers)
  // residuals[i * n + j], j < i: the pair of variables j and i of the n.
  std::vector<PairResidual> residuals;
  ClassificationTable classification;
};
DiagnosticsResults ComputeLatentClassDiagnostics(const RunState& run);
// The variables, the pairs' listing and the residuals of results (part of the above, for
// timing it alone): the residual of every pair unless the pairs' tables are too large.
void ComputeBivariateResiduals(const RunState& run, DiagnosticsResults& results);
void WriteLatentClassDiagnosticsSections(const DiagnosticsResults& results, const ModelState& model,
                                         TextFile& out);
// The bivariate residuals and the classification into the results document.
void RecordLatentClassDiagnostics(RunState& run, const DiagnosticsResults& results);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_LATENT_CLASS_DIAGNOSTICS_H_
