#include "newton/observed_information.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <tuple>
#include <utility>
#include <vector>

#include "core/log.h"
#include "core/parallel.h"
#include "core/table_zero.h"
#include "estimation/cumulative_model.h"
#include "estimation/e_step.h"
#include "estimation/hazard_model.h"

namespace tav {
namespace {

// The posterior-covariance form adds up its sums in shares of at least kSharePatterns patterns,
// at most kMostShares of them, each share's tables within kShareBudget doubles (128 MB).
constexpr std::int64_t kShareBudget = std::int64_t{1} << 24;
constexpr std::int64_t kSharePatterns = 2048;
constexpr std::int64_t kMostShares = 16;

// ---------------------------------------------------------------------------------------------
// The closed form.

Membership ConditionOf(const RunState& run, int t) {
  const Submodel& submodel = run.model.submodels[t];
  return t > 0 && submodel.MarginCount() > 0 ? submodel.EffectVariables[0] : Membership{};
}

Membership Union(const Membership& a, const Membership& b) {
  Membership u{};
  for (int v = 0; v < kVectorSize; ++v) u[v] = a[v] != 0 || b[v] != 0 ? 1 : 0;
  return u;
}

// The margins of w (the cells of table t) over sets of the table's variables, each computed
// once.
class Margins {
 public:
  Margins(const RunState& run, int t, const double* w) : run_(run), t_(t), w_(w) {}

  const std::vector<double>& Over(const Membership& over) {
    const Membership key = Restricted(over);
    auto found = cache_.find(key);
    if (found != cache_.end()) return found->second;
    const MarginShape shape(run_.model, run_.model.submodels[t_], key);
    std::vector<double> margin(shape.margin_cells());
    shape.MarginOf(w_, margin.data());
    return cache_.emplace(key, std::move(margin)).first->second;
  }

  // Per cell of the margin over `over`, its cell of the margin over `part` (part of it).
  std::vector<std::int64_t> CellMap(const Membership& over, const Membership& part) const {
    Submodel margin;
    const Membership key = Restricted(over);
    for (int v = 0; v < kVectorSize; ++v) margin.SubmodelVariables[v] = key[v];
    const MarginShape shape(run_.model, margin, part);
    std::vector<std::int64_t> map(shape.cells());
    shape.ForEach([&](std::int64_t cell, std::int64_t m) { map[cell] = m; });
    return map;
  }

 private:
  Membership Restricted(const Membership& set) const {
    const Submodel& table = run_.model.submodels[t_];
    Membership key{};
    for (int v = 0; v < kVectorSize; ++v) {
      key[v] = set[v] != 0 && table.SubmodelVariables[v] != 0 ? 1 : 0;
    }
    return key;
  }

  const RunState& run_;
  int t_;
  const double* w_;
  std::map<Membership, std::vector<double>> cache_;
};

// The closed-form information of the parameters of table t into matrix.
void ClosedFormTable(const RunState& run, const ScoreLayout& layout, int t, const double* fitted,
                     const double* expected, std::vector<double>& matrix) {
  const int n = static_cast<int>(layout.directions.size());
  const TableSpan span = TableSpanOf(run, t);
  const MarginShape& blocks = run.estimation.condition_shapes[t];
  const Membership condition = ConditionOf(run, t);
  std::vector<double> w(span.cells);
  BlockFittedCounts(run, t, fitted + span.first, expected + span.first, w.data());
  const std::vector<double> block_expected = TableBlockSums(run, t, expected + span.first);
  const std::int64_t block_count = blocks.margin_cells();
  Margins margins(run, t, w.data());
  auto at = [&](int i, int j) -> double& { return matrix[static_cast<std::size_t>(i) * n + j]; };
  auto signs = [&](int i) -> const std::vector<signed char>& { return run.newton.effect_signs[i]; };

  std::vector<int> groups;  // of the table
  for (std::size_t k = 0; k < layout.groups.size(); ++k) {
    if (layout.groups[k].table == t) groups.push_back(static_cast<int>(k));
  }
  std::vector<int> dense;  // parameters of the table with a direction per cell
  std::vector<int> own;    // every parameter of the table
  for (int i = 0; i < n; ++i) {
    const Direction& direction = layout.directions[i];
    if (direction.table != t) continue;
    own.push_back(i);
    if (direction.group < 0) dense.push_back(i);
  }

  // Block sums T_i(b) = sum_(c in b) w x_i.
  std::vector<std::vector<double>> block_sums(n);
  for (int k : groups) {
    const EffectGroup& group = layout.groups[k];
    const Membership over = Union(group.effect, condition);
    const std::vector<double>& margin = margins.Over(over);
    const std::vector<std::int64_t> effect_cell = margins.CellMap(over, group.effect);
    const std::vector<std::int64_t> block = margins.CellMap(over, condition);
    for (int i : group.parameters) {
      std::vector<double>& sums = block_sums[i];
      sums.assign(block_count, 0.0);
      for (std::size_t u = 0; u < margin.size(); ++u) {
        const int s = signs(i)[effect_cell[u]];
        if (s != 0) sums[block[u]] += s * margin[u];
      }
    }
  }
  std::vector<double> weighted(span.cells);
  for (int i : dense) {
    for (std::int64_t c = 0; c < span.cells; ++c) weighted[c] = w[c] * layout.directions[i].x[c];
    block_sums[i].assign(block_count, 0.0);
    blocks.MarginOf(weighted.data(), block_sums[i].data());
  }

  // sum_c w x_i x_j between two effect groups, from the margin over the union of their effects,
  // visiting per margin cell only the parameters that are not 0 there (under effect coding the
  // last category holds all of an effect's parameters, every other cell one).
  struct Entry {
    int parameter;
    int sign;
  };
  std::vector<std::vector<std::vector<Entry>>> entries(groups.size());
  for (std::size_t a = 0; a < groups.size(); ++a) {
    const EffectGroup& group = layout.groups[groups[a]];
    entries[a].resize(group.shape->margin_cells());
    for (int i : group.parameters) {
      const std::vector<signed char>& s = signs(i);
      for (std::size_t e = 0; e < s.size(); ++e) {
        if (s[e] != 0) entries[a][e].push_back({i, s[e]});
      }
    }
  }
  for (std::size_t a = 0; a < groups.size(); ++a) {
    for (std::size_t b = a; b < groups.size(); ++b) {
      const EffectGroup& first = layout.groups[groups[a]];
      const EffectGroup& second = layout.groups[groups[b]];
      const Membership over = Union(first.effect, second.effect);
      const std::vector<double>& margin = margins.Over(over);
      const std::vector<std::int64_t> cell_a = margins.CellMap(over, first.effect);
      const std::vector<std::int64_t> cell_b = margins.CellMap(over, second.effect);
      for (std::size_t u = 0; u < margin.size(); ++u) {
        if (margin[u] == 0) continue;
        for (const Entry& x : entries[a][cell_a[u]]) {
          for (const Entry& y : entries[b][cell_b[u]]) {
            if (a == b && y.parameter < x.parameter) continue;
            const double value = x.sign * y.sign * margin[u];
            at(x.parameter, y.parameter) += value;
            if (x.parameter != y.parameter) at(y.parameter, x.parameter) += value;
          }
        }
      }
    }
  }
  // ... between a parameter with a direction per cell and any other.
  std::vector<double> margin;
  for (int i : dense) {
    const std::vector<double>& x = layout.directions[i].x;
    for (std::int64_t c = 0; c < span.cells; ++c) weighted[c] = w[c] * x[c];
    for (int k : groups) {
      const EffectGroup& group = layout.groups[k];
      margin.assign(group.shape->margin_cells(), 0.0);
      group.shape->MarginOf(weighted.data(), margin.data());
      for (int j : group.parameters) {
        double sum = 0;
        for (std::size_t e = 0; e < margin.size(); ++e) {
          if (signs(j)[e] != 0) sum += signs(j)[e] * margin[e];
        }
        at(i, j) = sum;
        at(j, i) = sum;
      }
    }
    for (int j : dense) {
      if (j < i) continue;
      const std::vector<double>& y = layout.directions[j].x;
      double sum = 0;
      for (std::int64_t c = 0; c < span.cells; ++c) sum += weighted[c] * y[c];
      at(i, j) = sum;
      at(j, i) = sum;
    }
  }
  // Less the covariances within the blocks.
  for (int i : own) {
    for (int j : own) {
      if (j < i) continue;
      double sum = 0;
      for (std::int64_t b = 0; b < block_count; ++b) {
        if (block_expected[b] > kTableZero) {
          sum += block_sums[i][b] * block_sums[j][b] / block_expected[b];
        }
      }
      at(i, j) -= sum;
      if (j != i) at(j, i) = at(i, j);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The observed information with latent variables or missing data: the closed form at the
// expected tables less the posterior covariance of the complete-data score.

// Per table with parameters: its parameters and, per cell, the derivatives of its log fitted
// cell by them, S(c)_q = x_q(c) - (mean of x_q over the block of c under f).
struct TableDerivatives {
  int table = 0;
  std::vector<int> slots;  // the submodels whose cells are the table's: t and those tied to it
  std::int64_t first = 0;
  std::int64_t cells = 0;
  std::vector<int> parameters;
  std::vector<double> values;  // cells x parameters, cell by cell
};

// The derivatives of table t with its slots and parameters set and every value 0.
TableDerivatives EmptyDerivatives(const RunState& run, const ScoreLayout& layout, int t) {
  TableDerivatives d;
  d.table = t;
  d.slots = SubmodelsSharingCells(run.model, t);
  const TableSpan span = TableSpanOf(run, t);
  d.first = span.first;
  d.cells = span.cells;
  const int n = static_cast<int>(layout.directions.size());
  for (int i = 0; i < n; ++i) {
    if (layout.directions[i].table == t) d.parameters.push_back(i);
  }
  d.values.assign(static_cast<std::size_t>(d.cells) * d.parameters.size(), 0.0);
  return d;
}

// S(c)_q = dP_q(c) / P(c) for the parameters of cumulative table t (d's parameters set), at
// the run's fitted tables and predictors: dP_q(c) = x_q(c) F'(c) - x_q(b) F'(b), b the
// category before c.
void CumulativeDerivatives(const RunState& run, const ScoreLayout& layout, int t,
                           TableDerivatives& d) {
  const CumulativeSlopes slopes = CumulativeCellSlopes(run, t);
  const double* p = run.estimation.FittedTable.data() + d.first;
  const std::size_t size = d.parameters.size();
  for (std::size_t q = 0; q < size; ++q) {
    const std::vector<double>& x = layout.directions[d.parameters[q]].x;
    for (std::int64_t c = 0; c < d.cells; ++c) {
      if (!(p[c] > 0)) continue;
      const std::int64_t b = slopes.before[c];
      const double change = x[c] * slopes.first[c] - (b >= 0 ? x[b] * slopes.first[b] : 0.0);
      d.values[static_cast<std::size_t>(c) * size + q] = change / p[c];
    }
  }
}

// The closed-form information of the parameters of cumulative table t at the expected table:
//   I_qr = sum_c E(c) [S_q(c) S_r(c) - (x_q x_r F''(c) - x_q x_r F''(b)) / P(c)].
void CumulativeClosedForm(const RunState& run, const ScoreLayout& layout, int t,
                          const double* expected, std::vector<double>& matrix) {
  const int n = static_cast<int>(layout.directions.size());
  TableDerivatives d = EmptyDerivatives(run, layout, t);
  const std::size_t size = d.parameters.size();
  CumulativeDerivatives(run, layout, t, d);
  const CumulativeSlopes slopes = CumulativeCellSlopes(run, t);
  const double* p = run.estimation.FittedTable.data() + d.first;
  const double* e = expected + d.first;
  for (std::size_t q = 0; q < size; ++q) {
    const std::vector<double>& xq = layout.directions[d.parameters[q]].x;
    for (std::size_t r = q; r < size; ++r) {
      const std::vector<double>& xr = layout.directions[d.parameters[r]].x;
      double sum = 0;
      for (std::int64_t c = 0; c < d.cells; ++c) {
        if (e[c] == 0 || !(p[c] > 0)) continue;
        const std::int64_t b = slopes.before[c];
        const double curvature =
            xq[c] * xr[c] * slopes.second[c] - (b >= 0 ? xq[b] * xr[b] * slopes.second[b] : 0.0);
        const double* s = d.values.data() + static_cast<std::size_t>(c) * size;
        sum += e[c] * (s[q] * s[r] - curvature / p[c]);
      }
      const int i = d.parameters[q];
      const int j = d.parameters[r];
      matrix[static_cast<std::size_t>(i) * n + j] = sum;
      matrix[static_cast<std::size_t>(j) * n + i] = sum;
    }
  }
}

std::vector<TableDerivatives> Derivatives(const RunState& run, const ScoreLayout& layout,
                                          const double* fitted) {
  std::vector<TableDerivatives> tables;
  for (int t : layout.tables) {
    if (t == run.estimation.hazard.table) continue;  // HazardDerivatives
    TableDerivatives d = EmptyDerivatives(run, layout, t);
    const std::size_t size = d.parameters.size();
    if (IsCumulativeTable(run, t)) {
      CumulativeDerivatives(run, layout, t, d);
      tables.push_back(std::move(d));
      continue;
    }
    std::vector<double> x(d.cells);
    const MarginShape& blocks = run.estimation.condition_shapes[t];
    std::vector<double> mean(blocks.margin_cells());
    std::vector<double> weighted(d.cells);
    const double* f = fitted + d.first;
    const std::vector<double> fitted_sums = TableBlockSums(run, t, f);
    for (std::size_t q = 0; q < size; ++q) {
      const int i = d.parameters[q];
      const Direction& direction = layout.directions[i];
      if (direction.group >= 0) {
        const std::vector<signed char>& signs = run.newton.effect_signs[i];
        layout.groups[direction.group].shape->ForEach(
            [&](std::int64_t c, std::int64_t e) { x[c] = signs[e]; });
      } else {
        x = direction.x;
      }
      for (std::int64_t c = 0; c < d.cells; ++c) weighted[c] = f[c] * x[c];
      blocks.MarginOf(weighted.data(), mean.data());
      for (std::size_t b = 0; b < mean.size(); ++b) {
        mean[b] = fitted_sums[b] > kTableZero ? mean[b] / fitted_sums[b] : 0.0;
      }
      blocks.ForEach([&](std::int64_t c, std::int64_t b) {
        d.values[static_cast<std::size_t>(c) * size + q] = x[c] - mean[b];
      });
    }
    tables.push_back(std::move(d));
  }
  return tables;
}

// What a share of the patterns adds up: the expected tables, the expected joint tables of every
// pair of tables with parameters (a < b, cells of a by cells of b), and sum_h n_h g_h g_h' (upper
// triangle) of the posterior means g_h of the complete-data score.
struct PatternSums {
  std::vector<double> expected;
  std::vector<double> joint;
  std::vector<double> outer;
  // The hazard part: expected events and exposures per hazard cell, sum_h n_h sum_k p_hk
  // s_hk s_hk' over its parameters (upper triangle), and per slot and cell of its table the
  // same sum of s_hk for the completions that fall into the cell.
  std::vector<double> hazard_events;
  std::vector<double> hazard_exposure;
  std::vector<double> hazard_outer;
  std::vector<double> hazard_joint;
};

// The hazard part's parameters (kinds 0 to 2, whose rates or transition probabilities move as
// exp(delta x)): their directions over the hazard cells. A pattern's complete-data score in
// covariate cell c is s_i = sum x_i(cell) r(cell) over the cells of c, with its events d and
// exposures y: r = d - lambda y in continuous time, r = d - p D_b in discrete time (D_b the
// pattern's transitions from the cell's origin in its interval, stays included).
struct HazardDerivatives {
  int table = -1;  // -1 without hazard parameters
  TimeModel kind = TimeModel::kPiecewiseConstant;
  std::int64_t first = 0;  // the hazard submodel's first cell
  std::int64_t cells = 0;
  std::int64_t block = 0;  // cells per covariate cell: time points x risks
  int risks = 1;
  int origins = 1;
  std::vector<int> parameters;
  std::vector<double> x;                 // parameters x cells
  const std::int32_t* origin = nullptr;  // per risk (from 0) its origin state
};

HazardDerivatives HazardDerivativesOf(const RunState& run, const ScoreLayout& layout) {
  HazardDerivatives hd;
  const HazardWork& hazard = run.estimation.hazard;
  if (hazard.table < 0) return hd;
  const int n = static_cast<int>(layout.directions.size());
  for (int i = 0; i < n; ++i) {
    if (layout.directions[i].table == hazard.table) hd.parameters.push_back(i);
  }
  if (hd.parameters.empty()) return hd;
  hd.table = hazard.table;
  hd.kind = hazard.kind;
  const TableSpan span = TableSpanOf(run, hazard.table);
  hd.first = span.first;
  hd.cells = span.cells;
  hd.risks = hazard.risks;
  hd.block = static_cast<std::int64_t>(hazard.time_points) * hazard.risks;
  hd.origin = hazard.risk_origin.data();
  for (int q = 0; q < hazard.risks; ++q) hd.origins = std::max(hd.origins, hd.origin[q] + 1);
  hd.x.assign(hd.parameters.size() * static_cast<std::size_t>(hd.cells), 0.0);
  for (std::size_t a = 0; a < hd.parameters.size(); ++a) {
    const int i = hd.parameters[a];
    const Direction& direction = layout.directions[i];
    double* x = hd.x.data() + a * static_cast<std::size_t>(hd.cells);
    if (direction.group >= 0) {
      const std::vector<signed char>& signs = run.newton.effect_signs[i];
      layout.groups[direction.group].shape->ForEach(
          [&](std::int64_t c, std::int64_t e) { x[c] = signs[e]; });
    } else {
      std::copy(direction.x.begin(), direction.x.end(), x);
    }
  }
  return hd;
}

// r over the cells of one covariate cell, from its rates (or transition probabilities) and
// the events d and exposures y there.
void HazardResidual(const HazardDerivatives& hd, const double* rates, const double* d,
                    const double* y, double* r) {
  if (hd.kind != TimeModel::kDiscrete) {
    for (std::int64_t cell = 0; cell < hd.block; ++cell) r[cell] = d[cell] - rates[cell] * y[cell];
    return;
  }
  std::vector<double> moves(hd.origins);
  for (std::int64_t j = 0; j * hd.risks < hd.block; ++j) {
    const std::int64_t at = j * hd.risks;
    std::fill(moves.begin(), moves.end(), 0.0);
    for (int q = 0; q < hd.risks; ++q) moves[hd.origin[q]] += d[at + q];
    for (int q = 0; q < hd.risks; ++q) {
      r[at + q] = d[at + q] - rates[at + q] * moves[hd.origin[q]];
    }
  }
}

// s_a = sum x_a(cell) r(cell) over the cells of covariate cell c.
void HazardScore(const HazardDerivatives& hd, std::int64_t c, const double* r, double* s) {
  for (std::size_t a = 0; a < hd.parameters.size(); ++a) {
    const double* x = hd.x.data() + a * static_cast<std::size_t>(hd.cells) + c * hd.block;
    double sum = 0;
    for (std::int64_t cell = 0; cell < hd.block; ++cell) sum += x[cell] * r[cell];
    s[a] = sum;
  }
}

// A submodel whose cells are those of a table with parameters (the table's own submodel, or
// one tied to it): its index among the tables and its submodel.
struct Slot {
  int table = 0;
  int submodel = 0;
};

std::vector<Slot> SlotsOf(const std::vector<TableDerivatives>& tables) {
  std::vector<Slot> slots;
  for (std::size_t a = 0; a < tables.size(); ++a) {
    for (int r : tables[a].slots) slots.push_back({static_cast<int>(a), r});
  }
  return slots;
}

// The offsets of the joint tables of the slot pairs e < f in PatternSums::joint (-1 on and below
// the diagonal), and their total size.
std::pair<std::vector<std::int64_t>, std::int64_t> JointOffsets(
    const std::vector<TableDerivatives>& tables, const std::vector<Slot>& slots) {
  const std::size_t m = slots.size();
  std::vector<std::int64_t> offsets(m * m, -1);
  std::int64_t size = 0;
  for (std::size_t e = 0; e < m; ++e) {
    for (std::size_t f = e + 1; f < m; ++f) {
      offsets[e * m + f] = size;
      size += tables[slots[e].table].cells * tables[slots[f].table].cells;
    }
  }
  return {offsets, size};
}

// What the sums of the patterns need: the tables with parameters and their slots, the offsets
// of the joint tables, the hazard part; with first_order only the expected tables (and the
// hazard part's expected events and exposures) are added up.
struct PatternLayout {
  std::vector<TableDerivatives> tables;
  std::vector<Slot> slots;
  std::vector<std::int64_t> offsets;
  std::int64_t joint_size = 0;
  std::vector<std::int64_t> hazard_offsets;  // per slot: its rows in PatternSums::hazard_joint
  std::int64_t hazard_joint_size = 0;
  HazardDerivatives hazard;
  bool first_order = false;
};

// worker: ParallelFor's number of the thread that adds them, for the cancel check.
void AddPatterns(const RunState& run, const PatternLayout& layout, std::int64_t from,
                 std::int64_t to, PatternSums& sums, int worker) {
  const std::vector<TableDerivatives>& tables = layout.tables;
  const std::vector<Slot>& slots = layout.slots;
  const std::vector<std::int64_t>& offsets = layout.offsets;
  const HazardDerivatives& hd = layout.hazard;
  const bool with_hazard = run.estimation.hazard.table >= 0;
  const std::size_t nh = hd.parameters.size();
  const std::int64_t hazard_block =
      with_hazard ? static_cast<std::int64_t>(run.estimation.hazard.time_points) *
                        run.estimation.hazard.risks
                  : 0;
  std::vector<double> d(hazard_block), y(hazard_block), r(hazard_block), s(nh);
  const ModelState& model = run.model;
  const DataStore& data = run.data;
  const EstimationState& est = run.estimation;
  const int submodels = model.SubmodelCount;
  const int n = static_cast<int>(est.free_parameters.parameters.size());
  const double* fitted = est.FittedTable.data();
  const std::size_t m = slots.size();
  std::vector<double> posterior;
  std::vector<double> g(n);
  std::vector<std::int64_t> cell(m);
  PatternCells pattern_cells(run);
  for (std::int64_t h = from; h < to; ++h) {
    // A pattern adds an outer product of the score: a few patterns make a long step.
    if ((h & 63) == 0) CheckCancel(run.context, worker);
    const double weight = data.entry_count_given ? data.entry_count[h] : 1.0;
    const std::int32_t* map = pattern_cells.Of(h);
    const std::int64_t completions = pattern_cells.Completions(h);
    posterior.resize(completions);
    // The hazard part: the pattern's events and exposures, the same in every covariate cell.
    const HazardPattern episodes(run, with_hazard ? h : 0);
    const std::int32_t* covariate_cell =
        with_hazard ? est.hazard.covariate_cell.data() + est.completion_start[h] : nullptr;
    if (with_hazard) {
      std::fill(d.begin(), d.end(), 0.0);
      std::fill(y.begin(), y.end(), 0.0);
      episodes.AddCounts(1.0, d.data(), y.data());
    }
    double sum = 0;
    for (std::int64_t k = 0; k < completions; ++k) {
      double value = CompletionProduct(fitted, map + k * submodels, submodels);
      if (with_hazard && value != 0) value *= episodes.Factor(covariate_cell[k]);
      posterior[k] = value;
      sum += value;
    }
    if (sum <= kTableZero || weight == 0) continue;
    std::fill(g.begin(), g.end(), 0.0);
    for (std::int64_t k = 0; k < completions; ++k) {
      const double p = posterior[k] / sum;
      if (p == 0) continue;
      const double share = weight * p;
      const std::int32_t* cells = map + k * submodels;
      for (int q = 0; q < submodels; ++q) {
        if (cells[q] >= 0) sums.expected[cells[q]] += share;
      }
      if (with_hazard) {
        const std::int64_t at = covariate_cell[k] * est.hazard.time_points * est.hazard.risks;
        for (std::size_t cell = 0; cell < d.size(); ++cell) {
          sums.hazard_events[at + cell] += share * d[cell];
          sums.hazard_exposure[at + cell] += share * y[cell];
        }
      }
      if (layout.first_order) continue;
      for (std::size_t e = 0; e < m; ++e) {
        const TableDerivatives& t = tables[slots[e].table];
        const std::int32_t c = cells[slots[e].submodel];
        cell[e] = c >= 0 ? c - t.first : -1;
        if (c < 0) continue;
        const std::size_t size = t.parameters.size();
        const double* values = t.values.data() + static_cast<std::size_t>(cell[e]) * size;
        for (std::size_t q = 0; q < size; ++q) g[t.parameters[q]] += p * values[q];
      }
      for (std::size_t e = 0; e < m; ++e) {
        if (cell[e] < 0) continue;
        for (std::size_t f = e + 1; f < m; ++f) {
          if (cell[f] < 0) continue;
          sums.joint[offsets[e * m + f] + cell[e] * tables[slots[f].table].cells + cell[f]] +=
              share;
        }
      }
      if (hd.table < 0) continue;
      const std::int64_t c = covariate_cell[k];
      HazardResidual(hd, fitted + hd.first + c * hd.block, d.data(), y.data(), r.data());
      HazardScore(hd, c, r.data(), s.data());
      for (std::size_t a = 0; a < nh; ++a) {
        g[hd.parameters[a]] += p * s[a];
        double* row = sums.hazard_outer.data() + a * nh;
        for (std::size_t b = a; b < nh; ++b) row[b] += share * s[a] * s[b];
      }
      for (std::size_t e = 0; e < m; ++e) {
        if (cell[e] < 0) continue;
        double* row = sums.hazard_joint.data() + layout.hazard_offsets[e] + cell[e] * nh;
        for (std::size_t a = 0; a < nh; ++a) row[a] += share * s[a];
      }
    }
    if (layout.first_order) continue;
    for (int i = 0; i < n; ++i) {
      const double gi = weight * g[i];
      if (gi == 0) continue;
      double* row = sums.outer.data() + static_cast<std::size_t>(i) * n;
      for (int j = i; j < n; ++j) row[j] += gi * g[j];
    }
  }
}

// The doubles of the hazard part's working rows of one share (AddPatterns).
double HazardRowSize(const RunState& run) {
  const HazardWork& hazard = run.estimation.hazard;
  return hazard.table >= 0 ? 3.0 * hazard.time_points * hazard.risks : 0.0;
}

// The doubles of the sums of one share.
std::int64_t ShareSize(const RunState& run, const PatternLayout& layout) {
  const int n = static_cast<int>(run.estimation.free_parameters.parameters.size());
  const std::size_t nh = layout.hazard.parameters.size();
  const auto hazard_cells = static_cast<std::int64_t>(run.estimation.hazard.exposure.size());
  return static_cast<std::int64_t>(run.estimation.FittedTable.size()) + 2 * hazard_cells +
         (layout.first_order
              ? 0
              : layout.joint_size + layout.hazard_joint_size + static_cast<std::int64_t>(n) * n +
                    static_cast<std::int64_t>(nh * nh));
}

// The sums over all patterns, in shares of patterns fixed by the problem's size alone (so that
// the additions happen in the same order on any number of threads), the shares run in parallel
// and added in order. The caller has reserved the memory of the one share it gets back; the
// others are reserved here.
PatternSums SumPatterns(const RunState& run, const PatternLayout& layout) {
  const int n = static_cast<int>(run.estimation.free_parameters.parameters.size());
  const std::size_t nh = layout.hazard.parameters.size();
  const std::int64_t patterns = run.data.EntryCount();
  const auto hazard_cells = static_cast<std::int64_t>(run.estimation.hazard.exposure.size());
  const bool second = !layout.first_order;
  const std::int64_t each = ShareSize(run, layout);
  const std::int64_t shares =
      std::clamp<std::int64_t>(std::min(kShareBudget / std::max<std::int64_t>(each, 1),
                                        (patterns + kSharePatterns - 1) / kSharePatterns),
                               1, kMostShares);
  // The shares run in rounds of one per thread, as many threads as the memory budget holds
  // the tables of (the share of a thread beyond the first is added to the total before the
  // next round); the shares, and so the order of the additions, stay the same.
  const double share_bytes = (static_cast<double>(each) + HazardRowSize(run)) * sizeof(double);
  const auto threads = static_cast<std::int64_t>(std::clamp<double>(
      std::floor(run.context.MemoryAvailable() / share_bytes), 1,
      static_cast<double>(std::min<std::int64_t>(ThreadCount(run.Threads()), shares))));
  // The total is the first share's sums; the shares of a round beyond the first add up to
  // `threads` more.
  const MemoryReservation reserved(run.context,
                                   shares > 1 ? static_cast<double>(threads) * share_bytes : 0.0);
  PatternSums total;
  std::vector<PatternSums> partial(threads);
  for (std::int64_t first = 0; first < shares; first += threads) {
    const int round = static_cast<int>(std::min(threads, shares - first));
    ParallelFor(round, static_cast<int>(threads), [&](int i, int worker) {
      const std::int64_t k = first + i;
      PatternSums& sums = k == 0 ? total : partial[i];
      sums.expected.assign(run.estimation.FittedTable.size(), 0.0);
      sums.hazard_events.assign(hazard_cells, 0.0);
      sums.hazard_exposure.assign(hazard_cells, 0.0);
      if (second) {
        sums.joint.assign(layout.joint_size, 0.0);
        sums.outer.assign(static_cast<std::size_t>(n) * n, 0.0);
        sums.hazard_outer.assign(nh * nh, 0.0);
        sums.hazard_joint.assign(layout.hazard_joint_size, 0.0);
      }
      AddPatterns(run, layout, patterns * k / shares, patterns * (k + 1) / shares, sums, worker);
    });
    for (int i = 0; i < round; ++i) {
      if (first + i == 0) continue;
      auto add = [](std::vector<double>& to, const std::vector<double>& from) {
        for (std::size_t j = 0; j < to.size(); ++j) to[j] += from[j];
      };
      add(total.expected, partial[i].expected);
      add(total.joint, partial[i].joint);
      add(total.outer, partial[i].outer);
      add(total.hazard_events, partial[i].hazard_events);
      add(total.hazard_exposure, partial[i].hazard_exposure);
      add(total.hazard_outer, partial[i].hazard_outer);
      add(total.hazard_joint, partial[i].hazard_joint);
    }
  }
  return total;
}

PatternLayout PatternLayoutOf(const RunState& run, const ScoreLayout& layout, bool first_order) {
  PatternLayout p;
  p.first_order = first_order;
  p.tables = Derivatives(run, layout, run.estimation.FittedTable.data());
  p.slots = SlotsOf(p.tables);
  std::tie(p.offsets, p.joint_size) = JointOffsets(p.tables, p.slots);
  p.hazard = HazardDerivativesOf(run, layout);
  const auto nh = static_cast<std::int64_t>(p.hazard.parameters.size());
  for (const Slot& slot : p.slots) {
    p.hazard_offsets.push_back(p.hazard_joint_size);
    p.hazard_joint_size += nh > 0 ? p.tables[slot.table].cells * nh : 0;
  }
  return p;
}

// The complete-data information of the hazard part's parameters at the expected events and
// exposures: sum x_a x_b lambda Y in continuous time, sum_b D_b Cov_b(x_a, x_b) over the blocks
// of covariate cell, interval and origin in discrete time.
void HazardCompleteInformation(const RunState& run, const HazardDerivatives& hd,
                               const PatternSums& sums, std::vector<double>& matrix) {
  const int n = static_cast<int>(run.estimation.free_parameters.parameters.size());
  const std::size_t nh = hd.parameters.size();
  const double* rates = run.estimation.FittedTable.data() + hd.first;
  auto x = [&](std::size_t a, std::int64_t cell) {
    return hd.x[a * static_cast<std::size_t>(hd.cells) + cell];
  };
  std::vector<double> value(nh * nh, 0.0);
  if (hd.kind != TimeModel::kDiscrete) {
    for (std::int64_t cell = 0; cell < hd.cells; ++cell) {
      const double w = rates[cell] * sums.hazard_exposure[cell];
      if (w == 0) continue;
      for (std::size_t a = 0; a < nh; ++a) {
        const double xa = x(a, cell);
        if (xa == 0) continue;
        for (std::size_t b = a; b < nh; ++b) value[a * nh + b] += w * xa * x(b, cell);
      }
    }
  } else {
    std::vector<double> mean(nh);
    for (std::int64_t at = 0; at < hd.cells; at += hd.risks) {
      for (int o = 0; o < hd.origins; ++o) {
        double moves = 0;
        std::fill(mean.begin(), mean.end(), 0.0);
        for (int q = 0; q < hd.risks; ++q) {
          if (hd.origin[q] != o) continue;
          moves += sums.hazard_events[at + q];
          for (std::size_t a = 0; a < nh; ++a) mean[a] += rates[at + q] * x(a, at + q);
        }
        if (moves == 0) continue;
        for (int q = 0; q < hd.risks; ++q) {
          if (hd.origin[q] != o) continue;
          for (std::size_t a = 0; a < nh; ++a) {
            for (std::size_t b = a; b < nh; ++b) {
              value[a * nh + b] += moves * rates[at + q] * x(a, at + q) * x(b, at + q);
            }
          }
        }
        for (std::size_t a = 0; a < nh; ++a) {
          for (std::size_t b = a; b < nh; ++b) value[a * nh + b] -= moves * mean[a] * mean[b];
        }
      }
    }
  }
  for (std::size_t a = 0; a < nh; ++a) {
    for (std::size_t b = a; b < nh; ++b) {
      const int i = hd.parameters[a];
      const int j = hd.parameters[b];
      matrix[static_cast<std::size_t>(i) * n + j] = value[a * nh + b];
      matrix[static_cast<std::size_t>(j) * n + i] = value[a * nh + b];
    }
  }
}

// The score of the hazard part's parameters at the expected events and exposures, into g.
void AddHazardScore(const RunState& run, const HazardDerivatives& hd, const PatternSums& sums,
                    std::vector<double>& g) {
  const std::size_t nh = hd.parameters.size();
  const double* rates = run.estimation.FittedTable.data() + hd.first;
  std::vector<double> r(hd.block), s(nh);
  for (std::int64_t c = 0; c * hd.block < hd.cells; ++c) {
    HazardResidual(hd, rates + c * hd.block, sums.hazard_events.data() + c * hd.block,
                   sums.hazard_exposure.data() + c * hd.block, r.data());
    HazardScore(hd, c, r.data(), s.data());
    for (std::size_t a = 0; a < nh; ++a) g[hd.parameters[a]] += s[a];
  }
}

// The layout's directions (free parameters) on table t.
std::int64_t DirectionsOn(const ScoreLayout& layout, int t) {
  std::int64_t count = 0;
  for (const Direction& direction : layout.directions) count += direction.table == t ? 1 : 0;
  return count;
}

// The doubles of the derivative tables of the layout's tables and of their joint tables.
std::pair<std::int64_t, std::int64_t> PatternTableSizes(const RunState& run,
                                                        const ScoreLayout& layout) {
  std::int64_t derivatives = 0;
  std::vector<std::int64_t> cells;
  for (int t : layout.tables) {
    const std::int64_t c = TableSpanOf(run, t).cells;
    derivatives += c * DirectionsOn(layout, t);
    cells.push_back(c);
  }
  std::int64_t joint = 0;
  for (std::size_t a = 0; a < cells.size(); ++a) {
    for (std::size_t b = a + 1; b < cells.size(); ++b) joint += cells[a] * cells[b];
  }
  return {derivatives, joint};
}

// The memory the posterior-covariance form (or with first_order its first-order part) holds
// beside the sums of the shares it reserves itself: the derivative tables of its layout and the
// sums of the one share it keeps (PatternLayoutOf, ShareSize).
double PatternLayoutBytes(const RunState& run, const ScoreLayout& layout, bool first_order) {
  const int hazard = run.estimation.hazard.table;
  const int n = static_cast<int>(layout.directions.size());
  const auto nh = static_cast<double>(hazard >= 0 ? DirectionsOn(layout, hazard) : 0);
  double derivatives = 0;
  double joint = 0;
  double slot_cells = 0;
  std::vector<double> slots;  // the cells of every slot (JointOffsets)
  for (int t : layout.tables) {
    if (t == hazard) continue;
    const auto c = static_cast<double>(TableSpanOf(run, t).cells);
    derivatives += c * static_cast<double>(DirectionsOn(layout, t));
    for (std::size_t k = 0; k < SubmodelsSharingCells(run.model, t).size(); ++k) {
      for (double other : slots) joint += c * other;
      slots.push_back(c);
      slot_cells += c;
    }
  }
  const auto hazard_cells = static_cast<double>(run.estimation.hazard.exposure.size());
  double share = static_cast<double>(run.estimation.FittedTable.size()) + 2 * hazard_cells +
                 HazardRowSize(run);
  if (!first_order) share += joint + slot_cells * nh + static_cast<double>(n) * n + nh * nh;
  return (derivatives + hazard_cells * nh + share) * sizeof(double);
}

}  // namespace

void CompleteDataInformation(const RunState& run, const ScoreLayout& layout, const double* expected,
                             std::vector<double>& matrix) {
  for (int t : layout.tables) {
    if (t == run.estimation.hazard.table) continue;  // HazardCompleteInformation
    if (IsCumulativeTable(run, t)) {
      CumulativeClosedForm(run, layout, t, expected, matrix);
    } else {
      ClosedFormTable(run, layout, t, run.estimation.FittedTable.data(), expected, matrix);
    }
  }
}

void AddCumulativeScore(const RunState& run, const ScoreLayout& layout, const double* expected,
                        std::vector<double>& g) {
  for (const TableDerivatives& d : Derivatives(run, layout, run.estimation.FittedTable.data())) {
    if (!IsCumulativeTable(run, d.table)) continue;
    const std::size_t size = d.parameters.size();
    for (std::int64_t c = 0; c < d.cells; ++c) {
      const double e = expected[d.first + c];
      if (e == 0) continue;
      for (std::size_t q = 0; q < size; ++q) {
        g[d.parameters[q]] += e * d.values[static_cast<std::size_t>(c) * size + q];
      }
    }
  }
}

std::vector<double> ExpectedTablesAndHazardScore(const RunState& run, const ScoreLayout& layout,
                                                 std::vector<double>& g) {
  const MemoryReservation reserved(run.context, PatternLayoutBytes(run, layout, true));
  const PatternLayout patterns = PatternLayoutOf(run, layout, true);
  PatternSums sums = SumPatterns(run, patterns);
  if (patterns.hazard.table >= 0) AddHazardScore(run, patterns.hazard, sums, g);
  return std::move(sums.expected);
}

// Whether the derivative tables and the joint tables of the posterior-covariance form fit the
// memory this form may take.
bool PosteriorCovarianceFits(const RunState& run, const ScoreLayout& layout) {
  const auto [derivatives, joint] = PatternTableSizes(run, layout);
  return derivatives <= kShareBudget && joint <= kShareBudget;
}

void PosteriorCovarianceInformation(const RunState& run, const ScoreLayout& layout,
                                    std::vector<double>& matrix) {
  const int n = static_cast<int>(layout.directions.size());
  const MemoryReservation reserved(run.context, PatternLayoutBytes(run, layout, false));
  const PatternLayout patterns = PatternLayoutOf(run, layout, false);
  const std::vector<TableDerivatives>& tables = patterns.tables;
  const std::vector<Slot>& slots = patterns.slots;
  const std::vector<std::int64_t>& offsets = patterns.offsets;
  const HazardDerivatives& hd = patterns.hazard;
  const PatternSums sums = SumPatterns(run, patterns);
  // The closed form at the expected tables: minus the expected second derivatives.
  CompleteDataInformation(run, layout, sums.expected.data(), matrix);
  if (hd.table >= 0) HazardCompleteInformation(run, hd, sums, matrix);
  auto at = [&](int i, int j) -> double& { return matrix[static_cast<std::size_t>(i) * n + j]; };
  // Less sum_h n_h sum_k p_hk s_hk s_hk', s_hk the sum of S(c) over the slots' cells: from the
  // expected tables (a slot with itself, summed over a table's slots) and the joint tables (two
  // slots) ...
  for (const TableDerivatives& ta : tables) {
    const std::size_t pa = ta.parameters.size();
    const double* expected = sums.expected.data() + ta.first;
    for (std::int64_t c = 0; c < ta.cells; ++c) {
      if (expected[c] == 0) continue;
      const double* s = ta.values.data() + static_cast<std::size_t>(c) * pa;
      for (std::size_t q = 0; q < pa; ++q) {
        for (std::size_t r = q; r < pa; ++r) {
          at(ta.parameters[q], ta.parameters[r]) -= expected[c] * s[q] * s[r];
        }
      }
    }
  }
  const std::size_t m = slots.size();
  for (std::size_t e = 0; e < m; ++e) {
    const TableDerivatives& ta = tables[slots[e].table];
    const std::size_t pa = ta.parameters.size();
    for (std::size_t f = e + 1; f < m; ++f) {
      const TableDerivatives& tb = tables[slots[f].table];
      const std::size_t pb = tb.parameters.size();
      const double* joint = sums.joint.data() + offsets[e * m + f];
      // sum_(c, d) M(c, d) (S_e(c) S_f(d)' + S_f(d) S_e(c)'): first sum_d M(c, d) S_f(d) per c.
      std::vector<double> inner(pb);
      for (std::int64_t c = 0; c < ta.cells; ++c) {
        std::fill(inner.begin(), inner.end(), 0.0);
        bool any = false;
        for (std::int64_t d = 0; d < tb.cells; ++d) {
          const double v = joint[c * tb.cells + d];
          if (v == 0) continue;
          any = true;
          const double* s = tb.values.data() + static_cast<std::size_t>(d) * pb;
          for (std::size_t r = 0; r < pb; ++r) inner[r] += v * s[r];
        }
        if (!any) continue;
        const double* s = ta.values.data() + static_cast<std::size_t>(c) * pa;
        for (std::size_t q = 0; q < pa; ++q) {
          for (std::size_t r = 0; r < pb; ++r) {
            // Only the upper triangle is kept; a parameter with itself (two slots of one table)
            // has both terms there.
            const int i = ta.parameters[q];
            const int j = tb.parameters[r];
            at(std::min(i, j), std::max(i, j)) -= (i == j ? 2 : 1) * s[q] * inner[r];
          }
        }
      }
    }
  }
  // ... and for the hazard part's parameters, with themselves and with those of the tables ...
  const std::size_t nh = hd.parameters.size();
  for (std::size_t a = 0; a < nh; ++a) {
    for (std::size_t b = a; b < nh; ++b) {
      at(hd.parameters[a], hd.parameters[b]) -= sums.hazard_outer[a * nh + b];
    }
  }
  for (std::size_t e = 0; e < m && nh > 0; ++e) {
    const TableDerivatives& ta = tables[slots[e].table];
    const std::size_t pa = ta.parameters.size();
    for (std::int64_t c = 0; c < ta.cells; ++c) {
      const double* joint = sums.hazard_joint.data() + patterns.hazard_offsets[e] + c * nh;
      const double* s = ta.values.data() + static_cast<std::size_t>(c) * pa;
      for (std::size_t q = 0; q < pa; ++q) {
        for (std::size_t a = 0; a < nh; ++a) {
          const int i = ta.parameters[q];
          const int j = hd.parameters[a];
          at(std::min(i, j), std::max(i, j)) -= s[q] * joint[a];
        }
      }
    }
  }
  // ... plus sum_h n_h g_h g_h'; then the lower triangle from the upper.
  for (int i = 0; i < n; ++i) {
    for (int j = i; j < n; ++j) at(i, j) += sums.outer[static_cast<std::size_t>(i) * n + j];
  }
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < i; ++j) at(i, j) = at(j, i);
  }
}

}  // namespace tav
