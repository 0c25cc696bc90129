#include "estimation/association_model.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "core/elementary.h"
#include "core/random.h"
#include "core/stop_run.h"
#include "core/sweep_inverse.h"
#include "estimation/design_effects.h"
#include "estimation/hazard_model.h"
#include "estimation/m_steps.h"
#include "estimation/margins.h"

namespace tav {
namespace {

// Pivots of the scaled step system below this are values not identified beside the others.
constexpr double kPivotTolerance = 1e-9;
// Halvings of a step that lowers the likelihood, and the sweeps of proportional fitting after a
// trial step.
constexpr int kMaxHalvings = 10;
constexpr int kProfileSweeps = 3;
// Joint steps per cycle.
constexpr int kJointRounds = 3;
// Passes of the power iteration of the singular start.
constexpr int kPowerPasses = 500;

// The centred integer score of index i of n.
double Centred(int i, int n) { return i - (n - 1) / 2.0; }

// x scaled to unit length; returns its length before (0: x is left as it was).
double ToUnitLength(std::vector<double>& x) {
  double squares = 0;
  for (double value : x) squares += value * value;
  const double length = std::sqrt(squares);
  if (length > 0) {
    for (double& value : x) value /= length;
  }
  return length;
}

// The per-cell index over the term's variables marked with mark.
std::vector<std::int32_t> IndexOf(const ModelState& model, const Submodel& submodel,
                                  const AssocEffect& term, int mark) {
  Membership marked{};
  for (std::size_t v = 0; v < marked.size(); ++v) marked[v] = term.AssocVariables[v] == mark;
  const MarginShape shape(model, submodel, marked);
  std::vector<std::int32_t> index(static_cast<std::size_t>(shape.cells()));
  shape.ForEach(
      [&](std::int64_t cell, std::int64_t t) { index[cell] = static_cast<std::int32_t>(t); });
  return index;
}

// The score block of layer k: k itself when every layer has its own scores, else 0.
int ScoreBlock(bool own, int k) { return own ? k : 0; }

double RowScore(const AssociationWork& w, int k, int h) {
  return w.row_scores[static_cast<std::size_t>(ScoreBlock(w.row_layers, k)) * w.rows + h];
}

double ColumnScore(const AssociationWork& w, int k, int l) {
  if (w.symmetric) return RowScore(w, k, l);
  return w.column_scores[static_cast<std::size_t>(ScoreBlock(w.column_layers, k)) * w.columns + l];
}

// The term's contribution at (h, l, k), and its derivatives with respect to phi_k (e), the row
// score mu_h (a_row) and the column score nu_l (a_column).
struct CellTerms {
  double value, e, a_row, a_column;
};

CellTerms TermsAt(const AssociationWork& w, int h, int l, int k) {
  const double u = Centred(h, w.rows);
  const double v = Centred(l, w.columns);
  const double phi = w.phi[k];
  const double mu = RowScore(w, k, h);
  const double nu = ColumnScore(w, k, l);
  CellTerms t{};
  switch (w.family) {
    case AssociationFamily::kLogLinear:
      t.e = u * v;
      t.a_row = v;
      t.a_column = u;
      t.value = phi * t.e + mu * v + nu * u;
      break;
    case AssociationFamily::kLogMultiplicative:
      t.e = mu * nu;
      t.a_row = phi * nu;
      t.a_column = phi * mu;
      t.value = phi * t.e;
      break;
    default:
      t.e = w.scores == AssociationScores::kUniform ? u * v : u * nu + v * mu;
      t.a_row = phi * v;
      t.a_column = phi * u;
      t.value = phi * t.e;
      break;
  }
  return t;
}

void ComputeContribution(const AssociationWork& w, std::vector<double>& out) {
  out.resize(w.row_of.size());
  for (std::size_t c = 0; c < out.size(); ++c) {
    out[c] = TermsAt(w, w.row_of[c], w.column_of[c], w.layer_of[c]).value;
  }
}

// Normalises one block of n scores by scaling type s; returns the factor the scores were
// multiplied by (1 when they were not rescaled).
double NormaliseScores(double* x, int n, int s) {
  if (n <= 1) return 1.0;
  double sum = 0;
  double squares = 0;
  for (int i = 0; i < n; ++i) {
    sum += x[i];
    squares += x[i] * x[i];
  }
  if (!(squares > 0)) return 1.0;
  const double mean = sum / n;
  const double spread = squares - sum * sum / n;
  const double d = spread > 0 ? std::sqrt(spread) : 1.0;
  double factor = 1.0;
  switch (s) {
    case 1:
      factor = 1 / d;
      break;
    case 2:
      factor = std::sqrt(static_cast<double>(n)) / d;
      break;
    case 3:
    case 4:
      break;
    case 6:
      x[0] = (1 - n) / 2.0;
      x[n - 1] = (n - 1) / 2.0;
      return 1.0;
    default:
      return 1.0;
  }
  for (int i = 0; i < n; ++i) x[i] = (x[i] - mean) * factor;
  return factor;
}

// Families 1 and 3: the linear trend beta v_l of the column scores, beside row scores, is the
// same term as beta u_h in the row scores (u_h v_l either way); it is moved to the row scores,
// so that the column scores have none (per layer when both vary by layer, else the mean trend
// of the layers). With phi estimated (family 1), the trend alpha u_h of the row scores is phi's
// and is moved there.
void MoveTrends(AssociationWork& w) {
  const int row_blocks = w.row_layers ? w.layers : 1;
  const int column_blocks = w.column_layers ? w.layers : 1;
  auto trend = [](const double* x, int n) {
    double xy = 0;
    double yy = 0;
    for (int i = 0; i < n; ++i) {
      xy += x[i] * Centred(i, n);
      yy += Centred(i, n) * Centred(i, n);
    }
    return yy > 0 ? xy / yy : 0.0;
  };
  if (w.rows_estimated && w.columns_estimated && !w.symmetric && w.columns > 1) {
    std::vector<double> beta(column_blocks);
    for (int b = 0; b < column_blocks; ++b) {
      beta[b] = trend(w.column_scores.data() + static_cast<std::size_t>(b) * w.columns, w.columns);
    }
    double mean = 0;
    for (double value : beta) mean += value / column_blocks;
    // Both vary by layer: each layer's trend goes to its own row scores.
    const bool per_layer = w.column_layers && w.row_layers;
    for (int b = 0; b < column_blocks; ++b) {
      const double moved = per_layer ? beta[b] : mean;
      double* column = w.column_scores.data() + static_cast<std::size_t>(b) * w.columns;
      for (int l = 0; l < w.columns; ++l) column[l] -= moved * Centred(l, w.columns);
    }
    for (int a = 0; a < row_blocks; ++a) {
      const double moved = per_layer ? beta[a] : mean;
      double* row = w.row_scores.data() + static_cast<std::size_t>(a) * w.rows;
      for (int h = 0; h < w.rows; ++h) row[h] += moved * Centred(h, w.rows);
    }
  }
  if (w.family == AssociationFamily::kLogLinear && w.phi_estimated && w.rows_estimated &&
      !w.row_layers && w.rows > 1) {
    const double alpha = trend(w.row_scores.data(), w.rows);
    for (int h = 0; h < w.rows; ++h) w.row_scores[h] -= alpha * Centred(h, w.rows);
    for (double& phi : w.phi) phi += alpha;
  }
}

// Normalises every score block of the term; a rescaled block divides the phi of its layers by
// the factor, so that a family-2 term keeps its value.
void NormaliseTerm(AssociationWork& w) {
  auto normalise = [&](std::vector<double>& scores, int n, bool own) {
    const int blocks = own ? w.layers : 1;
    for (int b = 0; b < blocks; ++b) {
      const double factor =
          NormaliseScores(scores.data() + static_cast<std::size_t>(b) * n, n, w.scaling);
      if (factor == 1.0 || w.family != AssociationFamily::kLogMultiplicative) continue;
      for (int k = 0; k < w.layers; ++k) {
        if (!own || k == b) w.phi[k] /= factor;
      }
    }
  };
  if (w.family == AssociationFamily::kLogMultiplicative || w.rows_estimated)
    normalise(w.row_scores, w.rows, w.row_layers);
  if (!w.symmetric && (w.family == AssociationFamily::kLogMultiplicative || w.columns_estimated)) {
    normalise(w.column_scores, w.columns, w.column_layers);
  }
  if (w.family != AssociationFamily::kLogMultiplicative) MoveTrends(w);
  if (!w.phi_layers) std::fill(w.phi.begin(), w.phi.end(), w.phi[0]);
  // A family-2 term with row scores of its own keeps the phi of each row-score block's first
  // layer from being negative: the sign of the scores is free.
  if (w.family == AssociationFamily::kLogMultiplicative && w.rows_estimated && !w.symmetric) {
    for (int b = 0; b < (w.row_layers ? w.layers : 1); ++b) {
      if (!(w.phi[b] < 0)) continue;
      double* scores = w.row_scores.data() + static_cast<std::size_t>(b) * w.rows;
      for (int h = 0; h < w.rows; ++h) scores[h] = -scores[h];
      for (int k = 0; k < w.layers; ++k) {
        if (!w.row_layers || k == b) w.phi[k] = -w.phi[k];
      }
    }
  }
}

// Discrete time: the hazard part's transition probabilities of one covariate cell and interval
// sum to 1 over the risks of their state (one state of origin: the association terms need it),
// a term over all its variables but the risk variable, which the part's steps fit beside its
// model terms.
bool HasTransitionBlocks(const EstimationRun& run, int r) {
  const HazardWork& hazard = HazardWorkOf(run);
  return r == hazard.table && hazard.kind == TimeModel::kDiscrete && hazard.risks >= 2;
}

// That term of submodel r (an empty shape for the other submodels).
MarginShape TransitionBlocks(const EstimationRun& run, int r) {
  if (!HasTransitionBlocks(run, r)) return MarginShape();
  const Submodel& submodel = run.model.submodels[r];
  Membership block = submodel.SubmodelVariables;
  block[run.model.VariableCount + 1] = 0;
  return MarginShape(run.model, submodel, block);
}

// The submodel's other terms fitted once more: its model terms, then in discrete time the
// hazard part's transition blocks.
void FitOtherTerms(EstimationRun& run, int r) {
  IpfAdjustAll(run, r);
  if (HasTransitionBlocks(run, r)) FitHazardBlocks(run);
}

// The Poisson log-likelihood kernel sum n ln m - m of submodel r's cells m (frequency form)
// after kProfileSweeps sweeps of proportional fitting of its model terms (its conditioning
// margin, or the total of the first submodel and the hazard part, and the transition blocks
// of discrete time included), which the step is judged by. With the blocks fitted, it is the
// kernel of the multinomial likelihood of the transitions.
double ProfileObjective(const EstimationRun& run, int r, std::vector<double> m) {
  const Submodel& submodel = run.model.submodels[r];
  const EstimationState& est = run.estimation;
  const double* expected = est.ExpectedTable.data() + submodel.first_cell;
  std::vector<const MarginShape*> terms;
  const MarginShape constant(run.model, submodel, Membership{});
  terms.push_back(r > 0 ? &est.condition_shapes[r] : &constant);
  for (const MarginShape& shape : est.margin_shapes[r]) terms.push_back(&shape);
  const MarginShape blocks = TransitionBlocks(run, r);
  if (HasTransitionBlocks(run, r)) terms.push_back(&blocks);
  for (int sweep = 0; sweep < kProfileSweeps; ++sweep) {
    for (const MarginShape* term : terms) {
      std::vector<double> want(static_cast<std::size_t>(term->margin_cells()));
      std::vector<double> have(want.size());
      term->MarginOf(expected, want.data());
      term->MarginOf(m.data(), have.data());
      for (std::size_t t = 0; t < want.size(); ++t) want[t] = have[t] > 0 ? want[t] / have[t] : 0;
      term->Scale(m.data(), want.data(), m.data());
    }
  }
  double sum = 0;
  for (std::size_t c = 0; c < m.size(); ++c) {
    if (m[c] > 0) {
      sum += expected[c] * Log(m[c]) - m[c];
    } else if (expected[c] > 0) {
      return -std::numeric_limits<double>::infinity();
    }
  }
  return std::isfinite(sum) ? sum : -std::numeric_limits<double>::infinity();
}

// One estimated value of the submodel's terms.
// One estimated direction of the submodel's terms: a vector over the layers (phi), or over the
// rows or columns of one score block.
struct Coordinate {
  enum class Kind { kPhi, kRow, kColumn } kind;
  AssociationWork* work;
  int block;  // the score block (rows and columns)
  const std::vector<double>* vector;
};

bool ScoreFixed(const AssociationWork& w, int index, int n) {
  return w.scaling == 6 && n > 1 && (index == 0 || index == n - 1);
}

// Which values a step moves.
enum class Block { kAll, kPhi, kRows, kColumns };

bool InBlock(Coordinate::Kind kind, Block block) {
  switch (block) {
    case Block::kPhi:
      return kind == Coordinate::Kind::kPhi;
    case Block::kRows:
      return kind == Coordinate::Kind::kRow;
    case Block::kColumns:
      return kind == Coordinate::Kind::kColumn;
    default:
      return true;
  }
}

std::vector<Coordinate> AllCoordinates(std::vector<AssociationWork>& works) {
  std::vector<Coordinate> list;
  for (AssociationWork& w : works) {
    for (const std::vector<double>& v : w.phi_vectors) {
      list.push_back({Coordinate::Kind::kPhi, &w, 0, &v});
    }
    for (int b = 0; b < (w.row_layers ? w.layers : 1); ++b) {
      for (const std::vector<double>& v : w.row_vectors) {
        list.push_back({Coordinate::Kind::kRow, &w, b, &v});
      }
    }
    if (w.symmetric) continue;
    for (int b = 0; b < (w.column_layers ? w.layers : 1); ++b) {
      for (const std::vector<double>& v : w.column_vectors) {
        list.push_back({Coordinate::Kind::kColumn, &w, b, &v});
      }
    }
  }
  return list;
}

std::vector<Coordinate> Coordinates(std::vector<AssociationWork>& works, Block block) {
  std::vector<Coordinate> list = AllCoordinates(works);
  std::erase_if(list, [block](const Coordinate& c) { return !InBlock(c.kind, block); });
  return list;
}

// Adds step times the coordinate's vector to the values it moves.
void AddStep(const Coordinate& c, double step) {
  AssociationWork& w = *c.work;
  const std::vector<double>& v = *c.vector;
  switch (c.kind) {
    case Coordinate::Kind::kPhi:
      for (int k = 0; k < w.layers; ++k) w.phi[k] += step * v[w.phi_layers ? k : 0];
      break;
    case Coordinate::Kind::kRow:
      for (int h = 0; h < w.rows; ++h) {
        w.row_scores[static_cast<std::size_t>(c.block) * w.rows + h] += step * v[h];
      }
      break;
    default:
      for (int l = 0; l < w.columns; ++l) {
        w.column_scores[static_cast<std::size_t>(c.block) * w.columns + l] += step * v[l];
      }
      break;
  }
}

// The derivative of the log of a cell (h, l, k) along the coordinate.
double Derivative(const Coordinate& c, const CellTerms& t, int h, int l, int k) {
  const AssociationWork& w = *c.work;
  const std::vector<double>& v = *c.vector;
  switch (c.kind) {
    case Coordinate::Kind::kPhi:
      return v[w.phi_layers ? k : 0] * t.e;
    case Coordinate::Kind::kRow:
      if (ScoreBlock(w.row_layers, k) != c.block) return 0.0;
      return v[h] * t.a_row + (w.symmetric ? v[l] * t.a_column : 0.0);
    default:
      if (ScoreBlock(w.column_layers, k) != c.block) return 0.0;
      return v[l] * t.a_column;
  }
}

// Multiplies the fitted cells of the term's submodel by exp of the change of its contribution
// since `before`.
void ApplyChange(EstimationRun& run, AssociationWork& w, const std::vector<double>& before) {
  ComputeContribution(w, w.contribution);
  const Submodel& submodel = run.model.submodels[w.table];
  double* fitted = run.estimation.FittedTable.data() + submodel.first_cell;
  for (std::size_t c = 0; c < w.contribution.size(); ++c) {
    if (fitted[c] > 0) fitted[c] *= Exp(w.contribution[c] - before[c]);
  }
}

// Moves the values by step (per coordinate), normalises and adjusts the fitted cells.
void Move(EstimationRun& run, std::vector<AssociationWork>& works,
          const std::vector<Coordinate>& list, const std::vector<double>& step) {
  for (std::size_t p = 0; p < list.size(); ++p) AddStep(list[p], step[p]);
  for (AssociationWork& w : works) {
    const std::vector<double> before = w.contribution;
    NormaliseTerm(w);
    ApplyChange(run, w, before);
  }
}

// Adds x, made orthogonal to the orthonormal basis and of unit length, to the basis when what
// is left of it is longer than tolerance (Gram-Schmidt); returns whether it was added.
bool AddToBasis(std::vector<double> x, std::vector<std::vector<double>>& basis, double tolerance) {
  for (const std::vector<double>& b : basis) {
    double dot = 0;
    for (std::size_t i = 0; i < x.size(); ++i) dot += x[i] * b[i];
    for (std::size_t i = 0; i < x.size(); ++i) x[i] -= dot * b[i];
  }
  if (!(ToUnitLength(x) > tolerance)) return false;
  basis.push_back(std::move(x));
  return true;
}

// The estimated score blocks put into the span of their directions and the unit vector (which
// the margins take up): start scores from wic or from the singular vectors may lie outside a
// mapping, design or symmetry.
void ProjectScores(AssociationWork& w) {
  auto project = [](std::vector<double>& scores, int n,
                    const std::vector<std::vector<double>>& vectors) {
    if (n < 2 || vectors.empty()) return;
    std::vector<std::vector<double>> basis;
    for (const std::vector<double>& v : vectors) AddToBasis(v, basis, 1e-9);
    AddToBasis(std::vector<double>(n, 1.0), basis, 1e-9);
    for (std::size_t start = 0; start + n <= scores.size(); start += n) {
      std::vector<double> x(scores.begin() + static_cast<std::ptrdiff_t>(start),
                            scores.begin() + static_cast<std::ptrdiff_t>(start + n));
      std::vector<double> projected(n, 0.0);
      for (const std::vector<double>& b : basis) {
        double dot = 0;
        for (int i = 0; i < n; ++i) dot += x[i] * b[i];
        for (int i = 0; i < n; ++i) projected[i] += dot * b[i];
      }
      std::copy(projected.begin(), projected.end(),
                scores.begin() + static_cast<std::ptrdiff_t>(start));
    }
  };
  if (w.rows_estimated) project(w.row_scores, w.rows, w.row_vectors);
  if (w.columns_estimated && !w.symmetric) project(w.column_scores, w.columns, w.column_vectors);
}

void StartTerm(EstimationRun& run, AssociationWork& w) {
  const Settings& settings = run.settings;
  const AssocEffect& term = run.model.submodels[w.source].assoc[w.term];
  const bool random = run.model.submodels[w.table].random_start;
  const std::vector<double>& user = settings.user_scores;
  auto user_score = [&](int position, int i, double otherwise) {
    const std::size_t at = static_cast<std::size_t>(position) + i;
    return settings.user_scores_given && at < user.size() ? user[at] : otherwise;
  };
  const int row_blocks = w.row_layers ? w.layers : 1;
  const int column_blocks = w.column_layers ? w.layers : 1;
  w.row_scores.assign(static_cast<std::size_t>(row_blocks) * w.rows, 0.0);
  w.column_scores.assign(static_cast<std::size_t>(column_blocks) * w.columns, 0.0);
  w.phi.assign(w.layers, 0.0);
  if (w.family == AssociationFamily::kLogMultiplicative) {
    for (int b = 0; b < row_blocks; ++b) {
      for (int h = 0; h < w.rows; ++h) {
        const double spaced =
            w.row_given.empty() ? Centred(h, w.rows) / (w.rows / 2.0) : w.row_given[h];
        double x = spaced;
        if (w.rows_estimated) {
          x = user_score(term.row_score_position, h, random ? 0.0 : spaced);
        }
        w.row_scores[static_cast<std::size_t>(b) * w.rows + h] = x;
      }
    }
    for (int b = 0; b < column_blocks; ++b) {
      for (int l = 0; l < w.columns; ++l) {
        const double spaced = w.column_given.empty() ? Centred(l, w.columns) : w.column_given[l];
        double x = spaced;
        if (w.columns_estimated) {
          x = user_score(term.column_score_position, l, random ? 0.0 : spaced);
        }
        w.column_scores[static_cast<std::size_t>(b) * w.columns + l] = x;
      }
    }
    if (w.first_phi_fixed) std::fill(w.phi.begin(), w.phi.end(), 1.0);
  } else if (w.family == AssociationFamily::kMixedScores) {
    if (w.scores != AssociationScores::kUniform) std::fill(w.phi.begin(), w.phi.end(), 1.0);
  }
  if (w.rows == 1) std::fill(w.row_scores.begin(), w.row_scores.end(), 1.0);
  if (w.columns == 1) std::fill(w.column_scores.begin(), w.column_scores.end(), 1.0);
  for (int k = 0; k < w.layers; ++k) {
    if (w.layer_off[k]) w.phi[k] = 0;
  }
  ProjectScores(w);
  NormaliseTerm(w);
  const std::vector<double> zero(w.row_of.size(), 0.0);
  ApplyChange(run, w, zero);
}

// a v (rows x columns, row-major) for a vector v over the columns, or a' v over the rows.
std::vector<double> Product(const std::vector<double>& a, int rows, int columns, const double* v,
                            bool transposed) {
  std::vector<double> out(transposed ? columns : rows, 0.0);
  for (int h = 0; h < rows; ++h) {
    for (int l = 0; l < columns; ++l) {
      const double entry = a[static_cast<std::size_t>(h) * columns + l];
      if (transposed) {
        out[l] += entry * v[h];
      } else {
        out[h] += entry * v[l];
      }
    }
  }
  return out;
}

// The first singular vectors of the double-centred matrix a (rows x columns, row-major), row
// scores x and column scores y of unit length, by power iteration from the centred integer
// scores.
void LeadingPair(const std::vector<double>& a, int rows, int columns, std::vector<double>& x,
                 std::vector<double>& y) {
  y.resize(columns);
  for (int l = 0; l < columns; ++l) y[l] = Centred(l, columns);
  double sigma = 0;
  for (int pass = 0; pass < kPowerPasses; ++pass) {
    x = Product(a, rows, columns, y.data(), false);
    if (!(ToUnitLength(x) > 0)) return;
    y = Product(a, rows, columns, x.data(), true);
    const double length = ToUnitLength(y);
    if (!(length > 0)) return;
    const bool settled = std::fabs(length - sigma) <= 1e-12 * length;
    sigma = length;
    if (settled) return;
  }
}

// Start scores of a family-2 term whose row and column scores are both estimated, from the
// expected table: per block of layers the log of its row-by-column table (plus 0.5; in a hazard
// part of continuous time the log of the events plus 0.5 over the exposure, the log rates),
// double-centred, and its first singular vectors; phi of every layer is its table's value on
// them. Equally spaced start scores lie near a poor local maximum when the categories have no
// order.
void SingularStart(EstimationRun& run, AssociationWork& w) {
  const Submodel& submodel = run.model.submodels[w.table];
  const double* expected = run.estimation.ExpectedTable.data() + submodel.first_cell;
  const int rows = w.rows;
  const int columns = w.columns;
  // The rates of a hazard part with time at risk: the events over the exposures.
  const HazardWork& hazard = HazardWorkOf(std::as_const(run));
  const bool rates = w.table == hazard.table && hazard.kind != TimeModel::kDiscrete;
  // The double-centred log table of the layers in mask.
  auto centred_log = [&](const std::vector<char>& mask) {
    std::vector<double> a(static_cast<std::size_t>(rows) * columns, 0.5);
    std::vector<double> exposure(rates ? a.size() : 0, 0.0);
    for (std::size_t c = 0; c < w.row_of.size(); ++c) {
      if (!mask[w.layer_of[c]]) continue;
      const std::size_t at = static_cast<std::size_t>(w.row_of[c]) * columns + w.column_of[c];
      if (expected[c] > 0) a[at] += expected[c];
      if (rates) exposure[at] += hazard.exposure[c];
    }
    // A cell without time at risk takes the mean exposure of the others.
    double mean_exposure = 0;
    int positive = 0;
    for (double x : exposure) {
      if (x > 0) {
        mean_exposure += x;
        ++positive;
      }
    }
    if (positive > 0) mean_exposure /= positive;
    for (std::size_t at = 0; at < a.size(); ++at) {
      a[at] = Log(a[at]);
      if (rates && mean_exposure > 0) {
        a[at] -= Log(exposure[at] > 0 ? exposure[at] : mean_exposure);
      }
    }
    std::vector<double> row_mean(rows, 0.0), column_mean(columns, 0.0);
    double mean = 0;
    for (int h = 0; h < rows; ++h) {
      for (int l = 0; l < columns; ++l) {
        const double value = a[static_cast<std::size_t>(h) * columns + l];
        row_mean[h] += value / columns;
        column_mean[l] += value / rows;
        mean += value / (static_cast<double>(rows) * columns);
      }
    }
    for (int h = 0; h < rows; ++h) {
      for (int l = 0; l < columns; ++l) {
        a[static_cast<std::size_t>(h) * columns + l] += mean - row_mean[h] - column_mean[l];
      }
    }
    return a;
  };
  auto layers_of_block = [&](bool own, int b) {
    std::vector<char> mask(w.layers, 0);
    for (int k = 0; k < w.layers; ++k) mask[k] = !own || k == b;
    return mask;
  };
  // Scores shared by the layers come from the table of all layers; a side whose scores vary
  // by layer takes, in each layer, the direction of the layer's table times the other side's
  // scores (or, when both vary, the layer's own singular vectors).
  std::vector<double> x, y;
  const std::vector<char> all(w.layers, 1);
  if (!w.row_layers || !w.column_layers) {
    LeadingPair(centred_log(all), rows, columns, x, y);
    if (!w.row_layers) std::copy(x.begin(), x.end(), w.row_scores.begin());
    if (!w.column_layers) std::copy(y.begin(), y.end(), w.column_scores.begin());
  }
  for (int k = 0; k < w.layers; ++k) {
    const std::vector<double> a = centred_log(layers_of_block(true, k));
    double* row =
        w.row_scores.data() + static_cast<std::size_t>(ScoreBlock(w.row_layers, k)) * rows;
    double* column =
        w.column_scores.data() + static_cast<std::size_t>(ScoreBlock(w.column_layers, k)) * columns;
    if (w.row_layers && w.column_layers) {
      LeadingPair(a, rows, columns, x, y);
      std::copy(x.begin(), x.end(), row);
      std::copy(y.begin(), y.end(), column);
    } else if (w.row_layers || w.column_layers) {
      // The varying side: a nu (rows) or a' mu (columns), to unit length.
      const bool rows_vary = w.row_layers;
      std::vector<double> side = Product(a, rows, columns, rows_vary ? column : row, !rows_vary);
      ToUnitLength(side);
      std::copy(side.begin(), side.end(), rows_vary ? row : column);
    }
    double value = 0;
    for (int h = 0; h < rows; ++h) {
      for (int l = 0; l < columns; ++l) {
        value += a[static_cast<std::size_t>(h) * columns + l] * row[h] * column[l];
      }
    }
    w.phi[k] = value;
  }
  if (!w.phi_layers) std::fill(w.phi.begin(), w.phi.end(), w.phi[0]);
}

// The first step: every estimated value moves by a random start draw of the submodel (0.1 when it
// is 0) over step_size; family-2 terms with row and column scores to estimate and no start
// values given with wic start from the singular vectors of the expected table instead.
void FirstStep(EstimationRun& run, int r, std::vector<AssociationWork>& works) {
  if (!run.settings.user_scores_given) {
    for (AssociationWork& w : works) {
      if (w.family != AssociationFamily::kLogMultiplicative || !w.rows_estimated ||
          !w.columns_estimated || w.symmetric)
        continue;
      if (w.rows < 2 || w.columns < 2 || w.scaling == 6 || w.first_phi_fixed) continue;
      const std::vector<double> before = w.contribution;
      SingularStart(run, w);
      ProjectScores(w);
      NormaliseTerm(w);
      ApplyChange(run, w, before);
      w.started = true;
    }
  }
  std::vector<Coordinate> list = AllCoordinates(works);
  std::erase_if(list, [](const Coordinate& c) { return c.work->started; });
  std::vector<double> step(list.size());
  for (double& d : step) {
    double g = RandomStart(run.estimation.random, run.model, r);
    if (g == 0) g = 0.1;
    d = g / run.estimation.step_size;
  }
  Move(run, works, list, step);
}

// The joint step over the estimated values of the submodel's terms in block.
void JointStep(EstimationRun& run, int r, std::vector<AssociationWork>& works, Block block) {
  const std::vector<Coordinate> list = Coordinates(works, block);
  const std::size_t n = list.size();
  if (n == 0) return;
  const auto cells = static_cast<std::int64_t>(run.model.submodels[r].cell_count);
  std::vector<double> x(static_cast<std::size_t>(cells) * n, 0.0);
  for (AssociationWork& w : works) {
    std::vector<std::size_t> own;
    for (std::size_t p = 0; p < n; ++p) {
      if (list[p].work == &w) own.push_back(p);
    }
    if (own.empty()) continue;
    for (std::int64_t cell = 0; cell < cells; ++cell) {
      const int h = w.row_of[cell];
      const int l = w.column_of[cell];
      const int k = w.layer_of[cell];
      const CellTerms t = TermsAt(w, h, l, k);
      double* xc = x.data() + static_cast<std::size_t>(cell) * n;
      for (std::size_t p : own) xc[p] += Derivative(list[p], t, h, l, k);
    }
  }
  std::vector<double> g;
  std::vector<double> h;
  const MarginShape blocks = TransitionBlocks(run, r);
  ProfiledSums(run, r, std::move(x), n, g, h, true,
               HasTransitionBlocks(run, r) ? &blocks : nullptr);
  // The system scaled to a unit diagonal, so that the tolerance is relative.
  std::vector<double> scale(n, 0.0);
  for (std::size_t p = 0; p < n; ++p) {
    const double d = h[p * n + p];
    scale[p] = d > 0 && std::isfinite(d) ? 1 / std::sqrt(d) : 0.0;
  }
  for (std::size_t p = 0; p < n; ++p) {
    for (std::size_t q = 0; q < n; ++q) h[p * n + q] *= scale[p] * scale[q];
  }
  SweepInverse(
      h, static_cast<int>(n), kPivotTolerance, [](int) { return false; }, [](int, double) {});
  std::vector<double> step(n, 0.0);
  double longest = 0;
  for (std::size_t p = 0; p < n; ++p) {
    double d = 0;
    for (std::size_t q = 0; q < n; ++q) d += h[p * n + q] * scale[q] * g[q];
    d *= scale[p] / run.estimation.step_size;
    if (!std::isfinite(d)) d = 0;
    step[p] = d;
    longest = std::max(longest, std::fabs(d));
  }
  if (longest > 1) {
    for (double& d : step) d /= longest;
  }
  // The step is halved until the likelihood rises (with the model terms fitted again after
  // it); with no such step the values stay.
  const Submodel& submodel = run.model.submodels[r];
  double* fitted = run.estimation.FittedTable.data() + submodel.first_cell;
  const std::vector<double> saved_fitted(fitted, fitted + cells);
  const std::vector<AssociationWork> saved = works;
  const double base = ProfileObjective(run, r, saved_fitted);
  for (int halving = 0; halving <= kMaxHalvings; ++halving) {
    Move(run, works, list, step);
    const std::vector<double> moved(fitted, fitted + cells);
    if (ProfileObjective(run, r, moved) > base) {
      // The model terms as the step was judged with them.
      for (int sweep = 0; sweep < kProfileSweeps; ++sweep) FitOtherTerms(run, r);
      return;
    }
    std::copy(saved_fitted.begin(), saved_fitted.end(), fitted);
    for (std::size_t i = 0; i < works.size(); ++i) works[i] = saved[i];
    for (double& d : step) d /= 2;
  }
}

// The user's mapping or design of one side of a term: the group (1 .. code) of every category,
// or the code's columns of design values (column by column), read by the design reader.
struct SideShape {
  std::vector<int> group;      // equality mapping; empty without
  std::vector<double> design;  // columns x categories; empty without
  int columns = 0;             // of the design
};

SideShape ReadSide(const DesignStore& store, int code, std::int64_t start, int n, bool row_store) {
  SideShape shape;
  if (code == 0 || start < 0) return shape;
  if (code >= 1) {
    const std::vector<std::int32_t>& numbers = row_store ? store.factor : store.group;
    for (int i = 0; i < n; ++i) {
      const std::size_t at = static_cast<std::size_t>(start) + i;
      shape.group.push_back(at < numbers.size() ? numbers[at] : 0);
    }
    return shape;
  }
  const std::vector<double>& values = row_store ? store.real_design : store.second_real;
  shape.columns = -code;
  for (int a = 0; a < shape.columns * n; ++a) {
    const std::size_t at = static_cast<std::size_t>(start) + a;
    shape.design.push_back(at < values.size() ? values[at] : 0.0);
  }
  return shape;
}

// The indicator vectors of the groups first, first + 1, ... of the categories (each category's
// group number in group), for the groups that have categories.
std::vector<std::vector<double>> GroupVectors(const std::vector<int>& group, int first) {
  std::vector<std::vector<double>> vectors;
  const int last = *std::max_element(group.begin(), group.end());
  for (int g = first; g <= last; ++g) {
    std::vector<double> v(group.size(), 0.0);
    for (std::size_t i = 0; i < group.size(); ++i) v[i] = group[i] == g ? 1.0 : 0.0;
    if (std::find(v.begin(), v.end(), 1.0) != v.end()) vectors.push_back(std::move(v));
  }
  return vectors;
}

// The directions of one side's scores (n categories): per group of a mapping, per design
// column, per pair of mirrored categories with a symmetry letter b or c, else per category
// (not the ends that scaling type 6 pins).
std::vector<std::vector<double>> SideVectors(const AssociationWork& w, const SideShape& shape,
                                             int n, ScoreSymmetry symmetry) {
  std::vector<std::vector<double>> vectors;
  if (n < 2) return vectors;
  if (!shape.group.empty()) {
    vectors = GroupVectors(shape.group, 0);
  } else if (!shape.design.empty()) {
    for (int k = 0; k < shape.columns; ++k) {
      vectors.emplace_back(shape.design.begin() + static_cast<std::ptrdiff_t>(k) * n,
                           shape.design.begin() + static_cast<std::ptrdiff_t>(k + 1) * n);
    }
  } else if (symmetry == ScoreSymmetry::kMirrored || symmetry == ScoreSymmetry::kEqualAndMirrored) {
    for (int i = 0; i < n - 1 - i; ++i) {
      std::vector<double> v(n, 0.0);
      v[i] = 1;
      v[n - 1 - i] = -1;
      vectors.push_back(v);
    }
  } else {
    for (int i = 0; i < n; ++i) {
      if (ScoreFixed(w, i, n)) continue;
      std::vector<double> v(n, 0.0);
      v[i] = 1;
      vectors.push_back(v);
    }
  }
  return vectors;
}

// The family-2 start scores of a side with a mapping or design: the group's centred position
// (b - (m - 1) / 2) / (m / 2) over the m groups, or the sum over the m design columns k of
// (k - (m - 1) / 2) / (m / 2) times the column (a single column: the column itself).
std::vector<double> GivenScores(const SideShape& shape, int n) {
  std::vector<double> x;
  if (!shape.group.empty()) {
    const int groups = *std::max_element(shape.group.begin(), shape.group.end());
    for (int i = 0; i < n; ++i) x.push_back(Centred(shape.group[i] - 1, groups) / (groups / 2.0));
  } else if (!shape.design.empty()) {
    x.assign(n, 0.0);
    for (int k = 0; k < shape.columns; ++k) {
      // One column gives the scores themselves.
      const double weight =
          shape.columns == 1 ? 1.0 : Centred(k, shape.columns) / (shape.columns / 2.0);
      for (int i = 0; i < n; ++i)
        x[i] += weight * shape.design[static_cast<std::size_t>(k) * n + i];
    }
  }
  return x;
}

// The directions and fixed shapes of a term from its codes and the design store.
void ShapeTerm(const EstimationRun& run, const AssocEffect& term, AssociationWork& w) {
  AssocSlot slot;
  const DesignStore& store = run.designs;
  if (w.source < static_cast<int>(store.assoc_slots.size()) &&
      w.term < static_cast<int>(store.assoc_slots[w.source].size())) {
    slot = store.assoc_slots[w.source][w.term];
  }
  const SideShape rows = ReadSide(store, term.AssocDimensions[0], slot.row_start, w.rows, true);
  const SideShape columns =
      ReadSide(store, term.AssocDimensions[1], slot.column_start, w.columns, false);
  const SideShape layers =
      ReadSide(store, term.AssocDimensions[2], slot.group_start, w.layers, false);
  if (w.rows_estimated) w.row_vectors = SideVectors(w, rows, w.rows, term.symmetry);
  if (w.columns_estimated && !w.symmetric) {
    w.column_vectors = SideVectors(w, columns, w.columns, term.symmetry);
  }
  w.row_given = GivenScores(rows, w.rows);
  w.column_given = GivenScores(columns, w.columns);
  w.layer_off.assign(w.layers, 0);
  if (!w.phi_estimated) return;
  if (!w.phi_layers) {
    w.phi_vectors = {{1.0}};
  } else if (!layers.group.empty()) {
    for (int k = 0; k < w.layers; ++k) w.layer_off[k] = layers.group[k] == 0;
    w.phi_vectors = GroupVectors(layers.group, 1);
  } else if (!layers.design.empty()) {
    for (int j = 0; j < layers.columns; ++j) {
      w.phi_vectors.emplace_back(
          layers.design.begin() + static_cast<std::ptrdiff_t>(j) * w.layers,
          layers.design.begin() + static_cast<std::ptrdiff_t>(j + 1) * w.layers);
    }
  } else {
    for (int k = 0; k < w.layers; ++k) {
      std::vector<double> v(w.layers, 0.0);
      v[k] = 1;
      w.phi_vectors.push_back(v);
    }
  }
  if (w.first_phi_fixed && !w.phi_vectors.empty()) w.phi_vectors.erase(w.phi_vectors.begin());
}

}  // namespace

void SetUpAssociationTerms(EstimationRun& run) {
  const ModelState& model = run.model;
  std::vector<std::vector<AssociationWork>>& terms = AssociationTerms(run);
  terms.assign(model.submodels.size(), {});
  // The submodels' own terms, the hazard part's, then those of `all`, which act on the
  // submodel they are aimed at.
  std::vector<int> sources;
  for (int r = 0; r < model.SubmodelCount; ++r) sources.push_back(r);
  const int hazard = HazardWorkOf(std::as_const(run)).table;
  if (hazard >= 0) sources.push_back(hazard);
  const int all = model.SubmodelCount + 1;
  if (model.HasAllSubmodel && all < static_cast<int>(model.submodels.size())) {
    sources.push_back(all);
  }
  for (int source : sources) {
    const Submodel& submodel = model.submodels[source];
    for (int i = 0; i < submodel.AssocCount(); ++i) {
      const AssocEffect& term = submodel.assoc[i];
      if (term.pair_second) continue;
      const int r = source == all ? term.target_submodel : source;
      if (r < 0 || (r >= model.SubmodelCount && r != hazard)) continue;
      const Submodel& table = model.submodels[r];
      if (!table.IsLogLinear() || table.LinLogSubmodel ||
          table.MarSubmodel != MarRestrictions::kNone)
        continue;
      for (int v = 0; v < kVectorSize; ++v) {
        if (term.AssocVariables[v] != 0 && table.SubmodelVariables[v] == 0) {
          StopRun("  Error: the variables of association model " + table.term +
                  " in all() are not in one subtable");
        }
      }
      AssociationWork w;
      w.table = r;
      w.source = source;
      w.term = i;
      // Digit 5: the pair's second term (rows and columns exchanged) carries the column side's
      // letter.
      const bool paired = term.scores == AssociationScores::kRowColumnEffects &&
                          i + 1 < submodel.AssocCount() && submodel.assoc[i + 1].pair_second;
      const LayerVariation letter = term.layers;
      const LayerVariation second_letter = paired ? submodel.assoc[i + 1].layers : letter;
      w.family = term.family;
      w.scores = term.scores;
      w.rows = term.rows;
      w.columns = term.columns;
      w.layers = term.groups;
      w.scaling =
          term.family == AssociationFamily::kLogMultiplicative ? run.settings.score_scaling : 3;
      w.rows_estimated = EstimatesRowScores(w.scores);
      w.columns_estimated = EstimatesColumnScores(w.scores);
      // Symmetry letters a and c make the row and column scores one set, as digit 6 does.
      w.symmetric = w.scores == AssociationScores::kSymmetric ||
                    term.symmetry == ScoreSymmetry::kEqual ||
                    term.symmetry == ScoreSymmetry::kEqualAndMirrored;
      if (w.symmetric && (w.rows != w.columns || !w.columns_estimated)) {
        StopRun(
            "  Error: equal row and column scores in ass() need model 5 or 6 and as many "
            "rows as columns");
      }
      w.row_layers = letter == LayerVariation::kAll;
      w.column_layers = w.symmetric ? w.row_layers : second_letter == LayerVariation::kAll;
      w.phi_layers = letter != LayerVariation::kNone || second_letter != LayerVariation::kNone;
      w.phi_estimated = w.family == AssociationFamily::kLogMultiplicative ||
                        w.scores == AssociationScores::kUniform ||
                        letter == LayerVariation::kParameter ||
                        second_letter == LayerVariation::kParameter;
      w.first_phi_fixed = w.family == AssociationFamily::kLogMultiplicative && w.scaling == 4 &&
                          w.scores != AssociationScores::kUniform;
      w.row_of = IndexOf(model, table, term, 1);
      w.column_of = IndexOf(model, table, term, 2);
      w.layer_of = IndexOf(model, table, term, 3);
      w.contribution.assign(w.row_of.size(), 0.0);
      ShapeTerm(run, term, w);
      terms[r].push_back(std::move(w));
    }
  }
}

void FitAssociationTerms(EstimationRun& run, int r) {
  std::vector<std::vector<AssociationWork>>& terms = AssociationTerms(run);
  if (r < 0 || r >= static_cast<int>(terms.size())) return;
  std::vector<AssociationWork>& works = terms[r];
  if (works.empty()) return;
  if (run.estimation.iteration <= 0) {
    for (AssociationWork& w : works) StartTerm(run, w);
  } else if (run.estimation.iteration == 1) {
    FirstStep(run, r, works);
  } else {
    // Terms whose scores and parameters multiply each other: first each kind of value alone,
    // given the others (a log-linear model in them), then all together.
    const bool bilinear = std::any_of(works.begin(), works.end(), [](const AssociationWork& w) {
      return (w.family == AssociationFamily::kLogMultiplicative &&
              (w.rows_estimated || w.columns_estimated)) ||
             (w.family == AssociationFamily::kMixedScores && w.phi_estimated &&
              w.scores != AssociationScores::kUniform);
    });
    if (bilinear) {
      for (Block block : {Block::kPhi, Block::kRows, Block::kColumns}) {
        JointStep(run, r, works, block);
      }
    }
    // A few joint steps, the model terms fitted again between them (the visit fits them after
    // the last).
    for (int round = 0; round < kJointRounds; ++round) {
      if (round > 0) FitOtherTerms(run, r);
      JointStep(run, r, works, Block::kAll);
    }
  }
}

std::vector<double> AdjustedScores(const AssociationWork& w, bool columns) {
  std::vector<double> scores = columns && !w.symmetric ? w.column_scores : w.row_scores;
  const int n = columns ? w.columns : w.rows;
  for (std::size_t i = 0; i < scores.size(); ++i) {
    const int k =
        w.layers > 1 && scores.size() > static_cast<std::size_t>(n) ? static_cast<int>(i / n) : 0;
    scores[i] *= std::sqrt(std::fabs(w.phi[k]));
  }
  return scores;
}

namespace {

// The layout of a term's values: phi, then the row score blocks, then the column score blocks.
struct ValueLayout {
  int phi = 1;
  int row_start = 0;
  int column_start = 0;
  int size = 0;
};

ValueLayout LayoutOf(const AssociationWork& w) {
  ValueLayout layout;
  layout.phi = w.phi_layers ? w.layers : 1;
  layout.row_start = layout.phi;
  layout.column_start = layout.row_start + (w.row_layers ? w.layers : 1) * w.rows;
  layout.size =
      layout.column_start + (w.symmetric ? 0 : (w.column_layers ? w.layers : 1) * w.columns);
  return layout;
}

}  // namespace

std::vector<double> AssociationValues(const AssociationWork& w) {
  const ValueLayout layout = LayoutOf(w);
  std::vector<double> values(layout.size, 0.0);
  for (int k = 0; k < layout.phi; ++k) values[k] = w.phi[k];
  std::copy(w.row_scores.begin(), w.row_scores.end(), values.begin() + layout.row_start);
  if (!w.symmetric) {
    std::copy(w.column_scores.begin(), w.column_scores.end(), values.begin() + layout.column_start);
  }
  return values;
}

std::vector<std::vector<double>> AssociationDirections(const AssociationWork& w) {
  const ValueLayout layout = LayoutOf(w);
  const int p = layout.size;
  std::vector<std::vector<double>> normals;
  // A normal that is the vector f(i) over the block of n values starting at start.
  auto block_normal = [&](std::vector<double>& normal, int start, int n, auto f) {
    normal.resize(p, 0.0);
    for (int i = 0; i < n; ++i) normal[start + i] += f(i);
  };
  auto scaling_normals = [&](int start, int blocks, int n, const std::vector<double>& scores) {
    if (n < 2) return;
    for (int b = 0; b < blocks; ++b) {
      const int first = start + b * n;
      if (w.scaling >= 1 && w.scaling <= 4) {
        normals.emplace_back();
        block_normal(normals.back(), first, n, [](int) { return 1.0; });
      }
      if (w.scaling == 1 || w.scaling == 2) {
        normals.emplace_back();
        const double* x = scores.data() + static_cast<std::size_t>(b) * n;
        const bool zero = std::all_of(x, x + n, [](double v) { return v == 0; });
        block_normal(normals.back(), first, n, [&](int i) { return zero ? Centred(i, n) : x[i]; });
      }
    }
  };
  const int row_blocks = w.row_layers ? w.layers : 1;
  const int column_blocks = w.column_layers ? w.layers : 1;
  if (w.rows_estimated) scaling_normals(layout.row_start, row_blocks, w.rows, w.row_scores);
  if (w.columns_estimated && !w.symmetric) {
    scaling_normals(layout.column_start, column_blocks, w.columns, w.column_scores);
  }
  if (w.family != AssociationFamily::kLogMultiplicative && w.rows_estimated &&
      w.columns_estimated && !w.symmetric && w.columns > 1) {
    const bool per_layer = w.column_layers && w.row_layers;
    for (int b = 0; b < (per_layer ? column_blocks : 1); ++b) {
      normals.emplace_back();
      for (int c = 0; c < column_blocks; ++c) {
        if (per_layer && c != b) continue;
        block_normal(normals.back(), layout.column_start + c * w.columns, w.columns,
                     [&](int l) { return Centred(l, w.columns); });
      }
    }
  }
  if (w.family == AssociationFamily::kLogLinear && w.phi_estimated && w.rows_estimated &&
      !w.row_layers && w.rows > 1) {
    normals.emplace_back();
    block_normal(normals.back(), layout.row_start, w.rows,
                 [&](int h) { return Centred(h, w.rows); });
  }
  // The normals made orthonormal, then the estimated values' unit vectors made orthogonal to
  // them and to each other.
  std::vector<std::vector<double>> basis;
  for (const std::vector<double>& normal : normals) AddToBasis(normal, basis, 1e-9);
  const std::size_t constraints = basis.size();
  // A direction of the M-step embedded in the layout at start.
  auto candidate = [&](const std::vector<double>& vector, int start) {
    std::vector<double> v(p, 0.0);
    std::copy(vector.begin(), vector.end(), v.begin() + start);
    AddToBasis(std::move(v), basis, 1e-6);
  };
  for (const std::vector<double>& vector : w.phi_vectors) candidate(vector, 0);
  for (int b = 0; b < row_blocks; ++b) {
    for (const std::vector<double>& vector : w.row_vectors) {
      candidate(vector, layout.row_start + b * w.rows);
    }
  }
  if (!w.symmetric) {
    for (int b = 0; b < column_blocks; ++b) {
      for (const std::vector<double>& vector : w.column_vectors) {
        candidate(vector, layout.column_start + b * w.columns);
      }
    }
  }
  return {basis.begin() + static_cast<std::ptrdiff_t>(constraints), basis.end()};
}

namespace {

// The change of every cell of the term along direction d.
std::vector<double> CellChangeAlong(const AssociationWork& w, const std::vector<double>& d) {
  std::vector<double> change(w.row_of.size(), 0.0);
  const ValueLayout layout = LayoutOf(w);
  for (std::size_t c = 0; c < change.size(); ++c) {
    const int h = w.row_of[c];
    const int l = w.column_of[c];
    const int k = w.layer_of[c];
    const CellTerms t = TermsAt(w, h, l, k);
    double value = d[w.phi_layers ? k : 0] * t.e;
    const int row_block = layout.row_start + ScoreBlock(w.row_layers, k) * w.rows;
    value += d[row_block + h] * t.a_row;
    if (w.symmetric) {
      value += d[row_block + l] * t.a_column;
    } else {
      value += d[layout.column_start + ScoreBlock(w.column_layers, k) * w.columns + l] * t.a_column;
    }
    change[c] = value;
  }
  return change;
}

}  // namespace

std::vector<double> AssociationCellChange(const EstimationRun& run, int r, int work, int position) {
  const AssociationWork& w = AssociationTerms(run)[r][work];
  const std::vector<double> values = AssociationValues(w);
  if (values != w.directions_at || w.cell_changes.empty()) {
    w.directions_at = values;
    w.cell_changes.clear();
    for (const std::vector<double>& d : AssociationDirections(w)) {
      w.cell_changes.push_back(CellChangeAlong(w, d));
    }
  }
  if (position < 0 || position >= static_cast<int>(w.cell_changes.size())) {
    return std::vector<double>(w.row_of.size(), 0.0);
  }
  return w.cell_changes[position];
}

}  // namespace tav
