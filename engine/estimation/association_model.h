#ifndef TAV_ENGINE_ESTIMATION_ASSOCIATION_MODEL_H_
#define TAV_ENGINE_ESTIMATION_ASSOCIATION_MODEL_H_

#include <string>
#include <vector>

#include "estimation/estimation_state.h"
#include "estimation/family_state.h"

namespace tav {

// One association term of a log-linear submodel as the association M-step fits it
// (estimation/association_model.h): a written ass() item, which for model digit 5 is the
// parser's pair of terms.
struct AssociationWork {
  int table = -1;   // the submodel whose cells it acts on
  int source = -1;  // the submodel whose association terms hold it (table, or `all`)
  int term = -1;    // its first term (index in the source's association terms)
  AssociationFamily family = AssociationFamily::kLogLinear;
  AssociationScores scores = AssociationScores::kUniform;
  int rows = 1;
  int columns = 1;
  int layers = 1;
  int scaling = 3;
  bool rows_estimated = false;
  bool columns_estimated = false;
  bool symmetric = false;      // digit 6: one set of scores for rows and columns
  bool row_layers = false;     // every layer has its own row scores
  bool column_layers = false;  // and column scores
  bool phi_layers = false;     // and association parameter
  bool phi_estimated = false;
  bool first_phi_fixed = false;  // scaling type 4 beside estimated scores
  bool started = false;          // the first step gave the values their start
  // The directions the values move in: over the layers (phi; one value when phi is shared),
  // and over the rows and the columns of each score block. They carry the equality mappings,
  // designs and symmetries of the scores and the layer groups or design of phi.
  std::vector<std::vector<double>> phi_vectors, row_vectors, column_vectors;
  // Fixed shapes: the scores of a side whose mapping or design the user gave (per category), and
  // the layers without association (layer group 0).
  std::vector<double> row_given, column_given;
  std::vector<char> layer_off;
  // Per cell of the submodel its row, column and layer index.
  std::vector<std::int32_t> row_of, column_of, layer_of;
  // The values: row scores (rows per block, one block per layer or one for all), column scores
  // (likewise; the row scores' for a symmetric term) and the association parameters (one per
  // layer, equal when they are shared).
  std::vector<double> row_scores, column_scores, phi;
  // The term's contribution to the log of every fitted cell at the current values.
  std::vector<double> contribution;
  // The change of every cell along each direction of the standard errors, kept for the values
  // they were computed at (the information matrix asks for them many times).
  mutable std::vector<double> directions_at;
  mutable std::vector<std::vector<double>> cell_changes;
};

// The association family's state: per submodel, its association terms.
struct AssociationState : CopyableFamilyState<AssociationState> {
  std::vector<std::vector<AssociationWork>> terms;
};

// The association terms of the run's fit, per submodel (families/association.cpp).
std::vector<std::vector<AssociationWork>>& AssociationTerms(EstimationRun& run);
const std::vector<std::vector<AssociationWork>>& AssociationTerms(const EstimationRun& run);

// The association M-step: row-column association terms ass(rows columns [layers] Dx) of
// log-linear submodels and of the hazard part. In the hazard part the terms act on the log
// rates (in discrete time the log transition probabilities): its fitted cells hold the fitted
// numbers of events during the M-step, so that the steps below are those of its Poisson model
// with the log exposures as offsets; in discrete time the totals of every covariate cell,
// interval and state of origin are fitted with its model terms, which makes them the steps of
// the multinomial model of the transitions (the terms contrast the risks of one state).
//
// A term acts on the cells of its submodel through its row index h (0 .. R - 1, mixed radix
// over its row variables in model order, the last fastest), its column index l (0 .. C - 1)
// and its layer index k (0 .. K - 1, over its group variables; K = 1 without them). With the
// centred integer scores u_h = h - (R - 1) / 2 and v_l = l - (C - 1) / 2, the term adds to
// the log of the fitted cell
//   family 1 (ass, ass1):  phi_k u_h v_l + mu_h v_l + nu_l u_h
//   family 2 (ass2):       phi_k mu_h nu_l
//   family 3 (ass3):       phi_k (u_h nu_l + v_l mu_h)
// with the row scores mu (0 when not estimated, family 2: the scores below) and the column
// scores nu likewise. The model digit says which scores are estimated:
//   2  none: uniform association (family 2: mu and nu are the integer scores, normalised;
//      family 3, whose term would vanish, takes the integer scores halved, so that it is the
//      uniform association of family 1),
//   3  the row scores (row effects),
//   4  the column scores (the parser exchanged the roles: a term of digit 3 on the exchanged
//      variables),
//   5  both (the parser's pair of terms, the second on the exchanged variables: row and
//      column effects, family 2 the RC model),
//   6  both, and they are one set of scores (rows and columns of equal number): symmetric
//      association.
// The letter says what varies over the layers:
//   a  nothing: one phi and one set of scores for all layers,
//   b  phi (one per layer), the scores shared,
//   c  phi and the scores (every layer its own),
//   d  (digit 5) phi and the row scores, the column scores shared,
//   e  (digit 5) phi and the column scores, the row scores shared.
// A symmetry letter a makes the row and column scores one set (a symmetric term, which needs
// digit 5 or 6 and as many rows as columns), b mirrors each side's scores about its middle
// category (mu_h = -mu_(R-1-h)), c does both. The numbers after the model type shape the
// values (data/design_reader.h): a row (column) mapping makes the rows of one group share a
// score, a row (column) design makes the scores a combination of its columns, a layer mapping
// makes the layers of one group share phi (layers of group 0 have none), a layer design makes
// phi a combination of its columns over the layers. The values move only in these directions
// (AssociationWork::row_vectors and the like), and start scores are projected onto them.
//
// The association parameters phi are estimated for family 2, for digit 2 and for letter b;
// otherwise, with estimated scores, they are not identified beside them and stay at their start
// value (0 in family 1, 1 in family 3). A letter other than a gives one phi per layer.
//
// Scores of family 2 are normalised after every step by the scaling type s of `sca` (families 1
// and 3 always take 3), per block of n scores x (one layer's scores, or all layers' when
// shared), when sum x^2 > 0 and n > 1, with m the mean and d = sqrt(sum x^2 - (sum x)^2 / n):
//   1  (x - m) / d, sum of squares 1;  2  sqrt(n) (x - m) / d, sum of squares n;
//   3  x - m;  4  x - m, and the first layer's phi is fixed at 1;  5  unchanged;
//   6  the first and last scores fixed at -(n - 1) / 2 and (n - 1) / 2.
// Rescaling a block multiplies the phi of its layers by the inverse factor, so that the term
// keeps its value; centring moves it by a main effect, which the proportional fitting of the
// submodel's margins takes up. With types 3 and 5 (and 4 beside estimated row and column
// scores) the scale of the scores is not identified; the standard errors show it.
//
// Start values (the start iteration): family 2 row scores (h - (R - 1) / 2) / (R / 2) and
// column scores h - (C - 1) / 2 (with a mapping or design, GivenScores), both normalised,
// phi 0; estimated scores start at the values
// given with `wic` when there are any, at 0 with random start values; family 1 all 0; family 3
// scores 0 and phi 1. A variable of one category has the score 1. In iteration 1 every
// estimated value moves by g / step_size, g a random start draw of the submodel (0.1 when it
// is 0). A family-2 term with row and column scores to estimate (digit 5) and no `wic` values
// starts instead from the expected table: per block of layers the log of its row-by-column
// table plus 0.5 (in a hazard part of continuous time, less the log of the exposures: the log
// rates), double-centred, and its first singular vectors (a side shared by the layers
// from the table of all layers, the other side from each layer's table times it), phi from
// each layer's table. Equally spaced or random start scores often lead an RC model to a poor
// local maximum when the categories have no order; this start reaches the best fit of several
// random starts of an independent fit.
//
// Afterwards, per cycle, Newton steps over the estimated values: with x_p(c) the derivative of
// the log fitted cell c with respect to value p at the current values, the step of the
// likelihood with the submodel's model terms profiled out (ProfiledSums,
// estimation/design_effects.h), divided by step_size and shortened as a whole until no value
// changes by more than 1. The system is scaled to a unit diagonal; values whose pivot falls
// below 1e-9 are not identified beside the others and keep their value in that step. A step is
// halved (up to ten times) until the likelihood, judged after three sweeps of proportional
// fitting of the model terms, rises; otherwise the values stay. The scores are normalised and
// the fitted cells multiplied by exp of the change of every term's contribution. Terms whose
// scores and parameters multiply each other (family 2 with estimated scores, family 3 with phi)
// first take a step in each kind of value alone (phi, row scores, column scores: each a
// log-linear model given the others), then three steps in all values together, with the model
// terms fitted between them. The fit converges in a few iterations, where one score at a time
// takes hundreds.

// Sets up the association terms of the log-linear submodels and the hazard part
// (AssociationTerms). After SetUpEstimationTables.
void SetUpAssociationTerms(EstimationRun& run);

// The association M-step of submodel r: the start values in the start iteration, one step
// afterwards.
void FitAssociationTerms(EstimationRun& run, int r);

// The adjusted scores of a family-2 term: its scores times the square root of |phi| of their
// first layer, so that their products give the term's contribution up to the sign of phi.
std::vector<double> AdjustedScores(const AssociationWork& work, bool columns);

// The free parameters of a term for the standard errors: orthonormal directions in the space
// of its values, laid out as its phi (one per layer when they vary by layer, else one), its row
// score blocks and its column score blocks (none for a symmetric term). They span the estimated
// values (not a fixed phi or pinned end score) orthogonal to the normals of the constraints
// that identify the term: per score block the unit vector and, for scaling types 1 and 2, the
// scores themselves (centring and scale); for families 1 and 3 with row and column scores, the
// linear trend v_l of the column scores (which the row scores take, see NormaliseScores); for
// family 1 with phi and row scores, the trend u_h of the row scores (which phi takes). The
// variances of the shown values are D V D' over the directions D; where the constraints leave a
// value unidentified (scaling types 3 to 5 beside phi) the information matrix shows it.
std::vector<std::vector<double>> AssociationDirections(const AssociationWork& work);

// The values of a term in the layout of its directions.
std::vector<double> AssociationValues(const AssociationWork& work);

// The change of the log of every cell of submodel r along direction `position` of association
// term `work` (index in the submodel's association work), at the current values.
std::vector<double> AssociationCellChange(const EstimationRun& run, int r, int work, int position);

}  // namespace tav

#endif  // TAV_ENGINE_ESTIMATION_ASSOCIATION_MODEL_H_
