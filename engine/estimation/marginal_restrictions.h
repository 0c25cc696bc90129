#ifndef TAV_ENGINE_ESTIMATION_MARGINAL_RESTRICTIONS_H_
#define TAV_ENGINE_ESTIMATION_MARGINAL_RESTRICTIONS_H_

#include <vector>

#include "estimation/estimation_state.h"
#include "estimation/family_state.h"

namespace tav {

// One chain of a written mar() item (estimation/marginal_restrictions.h): the margins
// mu_g = sum of weight * p(cell) over its entries (for the form on log cells, of weight *
// ln p(cell)), then the item's matrices and its design, which the chain's equation values add
// into the item's equations.
struct MarginalChain {
  struct Entry {
    std::int64_t cell = 0;  // of the submodel
    int margin = 0;
    double weight = 1;
  };
  std::vector<Entry> entries;
  int margins = 0;
  std::vector<double> first;   // rows x margins (letters c and d)
  std::vector<double> second;  // rows x rows of the first matrix (letter d)
  int rows = 0;                // values the design acts on
  std::vector<double> design;  // equations x rows, equation-major
};

// One written mar() item of a submodel: its equations, their targets, the form they take and
// their multipliers' place in Multipliers.
struct MarginalItem {
  int design = -1;  // the item's first design
  int equations = 0;
  MarginalForm form = MarginalForm::kMargins;
  bool inequality = false;  // equations are inequalities, value >= 0
  std::vector<double> target;
  std::vector<MarginalChain> chains;
  std::int64_t offset = 0;      // the first multiplier in Multipliers
  std::vector<char> dependent;  // per equation: dropped as dependent in the last step
};

// The marginal family's state: per submodel, its mar() items.
struct MarginalState : CopyableFamilyState<MarginalState> {
  std::vector<std::vector<MarginalItem>> items;
};

// The mar() items of the run's fit, per submodel (families/marginal_restriction.cpp).
std::vector<std::vector<MarginalItem>>& MarginalItems(EstimationRun& run);
const std::vector<std::vector<MarginalItem>>& MarginalItems(const EstimationRun& run);

// Submodels with mar() restrictions: the submodel's table is saturated but for equations on
// its marginal distributions, or, beside model terms (plain effects) or design effects (cov,
// eff, fac, spe, its own and those of `all` aimed at it; fix and wei as fixed cell weights),
// follows the log-linear model of those effects (with the constant of the first submodel, the
// conditioning cells of another) and the equations at once; fitted by a Newton step projected
// onto the equations with Lagrange multipliers. Such a model is the maximum-likelihood fit of
// the log-linear model under the equations.
//
// The equations. They are taken on the probabilities p = m / M of the submodel's table (M its
// total), so that targets are probabilities and the equations do not depend on the sample
// size. A submodel with conditioning variables is a product of multinomials: its table is its
// conditional probabilities times the expected totals of its conditioning cells, and the step
// holds those totals (its directions are taken less their means within every conditioning
// cell, weighted by m). An item mar(T1 T2 ... f g P [C] [B] [m2]) has P equations; f (a to e) is
// the form, g (a to d, a when left out) says equalities (a), inequalities value >= 0 (b),
// equalities with targets (c) or inequalities value >= target (d); B is the number of rows of the
// first matrix (forms c and d), C that of the second (form d), m2 the margin specification (0 when
// not written). Each term Ti has the cells of its marginal table (its variables' categories, last
// variable fastest).
//   m2 = 0:  the margins are the cells of each term's marginal table, and each term brings its
//            own matrices and design: every term adds its values to the item's equations.
//   m2 > 0:  every cell of every term's marginal table is given a margin number 1 .. m2 (0: in
//            none); margin g is the sum of the cells numbered g over all terms. The matrices and
//            the design are given once, with the first term.
//   m2 < 0:  margin g (1 .. |m2|) is sum over the terms and their cells of a_g(cell) p(cell),
//            the reals a_g of every term given row by row.
// With the margins mu (for form e, the same sums of ln p instead of p) the values y are
//   a: mu,   b: ln mu,   c: F ln mu,   d: S exp(F ln mu),   e: sum of ln p,
// F being the first matrix (B rows), S the second (C rows); the equations are
//   e_j = sum_i D_ji y_i - t_j,  j = 1 .. P,
// with D the design (P rows over the values y) and t_j the targets (0 for letters a and b).
// Logarithms are taken of positive margins only: a margin that is 0 adds nothing.
// Numbers in the design stream, per term for m2 = 0 (after the first term for m2 != 0 only its
// margin numbers or margin reals): F row by row, then S row by row, then D equation by
// equation; then, for m2 != 0, the P targets and the margin numbers or reals of each term; for
// m2 = 0 the targets follow the terms as one extra block of P numbers.
// Marginal homogeneity of a 3 x 3 table AB, written the simplest way,
//   mod AB {mar(A B a 2)}   des [1 0 0  0 1 0   -1 0 0  0 -1 0]
// says p(A=1) - p(B=1) = 0 and p(A=2) - p(B=2) = 0.
//
// The step (iteration it >= 1): with C the derivatives of the equations times M by the fitted
// cells m_k (C_jk = g_jk - sum_l p_l g_jl, g the derivatives by the probabilities; e is taken
// times M too, so that the multipliers do not grow with the sample size), n the expected table
// and s = restriction_step,
//   D = C diag(m) C',  e' = e + C (n - m),  lambda = -D^-1 e',
//   delta_k = (n_k - m_k) / m_k + (C' lambda)_k,  m_k := m_k exp(delta_k / s),
// the Newton step of the saturated Poisson log-likelihood in ln m projected onto the
// linearised equations; the multipliers become exp(lambda_j) (lambda kept within +-700). The
// first iteration of a saturated table starts from the expected table (see StartFromExpected
// in the source for its empty cells). A step whose largest |delta| / s
// passes 2 is shortened to 2 as a whole (a start far from the data would overflow). In the
// start iteration (it = 0) one projection of the start table onto the equations:
// lambda = -D^-1 e, m_k := m_k exp((C' lambda)_k). Cells that are 0 stay 0.
// Beside model terms or design effects, with X the columns of the log-linear model (the
// first submodel's constant, the cells of every model term, the design effects' estimated
// parameters), P = X (X' diag(m) X)^- X' diag(m) the projection onto them and
// y_k = (n_k - m_k) / m_k: D = C diag(m) P C', e' = e + C diag(m) P y, lambda = -D^-1 e',
// delta = P (y + C' lambda); every cell gets exp(delta_k / s), and the parameters of the
// columns (model-term parameters, design parameters, the first submodel's constant) their
// coefficients in delta, exp(coefficient / s). The constant (the conditioning cells) is taken
// out within its group (theirs), so that it costs no matrix. A model term's cells are columns
// of their own, the dependent ones dropped (a generalised inverse): the step is the same
// whichever columns are kept. The start iteration sets the effects' start values, then
// projects within the model: lambda = -D^-1 e, delta = P C' lambda.
// An equation that the log-linear model already implies (its derivatives nearly orthogonal to
// the model: a diagonal element of D below 1e-10 of that of C diag(m) C') is dropped like a
// dependent one.
// Inequalities: an equation is left out of a step (value and derivatives 0) when it holds while
// its multiplier is exactly 1, or when its multiplier is below 1; each such equation, and each
// equation dropped as linearly dependent on the others (pivot of D below 1e-10 times its
// largest diagonal element), is counted in BoundaryAdjustments, which gives its degree of
// freedom back.
//
// Standard errors, at the estimates: the multipliers' covariances are D^-1 (for a saturated
// table D = C diag(m) C'), those of the log-linear parameters of the model terms (in the coding
// of the free-parameter list) and of the design parameters (A^-1 - (A^-1 B) D^-1 (A^-1 B)')
// over their columns, A = X' diag(m) X and B = X' diag(m) C'. The multipliers' Wald test is the
// score test of the equations, which for a multinomial table is Pearson's X-squared at the
// restricted fit. A saturated table lists no log-linear parameters of its own.

// Whether submodel r's table is saturated but for its mar() restrictions: it has them, no
// design other than mar() items, and no model term (the first submodel's constant and the
// conditioning margin of another are not model terms).
bool MarginalSaturated(const ModelState& model, int r);

// Sets up the items of every submodel with mar() restrictions and their multipliers, appended
// to Multipliers (start 1 unless given).
void SetUpMarginalRestrictions(EstimationRun& run);

// Whole-table start values (sta) of a submodel whose restrictions stand beside model terms or
// design effects: the table becomes the log-linear model of its model terms nearest to them
// (least squares in the logs of the non-empty cells), and the model terms' parameters follow,
// so that no part of the start outside the model stays in the table as a fixed weight.
void ProjectStartTable(EstimationRun& run, int r);

// The step of submodel r in iteration `iteration` (0: the start iteration).
void FitMarginalSubmodel(EstimationRun& run, int r, int iteration);

// The covariances of submodel r's parameters at the estimates: positions[i] is parameter i's
// place in the free-parameter list (the model terms' log-linear parameters, the design
// effects' estimated parameters, those of `all` aimed at r among them, then the multipliers of
// the items in order; -1 for one not listed); covariance is row-major over them.
struct MarginalCovarianceBlock {
  std::vector<int> positions;
  std::vector<double> covariance;
};
MarginalCovarianceBlock MarginalCovariance(const EstimationRun& run, int r);

// The number of multipliers of submodel r.
int MarginalMultiplierCount(const EstimationRun& run, int r);

// After the iterations: stops the run when an equation is not met at the estimates (further
// than 1e-4 from its target, or below it for an inequality).
void CheckMarginalRestrictionsMet(EstimationRun& run);

}  // namespace tav

#endif  // TAV_ENGINE_ESTIMATION_MARGINAL_RESTRICTIONS_H_
