#include "newton/observed_information.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

#include "core/log.h"
#include "core/parallel.h"
#include "core/table_zero.h"
#include "estimation/e_step.h"
#include "estimation/model_family.h"

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
  // w x_i of a parameter with a direction per cell (a table's worth, only when there is one).
  std::vector<double> weighted(dense.empty() ? 0 : span.cells);
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

// The parameters whose direction acts on table t, in list order.
std::vector<int> ParametersOn(const ScoreLayout& layout, int t) {
  std::vector<int> parameters;
  const int n = static_cast<int>(layout.directions.size());
  for (int i = 0; i < n; ++i) {
    if (layout.directions[i].table == t) parameters.push_back(i);
  }
  return parameters;
}

// The derivatives of table t with its slots and parameters set and every value 0.
TableDerivatives EmptyDerivatives(const RunState& run, const ScoreLayout& layout, int t) {
  TableDerivatives d;
  d.table = t;
  d.slots = SubmodelsSharingCells(run.model, t);
  const TableSpan span = TableSpanOf(run, t);
  d.first = span.first;
  d.cells = span.cells;
  d.parameters = ParametersOn(layout, t);
  d.values.assign(static_cast<std::size_t>(d.cells) * d.parameters.size(), 0.0);
  return d;
}

// The directions of the parameters of d over the table's cells (a model term's from its
// effect's signs).
std::vector<std::vector<double>> DenseDirections(const RunState& run, const ScoreLayout& layout,
                                                 const std::vector<int>& parameters,
                                                 std::int64_t cells) {
  std::vector<std::vector<double>> x(parameters.size());
  for (std::size_t q = 0; q < parameters.size(); ++q) {
    const int i = parameters[q];
    const Direction& direction = layout.directions[i];
    if (direction.group >= 0) {
      x[q].assign(cells, 0.0);
      const std::vector<signed char>& signs = run.newton.effect_signs[i];
      layout.groups[direction.group].shape->ForEach(
          [&](std::int64_t c, std::int64_t e) { x[q][c] = signs[e]; });
    } else {
      x[q] = direction.x;
    }
  }
  return x;
}

// The directions of the parameters of d, as the hooks of the table's family take them.
std::vector<const std::vector<double>*> DirectionsOf(const ScoreLayout& layout,
                                                     const std::vector<int>& parameters) {
  std::vector<const std::vector<double>*> x;
  for (int i : parameters) x.push_back(&layout.directions[i].x);
  return x;
}

// The closed-form information of the parameters of table t of form kLinked at the expected
// table, from the table's family.
void LinkedClosedForm(const RunState& run, const ScoreLayout& layout, int t, const double* expected,
                      std::vector<double>& matrix) {
  const int n = static_cast<int>(layout.directions.size());
  const std::vector<int> parameters = ParametersOn(layout, t);
  const std::size_t size = parameters.size();
  std::vector<double> block;
  TableFamily(run, t)->LinkedInformation(run, t, DirectionsOf(layout, parameters),
                                         expected + TableSpanOf(run, t).first, block);
  for (std::size_t q = 0; q < size; ++q) {
    for (std::size_t r = q; r < size; ++r) {
      const int i = parameters[q];
      const int j = parameters[r];
      matrix[static_cast<std::size_t>(i) * n + j] = block[q * size + r];
      matrix[static_cast<std::size_t>(j) * n + i] = block[q * size + r];
    }
  }
}

// The derivatives of the log fitted cells of every table with parameters but those of form
// kPatterns, which the pattern pass covers.
std::vector<TableDerivatives> Derivatives(const RunState& run, const ScoreLayout& layout,
                                          const double* fitted) {
  std::vector<TableDerivatives> tables;
  for (int t : layout.tables) {
    const TableForm form = layout.FormOf(t);
    if (form == TableForm::kPatterns) continue;
    TableDerivatives d = EmptyDerivatives(run, layout, t);
    const std::size_t size = d.parameters.size();
    if (form == TableForm::kLinked) {
      TableFamily(run, t)->LinkedScores(run, t, DirectionsOf(layout, d.parameters), d.values);
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

// The part of a family that multiplies the completions by factors of its own (a table of form
// kPatterns, estimation/model_family.h): its parameters (those acting on its table), their
// directions and the part the pass works with.
struct PatternFamily {
  const ModelFamily* family = nullptr;
  std::vector<int> parameters;
  std::unique_ptr<PatternPart> part;
  std::int64_t sum_size = 0;
};

// What a share of the patterns adds up: the expected tables, the expected joint tables of every
// pair of tables with parameters (a < b, cells of a by cells of b), and sum_h n_h g_h g_h' (upper
// triangle) of the posterior means g_h of the complete-data score. Per pattern family: its
// expected sums, sum_h n_h sum_k p_hk s_hk s_hk' over its parameters (upper triangle), and per
// slot and cell of its table the same sum of s_hk for the completions that fall into the cell.
struct PatternSums {
  std::vector<double> expected;
  std::vector<double> joint;
  std::vector<double> outer;
  std::vector<std::vector<double>> part_sums;
  std::vector<std::vector<double>> part_outer;
  std::vector<std::vector<double>> part_joint;
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

// What the sums of the patterns need: the tables with parameters and their slots, the offsets
// of the joint tables, the pattern families; with first_order only the expected tables (and
// the pattern families' expected sums) are added up.
struct PatternLayout {
  std::vector<TableDerivatives> tables;
  std::vector<Slot> slots;
  std::vector<std::int64_t> offsets;
  std::int64_t joint_size = 0;
  std::vector<PatternFamily> families;
  // Per pattern family and slot: its rows in PatternSums::part_joint, and their size.
  std::vector<std::vector<std::int64_t>> part_offsets;
  std::vector<std::int64_t> part_joint_size;
  bool first_order = false;
};

// worker: ParallelFor's number of the thread that adds them, for the cancel check.
void AddPatterns(const RunState& run, const PatternLayout& layout, std::int64_t from,
                 std::int64_t to, PatternSums& sums, int worker) {
  const std::vector<TableDerivatives>& tables = layout.tables;
  const std::vector<Slot>& slots = layout.slots;
  const std::vector<std::int64_t>& offsets = layout.offsets;
  const ModelState& model = run.model;
  const DataStore& data = run.data;
  const EstimationState& est = run.estimation;
  const int submodels = model.SubmodelCount;
  const int n = static_cast<int>(est.free_parameters.parameters.size());
  const double* fitted = est.FittedTable.data();
  const std::size_t m = slots.size();
  // The pattern families' parts of this thread and their scores.
  std::vector<std::unique_ptr<PatternPart>> parts;
  std::vector<std::vector<double>> part_score;
  for (const PatternFamily& family : layout.families) {
    parts.push_back(family.part->ForThread());
    part_score.emplace_back(family.parameters.size());
  }
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
    for (const auto& part : parts) part->BeginPattern(h);
    double sum = 0;
    for (std::int64_t k = 0; k < completions; ++k) {
      double value = CompletionProduct(fitted, map + k * submodels, submodels);
      for (const auto& part : parts) {
        if (value != 0) value *= part->Factor(k);
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
      for (int q = 0; q < submodels; ++q) {
        if (cells[q] >= 0) sums.expected[cells[q]] += share;
      }
      for (std::size_t a = 0; a < parts.size(); ++a) {
        parts[a]->AddExpected(k, share, sums.part_sums[a].data());
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
      for (std::size_t a = 0; a < parts.size(); ++a) {
        const std::vector<int>& own = layout.families[a].parameters;
        const std::size_t nh = own.size();
        if (nh == 0) continue;
        double* s = part_score[a].data();
        parts[a]->Score(k, s);
        for (std::size_t b = 0; b < nh; ++b) {
          g[own[b]] += p * s[b];
          double* row = sums.part_outer[a].data() + b * nh;
          for (std::size_t c = b; c < nh; ++c) row[c] += share * s[b] * s[c];
        }
        for (std::size_t e = 0; e < m; ++e) {
          if (cell[e] < 0) continue;
          double* row = sums.part_joint[a].data() + layout.part_offsets[a][e] + cell[e] * nh;
          for (std::size_t b = 0; b < nh; ++b) row[b] += share * s[b];
        }
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

// The doubles of the pattern families' work of one share (AddPatterns), and of their sums.
double PatternWorkSize(const RunState& run) {
  double size = 0;
  for (const ModelFamily* family : FamiliesOf(run)) {
    if (family->FactorsCompletions(run)) size += family->PatternWorkSize(run);
  }
  return size;
}

std::int64_t PatternSumSize(const RunState& run) {
  std::int64_t size = 0;
  for (const ModelFamily* family : FamiliesOf(run)) {
    if (family->FactorsCompletions(run)) size += family->PatternSumSize(run);
  }
  return size;
}

// The doubles of the sums of one share.
std::int64_t ShareSize(const RunState& run, const PatternLayout& layout) {
  const int n = static_cast<int>(run.estimation.free_parameters.parameters.size());
  std::int64_t families = 0;
  for (std::size_t a = 0; a < layout.families.size(); ++a) {
    const auto nh = static_cast<std::int64_t>(layout.families[a].parameters.size());
    families += layout.part_joint_size[a] + nh * nh;
  }
  return static_cast<std::int64_t>(run.estimation.FittedTable.size()) + PatternSumSize(run) +
         (layout.first_order ? 0 : layout.joint_size + families + static_cast<std::int64_t>(n) * n);
}

// The sums over all patterns, in shares of patterns fixed by the problem's size alone (so that
// the additions happen in the same order on any number of threads), the shares run in parallel
// and added in order. The caller has reserved the memory of the one share it gets back; the
// others are reserved here.
PatternSums SumPatterns(const RunState& run, const PatternLayout& layout) {
  const int n = static_cast<int>(run.estimation.free_parameters.parameters.size());
  const std::int64_t patterns = run.data.EntryCount();
  const bool second = !layout.first_order;
  const std::int64_t each = ShareSize(run, layout);
  const std::int64_t shares =
      std::clamp<std::int64_t>(std::min(kShareBudget / std::max<std::int64_t>(each, 1),
                                        (patterns + kSharePatterns - 1) / kSharePatterns),
                               1, kMostShares);
  // The shares run in rounds of one per thread, as many threads as the memory budget holds
  // the tables of (the share of a thread beyond the first is added to the total before the
  // next round); the shares, and so the order of the additions, stay the same.
  const double share_bytes = (static_cast<double>(each) + PatternWorkSize(run)) * sizeof(double);
  const auto threads = static_cast<std::int64_t>(std::clamp<double>(
      std::floor(run.context.MemoryAvailable() / share_bytes), 1,
      static_cast<double>(std::min<std::int64_t>(ThreadCount(run.Threads()), shares))));
  // The total is the first share's sums; the shares of a round beyond the first add up to
  // `threads` more.
  const MemoryReservation reserved(run.context,
                                   shares > 1 ? static_cast<double>(threads) * share_bytes : 0.0);
  const std::size_t families = layout.families.size();
  PatternSums total;
  std::vector<PatternSums> partial(threads);
  for (std::int64_t first = 0; first < shares; first += threads) {
    const int round = static_cast<int>(std::min(threads, shares - first));
    ParallelFor(round, static_cast<int>(threads), [&](int i, int worker) {
      const std::int64_t k = first + i;
      PatternSums& sums = k == 0 ? total : partial[i];
      sums.expected.assign(run.estimation.FittedTable.size(), 0.0);
      sums.part_sums.resize(families);
      sums.part_outer.resize(families);
      sums.part_joint.resize(families);
      for (std::size_t a = 0; a < families; ++a) {
        const std::size_t nh = layout.families[a].parameters.size();
        sums.part_sums[a].assign(layout.families[a].sum_size, 0.0);
        if (second) {
          sums.part_outer[a].assign(nh * nh, 0.0);
          sums.part_joint[a].assign(layout.part_joint_size[a], 0.0);
        }
      }
      if (second) {
        sums.joint.assign(layout.joint_size, 0.0);
        sums.outer.assign(static_cast<std::size_t>(n) * n, 0.0);
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
      for (std::size_t a = 0; a < families; ++a) {
        add(total.part_sums[a], partial[i].part_sums[a]);
        add(total.part_outer[a], partial[i].part_outer[a]);
        add(total.part_joint[a], partial[i].part_joint[a]);
      }
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
  for (const ModelFamily* family : FamiliesOf(run)) {
    if (!family->FactorsCompletions(run)) continue;
    PatternFamily f;
    f.family = family;
    f.sum_size = family->PatternSumSize(run);
    int table = -1;
    for (int t : layout.tables) {
      if (layout.FormOf(t) == TableForm::kPatterns && TableFamily(run, t) == family) table = t;
    }
    std::vector<std::vector<double>> x;
    if (table >= 0) {
      f.parameters = ParametersOn(layout, table);
      x = DenseDirections(run, layout, f.parameters, TableSpanOf(run, table).cells);
    }
    f.part = family->NewPatternPart(run, table, std::move(x));
    if (f.part == nullptr) continue;
    const auto nh = static_cast<std::int64_t>(f.parameters.size());
    std::vector<std::int64_t> rows;
    std::int64_t size = 0;
    for (const Slot& slot : p.slots) {
      rows.push_back(size);
      size += nh > 0 ? p.tables[slot.table].cells * nh : 0;
    }
    p.part_offsets.push_back(std::move(rows));
    p.part_joint_size.push_back(size);
    p.families.push_back(std::move(f));
  }
  return p;
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
  const int n = static_cast<int>(layout.directions.size());
  double derivatives = 0;
  double joint = 0;
  double slot_cells = 0;
  double nh = 0;               // the parameters of tables of form kPatterns
  double pattern_squares = 0;  // their squares, per table
  double pattern_cells = 0;    // their directions
  std::vector<double> slots;   // the cells of every slot (JointOffsets)
  for (int t : layout.tables) {
    const auto c = static_cast<double>(TableSpanOf(run, t).cells);
    const auto on = static_cast<double>(DirectionsOn(layout, t));
    if (layout.FormOf(t) == TableForm::kPatterns) {
      nh += on;
      pattern_squares += on * on;
      pattern_cells += c * on;
      continue;
    }
    derivatives += c * on;
    for (std::size_t k = 0; k < SubmodelsSharingCells(run.model, t).size(); ++k) {
      for (double other : slots) joint += c * other;
      slots.push_back(c);
      slot_cells += c;
    }
  }
  double share = static_cast<double>(run.estimation.FittedTable.size()) +
                 static_cast<double>(PatternSumSize(run)) + PatternWorkSize(run);
  if (!first_order) {
    share += joint + slot_cells * nh + static_cast<double>(n) * n + pattern_squares;
  }
  return (derivatives + pattern_cells + share) * sizeof(double);
}

// The pattern families' score (first_order sums) into g, and their complete-data information
// into matrix.
void AddPatternScores(const RunState& run, const PatternLayout& patterns, const PatternSums& sums,
                      std::vector<double>& g) {
  for (std::size_t a = 0; a < patterns.families.size(); ++a) {
    const PatternFamily& f = patterns.families[a];
    if (f.parameters.empty()) continue;
    std::vector<double> score(f.parameters.size(), 0.0);
    f.part->AddScore(sums.part_sums[a], score.data());
    for (std::size_t b = 0; b < f.parameters.size(); ++b) g[f.parameters[b]] += score[b];
  }
  static_cast<void>(run);
}

void PatternCompleteInformation(const RunState& run, const PatternLayout& patterns,
                                const PatternSums& sums, std::vector<double>& matrix) {
  const int n = static_cast<int>(run.estimation.free_parameters.parameters.size());
  for (std::size_t a = 0; a < patterns.families.size(); ++a) {
    const PatternFamily& f = patterns.families[a];
    const std::size_t nh = f.parameters.size();
    if (nh == 0) continue;
    std::vector<double> block;
    f.part->Information(sums.part_sums[a], block);
    for (std::size_t b = 0; b < nh; ++b) {
      for (std::size_t c = b; c < nh; ++c) {
        const int i = f.parameters[b];
        const int j = f.parameters[c];
        matrix[static_cast<std::size_t>(i) * n + j] = block[b * nh + c];
        matrix[static_cast<std::size_t>(j) * n + i] = block[b * nh + c];
      }
    }
  }
}

}  // namespace

void CompleteDataInformation(const RunState& run, const ScoreLayout& layout, const double* expected,
                             std::vector<double>& matrix) {
  for (int t : layout.tables) {
    const TableForm form = layout.FormOf(t);
    if (form == TableForm::kPatterns) continue;  // PatternCompleteInformation
    if (form == TableForm::kLinked) {
      LinkedClosedForm(run, layout, t, expected, matrix);
    } else {
      ClosedFormTable(run, layout, t, run.estimation.FittedTable.data(), expected, matrix);
    }
  }
}

void AddLinkedScore(const RunState& run, const ScoreLayout& layout, const double* expected,
                    std::vector<double>& g) {
  for (const TableDerivatives& d : Derivatives(run, layout, run.estimation.FittedTable.data())) {
    if (layout.FormOf(d.table) != TableForm::kLinked) continue;
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

std::vector<double> ExpectedTablesAndPatternScore(const RunState& run, const ScoreLayout& layout,
                                                  std::vector<double>& g) {
  const MemoryReservation reserved(run.context, PatternLayoutBytes(run, layout, true));
  const PatternLayout patterns = PatternLayoutOf(run, layout, true);
  PatternSums sums = SumPatterns(run, patterns);
  AddPatternScores(run, patterns, sums, g);
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
  const PatternSums sums = SumPatterns(run, patterns);
  // The closed form at the expected tables: minus the expected second derivatives.
  CompleteDataInformation(run, layout, sums.expected.data(), matrix);
  PatternCompleteInformation(run, patterns, sums, matrix);
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
  // ... and for the pattern families' parameters, with themselves and with those of the
  // tables ...
  for (std::size_t a = 0; a < patterns.families.size(); ++a) {
    const std::vector<int>& own = patterns.families[a].parameters;
    const std::size_t nh = own.size();
    for (std::size_t b = 0; b < nh; ++b) {
      for (std::size_t c = b; c < nh; ++c) at(own[b], own[c]) -= sums.part_outer[a][b * nh + c];
    }
    for (std::size_t e = 0; e < m && nh > 0; ++e) {
      const TableDerivatives& ta = tables[slots[e].table];
      const std::size_t pa = ta.parameters.size();
      for (std::int64_t c = 0; c < ta.cells; ++c) {
        const double* joint = sums.part_joint[a].data() + patterns.part_offsets[a][e] + c * nh;
        const double* s = ta.values.data() + static_cast<std::size_t>(c) * pa;
        for (std::size_t q = 0; q < pa; ++q) {
          for (std::size_t b = 0; b < nh; ++b) {
            const int i = ta.parameters[q];
            const int j = own[b];
            at(std::min(i, j), std::max(i, j)) -= s[q] * joint[b];
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
