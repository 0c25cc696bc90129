#ifndef TAV_ENGINE_ESTIMATION_ORDINAL_RESTRICTIONS_H_
#define TAV_ENGINE_ESTIMATION_ORDINAL_RESTRICTIONS_H_

#include <vector>

#include "estimation/estimation_state.h"
#include "estimation/family_state.h"

namespace tav {

// Ordinal restrictions (or1, or2): the response distributions of a submodel's columns (cells of
// its conditioning margin), taken in column order, are stochastically ordered. n(h, i) are the
// expected frequencies of column h and response category i (categories in cell order for or1,
// reversed for or2; type d reverses both the columns and, against the declared kind, the
// categories). Every adjacent pair of columns a, b and cut i carries a multiplier B that moves
// expected mass between the pair's cells; the working values are
//   continuation ratios (types c and d, and any type with two categories):
//     n'(h, i) = n(h, i) + B(h - 1, i) - B(h, i),
//     restriction: the share of category i in the mass of categories i and above does not grow
//     from a to b; when it would (n'(b, i) / w > n'(a, i) / v, v and w the observed masses of
//     categories i and above), B := (A w - G v) / (v + w) with A and G the pair's working values
//     without B, which pools the two shares; otherwise B := 0.
//   cumulative probabilities (type a): p(h, i) = n(h, i) / den(h, i), den(h, i) = D(h) minus
//     the multipliers of the cuts at or above i of the pair before h plus those of the pair h;
//     restriction: the cumulative probability of categories 0 .. c does not grow from a to b;
//     Newton steps B -= g / H / restriction_step on its value g and derivative H, B kept at
//     most 0 (a negative B is active), then per column a Newton step on D(h) so that its
//     probabilities sum to 1; fitted p(h, i) n(h).
//   local odds ratios (type b):
//     n'(h, i) = n(h, i) - B(h, i) + B(h, i - 1) + B(h - 1, i) - B(h - 1, i - 1),
//     restriction: the odds ratio of categories i, i + 1 in columns a, b is at least 1; when it
//     is not (P Q > A S for the 2 x 2 block A = (a, i), P = (a, i + 1), Q = (b, i),
//     S = (b, i + 1) without B), B := (A S - P Q) / (A + P + Q + S), which makes the block
//     independent with its margins kept; otherwise B := 0.
// A pair and cut whose multiplier is not 0 is an active restriction; the count of the last pass
// goes to ActiveOrdinalRestrictions (a parameter less each). Passes repeat while a multiplier
// moves by more than 1e-10, at most max_inner_iterations of them, and the multipliers carry over
// to the next iteration. The fitted values: continuation ratios n'(a, i) / v of the remaining
// mass, products over the cuts; local odds ratios n' itself.

// The M-step of every ordinal submodel (in iterations from 1 on, after the visits).
void FitOrdinalRestrictions(EstimationRun& run);

// The ordinal family's state, per submodel: the multipliers of its adjacent column pairs h and
// cuts i, at h * (J - 1) + i, kept across iterations, and for cumulative orderings (type a) the
// normalising total of every column.
struct OrdinalState : CopyableFamilyState<OrdinalState> {
  std::vector<std::vector<double>> multipliers;
  std::vector<std::vector<double>> totals;
};

// The ordinal family's state of the run's fit (families/ordinal_restriction.cpp).
OrdinalState& OrdinalStateOf(EstimationRun& run);

}  // namespace tav

#endif  // TAV_ENGINE_ESTIMATION_ORDINAL_RESTRICTIONS_H_
