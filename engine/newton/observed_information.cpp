#include "newton/observed_information.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "core/parallel.h"
#include "core/table_zero.h"
#include "estimation/cumulative_model.h"

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
  for (int r = 0; r < run.model.SubmodelCount; ++r) {
    const Submodel& submodel = run.model.submodels[r];
    if (r == t || (submodel.IsTied() && submodel.tied_to == t)) d.slots.push_back(r);
  }
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
};

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

void AddPatterns(const RunState& run, const std::vector<TableDerivatives>& tables,
                 const std::vector<Slot>& slots, const std::vector<std::int64_t>& offsets,
                 std::int64_t from, std::int64_t to, PatternSums& sums) {
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
  for (std::int64_t h = from; h < to; ++h) {
    const double weight = data.entry_count_given ? data.entry_count[h] : 1.0;
    const std::int32_t* map = est.cell_map.data() + est.pattern_start[h];
    const std::int64_t completions =
        (est.pattern_start[h + 1] - est.pattern_start[h]) / (submodels > 0 ? submodels : 1);
    posterior.resize(completions);
    double sum = 0;
    for (std::int64_t k = 0; k < completions; ++k) {
      double value = 1;
      const std::int32_t* cells = map + k * submodels;
      for (int r = 0; r < submodels; ++r) {
        if (cells[r] >= 0) value *= fitted[cells[r]];
      }
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
      for (int r = 0; r < submodels; ++r) {
        if (cells[r] >= 0) sums.expected[cells[r]] += share;
      }
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
    }
    for (int i = 0; i < n; ++i) {
      const double gi = weight * g[i];
      if (gi == 0) continue;
      double* row = sums.outer.data() + static_cast<std::size_t>(i) * n;
      for (int j = i; j < n; ++j) row[j] += gi * g[j];
    }
  }
}

// The sums over all patterns, in shares of patterns fixed by the problem's size alone (so that
// the additions happen in the same order on any number of threads), the shares run in parallel
// and added in order.
PatternSums SumPatterns(const RunState& run, const std::vector<TableDerivatives>& tables,
                        const std::vector<Slot>& slots, const std::vector<std::int64_t>& offsets,
                        std::int64_t joint_size) {
  const int n = static_cast<int>(run.estimation.free_parameters.parameters.size());
  const std::int64_t patterns = run.data.EntryCount();
  const auto each = static_cast<std::int64_t>(run.estimation.FittedTable.size()) + joint_size +
                    static_cast<std::int64_t>(n) * n;
  const std::int64_t shares =
      std::clamp<std::int64_t>(std::min(kShareBudget / std::max<std::int64_t>(each, 1),
                                        (patterns + kSharePatterns - 1) / kSharePatterns),
                               1, kMostShares);
  std::vector<PatternSums> partial(shares);
  ParallelFor(static_cast<int>(shares), ThreadCount(run.settings.threads), [&](int k, int) {
    PatternSums& sums = partial[k];
    sums.expected.assign(run.estimation.FittedTable.size(), 0.0);
    sums.joint.assign(joint_size, 0.0);
    sums.outer.assign(static_cast<std::size_t>(n) * n, 0.0);
    AddPatterns(run, tables, slots, offsets, patterns * k / shares, patterns * (k + 1) / shares,
                sums);
  });
  PatternSums total = std::move(partial[0]);
  for (std::int64_t k = 1; k < shares; ++k) {
    auto add = [](std::vector<double>& to, const std::vector<double>& from) {
      for (std::size_t i = 0; i < to.size(); ++i) to[i] += from[i];
    };
    add(total.expected, partial[k].expected);
    add(total.joint, partial[k].joint);
    add(total.outer, partial[k].outer);
    partial[k] = PatternSums();
  }
  return total;
}

}  // namespace

void CompleteDataInformation(const RunState& run, const ScoreLayout& layout, const double* expected,
                             std::vector<double>& matrix) {
  for (int t : layout.tables) {
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

// Whether the derivative tables and the joint tables of the posterior-covariance form fit the
// memory this form may take.
bool PosteriorCovarianceFits(const RunState& run, const ScoreLayout& layout) {
  std::int64_t derivatives = 0;
  std::vector<std::int64_t> cells;
  const int n = static_cast<int>(layout.directions.size());
  for (int t : layout.tables) {
    const std::int64_t c = TableSpanOf(run, t).cells;
    std::int64_t parameters = 0;
    for (int i = 0; i < n; ++i) parameters += layout.directions[i].table == t ? 1 : 0;
    derivatives += c * parameters;
    cells.push_back(c);
  }
  std::int64_t joint = 0;
  for (std::size_t a = 0; a < cells.size(); ++a) {
    for (std::size_t b = a + 1; b < cells.size(); ++b) joint += cells[a] * cells[b];
  }
  return derivatives <= kShareBudget && joint <= kShareBudget;
}

void PosteriorCovarianceInformation(const RunState& run, const ScoreLayout& layout,
                                    std::vector<double>& matrix) {
  const int n = static_cast<int>(layout.directions.size());
  const std::vector<TableDerivatives> tables =
      Derivatives(run, layout, run.estimation.FittedTable.data());
  const std::vector<Slot> slots = SlotsOf(tables);
  const auto [offsets, joint_size] = JointOffsets(tables, slots);
  const PatternSums sums = SumPatterns(run, tables, slots, offsets, joint_size);
  // The closed form at the expected tables: minus the expected second derivatives.
  CompleteDataInformation(run, layout, sums.expected.data(), matrix);
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
  // ... plus sum_h n_h g_h g_h'; then the lower triangle from the upper.
  for (int i = 0; i < n; ++i) {
    for (int j = i; j < n; ++j) at(i, j) += sums.outer[static_cast<std::size_t>(i) * n + j];
  }
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < i; ++j) at(i, j) = at(j, i);
  }
}

}  // namespace tav
