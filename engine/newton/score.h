#ifndef TAV_ENGINE_NEWTON_SCORE_H_
#define TAV_ENGINE_NEWTON_SCORE_H_

#include <vector>

#include "newton/run_state.h"

namespace tav {

// The score of the log-likelihood and the information matrix of the standard errors, from the
// E-step's expected complete-data tables.
//
// A free parameter theta_i of a model term, of a design effect or of an association term acts
// on the fitted cells f of one table t_i along a direction x_i: moving it by delta multiplies
// f(c) by exp(delta x_i(c)), after which the table is normalised again (the first submodel to
// its total, the others per cell of their conditioning margin), as PerturbParameter moves it.
// A parameter of a cumulative submodel moves its linear predictor by delta x_i(c), and the
// probabilities follow through the link. The log-likelihood is sum_h n_h ln sum_k prod_t
// f_t(c_t(h, k)) less a constant, so its derivative is the expected complete-data score at the
// current posterior:
//   g_i = sum_c x_i(c) (E(c) - f(c) E_b / F_b)   (cumulative tables: sum_c E(c) S_i(c)),
// E the E-step's expected table of t_i, E_b and F_b the sums of E and f over the block b of c
// (its cell of the conditioning margin; the whole table for the first submodel), S_i(c) the
// derivative of ln P(c).
//
// The information is minus the derivative of the score. Without latent variables or missing
// data it has a closed form; with them it is that form at the expected tables less the
// posterior covariance of the complete-data score, one pass over the data
// (newton/observed_information.h). Where the tables of that pass would not fit its memory, it
// is taken from central differences of the score, column j being
// -(g(theta + h e_j) - g(theta - h e_j)) / (2 h) with h = kScoreStep: 2n E-steps, run in
// parallel (each thread with tables of its own), then (I + I') / 2. Their error is O(h^2),
// below 1e-8 relative; forward differences (n + 1 E-steps) would leave O(h), which shows in the
// fourth digit of an eigenvalue.
//
// The hazard part's parameters act on its rates (transition probabilities in discrete time,
// normalised per covariate cell, interval and origin) as exp(delta x_i); a pattern's
// complete-data score in covariate cell c is sum_cells x_i (d - lambda y) over its events d and
// exposures y (discrete time: d - p D_b, D_b its transitions from the origin in the interval),
// and only the posterior-covariance form, whose pass forms the hazard factors, covers them.
//
// Parameters of submodels with marginal restrictions are left out (their covariances come from
// their own step). Estimated hazard shapes (kind 3) and the normal model (cum(i)) are not
// covered: their information stays with the finite differences of the log-likelihood.

inline constexpr double kScoreStep = 1e-4;

// Whether the free parameters (but those of marginally restricted submodels) can be scored
// this way. The free-parameter list must be built and its effects prepared.
bool ScoreAvailable(const RunState& run);

// Whether the Newton-type iterations take their gradient and information from the score: it
// covers the model, which has no marginal restrictions (whose parameters the score leaves out).
bool ScoredNewton(const RunState& run);

// The score g of the free parameters at the current fitted tables (0 for the parameters of
// marginally restricted submodels). Requires ScoreAvailable.
std::vector<double> ComputeScore(const RunState& run);

// How the information matrix is formed.
enum class ScoreInformationMethod {
  kAutomatic,            // the closed form, else the posterior covariance, else differences
  kPosteriorCovariance,  // the closed form at the expected tables less the posterior covariance
  kScoreDifferences,     // the differences of the score
};

// The information matrix (n x n, row by row, n the free-parameter count) at the current fitted
// tables into matrix, with ThreadCount(run.Threads()) threads; entries of parameters of
// marginally restricted submodels are 0. Requires ScoreAvailable; the run's tables are not
// changed. The numbers do not depend on the number of threads.
void ScoreInformation(const RunState& run, std::vector<double>& matrix,
                      ScoreInformationMethod method = ScoreInformationMethod::kAutomatic);

}  // namespace tav

#endif  // TAV_ENGINE_NEWTON_SCORE_H_
