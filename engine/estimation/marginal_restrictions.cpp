#include "estimation/marginal_restrictions.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "core/elementary.h"
#include "core/stop_run.h"
#include "core/sweep_inverse.h"
#include "data/design_reader.h"
#include "data/design_store.h"

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
  item.form = design.DesignRestriction % 10;
  const int letter = design.DesignRestriction / 10 % 10;
  item.inequality = letter % 2 == 0;
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
    if (letter >= 3 && reserved >= 0) {
      std::int64_t at = run.designs.design_slots[r][reserved].real_start;
      item.target = Reals(store, at, item.equations);
    }
  } else {
    MarginalChain chain;
    std::int64_t at = run.designs.design_slots[r][i].real_start;
    ReadChainMatrices(store, at, std::abs(m2), first, second, item.equations, chain);
    if (letter >= 3) item.target = Reals(store, at, item.equations);
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
    const bool log_cells = item.form >= 4;
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
      const bool diagonal = item.form <= 1 || item.form >= 4;
      std::vector<double> y(chain.rows, 0.0);
      std::vector<double> dy_diagonal;
      Matrix dy;
      if (diagonal) {
        y = item.form == 1 ? log_mu : mu;
        dy_diagonal = item.form == 1 ? inverse : std::vector<double>(k_margins, 1.0);
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
        if (item.form == 2) {
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
  const bool log_cells = std::any_of(items.begin(), items.end(),
                                     [](const MarginalItem& item) { return item.form >= 4; });
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
      const double tau = run.estimation.DesignParameters[item.offset + j];
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

// D = C diag(m) C' for the h equations (cells that are 0 add nothing).
Matrix WeightedGram(const Matrix& c, int h, const double* m, std::int64_t cells) {
  Matrix d(static_cast<std::size_t>(h) * h, 0.0);
  std::vector<double> weighted(static_cast<std::size_t>(cells));
  for (int i = 0; i < h; ++i) {
    const double* ci = c.data() + static_cast<std::size_t>(i) * cells;
    for (std::int64_t k = 0; k < cells; ++k) weighted[k] = m[k] > 0 ? m[k] * ci[k] : 0.0;
    for (int j = i; j < h; ++j) {
      const double* cj = c.data() + static_cast<std::size_t>(j) * cells;
      double sum = 0;
      for (std::int64_t k = 0; k < cells; ++k) sum += weighted[k] * cj[k];
      d[static_cast<std::size_t>(i) * h + j] = sum;
      d[static_cast<std::size_t>(j) * h + i] = sum;
    }
  }
  return d;
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

// The columns of the log-linear parameters of a submodel whose mar() restrictions stand beside
// design effects: the constant of the first submodel (the conditioning cells of another), then
// the estimated parameters of its design effects and of the designs of `all` aimed at it.
struct ModelColumns {
  int nuisance = 0;
  std::vector<std::int64_t> column_of;  // per cell: its conditioning cell (not the first submodel)
  std::vector<const double*> values;    // per design parameter, its values over the cells
  std::vector<std::pair<int, int>> parameters;  // per design parameter: its work and parameter
  std::vector<int> sources;  // per design parameter: the submodel whose design work holds it

  int Count() const { return nuisance + static_cast<int>(values.size()); }
  double At(int a, std::int64_t k) const {
    if (a < nuisance) return column_of.empty() || column_of[k] == a ? 1.0 : 0.0;
    return values[a - nuisance][k];
  }
};

ModelColumns ColumnsOf(const EstimationRun& run, int r) {
  const EstimationState& est = run.estimation;
  ModelColumns x;
  if (r == 0) {
    x.nuisance = 1;
  } else {
    const MarginShape& condition = est.condition_shapes[r];
    x.nuisance = static_cast<int>(condition.margin_cells());
    x.column_of.assign(static_cast<std::size_t>(condition.cells()), 0);
    condition.ForEach([&](std::int64_t cell, std::int64_t column) { x.column_of[cell] = column; });
  }
  for (int source : {r, run.model.SubmodelCount + 1}) {
    if (source >= static_cast<int>(est.design_work.size())) continue;
    const std::vector<DesignWork>& works = est.design_work[source];
    for (std::size_t w = 0; w < works.size(); ++w) {
      if (works[w].fixed || works[w].table != r) continue;
      for (int k : works[w].free) {
        x.values.push_back(works[w].x.data() + static_cast<std::ptrdiff_t>(k) * works[w].cells);
        x.parameters.emplace_back(static_cast<int>(w), k);
        x.sources.push_back(source);
      }
    }
  }
  return x;
}

// The projection of the equations (derivatives c, h x cells) onto the log-linear model of
// columns x at the fitted cells m: A^-1 (A = X' diag(m) X), F = A^-1 B (B = X' diag(m) C') and
// D^-1 (D = B' F), with the pivots of D that were dropped.
struct Projection {
  int q = 0;
  Matrix a_inv;
  Matrix f;
  Matrix d_inv;
  std::vector<char> dropped;
};

Projection Project(const ModelColumns& x, const double* m, const Matrix& c, int h,
                   std::int64_t cells) {
  Projection result;
  const int q = x.Count();
  result.q = q;
  Matrix xm(static_cast<std::size_t>(q) * cells);
  for (int a = 0; a < q; ++a) {
    for (std::int64_t k = 0; k < cells; ++k) {
      xm[static_cast<std::size_t>(a) * cells + k] = m[k] > 0 ? x.At(a, k) * m[k] : 0.0;
    }
  }
  result.a_inv.assign(static_cast<std::size_t>(q) * q, 0.0);
  for (int a = 0; a < q; ++a) {
    for (int b = a; b < q; ++b) {
      double sum = 0;
      for (std::int64_t k = 0; k < cells; ++k) {
        sum += xm[static_cast<std::size_t>(a) * cells + k] * x.At(b, k);
      }
      result.a_inv[static_cast<std::size_t>(a) * q + b] = sum;
      result.a_inv[static_cast<std::size_t>(b) * q + a] = sum;
    }
  }
  Matrix b(static_cast<std::size_t>(q) * h, 0.0);
  for (int a = 0; a < q; ++a) {
    for (int j = 0; j < h; ++j) {
      const double* cj = c.data() + static_cast<std::size_t>(j) * cells;
      double sum = 0;
      for (std::int64_t k = 0; k < cells; ++k)
        sum += xm[static_cast<std::size_t>(a) * cells + k] * cj[k];
      b[static_cast<std::size_t>(a) * h + j] = sum;
    }
  }
  InvertDropping(result.a_inv, q);
  result.f.assign(static_cast<std::size_t>(q) * h, 0.0);
  for (int a = 0; a < q; ++a) {
    for (int j = 0; j < h; ++j) {
      double sum = 0;
      for (int t = 0; t < q; ++t) {
        sum += result.a_inv[static_cast<std::size_t>(a) * q + t] *
               b[static_cast<std::size_t>(t) * h + j];
      }
      result.f[static_cast<std::size_t>(a) * h + j] = sum;
    }
  }
  result.d_inv.assign(static_cast<std::size_t>(h) * h, 0.0);
  for (int i = 0; i < h; ++i) {
    for (int j = i; j < h; ++j) {
      double sum = 0;
      for (int t = 0; t < q; ++t) {
        sum +=
            b[static_cast<std::size_t>(t) * h + i] * result.f[static_cast<std::size_t>(t) * h + j];
      }
      result.d_inv[static_cast<std::size_t>(i) * h + j] = sum;
      result.d_inv[static_cast<std::size_t>(j) * h + i] = sum;
    }
  }
  result.dropped = InvertDropping(result.d_inv, h);
  return result;
}

// The submodel's table is saturated but for its equations.
bool Saturated(const Submodel& submodel) { return submodel.MarSubmodel == 1; }

}  // namespace

void SetUpMarginalRestrictions(EstimationRun& run) {
  const ModelState& model = run.model;
  EstimationState& est = run.estimation;
  est.marginal_work.assign(model.submodels.size(), {});
  for (int r = 0; r < model.SubmodelCount; ++r) {
    const Submodel& submodel = model.submodels[r];
    if (submodel.MarSubmodel == 0) continue;
    for (int i = 0; i < submodel.DesignTermCount(); ++i) {
      const Design& design = submodel.designs[i];
      if (design.reserved || design.family != DesignFamily::kMarginal ||
          !IsFreeDesign(submodel, i) || design.DesignCountParam <= 0) {
        continue;
      }
      MarginalItem item = BuildItem(run, r, i);
      item.offset = static_cast<std::int64_t>(est.DesignParameters.size());
      est.DesignParameters.resize(est.DesignParameters.size() + item.equations, 1.0);
      est.marginal_work[r].push_back(std::move(item));
    }
  }
}

int MarginalMultiplierCount(const EstimationRun& run, int r) {
  if (r < 0 || r >= static_cast<int>(run.estimation.marginal_work.size())) return 0;
  int h = 0;
  for (const MarginalItem& item : run.estimation.marginal_work[r]) h += item.equations;
  return h;
}

void FitMarginalSubmodel(EstimationRun& run, int r, int iteration) {
  EstimationState& est = run.estimation;
  const int h = MarginalMultiplierCount(run, r);
  if (h == 0) return;
  std::vector<MarginalItem>& items = est.marginal_work[r];
  const Submodel& submodel = run.model.submodels[r];
  const auto cells = static_cast<std::int64_t>(submodel.cell_count);
  double* m = est.FittedTable.data() + submodel.first_cell;
  const double* n = est.ExpectedTable.data() + submodel.first_cell;
  const bool start = iteration <= 0;
  if (iteration == 1 && Saturated(submodel)) StartFromExpected(items, n, cells, m);

  Linearised linearised;
  if (!Linearise(run, items, m, cells, linearised)) return;
  std::vector<double>& e = linearised.e;
  const Matrix& c = linearised.c;
  const std::vector<char>& out = linearised.out;

  const double step = start ? 1.0 : std::fabs(est.restriction_step);
  std::vector<double> lambda(h, 0.0);
  std::vector<char> dropped;
  // Per cell its change of ln m before the step divisor, and per design parameter its own.
  std::vector<double> delta(static_cast<std::size_t>(cells), 0.0);
  std::vector<double> parameter_delta;
  double constant_delta = 0;
  const ModelColumns x = Saturated(submodel) ? ModelColumns{} : ColumnsOf(run, r);
  if (Saturated(submodel)) {
    // X the identity: D = C diag(m) C', e' = e + C (n - m), delta = (n - m) / m + C' lambda.
    Matrix d = WeightedGram(c, h, m, cells);
    for (int i = 0; i < h && !start; ++i) {
      const double* ci = c.data() + static_cast<std::size_t>(i) * cells;
      for (std::int64_t k = 0; k < cells; ++k) {
        if (m[k] > 0) e[i] += ci[k] * (n[k] - m[k]);
      }
    }
    dropped = InvertDropping(d, h);
    for (int i = 0; i < h; ++i) {
      for (int j = 0; j < h; ++j) lambda[i] -= d[static_cast<std::size_t>(i) * h + j] * e[j];
    }
    for (std::int64_t k = 0; k < cells; ++k) {
      if (!(m[k] > 0)) continue;
      double value = start ? 0.0 : (n[k] - m[k]) / m[k];
      for (int j = 0; j < h; ++j) value += c[static_cast<std::size_t>(j) * cells + k] * lambda[j];
      delta[k] = value;
    }
  } else {
    // The log-linear model of the design effects: b = X' (n - m), e' = e + F' b,
    // lambda = -D^-1 e', delta = A^-1 b + F lambda over the columns, X delta over the cells.
    const Projection projection = Project(x, m, c, h, cells);
    const int q = projection.q;
    dropped = projection.dropped;
    std::vector<double> b(q, 0.0);
    if (!start) {
      for (int a = 0; a < q; ++a) {
        for (std::int64_t k = 0; k < cells; ++k) {
          if (m[k] > 0) b[a] += x.At(a, k) * (n[k] - m[k]);
        }
      }
    }
    for (int j = 0; j < h; ++j) {
      for (int a = 0; a < q; ++a) e[j] += projection.f[static_cast<std::size_t>(a) * h + j] * b[a];
    }
    for (int i = 0; i < h; ++i) {
      for (int j = 0; j < h; ++j) {
        lambda[i] -= projection.d_inv[static_cast<std::size_t>(i) * h + j] * e[j];
      }
    }
    std::vector<double> columns(q, 0.0);
    for (int a = 0; a < q; ++a) {
      for (int t = 0; t < q; ++t)
        columns[a] += projection.a_inv[static_cast<std::size_t>(a) * q + t] * b[t];
      for (int j = 0; j < h; ++j)
        columns[a] += projection.f[static_cast<std::size_t>(a) * h + j] * lambda[j];
    }
    for (std::int64_t k = 0; k < cells; ++k) {
      if (!(m[k] > 0)) continue;
      for (int a = 0; a < q; ++a) delta[k] += x.At(a, k) * columns[a];
    }
    constant_delta = r == 0 ? columns[0] : 0.0;
    parameter_delta.assign(columns.begin() + x.nuisance, columns.end());
  }

  // The step, shortened as a whole when it would move a cell too far.
  double largest = 0;
  for (std::int64_t k = 0; k < cells; ++k) largest = std::max(largest, std::fabs(delta[k] / step));
  const double factor = (largest > kLargestLogStep ? kLargestLogStep / largest : 1.0) / step;
  for (std::int64_t k = 0; k < cells; ++k) {
    if (m[k] > 0) m[k] *= Exp(delta[k] * factor);
  }
  for (std::size_t j = 0; j < parameter_delta.size(); ++j) {
    const auto [w, k] = x.parameters[j];
    const DesignWork& work = est.design_work[x.sources[j]][w];
    est.DesignParameters[work.offset + k] *= Exp(parameter_delta[j] * factor);
  }
  if (!Saturated(submodel) && r == 0 && submodel.MarginCount() > 0 &&
      est.margin_parameter_offset[0][0] >= 0) {
    est.MarginParameters[est.margin_parameter_offset[0][0]] *= Exp(constant_delta * factor);
  }

  // The constant of a saturated first submodel (its margin of no variables) follows the table:
  // the mean of its log cells.
  if (Saturated(submodel) && r == 0 && submodel.MarginCount() > 0 &&
      est.margin_parameter_offset[0][0] >= 0 && est.margin_shapes[0][0].margin_cells() == 1) {
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
        est.DesignParameters[item.offset + j] =
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
  const std::vector<MarginalItem>& items = est.marginal_work[r];
  const ModelColumns x = Saturated(submodel) ? ModelColumns{} : ColumnsOf(run, r);
  for (std::size_t j = 0; j < x.parameters.size(); ++j) {
    const auto [w, k] = x.parameters[j];
    const DesignWork& work = est.design_work[x.sources[j]][w];
    const auto at = std::find(work.free.begin(), work.free.end(), k);
    block.keys.emplace_back(work.design, static_cast<int>(at - work.free.begin()));
    block.sources.push_back(x.sources[j]);
  }
  for (const MarginalItem& item : items) {
    for (int k = 0; k < item.equations; ++k) {
      block.keys.emplace_back(item.design, k);
      block.sources.push_back(r);
    }
  }
  const int l = static_cast<int>(x.parameters.size());
  const int size = l + h;
  block.covariance.assign(static_cast<std::size_t>(size) * size, 0.0);
  const std::vector<double> m = FittedFrequencies(run, r);
  Linearised linearised;
  if (!Linearise(run, items, m.data(), cells, linearised)) return block;
  const Matrix& c = linearised.c;
  auto cov = [&](int i, int j) -> double& {
    return block.covariance[static_cast<std::size_t>(i) * size + j];
  };
  if (Saturated(submodel)) {
    // X the identity: D = C diag(m) C'.
    Matrix d = WeightedGram(c, h, m.data(), cells);
    InvertDropping(d, h);
    for (int i = 0; i < h; ++i) {
      for (int j = 0; j < h; ++j) cov(i, j) = d[static_cast<std::size_t>(i) * h + j];
    }
    return block;
  }
  const Projection projection = Project(x, m.data(), c, h, cells);
  const int q = projection.q;
  for (int i = 0; i < l; ++i) {
    const int a = x.nuisance + i;
    for (int j = 0; j < l; ++j) {
      const int b = x.nuisance + j;
      double sum = projection.a_inv[static_cast<std::size_t>(a) * q + b];
      for (int s = 0; s < h; ++s) {
        const double fs = projection.f[static_cast<std::size_t>(a) * h + s];
        if (fs == 0) continue;
        for (int t = 0; t < h; ++t) {
          sum -= fs * projection.d_inv[static_cast<std::size_t>(s) * h + t] *
                 projection.f[static_cast<std::size_t>(b) * h + t];
        }
      }
      cov(i, j) = sum;
    }
  }
  for (int i = 0; i < h; ++i) {
    for (int j = 0; j < h; ++j)
      cov(l + i, l + j) = projection.d_inv[static_cast<std::size_t>(i) * h + j];
  }
  return block;
}

void CheckMarginalRestrictionsMet(EstimationRun& run) {
  EstimationState& est = run.estimation;
  for (int r = 0; r < static_cast<int>(est.marginal_work.size()); ++r) {
    const int h = MarginalMultiplierCount(run, r);
    if (h == 0) continue;
    const Submodel& submodel = run.model.submodels[r];
    const auto cells = static_cast<std::int64_t>(submodel.cell_count);
    std::vector<double> p;
    Probabilities(FittedFrequencies(run, r).data(), cells, p);
    std::vector<double> e;
    Matrix g;
    EvaluateEquations(est.marginal_work[r], p.data(), cells, e, g);
    int base = 0;
    for (const MarginalItem& item : est.marginal_work[r]) {
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
