#ifndef TAV_ENGINE_NEWTON_OBSERVED_INFORMATION_H_
#define TAV_ENGINE_NEWTON_OBSERVED_INFORMATION_H_

#include <vector>

#include "newton/run_state.h"
#include "newton/score_layout.h"

namespace tav {

// The information matrix of the free parameters from the E-step's expected tables, without
// differences (newton/score.h has the score and the definitions).
//
// Complete data: minus the expected second derivatives of the complete-data log-likelihood,
//   log-linear tables: I_ij = sum_b [sum_(c in b) w x_i x_j - (sum_(c in b) w x_i)
//                                   (sum_(c in b) w x_j) / E_b],  w(c) = f(c) E_b / F_b,
//   cumulative tables: I_ij = sum_c E(c) [S_i(c) S_j(c) - (x_i x_j F''(c) - x_i x_j F''(b)) /
//   P(c)],
// for two parameters of one table (0 across tables), S(c) = d ln P(c) / d theta and b the
// category before c. Where every pattern has a single completion this is the observed
// information. With latent variables or missing data the observed information is that at the
// expected tables less the posterior covariance of the complete-data score s_hk (the sum of
// S over the completion's cells):
//   I = I_complete(E) - sum_h n_h [sum_k p_hk s_hk s_hk' - g_h g_h'],  g_h = sum_k p_hk s_hk,
// whose first part comes from the expected joint tables of every two tables with parameters
// and whose second is added up pattern by pattern, in shares of the patterns that run in
// parallel and are added in a fixed order.

// The complete-data information at the expected tables `expected` (laid out as FittedTable)
// into matrix (n x n, zero on entry).
void CompleteDataInformation(const RunState& run, const ScoreLayout& layout, const double* expected,
                             std::vector<double>& matrix);

// Whether the tables of the posterior-covariance form fit its memory (128 MB per share).
bool PosteriorCovarianceFits(const RunState& run, const ScoreLayout& layout);

// The observed information by the posterior-covariance form into matrix (n x n, zero on entry).
void PosteriorCovarianceInformation(const RunState& run, const ScoreLayout& layout,
                                    std::vector<double>& matrix);

// The expected tables of a pass over the data at the run's fitted tables (the factors of the
// families that multiply the completions included); adds the score of the parameters of their
// tables (form kPatterns) to g.
std::vector<double> ExpectedTablesAndPatternScore(const RunState& run, const ScoreLayout& layout,
                                                  std::vector<double>& g);

// Adds sum_c E(c) S_i(c), the score of the parameters of tables of form kLinked, to g.
void AddLinkedScore(const RunState& run, const ScoreLayout& layout, const double* expected,
                    std::vector<double>& g);

}  // namespace tav

#endif  // TAV_ENGINE_NEWTON_OBSERVED_INFORMATION_H_
