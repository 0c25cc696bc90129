#include "estimation/marginal_restrictions.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "core/elementary.h"
#include "core/run_context.h"
#include "core/stop_run.h"
#include "core/sweep_inverse.h"
#include "data/design_reader.h"
#include "data/design_store.h"
#include "estimation/design_effects.h"
#include "estimation/free_parameters.h"

namespace tav {
namespace {

// Relative pivot tolerance of the inversions.
constexpr double kPivotTolerance = 1e-10;
// The largest change of a log cell in one step.
constexpr double kLargestLogStep = 2;
// An equation further than this from its target at the estimates is not met.
constexpr double kMetTolerance = 1e-4;
// Multipliers are kept within exp(+-kLargestLogMultiplier).
constexpr double kLargestLogMultiplier = 700;

using Matrix = std::vector<double>;

// Reads count reals of the real store from position at on.
std::vector<double> Reals(const std::vector<double>& store, std::int64_t& at, std::int64_t count) {
  std::vector<double> values(static_cast<std::size_t>(std::max<std::int64_t>(count, 0)));
  for (double& value : values) value = StoreValue(store, at++);
  return values;
}

// The matrices and the design of a chain, read from the real store at position at on.
void ReadChainMatrices(const std::vector<double>& store, std::int64_t& at, int margins, int first,
                       int second, int equations, MarginalChain& chain) {
  chain.margins = margins;
  chain.rows = margins;
  if (first > 0) {
    chain.first = Reals(store, at, static_cast<std::int64_t>(first) * margins);
    chain.rows = first;
  }
  if (second > 0) {
    chain.second = Reals(store, at, static_cast<std::int64_t>(second) * first);
    chain.rows = second;
  }
  chain.design = Reals(store, at, static_cast<std::int64_t>(equations) * chain.rows);
}

// The entries of term design d of submodel r: each submodel cell into the margin(s) of the cell
// of the term's marginal table it falls in.
void AddTermEntries(const EstimationRun& run, int r, int d, int m2, MarginalChain& chain) {
  const ModelState& model = run.model;
  const Submodel& submodel = model.submodels[r];
  const MarginShape shape(model, submodel, submodel.designs[d].Term());
  const std::int64_t n = shape.margin_cells();
  const DesignSlot& slot = run.designs.design_slots[r][d];
  shape.ForEach([&](std::int64_t cell, std::int64_t c) {
    if (m2 == 0) {
      chain.entries.push_back({cell, static_cast<int>(c), 1.0});
    } else if (m2 > 0) {
      const int group = run.designs.group[static_cast<std::size_t>(slot.group_start + c)];
      if (group > 0) chain.entries.push_back({cell, group - 1, 1.0});
    } else {
      for (int g = 0; g < -m2; ++g) {
        const double a = StoreValue(run.designs.second_real, slot.second_start + g * n + c);
        if (a != 0) chain.entries.push_back({cell, g, a});
      }
    }
  });
}

// The item that starts at design i of submodel r.
MarginalItem BuildItem(const EstimationRun& run, int r, int i) {
  const Submodel& submodel = run.model.submodels[r];
  const Design& design = submodel.designs[i];
  const std::vector<double>& store = run.designs.real_design;
  MarginalItem item;
  item.design = i;
  item.equations = design.DesignCountParam;
  item.form = design.DesignRestriction.form;
  const bool targets = design.DesignRestriction.WithTargets();
  item.inequality = design.DesignRestriction.Inequality();
  item.target.assign(item.equations, 0.0);
  const int m2 = design.mar_extra;
  const int first = design.mar_b_elements;
  const int second = design.mar_c_elements;
  std::vector<int> terms;
  int reserved = -1;
  for (int d = i; d < submodel.DesignTermCount(); ++d) {
    const Design& term = submodel.designs[d];
    if (d > i && (term.family != DesignFamily::kMarginal || IsFreeDesign(submodel, d))) break;
    if (term.reserved) {
      reserved = d;
    } else {
      terms.push_back(d);
    }
  }
  if (m2 == 0) {
    for (int d : terms) {
      MarginalChain chain;
      const MarginShape shape(run.model, submodel, submodel.designs[d].Term());
      std::int64_t at = run.designs.design_slots[r][d].real_start;
      ReadChainMatrices(store, at, static_cast<int>(shape.margin_cells()), first, second,
                        item.equations, chain);
      AddTermEntries(run, r, d, 0, chain);
      item.chains.push_back(std::move(chain));
    }
    if (targets && reserved >= 0) {
      std::int64_t at = run.designs.design_slots[r][reserved].real_start;
      item.target = Reals(store, at, item.equations);
    }
  } else {
    MarginalChain chain;
    std::int64_t at = run.designs.design_slots[r][i].real_start;
    ReadChainMatrices(store, at, std::abs(m2), first, second, item.equations, chain);
    if (targets) item.target = Reals(store, at, item.equations);
    for (int d : terms) AddTermEntries(run, r, d, m2, chain);
    std::sort(chain.entries.begin(), chain.entries.end(),
              [](const MarginalChain::Entry& a, const MarginalChain::Entry& b) {
                return a.cell < b.cell;
              });
    item.chains.push_back(std::move(chain));
  }
  item.dependent.assign(item.equations, 0);
  return item;
}

// The equations of submodel r's items at the probabilities p: values e (h) and derivatives
// g (h x cells, equation-major) by the probabilities.
void EvaluateEquations(const std::vector<MarginalItem>& items, const double* p, std::int64_t cells,
                       std::vector<double>& e, Matrix& g) {
  int h = 0;
  for (const MarginalItem& item : items) h += item.equations;
  e.assign(h, 0.0);
  g.assign(static_cast<std::size_t>(h) * cells, 0.0);
  int base = 0;
  for (const MarginalItem& item : items) {
    const bool log_cells = item.form == MarginalForm::kSumsOfLogs;
    for (const MarginalChain& chain : item.chains) {
      const int k_margins = chain.margins;
      std::vector<double> mu(k_margins, 0.0);
      for (const MarginalChain::Entry& entry : chain.entries) {
        const double value = p[entry.cell];
        if (log_cells) {
          if (value > 0) mu[entry.margin] += entry.weight * Log(value);
        } else {
          mu[entry.margin] += entry.weight * value;
        }
      }
      // ln mu where it is taken, and the derivative of ln mu by mu.
      std::vector<double> log_mu(k_margins, 0.0);
      std::vector<double> inverse(k_margins, 0.0);
      for (int m = 0; m < k_margins; ++m) {
        if (mu[m] > 0) {
          log_mu[m] = Log(mu[m]);
          inverse[m] = 1 / mu[m];
        }
      }
      // y and, per value, its derivatives by the margins: for the forms a, b and e one value
      // per margin, whose derivative is diagonal; for c and d a matrix (rows x margins).
      const bool diagonal = item.form == MarginalForm::kMargins ||
                            item.form == MarginalForm::kLogMargins ||
                            item.form == MarginalForm::kSumsOfLogs;
      std::vector<double> y(chain.rows, 0.0);
      std::vector<double> dy_diagonal;
      Matrix dy;
      if (diagonal) {
        y = item.form == MarginalForm::kLogMargins ? log_mu : mu;
        dy_diagonal =
            item.form == MarginalForm::kLogMargins ? inverse : std::vector<double>(k_margins, 1.0);
      } else {
        const int first_rows = static_cast<int>(chain.first.size()) / std::max(k_margins, 1);
        std::vector<double> z(first_rows, 0.0);
        Matrix dz(static_cast<std::size_t>(first_rows) * k_margins, 0.0);
        for (int i = 0; i < first_rows; ++i) {
          for (int m = 0; m < k_margins; ++m) {
            const double f = chain.first[static_cast<std::size_t>(i) * k_margins + m];
            if (f == 0) continue;
            z[i] += f * log_mu[m];
            dz[static_cast<std::size_t>(i) * k_margins + m] = f * inverse[m];
          }
        }
        if (item.form == MarginalForm::kLogContrasts) {
          y = z;
          dy = dz;
        } else {
          dy.assign(static_cast<std::size_t>(chain.rows) * k_margins, 0.0);
          for (int l = 0; l < chain.rows; ++l) {
            for (int i = 0; i < first_rows; ++i) {
              const double s = chain.second[static_cast<std::size_t>(l) * first_rows + i];
              if (s == 0) continue;
              const double u = Exp(z[i]);
              y[l] += s * u;
              for (int m = 0; m < k_margins; ++m) {
                dy[static_cast<std::size_t>(l) * k_margins + m] +=
                    s * u * dz[static_cast<std::size_t>(i) * k_margins + m];
              }
            }
          }
        }
      }
      // The equations: values, and their derivatives by the margins, then by the cells.
      for (int j = 0; j < item.equations; ++j) {
        const double* d = chain.design.data() + static_cast<std::size_t>(j) * chain.rows;
        std::vector<double> w(k_margins, 0.0);
        for (int i = 0; i < chain.rows; ++i) {
          if (d[i] == 0) continue;
          e[base + j] += d[i] * y[i];
          if (diagonal) {
            w[i] = d[i] * dy_diagonal[i];
            continue;
          }
          for (int m = 0; m < k_margins; ++m) {
            w[m] += d[i] * dy[static_cast<std::size_t>(i) * k_margins + m];
          }
        }
        double* row = g.data() + static_cast<std::size_t>(base + j) * cells;
        for (const MarginalChain::Entry& entry : chain.entries) {
          const double wm = w[entry.margin];
          if (wm == 0) continue;
          if (log_cells) {
            const double value = p[entry.cell];
            if (value > 0) row[entry.cell] += wm * entry.weight / value;
          } else {
            row[entry.cell] += wm * entry.weight;
          }
        }
      }
    }
    for (int j = 0; j < item.equations; ++j) e[base + j] -= item.target[j];
    base += item.equations;
  }
}

// The probabilities of the fitted cells m (their total is returned).
double Probabilities(const double* m, std::int64_t cells, std::vector<double>& p) {
  double total = 0;
  for (std::int64_t k = 0; k < cells; ++k) total += m[k];
  p.assign(static_cast<std::size_t>(cells), 0.0);
  if (!(total > 0)) return 0;
  for (std::int64_t k = 0; k < cells; ++k) p[k] = m[k] / total;
  return total;
}

// The equations and their derivatives g by the probabilities turned into those of the
// equations times the table total M by the cells: e_j := M e_j, C_jk = g_jk - sum_l p_l g_jl.
// (Scaled so, the multipliers do not grow with the sample size.)
void ToCellDerivatives(const std::vector<double>& p, double total, std::vector<double>& e,
                       Matrix& g) {
  const auto cells = static_cast<std::int64_t>(p.size());
  for (std::size_t j = 0; j < e.size(); ++j) {
    e[j] *= total;
    double* row = g.data() + j * cells;
    double mean = 0;
    for (std::int64_t k = 0; k < cells; ++k) mean += p[k] * row[k];
    for (std::int64_t k = 0; k < cells; ++k) row[k] -= mean;
  }
}

// Inverts the symmetric n x n matrix in place, pivots below the relative tolerance dropped;
// returns which were dropped.
std::vector<char> InvertDropping(Matrix& matrix, int n) {
  double largest = 0;
  for (int i = 0; i < n; ++i) {
    largest = std::max(largest, matrix[static_cast<std::size_t>(i) * n + i]);
  }
  std::vector<char> dropped(n, 0);
  const double tolerance = largest > 0 ? kPivotTolerance * largest : 1.0;
  SweepInverse(
      matrix, n, tolerance, [](int) { return false; }, [&](int s, double) { dropped[s] = 1; });
  return dropped;
}

// The first iteration starts from the expected table, where the log-likelihood without the
// equations is largest. Its empty cells stay empty, as they are at the maximum (the Lagrange
// conditions give p_k = n_k / (M + sum_j lambda_j dh_j/dp_k)), unless equations on log cells
// need them positive: then they get a small share (1e-3 of the mean cell) for the equations to
// move.
void StartFromExpected(const std::vector<MarginalItem>& items, const double* n, std::int64_t cells,
                       double* m) {
  double total = 0;
  for (std::int64_t k = 0; k < cells; ++k) total += n[k];
  if (!(total > 0)) return;
  const bool log_cells = std::any_of(items.begin(), items.end(), [](const MarginalItem& item) {
    return item.form == MarginalForm::kSumsOfLogs;
  });
  const double floor = log_cells ? 1e-3 * total / static_cast<double>(cells) : 0.0;
  for (std::int64_t k = 0; k < cells; ++k) {
    if (m[k] > 0) m[k] = n[k] > 0 ? n[k] : floor;
  }
}

// The equations left out of a step: inequalities that hold while their multiplier is 1, or
// whose multiplier is below 1. Their values and derivatives become 0.
std::vector<char> LeaveOut(const EstimationRun& run, const std::vector<MarginalItem>& items,
                           std::vector<double>& e, Matrix& g, std::int64_t cells) {
  std::vector<char> out(e.size(), 0);
  int base = 0;
  for (const MarginalItem& item : items) {
    for (int j = 0; j < item.equations; ++j) {
      const double tau = run.estimation.Multipliers[item.offset + j];
      if (item.inequality && ((e[base + j] >= 0 && tau == 1) || tau < 1)) {
        out[base + j] = 1;
        e[base + j] = 0;
        std::fill_n(g.begin() + static_cast<std::ptrdiff_t>(base + j) * cells, cells, 0.0);
      }
    }
    base += item.equations;
  }
  return out;
}

// The equations of items at the fitted cells m, ready for a step: their values e and
// derivatives C (both times the table total) with the inequalities that are left out (their
// rows 0). False when the table is empty.
struct Linearised {
  std::vector<double> e;
  Matrix c;
  std::vector<char> out;
};
bool Linearise(const EstimationRun& run, const std::vector<MarginalItem>& items, const double* m,
               std::int64_t cells, Linearised& result) {
  std::vector<double> p;
  const double total = Probabilities(m, cells, p);
  if (!(total > 0)) return false;
  EvaluateEquations(items, p.data(), cells, result.e, result.c);
  ToCellDerivatives(p, total, result.e, result.c);
  result.out = LeaveOut(run, items, result.e, result.c, cells);
  return true;
}

// D = C diag(m) C2' for the h equations (cells that are 0 add nothing); C2 is C, or C taken
// within the conditioning cells (CentreWithinConditions), which gives the same symmetric D.
Matrix WeightedGram(const Matrix& c, const Matrix& c2, int h, const double* m, std::int64_t cells) {
  Matrix d(static_cast<std::size_t>(h) * h, 0.0);
  std::vector<double> weighted(static_cast<std::size_t>(cells));
  for (int i = 0; i < h; ++i) {
    const double* ci = c.data() + static_cast<std::size_t>(i) * cells;
    for (std::int64_t k = 0; k < cells; ++k) weighted[k] = m[k] > 0 ? m[k] * ci[k] : 0.0;
    for (int j = i; j < h; ++j) {
      const double* cj = c2.data() + static_cast<std::size_t>(j) * cells;
      double sum = 0;
      for (std::int64_t k = 0; k < cells; ++k) sum += weighted[k] * cj[k];
      d[static_cast<std::size_t>(i) * h + j] = sum;
      d[static_cast<std::size_t>(j) * h + i] = sum;
    }
  }
  return d;
}

// The rows of v (rows x cells) of submodel r less their means weighted by m within every
// conditioning cell: directions that leave the conditioning totals where they are. The first
// submodel's rows stay as they are (its total is free).
Matrix CentreWithinConditions(const EstimationRun& run, int r, const double* m, Matrix v,
                              int rows) {
  if (r == 0 || rows == 0) return v;
  const MarginShape& condition = run.estimation.condition_shapes[r];
  const std::int64_t cells = condition.cells();
  std::vector<double> total(static_cast<std::size_t>(condition.margin_cells()), 0.0);
  condition.ForEach([&](std::int64_t cell, std::int64_t g) {
    if (m[cell] > 0) total[g] += m[cell];
  });
  std::vector<double> mean(total.size());
  for (int j = 0; j < rows; ++j) {
    double* row = v.data() + static_cast<std::size_t>(j) * cells;
    std::fill(mean.begin(), mean.end(), 0.0);
    condition.ForEach([&](std::int64_t cell, std::int64_t g) {
      if (m[cell] > 0) mean[g] += m[cell] * row[cell];
    });
    for (std::size_t g = 0; g < mean.size(); ++g) mean[g] = total[g] > 0 ? mean[g] / total[g] : 0;
    condition.ForEach([&](std::int64_t cell, std::int64_t g) { row[cell] -= mean[g]; });
  }
  return v;
}

// The fitted frequencies of submodel r between iterations: a conditional submodel's
// probabilities times the expected totals of its conditioning cells.
std::vector<double> FittedFrequencies(const EstimationRun& run, int r) {
  const EstimationState& est = run.estimation;
  const Submodel& submodel = run.model.submodels[r];
  const auto cells = static_cast<std::int64_t>(submodel.cell_count);
  std::vector<double> m(est.FittedTable.begin() + submodel.first_cell,
                        est.FittedTable.begin() + submodel.first_cell + cells);
  if (r > 0) {
    const MarginShape& condition = est.condition_shapes[r];
    std::vector<double> totals(static_cast<std::size_t>(condition.margin_cells()));
    condition.MarginOf(est.ExpectedTable.data() + submodel.first_cell, totals.data());
    condition.Scale(m.data(), totals.data(), m.data());
  }
  return m;
}

// The log-linear model of a submodel whose mar() restrictions stand beside model terms or
// design effects, at the fitted cells m (weights w, 0 for empty cells): groups (the whole table
// of the first submodel, the conditioning cells of another), and further columns z, each held
// less its weighted mean in every group. The first submodel's total is free: the projection P
// onto its model is the group mean plus the projection onto the centred columns. Another
// submodel's conditioning totals stay at the data (its table is a product of multinomials): P
// is the projection onto the centred columns alone.
struct ModelSpace {
  // What the coefficient of a column moves.
  struct Column {
    enum class Kind { kMarginCell, kDesign, kListed } kind = Kind::kMarginCell;
    std::int64_t at = 0;  // MarginParameters or Multipliers position, free-list position
    int work = -1;        // the margin, or the design work
    int parameter = -1;   // the margin cell, the work's parameter, or the free-list position
    int source = -1;      // a design's: the submodel whose design work holds it (r, or `all`)
  };
  std::int64_t cells = 0;
  bool free_total = true;            // the first submodel's: its group mean is in the model
  std::vector<std::int64_t> group;   // per cell
  std::vector<double> group_weight;  // per group, its total weight
  std::vector<double> weight;        // per cell
  std::vector<Column> columns;
  Matrix centred;      // columns x cells
  Matrix group_means;  // columns x groups: the means taken out
  Matrix s_inverse;    // (centred' W centred)^-, dependent columns dropped

  int Count() const { return static_cast<int>(columns.size()); }

  // pu := P u over the cells; coefficients := the columns' coefficients in it; group_part, when
  // not null, := per group the part of P u that the group's own constant carries.
  void Project(const double* u, double* pu, double* coefficients,
               std::vector<double>* group_part = nullptr) const {
    const int q = Count();
    const auto groups = static_cast<std::int64_t>(group_weight.size());
    std::vector<double> mean(static_cast<std::size_t>(groups), 0.0);
    for (std::int64_t k = 0; k < cells; ++k) mean[group[k]] += weight[k] * u[k];
    for (std::int64_t g = 0; g < groups; ++g) {
      mean[g] = group_weight[g] > 0 ? mean[g] / group_weight[g] : 0.0;
    }
    std::vector<double> t(q, 0.0);
    for (int a = 0; a < q; ++a) {
      const double* z = centred.data() + static_cast<std::size_t>(a) * cells;
      double sum = 0;
      for (std::int64_t k = 0; k < cells; ++k) sum += z[k] * weight[k] * u[k];
      t[a] = sum;
    }
    for (int a = 0; a < q; ++a) {
      double sum = 0;
      for (int b = 0; b < q; ++b) sum += s_inverse[static_cast<std::size_t>(a) * q + b] * t[b];
      coefficients[a] = sum;
    }
    for (std::int64_t k = 0; k < cells; ++k) pu[k] = free_total ? mean[group[k]] : 0.0;
    for (int a = 0; a < q; ++a) {
      if (coefficients[a] == 0) continue;
      const double* z = centred.data() + static_cast<std::size_t>(a) * cells;
      for (std::int64_t k = 0; k < cells; ++k) pu[k] += coefficients[a] * z[k];
    }
    if (group_part == nullptr) return;
    *group_part = mean;
    for (int a = 0; a < q; ++a) {
      for (std::int64_t g = 0; g < groups; ++g) {
        (*group_part)[g] -= coefficients[a] * group_means[static_cast<std::size_t>(a) * groups + g];
      }
    }
  }
};

// Inverts the symmetric n x n matrix in place; a pivot is dropped when it falls below the
// relative tolerance of its reference (the matrix's own diagonal element, or reference[i]):
// the matrix is scaled to those references first. Returns which were dropped.
std::vector<char> InvertScaled(Matrix& matrix, int n, const std::vector<double>& reference) {
  std::vector<double> scale(n, 0.0);
  for (int i = 0; i < n; ++i) {
    const double r = reference.empty() ? matrix[static_cast<std::size_t>(i) * n + i] : reference[i];
    scale[i] = r > 0 ? 1 / std::sqrt(r) : 0.0;
  }
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) matrix[static_cast<std::size_t>(i) * n + j] *= scale[i] * scale[j];
  }
  std::vector<char> dropped(n, 0);
  SweepInverse(
      matrix, n, kPivotTolerance, [](int) { return false; },
      [&](int s, double) { dropped[s] = 1; });
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) matrix[static_cast<std::size_t>(i) * n + j] *= scale[i] * scale[j];
  }
  return dropped;
}

// The values over the cells of submodel r of the listed log-linear parameter at free-list
// position i: per variable of its effect 1 at the parameter's category, -1 at the last category
// under effect coding, 0 elsewhere, multiplied over the variables.
std::vector<double> ListedColumn(const EstimationRun& run, int r, int i) {
  const ModelState& model = run.model;
  const Submodel& submodel = model.submodels[r];
  const FreeParameter& parameter = run.estimation.free_parameters.parameters[i];
  const ReferenceVector reference = EffectiveReference(run, r);
  std::vector<int> vars;
  for (int v = 0; v < kVectorSize; ++v) {
    if (parameter.effect[v] != 0) vars.push_back(v);
  }
  std::vector<int> chosen(vars.size(), 0);
  int rest = parameter.position;
  for (int k = static_cast<int>(vars.size()) - 1; k >= 0; --k) {
    const int dim = model.Dimension[vars[k]];
    const int q = rest % (dim - 1);
    rest /= dim - 1;
    const int ref = reference[vars[k]];
    chosen[k] = ref >= 1 && q >= ref - 1 ? q + 1 : q;
  }
  const MarginShape shape(model, submodel, parameter.effect);
  std::vector<double> sign(static_cast<std::size_t>(shape.margin_cells()), 0.0);
  for (std::int64_t e = 0; e < shape.margin_cells(); ++e) {
    const std::vector<int> category = CellCategories(model, vars, e);
    double value = 1;
    for (std::size_t k = 0; k < vars.size() && value != 0; ++k) {
      const int v = vars[k];
      if (category[k] == chosen[k]) continue;
      value = reference[v] < 1 && category[k] == model.Dimension[v] - 1 ? -value : 0.0;
    }
    sign[e] = value;
  }
  std::vector<double> column(static_cast<std::size_t>(shape.cells()), 0.0);
  shape.ForEach([&](std::int64_t cell, std::int64_t e) { column[cell] = sign[e]; });
  return column;
}

// The model space of submodel r at the fitted cells m. With listed, the log-linear parameters
// of r in the free-parameter list come first (the model terms' cells that follow are then
// dropped as dependent on them); without designs, the design effects are left out.
ModelSpace SpaceOf(const EstimationRun& run, int r, const double* m, bool listed,
                   bool designs = true) {
  const EstimationState& est = run.estimation;
  const Submodel& submodel = run.model.submodels[r];
  ModelSpace space;
  const auto cells = static_cast<std::int64_t>(submodel.cell_count);
  space.cells = cells;
  space.free_total = r == 0;
  space.weight.assign(static_cast<std::size_t>(cells), 0.0);
  for (std::int64_t k = 0; k < cells; ++k) space.weight[k] = m[k] > 0 ? m[k] : 0.0;
  space.group.assign(static_cast<std::size_t>(cells), 0);
  std::int64_t groups = 1;
  if (r > 0) {
    const MarginShape& condition = est.condition_shapes[r];
    groups = condition.margin_cells();
    condition.ForEach([&](std::int64_t cell, std::int64_t g) { space.group[cell] = g; });
  }
  space.group_weight.assign(static_cast<std::size_t>(groups), 0.0);
  for (std::int64_t k = 0; k < cells; ++k) space.group_weight[space.group[k]] += space.weight[k];

  // The columns first, then their values.
  using Kind = ModelSpace::Column::Kind;
  const std::vector<FreeParameter>& parameters = est.free_parameters.parameters;
  for (int i = 0; listed && i < static_cast<int>(parameters.size()); ++i) {
    if (parameters[i].IsLogLinear() && parameters[i].submodel == r) {
      space.columns.push_back({Kind::kListed, i, -1, i});
    }
  }
  for (int i = r > 0 ? 1 : 0; i < submodel.MarginCount(); ++i) {
    const std::int64_t offset = est.margin_parameter_offset[r][i];
    for (std::int64_t c = 0; offset >= 0 && c < est.margin_shapes[r][i].margin_cells(); ++c) {
      space.columns.push_back({Kind::kMarginCell, offset + c, i, static_cast<int>(c)});
    }
  }
  // The submodel's own designs, then those of `all` aimed at it.
  for (int source : {r, run.model.SubmodelCount + 1}) {
    if (!designs || source >= static_cast<int>(DesignWorks(run).size())) continue;
    const std::vector<DesignWork>& works = DesignWorks(run)[source];
    for (std::size_t w = 0; w < works.size(); ++w) {
      if (works[w].fixed || works[w].table != r) continue;
      for (int k : works[w].free) {
        space.columns.push_back(
            {Kind::kDesign, works[w].offset + k, static_cast<int>(w), k, source});
      }
    }
  }
  std::vector<double> z =
      AllocRealArray(run.context, static_cast<std::int64_t>(space.Count()) * cells);
  for (int a = 0; a < space.Count(); ++a) {
    const ModelSpace::Column& column = space.columns[a];
    double* values = z.data() + static_cast<std::size_t>(a) * cells;
    if (column.kind == Kind::kListed) {
      const std::vector<double> listed_values = ListedColumn(run, r, column.parameter);
      std::copy(listed_values.begin(), listed_values.end(), values);
    } else if (column.kind == Kind::kMarginCell) {
      est.margin_shapes[r][column.work].ForEach([&](std::int64_t cell, std::int64_t c) {
        values[cell] = c == column.parameter ? 1.0 : 0.0;
      });
    } else {
      const DesignWork& work = DesignWorks(run)[column.source][column.work];
      std::copy_n(work.x.data() + static_cast<std::ptrdiff_t>(column.parameter) * work.cells, cells,
                  values);
    }
  }

  const int q = space.Count();
  space.group_means.assign(static_cast<std::size_t>(q) * groups, 0.0);
  for (int a = 0; a < q; ++a) {
    double* values = z.data() + static_cast<std::size_t>(a) * cells;
    double* mean = space.group_means.data() + static_cast<std::size_t>(a) * groups;
    for (std::int64_t k = 0; k < cells; ++k) mean[space.group[k]] += space.weight[k] * values[k];
    for (std::int64_t g = 0; g < groups; ++g) {
      mean[g] = space.group_weight[g] > 0 ? mean[g] / space.group_weight[g] : 0.0;
    }
    for (std::int64_t k = 0; k < cells; ++k) values[k] -= mean[space.group[k]];
  }
  space.centred = std::move(z);
  space.s_inverse.assign(static_cast<std::size_t>(q) * q, 0.0);
  for (int a = 0; a < q; ++a) {
    const double* za = space.centred.data() + static_cast<std::size_t>(a) * cells;
    for (int b = a; b < q; ++b) {
      const double* zb = space.centred.data() + static_cast<std::size_t>(b) * cells;
      double sum = 0;
      for (std::int64_t k = 0; k < cells; ++k) sum += za[k] * space.weight[k] * zb[k];
      space.s_inverse[static_cast<std::size_t>(a) * q + b] = sum;
      space.s_inverse[static_cast<std::size_t>(b) * q + a] = sum;
    }
  }
  InvertScaled(space.s_inverse, q, {});
  return space;
}

// The equations (derivatives c, h x cells) projected onto the model space: P c_j over the cells
// and their coefficients F (h x columns), D = C W P C' inverted (an equation the model implies
// or that depends on the others dropped), with the dropped pivots.
struct Projection {
  Matrix pc;
  Matrix f;
  Matrix d_inverse;
  std::vector<char> dropped;
};

Projection ProjectEquations(const ModelSpace& space, const Matrix& c, int h) {
  const std::int64_t cells = space.cells;
  const int q = space.Count();
  Projection result;
  result.pc.assign(static_cast<std::size_t>(h) * cells, 0.0);
  result.f.assign(static_cast<std::size_t>(h) * q, 0.0);
  for (int j = 0; j < h; ++j) {
    space.Project(c.data() + static_cast<std::size_t>(j) * cells,
                  result.pc.data() + static_cast<std::size_t>(j) * cells,
                  result.f.data() + static_cast<std::size_t>(j) * q);
  }
  result.d_inverse.assign(static_cast<std::size_t>(h) * h, 0.0);
  std::vector<double> reference(h, 0.0);
  for (int i = 0; i < h; ++i) {
    const double* ci = c.data() + static_cast<std::size_t>(i) * cells;
    for (std::int64_t k = 0; k < cells; ++k) reference[i] += ci[k] * space.weight[k] * ci[k];
    for (int j = i; j < h; ++j) {
      const double* pj = result.pc.data() + static_cast<std::size_t>(j) * cells;
      double sum = 0;
      for (std::int64_t k = 0; k < cells; ++k) sum += ci[k] * space.weight[k] * pj[k];
      result.d_inverse[static_cast<std::size_t>(i) * h + j] = sum;
      result.d_inverse[static_cast<std::size_t>(j) * h + i] = sum;
    }
  }
  result.dropped = InvertScaled(result.d_inverse, h, reference);
  return result;
}

}  // namespace

bool MarginalSaturated(const ModelState& model, int r) {
  if (r < 0 || r >= static_cast<int>(model.submodels.size())) return false;
  const Submodel& submodel = model.submodels[r];
  if (submodel.MarSubmodel != MarRestrictions::kOnly) return false;
  if (r > 0) return submodel.MarginCount() <= 1;
  for (const Membership& margin : submodel.EffectVariables) {
    for (int v = 0; v < kVectorSize; ++v) {
      if (margin[v] != 0 && submodel.SubmodelVariables[v] != 0) return false;
    }
  }
  return true;
}

namespace {

// The submodel's table is saturated but for its equations.
bool Saturated(const EstimationRun& run, int r) { return MarginalSaturated(run.model, r); }

}  // namespace

void SetUpMarginalRestrictions(EstimationRun& run) {
  std::vector<std::vector<MarginalItem>>& items = MarginalItems(run);
  const ModelState& model = run.model;
  EstimationState& est = run.estimation;
  items.assign(model.submodels.size(), {});
  for (int r = 0; r < model.SubmodelCount; ++r) {
    const Submodel& submodel = model.submodels[r];
    if (submodel.MarSubmodel == MarRestrictions::kNone) continue;
    for (int i = 0; i < submodel.DesignTermCount(); ++i) {
      const Design& design = submodel.designs[i];
      if (design.reserved || design.family != DesignFamily::kMarginal ||
          !IsFreeDesign(submodel, i) || design.DesignCountParam <= 0) {
        continue;
      }
      MarginalItem item = BuildItem(run, r, i);
      item.offset = static_cast<std::int64_t>(est.Multipliers.size());
      est.Multipliers.resize(est.Multipliers.size() + item.equations, 1.0);
      items[r].push_back(std::move(item));
    }
  }
}

int MarginalMultiplierCount(const EstimationRun& run, int r) {
  if (r < 0 || r >= static_cast<int>(MarginalItems(run).size())) return 0;
  int h = 0;
  for (const MarginalItem& item : MarginalItems(run)[r]) h += item.equations;
  return h;
}

void ProjectStartTable(EstimationRun& run, int r) {
  EstimationState& est = run.estimation;
  const Submodel& submodel = run.model.submodels[r];
  if (MarginalSaturated(run.model, r) || MarginalMultiplierCount(run, r) == 0) return;
  const std::vector<StartValueRequest>& requests = run.settings.start_values;
  if (std::none_of(requests.begin(), requests.end(), [&](const StartValueRequest& request) {
        return request.submodel == r && request.whole_table && !request.of_hazard_part;
      })) {
    return;
  }
  const auto cells = static_cast<std::int64_t>(submodel.cell_count);
  double* m = est.FittedTable.data() + submodel.first_cell;
  std::vector<double> ones(static_cast<std::size_t>(cells), 0.0);
  std::vector<double> log_m(static_cast<std::size_t>(cells), 0.0);
  for (std::int64_t k = 0; k < cells; ++k) {
    if (m[k] > 0) {
      ones[k] = 1;
      log_m[k] = Log(m[k]);
    }
  }
  ModelSpace space = SpaceOf(run, r, ones.data(), false, false);
  space.free_total = true;
  std::vector<double> projected(static_cast<std::size_t>(cells), 0.0);
  std::vector<double> coefficients(space.Count(), 0.0);
  std::vector<double> group_part;
  space.Project(log_m.data(), projected.data(), coefficients.data(), &group_part);
  for (std::int64_t k = 0; k < cells; ++k) {
    if (m[k] > 0) m[k] = Exp(projected[k]);
  }
  for (int a = 0; a < space.Count(); ++a) {
    est.MarginParameters[space.columns[a].at] = Exp(coefficients[a]);
  }
  if (r == 0 && submodel.MarginCount() > 0 && est.margin_parameter_offset[0][0] >= 0) {
    double* first = est.MarginParameters.data() + est.margin_parameter_offset[0][0];
    const double change = Exp(group_part[0]);
    for (std::int64_t k = 0; k < est.margin_shapes[0][0].margin_cells(); ++k) first[k] *= change;
  }
}

void FitMarginalSubmodel(EstimationRun& run, int r, int iteration) {
  EstimationState& est = run.estimation;
  const int h = MarginalMultiplierCount(run, r);
  if (h == 0) return;
  std::vector<MarginalItem>& items = MarginalItems(run)[r];
  const Submodel& submodel = run.model.submodels[r];
  const auto cells = static_cast<std::int64_t>(submodel.cell_count);
  double* m = est.FittedTable.data() + submodel.first_cell;
  const double* n = est.ExpectedTable.data() + submodel.first_cell;
  const bool start = iteration <= 0;
  const bool saturated = Saturated(run, r);
  if (iteration == 1 && saturated) StartFromExpected(items, n, cells, m);

  Linearised linearised;
  if (!Linearise(run, items, m, cells, linearised)) return;
  std::vector<double>& e = linearised.e;
  const Matrix& c = linearised.c;
  const std::vector<char>& out = linearised.out;

  const double step = start ? 1.0 : std::fabs(est.restriction_step);
  std::vector<double> lambda(h, 0.0);
  std::vector<char> dropped;
  // Per cell its change of ln m before the step divisor.
  std::vector<double> delta(static_cast<std::size_t>(cells), 0.0);
  // Beside a log-linear model: its space, the coefficients of its columns and the change of the
  // first submodel's constant.
  ModelSpace space;
  std::vector<double> coefficients;
  std::vector<double> group_part;
  if (saturated) {
    // X the identity: D = C diag(m) C', e' = e + C (n - m), delta = (n - m) / m + C' lambda;
    // in a conditional submodel C and y = (n - m) / m taken within the conditioning cells.
    const Matrix cc = CentreWithinConditions(run, r, m, c, h);
    Matrix d = WeightedGram(c, cc, h, m, cells);
    for (int i = 0; i < h && !start; ++i) {
      const double* ci = cc.data() + static_cast<std::size_t>(i) * cells;
      for (std::int64_t k = 0; k < cells; ++k) {
        if (m[k] > 0) e[i] += ci[k] * (n[k] - m[k]);
      }
    }
    dropped = InvertDropping(d, h);
    for (int i = 0; i < h; ++i) {
      for (int j = 0; j < h; ++j) lambda[i] -= d[static_cast<std::size_t>(i) * h + j] * e[j];
    }
    Matrix y(static_cast<std::size_t>(cells), 0.0);
    for (std::int64_t k = 0; k < cells && !start; ++k) {
      if (m[k] > 0) y[k] = (n[k] - m[k]) / m[k];
    }
    y = CentreWithinConditions(run, r, m, std::move(y), 1);
    for (std::int64_t k = 0; k < cells; ++k) {
      if (!(m[k] > 0)) continue;
      double value = y[k];
      for (int j = 0; j < h; ++j) value += cc[static_cast<std::size_t>(j) * cells + k] * lambda[j];
      delta[k] = value;
    }
  } else {
    // e' = e + C W P y, lambda = -D^-1 e', delta = P (y + C' lambda).
    space = SpaceOf(run, r, m, false);
    const Projection projection = ProjectEquations(space, c, h);
    dropped = projection.dropped;
    std::vector<double> y(static_cast<std::size_t>(cells), 0.0);
    for (std::int64_t k = 0; k < cells && !start; ++k) {
      if (m[k] > 0) y[k] = (n[k] - m[k]) / m[k];
    }
    for (int j = 0; j < h && !start; ++j) {
      const double* pj = projection.pc.data() + static_cast<std::size_t>(j) * cells;
      for (std::int64_t k = 0; k < cells; ++k) e[j] += pj[k] * space.weight[k] * y[k];
    }
    for (int i = 0; i < h; ++i) {
      for (int j = 0; j < h; ++j) {
        lambda[i] -= projection.d_inverse[static_cast<std::size_t>(i) * h + j] * e[j];
      }
    }
    std::vector<double> u = y;
    for (int j = 0; j < h; ++j) {
      if (lambda[j] == 0) continue;
      const double* cj = c.data() + static_cast<std::size_t>(j) * cells;
      for (std::int64_t k = 0; k < cells; ++k) u[k] += cj[k] * lambda[j];
    }
    coefficients.assign(space.Count(), 0.0);
    space.Project(u.data(), delta.data(), coefficients.data(), &group_part);
    for (std::int64_t k = 0; k < cells; ++k) {
      if (!(m[k] > 0)) delta[k] = 0;
    }
  }

  // The step, shortened as a whole when it would move a cell too far.
  double largest = 0;
  for (std::int64_t k = 0; k < cells; ++k) largest = std::max(largest, std::fabs(delta[k] / step));
  const double factor = (largest > kLargestLogStep ? kLargestLogStep / largest : 1.0) / step;
  for (std::int64_t k = 0; k < cells; ++k) {
    if (m[k] > 0) m[k] *= Exp(delta[k] * factor);
  }
  for (int a = 0; a < space.Count(); ++a) {
    const ModelSpace::Column& column = space.columns[a];
    if (coefficients[a] == 0) continue;
    std::vector<double>& target =
        column.kind == ModelSpace::Column::Kind::kDesign ? est.Multipliers : est.MarginParameters;
    target[column.at] *= Exp(coefficients[a] * factor);
  }
  // The first submodel's constant: every parameter of its first model term.
  if (!saturated && r == 0 && submodel.MarginCount() > 0 &&
      est.margin_parameter_offset[0][0] >= 0 && !group_part.empty()) {
    double* first = est.MarginParameters.data() + est.margin_parameter_offset[0][0];
    const double change = Exp(group_part[0] * factor);
    for (std::int64_t k = 0; k < est.margin_shapes[0][0].margin_cells(); ++k) first[k] *= change;
  }

  // The constant of a saturated first submodel (its margin of no variables) follows the table:
  // the mean of its log cells.
  if (saturated && r == 0 && submodel.MarginCount() > 0 && est.margin_parameter_offset[0][0] >= 0 &&
      est.margin_shapes[0][0].margin_cells() == 1) {
    double sum = 0;
    std::int64_t positive = 0;
    for (std::int64_t k = 0; k < cells; ++k) {
      if (m[k] > 0) {
        sum += Log(m[k]);
        ++positive;
      }
    }
    if (positive > 0) {
      est.MarginParameters[est.margin_parameter_offset[0][0]] =
          Exp(sum / static_cast<double>(positive));
    }
  }

  int base = 0;
  for (MarginalItem& item : items) {
    for (int j = 0; j < item.equations; ++j) {
      item.dependent[j] = dropped[base + j] != 0 && out[base + j] == 0;
      if (!start) {
        if (out[base + j] || item.dependent[j]) ++est.BoundaryAdjustments;
        est.Multipliers[item.offset + j] =
            Exp(std::clamp(lambda[base + j], -kLargestLogMultiplier, kLargestLogMultiplier));
      }
    }
    base += item.equations;
  }
}

MarginalCovarianceBlock MarginalCovariance(const EstimationRun& run, int r) {
  const EstimationState& est = run.estimation;
  const Submodel& submodel = run.model.submodels[r];
  const auto cells = static_cast<std::int64_t>(submodel.cell_count);
  const int h = MarginalMultiplierCount(run, r);
  MarginalCovarianceBlock block;
  if (h == 0) return block;
  const std::vector<MarginalItem>& items = MarginalItems(run)[r];
  const std::vector<FreeParameter>& listed = est.free_parameters.parameters;
  // The free-list position of parameter k of design d of submodel source.
  auto position_of = [&](int source, int d, int k) {
    for (std::size_t i = 0; i < listed.size(); ++i) {
      const FreeParameter& parameter = listed[i];
      if (parameter.submodel == source && parameter.design == d && parameter.position == k) {
        return static_cast<int>(i);
      }
    }
    return -1;
  };
  const std::vector<double> m = FittedFrequencies(run, r);
  const bool saturated = Saturated(run, r);
  // The reported columns of the model space: listed log-linear and design parameters.
  ModelSpace space;
  std::vector<int> reported;
  if (!saturated) {
    space = SpaceOf(run, r, m.data(), true);
    for (int a = 0; a < space.Count(); ++a) {
      const ModelSpace::Column& column = space.columns[a];
      if (column.kind == ModelSpace::Column::Kind::kListed) {
        reported.push_back(a);
        block.positions.push_back(static_cast<int>(column.at));
      } else if (column.kind == ModelSpace::Column::Kind::kDesign) {
        const DesignWork& work = DesignWorks(run)[column.source][column.work];
        const auto at = std::find(work.free.begin(), work.free.end(), column.parameter);
        reported.push_back(a);
        block.positions.push_back(
            position_of(column.source, work.design, static_cast<int>(at - work.free.begin())));
      }
    }
  }
  for (const MarginalItem& item : items) {
    for (int k = 0; k < item.equations; ++k)
      block.positions.push_back(position_of(r, item.design, k));
  }
  const int l = static_cast<int>(reported.size());
  const int size = l + h;
  block.covariance.assign(static_cast<std::size_t>(size) * size, 0.0);
  Linearised linearised;
  if (!Linearise(run, items, m.data(), cells, linearised)) return block;
  const Matrix& c = linearised.c;
  auto cov = [&](int i, int j) -> double& {
    return block.covariance[static_cast<std::size_t>(i) * size + j];
  };
  if (saturated) {
    // X the identity: D = C diag(m) C' (C within the conditioning cells of a conditional one).
    Matrix d = WeightedGram(c, CentreWithinConditions(run, r, m.data(), c, h), h, m.data(), cells);
    InvertDropping(d, h);
    for (int i = 0; i < h; ++i) {
      for (int j = 0; j < h; ++j) cov(i, j) = d[static_cast<std::size_t>(i) * h + j];
    }
    return block;
  }
  const Projection projection = ProjectEquations(space, c, h);
  const int q = space.Count();
  auto f = [&](int j, int a) { return projection.f[static_cast<std::size_t>(j) * q + a]; };
  auto d_inverse = [&](int s, int t) {
    return projection.d_inverse[static_cast<std::size_t>(s) * h + t];
  };
  for (int i = 0; i < l; ++i) {
    const int a = reported[i];
    for (int j = 0; j < l; ++j) {
      const int b = reported[j];
      double sum = space.s_inverse[static_cast<std::size_t>(a) * q + b];
      for (int s = 0; s < h; ++s) {
        const double fs = f(s, a);
        if (fs == 0) continue;
        for (int t = 0; t < h; ++t) sum -= fs * d_inverse(s, t) * f(t, b);
      }
      cov(i, j) = sum;
    }
  }
  for (int i = 0; i < h; ++i) {
    for (int j = 0; j < h; ++j) cov(l + i, l + j) = d_inverse(i, j);
  }
  return block;
}

void CheckMarginalRestrictionsMet(EstimationRun& run) {
  const std::vector<std::vector<MarginalItem>>& all = MarginalItems(run);
  for (int r = 0; r < static_cast<int>(all.size()); ++r) {
    const int h = MarginalMultiplierCount(run, r);
    if (h == 0) continue;
    const Submodel& submodel = run.model.submodels[r];
    const auto cells = static_cast<std::int64_t>(submodel.cell_count);
    std::vector<double> p;
    Probabilities(FittedFrequencies(run, r).data(), cells, p);
    std::vector<double> e;
    Matrix g;
    EvaluateEquations(all[r], p.data(), cells, e, g);
    int base = 0;
    for (const MarginalItem& item : all[r]) {
      for (int j = 0; j < item.equations; ++j) {
        const double value = e[base + j];
        const bool met =
            item.inequality ? value >= -kMetTolerance : std::fabs(value) <= kMetTolerance;
        if (!met || !std::isfinite(value)) {
          StopRun("  Error: the mar() restrictions of subtable " + submodel.term +
                  " cannot be met");
        }
      }
      base += item.equations;
    }
  }
}

}  // namespace tav
