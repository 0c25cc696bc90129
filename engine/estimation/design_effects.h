#ifndef TAV_ENGINE_ESTIMATION_DESIGN_EFFECTS_H_
#define TAV_ENGINE_ESTIMATION_DESIGN_EFFECTS_H_

#include <cstdint>
#include <vector>

#include "estimation/estimation_state.h"
#include "estimation/family_state.h"
#include "estimation/model_family.h"
#include "estimation/submodel_form.h"

namespace tav {

// One restricted effect (special effect) of a submodel as the design M-step uses it: the
// designs of one written effect (its first design and the designs of its further terms, which
// share its parameters), with the values x_k(c) of parameter k at every cell c of the
// submodel, summed over the terms and stored as x[k * cells + c], and its parameters' place in
// Multipliers.
struct DesignWork {
  int design = -1;          // index in the submodel's designs of the written effect's first
  int last_design = -1;     // and of its last design
  int table = -1;           // the submodel whose cells it acts on (for `all`, its target)
  MarginShape shape;        // submodel cells onto the cells of the first design's term
  std::int64_t cells = 0;   // of the submodel
  int parameters = 0;       // estimated (or fixed) parameters
  std::vector<double> x;    // parameters x submodel cells (empty for fix and wei)
  std::int64_t offset = 0;  // the first parameter in Multipliers
  bool fixed = false;       // fix and wei: applied once, never estimated
  bool thresholds = false;  // the thresholds of a cumulative submodel
  // Per parameter, the power of two its column x was divided by (empty: 1 for all). A column
  // whose largest magnitude lies far from 1 is brought to [1, 2) so that the fit does not
  // depend on the unit of a covariate; the parameters (tau) and their derivatives then belong
  // to the scaled columns, and the user's log parameter is ln tau / scale.
  std::vector<double> scale;
  // The parameters that are estimated, in order: free parameter position p of the design is
  // parameter free[p]. The prespecified models whose columns sum to a constant (2a, 3a, 8a,
  // 9a) keep their first parameter at 1, in every group that has parameters of its own.
  std::vector<int> free;
};

// The design family's state: per submodel, the designs that the design M-step fits, in design
// order.
struct DesignState : CopyableFamilyState<DesignState> {
  std::vector<std::vector<DesignWork>> works;
};

// The design works of the run's fit, per submodel (families/design_effect.cpp).
std::vector<std::vector<DesignWork>>& DesignWorks(EstimationRun& run);
const std::vector<std::vector<DesignWork>>& DesignWorks(const EstimationRun& run);

// The design M-step: effects whose cells carry design values, in log-linear and in cumulative
// submodels.
//
// Design values x_k(c) of parameter k at cell c of a design's term:
//   cov  the reals of the design input;
//   eff  the integers of the design input, taken as they are (effect or dummy codes);
//   fac  indicator coding: x_k(c) = 1 when the factor number of c is k + 1, else 0, so that
//        factor number 0 marks the reference cells, which carry no parameter;
//   spe  the generated columns of the prespecified model (data/generated_designs.h);
//   fix, wei  one value per cell, multiplied into the fitted cells once, in the start
//        iteration, and never estimated (for a cumulative submodel its logarithm is added to
//        the linear predictor, -1000 for a value that is not positive).
// Parameters are held on the multiplicative scale (tau_k; the log-linear parameter is
// ln tau_k).
//
// Log-linear submodels (fitted cells m_c, expected cells n_c, in frequency form during the
// cycle): one Newton step per parameter,
//   G = sum over m_c > 0 of x_k(c) (n_c - m_c),  H = sum x_k(c)^2 m_c,
//   f = 1 + G / H / step_size (0 when H = 0),
// f clipped to [0.5, 2], then tau_k *= f and every cell with m_c > 0 and x_k(c) != 0 is
// multiplied by f^x_k(c) (set to 0 when f = 0).
//
// Cumulative submodels (estimation/cumulative_model.h): the designs add x_k(c) ln tau_k to the
// cells' linear predictors. The first design holds the thresholds: q - 1 identity columns over
// the response categories for the free thresholds (a to d); an intercept and a spacing column
// with the centred scores k - (q - 2) / 2, k = 0 .. q - 1 (q the response categories), for the
// equidistant ones (e to h), so that the thresholds are symmetric about the intercept; the
// intercept alone for model i. Thresholds start spread over -4 .. 4 (free) or at intercept 0
// and spacing 1 / q (equidistant); for the link exp(-e^eta), which decreases in eta, at the
// reciprocals, so that its thresholds decrease over the categories. Effects act with the
// opposite sign to a cumulative-link regression P(Y <= c) = F(theta_c - x beta):
// eta = theta_c + x ln tau.
//
// Grouped designs: the group of a cell is the group number of its grouping-variable cell (0:
// the effect is absent there), or that cell itself without a number of groups. Interaction a
// shares the parameters among the groups, c gives every group its own, and b adds to the
// shared ones a shift per group but the first, acting on sum_k x_k(c) in its cells. The terms
// of one written effect share its parameters (their values add up). The designs of `all` act
// on the submodel they are aimed at.

// Sets up the designs that the design M-step fits (DesignWorks), their
// parameters (appended to Multipliers) with the start values given in the input, and the
// predictors of the cumulative submodels. After SetUpEstimationTables.
void SetUpDesignEffects(EstimationRun& run);

// The M-step of design i of submodel r: initial values and the fixed effects in the start
// iteration, one Newton step per parameter afterwards.
void FitDesignEffect(EstimationRun& run, int r, int i);

// The design M-step of submodel r over all its designs at once (not the designs of `all` aimed
// at a submodel with mar() restrictions, which its marginal step fits). In the start iteration the
// initial values and fixed effects of every design (FitDesignEffect); afterwards one joint
// Newton step over all estimated parameters of the submodel, solving H d = G / s
// (s = step_size) for the changes d of ln tau, with the sums of the one-dimensional step
// extended to cross-products:
//   log-linear submodels: the submodel's model terms (its constants per column included) are
//     profiled out, so that the step is that of the likelihood with the terms at their best
//     (the proportional fitting of the terms follows);
//   cumulative submodels: the observed information when it is positive definite, else the
//     scoring sums (estimation/cumulative_model.h).
// The step is shortened as a whole until no parameter changes by more than the factor bounds
// (2, and 1.25 for the cumulative models a to h in iterations 1 to 10). Taking the parameters
// together rather than one by one keeps correlated parameters (thresholds and effects, design
// columns and model terms) from creeping towards their estimates over hundreds of iterations,
// so that the change of the log-likelihood per iteration, which ends the iterations, reflects
// how far the estimates still are. A singular system (parameters the design does not
// identify) falls back to the one-dimensional steps.
void FitDesignEffects(EstimationRun& run, int r);

// The gradient g and information h of a joint Newton step over n parameters of log-linear
// submodel r whose derivatives of the log fitted cells are x (cells x n, cell-major: x[c * n +
// p]), with the fitted cells m in frequency form and the expected cells n_c. The parameters of
// the submodel's model terms are profiled out: the columns x_p are replaced by their residuals
// x~_p from the m-weighted projection onto the terms (the constant of every column, or of the
// whole first submodel, included), found by alternating projections (the m-weighted mean of
// every cell of every term subtracted in turn, until the means vanish), and
//   g_p = sum x~_p (n_c - m),  h_pq = sum x~_p x~_q m  (cells with m > 0).
// This is the Newton step of the likelihood with the terms at their best for every value of the
// parameters, which the proportional fitting after it then reaches. With sparse, h is taken as
// sum x_p x~_q m (symmetrised), equal since x~_q is m-orthogonal to the terms, and far cheaper
// when most x_p(c) are 0 (association scores). A further term, when given, is profiled out
// with the others (the transition blocks of a discrete-time hazard part).
void ProfiledSums(const EstimationRun& run, int r, std::vector<double> x, std::size_t n,
                  std::vector<double>& g, std::vector<double>& h, bool sparse = false,
                  const MarginShape* further = nullptr);

// Multiplies the design parameter at free position `position` of design i of submodel r by
// exp(delta) and moves the submodel's fitted cells with it, keeping conditional probabilities
// conditional and the first submodel's total; for the derivatives and steps of the
// Newton-type iterations.
void PerturbDesignParameter(EstimationRun& run, int r, int i, int position, double delta);

// The design work of design i of submodel r, or nullptr when the design M-step does not fit it.
const DesignWork* FindDesignWork(const EstimationRun& run, int r, int i);

// What the Newton-type iterations need of a free parameter of a design (a design effect's, or a
// multiplier of mar() restrictions, which share its place in the list):
// the table it acts on (a design of `all` acts on the submodel it is aimed at, any other on its
// own submodel) ...
int DesignParameterTable(const EstimationRun& run, const FreeParameter& parameter);
// ... its direction: its column x over the cells of that table; not covered when the design
// M-step does not fit it, it is fixed, or it acts on a table other than a submodel or the
// hazard part ...
ParameterDirection DesignParameterDirection(const EstimationRun& run,
                                            const FreeParameter& parameter);
// ... the step of its curvature: a third of the usual step for a value strictly between 0.95
// and 1.05 ...
double DesignParameterStep(const EstimationRun& run, const FreeParameter& parameter, double step);
// ... and the design parameters and tables of submodel r's designs.
void AddDesignValues(const EstimationRun& run, int r, SubmodelValues& values);

// A family whose free parameters are multipliers in the place of design parameters (design
// effects, the multipliers of mar() restrictions): they act on their tables, move and take
// their curvature steps as design parameters do, by central differences (thresholds far from
// 0 turn the O(h) error of forward differences into an error in the third digit of a standard
// error).
class MultiplierFamily : public ModelFamily {
 public:
  int TableOf(const EstimationRun& run, const FreeParameter& parameter) const override {
    return DesignParameterTable(run, parameter);
  }
  ParameterDirection DirectionOf(const EstimationRun& run,
                                 const FreeParameter& parameter) const override {
    return DesignParameterDirection(run, parameter);
  }
  bool Perturb(EstimationRun& run, const FreeParameter& parameter, double delta) const override {
    PerturbDesignParameter(run, parameter.submodel, parameter.design, parameter.position, delta);
    return true;
  }
  double CurvatureStep(const EstimationRun& run, const FreeParameter& parameter,
                       double step) const override {
    return DesignParameterStep(run, parameter, step);
  }
  bool CentralDifferences(const EstimationRun&, const FreeParameter&) const override {
    return true;
  }
};

// Column scaling: a design column whose largest magnitude lies outside [2^-10, 2^10] is
// divided by the power of two that brings that magnitude into [1, 2) (exactly, so the fit
// sees the same column in other units), and its parameter is held for the scaled column:
// ln tau_user = ln tau / scale, se_user = se / scale, z and the Wald tests unchanged. Start
// values given by the user become tau^scale. Columns within the band keep scale 1, so the
// usual designs are fitted exactly as they are written.
//
// The scale of parameter k of a work, and of free parameter i (1 for a parameter that is not a
// scaled design parameter).
double ColumnScale(const DesignWork& work, int k);
double FreeParameterScale(const EstimationRun& run, int i);
// The log parameter in the user's units of parameter k of a work (NaN when tau is not
// positive).
double UserLogParameter(const EstimationRun& run, const DesignWork& work, int k);

}  // namespace tav

#endif  // TAV_ENGINE_ESTIMATION_DESIGN_EFFECTS_H_
