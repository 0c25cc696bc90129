#ifndef TAV_ENGINE_ESTIMATION_CUMULATIVE_MODEL_H_
#define TAV_ENGINE_ESTIMATION_CUMULATIVE_MODEL_H_

#include <cstdint>
#include <vector>

#include "estimation/estimation_state.h"
#include "estimation/family_state.h"
#include "estimation/margins.h"

namespace tav {

// The cumulative response model of a cum submodel. Every cell has a linear predictor eta, the
// sum over the submodel's designs of x_k(c) ln tau_k (estimation/design_effects.h); the cells
// of a column (a cell of the conditioning margin) are the q categories of the response, and
// the cell of category c holds
//   P(c) = F(eta_c) - F(eta_(c-1)),  F(eta_(-1)) = 0, F of the last category 1,
// with the link of the model's letter: a/e logit e^eta / (1 + e^eta), b/f probit Phi(eta),
// c/g complementary log-log 1 - exp(-e^eta) (1 when eta > 9), d/h exp(-e^eta) (0 when
// eta > 9). The last link decreases in eta, so its thresholds decrease over the categories.
// Model i is the normal model: P(c) = phi((h_c - eta) / sigma) / sigma with the centred
// category h_c = c - (q - 1) / 2, sigma^2 the mean squared residual sum l (h_c - eta)^2 / N
// over the cells (l the expected frequencies; sigma = 1 in the start iteration) and
// R^2 = 1 - S_e / (S_hh - S_h^2 / S_l).

// The cumulative family's state, per submodel: the cells of each column in category order
// (column by column), and the R-squared of the normal model i.
struct CumulativeState : CopyableFamilyState<CumulativeState> {
  std::vector<std::vector<std::int64_t>> cells;
  std::vector<double> r_squared;
};

// The cumulative family's state of the run's fit (families/cumulative.cpp).
CumulativeState& CumulativeStateOf(EstimationRun& run);
const CumulativeState& CumulativeStateOf(const EstimationRun& run);

// The number of response categories q of cumulative submodel r.
std::int64_t ResponseCategories(const EstimationRun& run, int r);

// The cells of every column of cumulative submodel r, column by column in category order;
// response maps the submodel's cells onto the response categories.
std::vector<std::int64_t> CumulativeCells(const EstimationRun& run, int r,
                                          const MarginShape& response);

// The category probabilities of cumulative submodel r from its linear predictor (and, for
// model i, its scale and R-squared). Probabilities that fall below 0 (thresholds out of order)
// stop the run; so does a normal model without residual spread.
void FormCumulativeProbabilities(EstimationRun& run, int r);

// The gradient g and scoring information h of a step over n parameters of cumulative
// submodel r, whose values at every cell are x (cells x n, row by row): with dP_p(c) = D_p,c -
// D_p,(c-1) the change of a category's probability, D_p,c = x_p(c) dF/deta at the category's
// cumulative probability (0 for the last category),
//   g_p = sum n_c / P_c dP_p(c),  h_pq = sum n_c / P_c^2 dP_p(c) dP_q(c);
// for the normal model g_p = sum (h_c - eta) x_p n_c and h_pq = sum x_p x_q n_c. curvature
// receives the second-derivative part of minus the Hessian of sum n ln P,
//   -sum n_c / P_c (x_p x_q F''(eta_c) - the same of the category before),
// so that h + curvature is the observed information (0 for the normal model, whose h is).
void CumulativeSums(const EstimationRun& run, int r, const std::vector<double>& x, std::size_t n,
                    std::vector<double>& g, std::vector<double>& h, std::vector<double>& curvature);

// Per cell of cumulative submodel r (one of the models a to h), at the current fitted
// probabilities: dF/deta (first) and d2F/deta2 (second) at the cell's cumulative probability
// (0 for the last category), and the cell of the category before it in its column (before, -1
// for the first category). Then dP(c) = x(c) first(c) - x(b) first(b), b = before(c).
struct CumulativeSlopes {
  std::vector<double> first;
  std::vector<double> second;
  std::vector<std::int64_t> before;
};
CumulativeSlopes CumulativeCellSlopes(const EstimationRun& run, int r);

}  // namespace tav

#endif  // TAV_ENGINE_ESTIMATION_CUMULATIVE_MODEL_H_
