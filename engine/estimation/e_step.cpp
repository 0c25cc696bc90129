#include "estimation/e_step.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/double_double.h"
#include "core/elementary.h"
#include "core/format_real.h"
#include "core/log.h"
#include "core/parallel.h"
#include "core/stop_run.h"
#include "core/table_zero.h"
#include "estimation/hazard_model.h"

namespace tav {
namespace {

int PatternSubgroup(const DataStore& data, std::int64_t p) {
  return data.entry_subgroup.empty() ? 0 : data.entry_subgroup[p];
}

double PatternWeight(const DataStore& data, std::int64_t p) {
  return data.entry_count_given ? data.entry_count[p] : 1.0;
}

// The passes over the data: the E-step's; the fit sums of the report, once the iterations end
// (on the tables of the last E-step, in the shares that E-step took, so that they add up as it
// would have); and the evaluation pass, which only returns the log-likelihood and half
// L-squared (no expected tables, fit sums, exclusion counts, stop criterion or log line).
enum class PassKind { kIterate, kFitSums, kEvaluate };

// What a pass adds up over a run of patterns.
struct PassSums {
  double log_likelihood = 0;
  double half_lsquared = 0;
  double pearson = 0;
  double cressie_read = 0;
  double abs_residual = 0;
  double expected_total = 0;
  double excluded = 0;
  int excluded_patterns = 0;
  // With a derived half L-squared, the log-likelihood again and the observed terms
  // (ObservedLogTerms) of the patterns left out, both added without rounding error piling up.
  double_double::Pair log_likelihood_terms{0, 0};
  double_double::Pair excluded_log_terms{0, 0};
};

// What one pass over patterns from .. to - 1 needs to know.
struct PassPlan {
  bool lsquared;       // the fit sums of the report
  bool half_lsquared;  // half L-squared, pattern by pattern
  bool derived;        // half L-squared from the log-likelihood (the patterns left out noted)
  bool rebuild;        // the expected tables are formed anew
  bool with_hazard;
  // Every pattern has one cell per submodel (EstimationState::direct_cells) and the tables
  // stay: the pass adds up the log-likelihood alone.
  bool direct = false;
  // The run's hazard part when with_hazard (HazardWorkOf): the pass, in one share, adds its
  // expectations to it.
  HazardWork* hazard_part = nullptr;
};

// The patterns a share of a pass takes: at least kSharePatterns, and at least as many as the
// expected tables have cells, so that adding a share's tables to the others costs less than
// forming them. The shares depend on the data and the model alone, never on the number of
// threads, and are added up in their order: the results are the same whatever the threads.
constexpr std::int64_t kSharePatterns = 8192;
// The most shares a round of a pass takes.
constexpr std::int64_t kRoundShares = 256;

// Tables of at least kPrefetchCells (larger than the processor's nearer caches) have the cell
// of the pattern kPrefetchAhead on fetched ahead.
constexpr std::int64_t kPrefetchCells = std::int64_t{1} << 18;
constexpr std::int64_t kPrefetchAhead = 64;

// Asks the processor to fetch table[cell] into its caches (nothing if cell is -1).
inline void Prefetch(const double* table, std::int64_t cell) {
#if defined(__GNUC__)
  if (cell >= 0) __builtin_prefetch(table + cell);
#else
  static_cast<void>(table);
  static_cast<void>(cell);
#endif
}

// Adds a pattern's terms to the fit sums the plan asks for: half L-squared, and with lsquared
// the sums of the iteration log, which take ln and the 2/3 power of the pattern's ratio at once.
// Out of the pass's loop, which runs faster without it.
[[gnu::noinline]] void AddFitSums(const PassPlan& plan, double weight, double sum, PassSums& sums) {
  if (!plan.lsquared) {
    if (weight > 0) sums.half_lsquared += weight * Log(weight / sum);
    return;
  }
  if (weight > 0) {
    const double ratio = weight / sum;
    const LogAndPower ratio_functions = LogAndPow(ratio, 2.0 / 3.0);
    sums.half_lsquared += weight * ratio_functions.log;
    sums.cressie_read += 1.8 * weight * (ratio_functions.power - 1);
    sums.pearson += weight * (ratio - 1);
  }
  sums.abs_residual += std::fabs(weight - sum);
  sums.expected_total += sum;
}

// The joint probabilities p[k] of a pattern's completions at the fitted tables (completion k
// in the j-th of the m submodels that stay: cell base[j] + columns[j * completions + k]), with
// the hazard factors of its episodes when covariate_cell is given (the covariate cell of each
// completion), and their sum (in completion order). Each p[k] is the product of its m factors
// in submodel order, starting from 1. The hazard factors run in a loop of their own: nothing is
// kept across their calls.
inline double CompletionProbabilities(const double* fitted, const std::int32_t* base,
                                      const std::int32_t* columns, int m, std::int64_t completions,
                                      const HazardPattern& episodes,
                                      const std::int32_t* covariate_cell, double* p) {
  for (std::int64_t k = 0; k < completions; ++k) p[k] = 1;
  for (int j = 0; j < m; ++j) {
    const double* table = fitted + base[j];
    const std::int32_t* cells = columns + j * completions;
    for (std::int64_t k = 0; k < completions; ++k) p[k] *= table[cells[k]];
  }
  if (covariate_cell != nullptr) {
    for (std::int64_t k = 0; k < completions; ++k) {
      if (p[k] != 0) p[k] *= episodes.Factor(covariate_cell[k]);
    }
  }
  double sum = 0;
  for (std::int64_t k = 0; k < completions; ++k) sum += p[k];
  return sum;
}

// The observed term of pattern h in half L-squared less the log-likelihood: n ln(n / T_s) (n its
// weight, T_s its subgroup's total), 0 for a pattern without weight.
double ObservedLogTerm(const DataStore& data, std::int64_t h) {
  const double weight = PatternWeight(data, h);
  if (!(weight > 0)) return 0;
  return weight * Log(weight / data.subgroup_total[PatternSubgroup(data, h)]);
}

double_double::Pair Negated(double_double::Pair x) { return {-x.hi, -x.lo}; }

// The latent class layout of the E-step, per subgroup whose patterns have few completions (the
// latent classes, typically) and small tables: per column j (submodel that stays) and base cell
// t of a pattern in it (PatternCells::Bases), the K completions' fitted values side by side,
// table[start[j] + t * K + k] = fitted[t + columns[j * K + k]]. A pattern's completion products
// then take one row of K values per column, multiplied element by element (which the compiler
// vectorises, two patterns at a time so that neither waits on its own multiplications), in
// submodel order from 1, as CompletionProbabilities multiplies them: both give the same bits.
//
// When the run has one subgroup and no two of its completions or columns share a cell (tied
// submodels share their table), the expected counts go to a table of the same layout too
// (`accumulate`), which the share adds to its expected tables at its end: a cell then receives
// the same additions in the same order as pattern by pattern, the share's tables starting at
// 0. Otherwise the counts go to the expected tables pattern by pattern, as without the layout.
struct ClassLayout {
  bool usable = false;
  bool accumulate = false;
  int completions = 0;
  int width = 0;
  const std::int32_t* columns = nullptr;
  std::vector<std::int64_t> start;  // per column, and the total at the end
  std::vector<double> table;
};

constexpr int kLayoutCompletions = 16;
constexpr std::int64_t kLayoutCells = std::int64_t{1} << 18;

// The layout of subgroup g; `cells` counts the cells of the layouts made so far, which stay
// within kLayoutCells together.
ClassLayout MakeClassLayout(const EstimationRun& run, int g, std::int64_t& cells) {
  ClassLayout layout;
  const EstimationState& est = run.estimation;
  const int m = static_cast<int>(est.subgroup_submodels[g].size());
  if (m == 0) return layout;
  const auto completions = static_cast<std::int64_t>(est.subgroup_columns[g].size()) / m;
  if (completions < 1 || completions > kLayoutCompletions) return layout;
  const int first = run.model.FirstManifest();
  std::vector<std::int64_t> range(m, 1);
  for (const EstimationState::ObservedStride& s : est.subgroup_strides[g]) {
    range[s.column] += std::int64_t{run.model.Dimension[first + s.variable] - 1} * s.stride;
  }
  const std::int32_t* columns = est.subgroup_columns[g].data();
  layout.start.assign(m + 1, 0);
  for (int j = 0; j < m; ++j) {
    layout.start[j + 1] = layout.start[j] + range[j] * completions;
    if (cells + layout.start[j + 1] > kLayoutCells) return layout;
  }
  cells += layout.start[m];
  layout.accumulate = est.subgroup_submodels.size() == 1;
  std::vector<char> taken(layout.accumulate ? est.FittedTable.size() : 0, 0);
  layout.table.resize(layout.start[m]);
  const double* fitted = est.FittedTable.data();
  for (int j = 0; j < m; ++j) {
    double* row = layout.table.data() + layout.start[j];
    for (std::int64_t t = 0; t < range[j]; ++t) {
      for (std::int64_t k = 0; k < completions; ++k) {
        const std::int64_t cell = t + columns[j * completions + k];
        row[t * completions + k] = fitted[cell];
        if (!layout.accumulate) continue;
        if (taken[cell] != 0) layout.accumulate = false;
        taken[cell] = 1;
      }
    }
  }
  layout.usable = true;
  layout.completions = static_cast<int>(completions);
  layout.width = m;
  layout.columns = columns;
  return layout;
}

// The layouts of a pass, per subgroup; none (all unusable) unless `wanted`: not for hazard
// models, whose completions carry factors of their own, for tables too large to stay near the
// processor, or for direct passes (PassPlan::direct).
std::vector<ClassLayout> MakeClassLayouts(const EstimationRun& run, bool wanted) {
  std::vector<ClassLayout> layouts(run.estimation.subgroup_submodels.size());
  if (!wanted) return layouts;
  std::int64_t cells = 0;
  for (int g = 0; g < static_cast<int>(layouts.size()); ++g) {
    layouts[g] = MakeClassLayout(run, g, cells);
  }
  return layouts;
}

// The completion products of patterns a and b (base cells base_a, base_b) by the class layout,
// K completions each (K a constant the compiler unrolls, or 0: the layout's number).
template <int K>
inline void LayoutProducts(const ClassLayout& layout, const std::int32_t* base_a,
                           const std::int32_t* base_b, double* a, double* b) {
  const int completions = K > 0 ? K : layout.completions;
  const double* table = layout.table.data();
  // Local products, which the compiler keeps in registers (a and b might alias the table).
  double product_a[K > 0 ? K : kLayoutCompletions];
  double product_b[K > 0 ? K : kLayoutCompletions];
#pragma GCC unroll 16
  for (int k = 0; k < completions; ++k) product_a[k] = product_b[k] = 1;
  for (int j = 0; j < layout.width; ++j) {
    const double* row_a = table + layout.start[j] + std::int64_t{base_a[j]} * completions;
    const double* row_b = table + layout.start[j] + std::int64_t{base_b[j]} * completions;
#pragma GCC unroll 16
    for (int k = 0; k < completions; ++k) {
      product_a[k] *= row_a[k];
      product_b[k] *= row_b[k];
    }
  }
  for (int k = 0; k < completions; ++k) {
    a[k] = product_a[k];
    b[k] = product_b[k];
  }
}

// Calls body with the layout's number of completions as a constant (std::integral_constant)
// for the common numbers, and with 0 (the number read at run time) for the others.
template <typename Body>
inline void WithCompletions(int completions, Body body) {
  switch (completions) {
    case 2:
      body(std::integral_constant<int, 2>{});
      break;
    case 3:
      body(std::integral_constant<int, 3>{});
      break;
    case 4:
      body(std::integral_constant<int, 4>{});
      break;
    case 5:
      body(std::integral_constant<int, 5>{});
      break;
    case 6:
      body(std::integral_constant<int, 6>{});
      break;
    case 8:
      body(std::integral_constant<int, 8>{});
      break;
    default:
      body(std::integral_constant<int, 0>{});
  }
}

// Adds a pattern's expected counts p[k] * scale to `expected` in the class layout.
template <int K>
inline void LayoutAdd(const ClassLayout& layout, const std::int32_t* base, const double* p,
                      double scale, double* expected) {
  const int completions = K > 0 ? K : layout.completions;
  double share[K > 0 ? K : kLayoutCompletions] = {};
#pragma GCC unroll 16
  for (int k = 0; k < completions; ++k) share[k] = p[k] * scale;
  for (int j = 0; j < layout.width; ++j) {
    double* row = expected + layout.start[j] + std::int64_t{base[j]} * completions;
#pragma GCC unroll 16
    for (int k = 0; k < completions; ++k) row[k] += share[k];
  }
}

// The total of pattern h's subgroup (0 when the run has none).
double SubgroupTotal(const DataStore& data, std::int64_t h) {
  return data.subgroup_total.empty() ? 0.0 : data.subgroup_total[PatternSubgroup(data, h)];
}

// Notes pattern h (of the given weight) as left out: its completions have no probability.
void AddLeftOut(const PassPlan& plan, const DataStore& data, std::int64_t h, double weight,
                PassSums& sums) {
  sums.excluded += weight;
  ++sums.excluded_patterns;
  if (plan.derived) {
    sums.excluded_log_terms = double_double::Add(sums.excluded_log_terms, ObservedLogTerm(data, h));
  }
}

// PassShare for a direct pass (PassPlan::direct): a pattern's probability is the product of its
// cells' fitted values (EstimationState::direct_cells), in submodel order from 1, as
// CompletionProbabilities forms it, and the terms n ln(M / T) of a block of patterns are added
// up together (AddWeightedLogs), in pattern order, as PassShare adds them one by one.
void DirectShare(EstimationRun& run, const PassPlan& plan, std::int64_t from, std::int64_t to,
                 PassSums& result, int worker) {
  PassSums sums;
  const DataStore& data = run.data;
  const EstimationState& est = run.estimation;
  const double* fitted = est.FittedTable.data();
  const bool prefetch = static_cast<std::int64_t>(est.FittedTable.size()) >= kPrefetchCells;
  const int m = static_cast<int>(est.subgroup_submodels[0].size());
  const std::int32_t* direct = est.direct_cells.data();
  constexpr int kBlock = 512;
  double weights[kBlock];
  double ratios[kBlock];
  WeightedLogSums log_sums;
  for (std::int64_t block = from; block < to; block += kBlock) {
    CheckCancel(run.context, worker);
    const std::int64_t end = std::min(to, block + kBlock);
    int terms = 0;
    for (std::int64_t h = block; h < end; ++h) {
      if (prefetch && h + kPrefetchAhead < to) Prefetch(fitted, direct[(h + kPrefetchAhead) * m]);
      const std::int32_t* cells = direct + h * m;
      double product = 1;
      for (int j = 0; j < m; ++j) product *= fitted[cells[j]];
      const double weight = PatternWeight(data, h);
      if (product <= kTableZero) {
        AddLeftOut(plan, data, h, weight, sums);
        continue;
      }
      const double total = SubgroupTotal(data, h);
      if (weight != 0 && total > 0) {
        weights[terms] = weight;
        ratios[terms] = product / total;
        ++terms;
      }
    }
    log_sums = AddWeightedLogs(weights, ratios, terms, log_sums);
  }
  sums.log_likelihood = log_sums.plain;
  if (plan.derived) sums.log_likelihood_terms = log_sums.exact;
  result = sums;
}

// worker: ParallelFor's number of the thread that runs the share (0 for the run's own), for
// the cancel check.
void PassShare(EstimationRun& run, const PassPlan& plan, const std::vector<ClassLayout>& layouts,
               std::int64_t from, std::int64_t to, double* expected, std::vector<double>& p,
               PassSums& result, int worker) {
  // Added up here and handed on at the end: the shares' results sit side by side, and threads
  // that wrote to them pattern by pattern would contend for their cache lines.
  PassSums sums;
  const DataStore& data = run.data;
  const EstimationState& est = run.estimation;
  const double* fitted = est.FittedTable.data();
  const HazardWork& hazard = HazardWorkOf(std::as_const(run));
  const std::int32_t* covariate_cells = hazard.covariate_cell.data();
  PatternCells pattern_cells(run);
  const bool prefetch = static_cast<std::int64_t>(est.FittedTable.size()) >= kPrefetchCells;
  std::optional<LogRates> log_rates;
  if (plan.with_hazard && LogRates::Fits(run)) log_rates.emplace(run);
  // What a pattern adds once its completions' products p and their sum are known.
  // A layout that accumulates (only ever that of the run's one subgroup) takes the expected
  // counts into layout_expected.
  const ClassLayout* accumulating =
      layouts.size() == 1 && layouts[0].accumulate && plan.rebuild ? &layouts[0] : nullptr;
  std::vector<double> layout_expected(accumulating != nullptr ? accumulating->table.size() : 0);
  auto add_pattern = [&](std::int64_t h, const std::int32_t* base, const std::int32_t* rows, int m,
                         std::int64_t completions, const double* p, double sum,
                         const HazardPattern* episodes, const std::int32_t* covariate_cell) {
    const double weight = PatternWeight(data, h);
    if (sum <= kTableZero) {
      AddLeftOut(plan, data, h, weight, sums);
      return;
    }
    if (accumulating != nullptr) {
      const double scale = weight / sum;
      WithCompletions(accumulating->completions, [&](auto k) {
        LayoutAdd<k()>(*accumulating, base, p, scale, layout_expected.data());
      });
    } else if (plan.rebuild) {
      const double scale = weight / sum;
      for (std::int64_t k = 0; k < completions; ++k) {
        const double share = p[k] * scale;
        const std::int32_t* cells = rows + k * m;
        for (int j = 0; j < m; ++j) expected[base[j] + cells[j]] += share;
        if (episodes != nullptr && share != 0) {
          episodes->Accumulate(run, *plan.hazard_part, covariate_cell[k], share);
        }
      }
    }
    if (plan.half_lsquared) AddFitSums(plan, weight, sum, sums);  // lsquared implies it
    const double total = SubgroupTotal(data, h);
    if (weight != 0 && total > 0) {
      const double term = weight * Log(sum / total);
      sums.log_likelihood += term;
      if (plan.derived)
        sums.log_likelihood_terms = double_double::Add(sums.log_likelihood_terms, term);
    }
  };
  std::vector<std::int32_t> base_a;
  std::vector<double> second;
  // The cancel check once per 1024 patterns (patterns go in pairs: h may step over a multiple).
  std::int64_t checked_block = -1;
  for (std::int64_t h = from; h < to;) {
    if (h >> 10 != checked_block) {
      CheckCancel(run.context, worker);
      checked_block = h >> 10;
    }
    const int m = pattern_cells.Width(h);
    const std::int32_t* rows = pattern_cells.Rows(h);
    const std::int32_t* columns = pattern_cells.Columns(h);
    const std::int64_t completions = pattern_cells.Completions(h);
    if (static_cast<std::int64_t>(p.size()) < completions) p.resize(completions);
    const ClassLayout& layout = layouts[PatternSubgroup(data, h)];
    if (layout.usable) {
      // Two patterns of the subgroup at a time (else one, paired with itself).
      const std::int32_t* bases = pattern_cells.Bases(h);
      base_a.assign(bases, bases + m);
      const bool pair = h + 1 < to && PatternSubgroup(data, h + 1) == PatternSubgroup(data, h);
      const std::int32_t* base_b = pair ? pattern_cells.Bases(h + 1) : base_a.data();
      second.resize(completions);
      WithCompletions(layout.completions, [&](auto k) {
        LayoutProducts<k()>(layout, base_a.data(), base_b, p.data(), second.data());
      });
      double sum = 0;
      for (std::int64_t k = 0; k < completions; ++k) sum += p[k];
      add_pattern(h, base_a.data(), rows, m, completions, p.data(), sum, nullptr, nullptr);
      if (pair) {
        double sum_b = 0;
        for (std::int64_t k = 0; k < completions; ++k) sum_b += second[k];
        add_pattern(h + 1, base_b, rows, m, completions, second.data(), sum_b, nullptr, nullptr);
      }
      h += pair ? 2 : 1;
      continue;
    }
    if (prefetch && h + kPrefetchAhead < to)
      Prefetch(fitted, pattern_cells.FirstCell(h + kPrefetchAhead));
    // The cell of completion k in the j-th submodel that stays: base[j] + rows[k * m + j].
    const std::int32_t* base = pattern_cells.Bases(h);
    const HazardPattern episodes(run, hazard, plan.with_hazard ? h : 0,
                                 log_rates ? &*log_rates : nullptr);
    const std::int32_t* covariate_cell =
        plan.with_hazard ? covariate_cells + est.completion_start[h] : nullptr;
    const double sum = CompletionProbabilities(fitted, base, columns, m, completions, episodes,
                                               covariate_cell, p.data());
    add_pattern(h, base, rows, m, completions, p.data(), sum,
                plan.with_hazard ? &episodes : nullptr, covariate_cell);
    ++h;
  }
  // The share's expected tables started at 0: each cell gets its sum by the layout.
  if (accumulating != nullptr) {
    const ClassLayout& layout = *accumulating;
    const int K = layout.completions;
    for (int j = 0; j < layout.width; ++j) {
      const std::int64_t range = (layout.start[j + 1] - layout.start[j]) / K;
      const double* row = layout_expected.data() + layout.start[j];
      for (std::int64_t t = 0; t < range; ++t) {
        for (int k = 0; k < K; ++k) expected[t + layout.columns[j * K + k]] += row[t * K + k];
      }
    }
  }
  result = sums;
}

Evaluation Pass(EstimationRun& run, PassKind kind) {
  const ModelState& model = run.model;
  EstimationState& est = run.estimation;
  const int n = model.SubmodelCount;
  const bool iterate = kind == PassKind::kIterate;
  const bool fit_sums = kind == PassKind::kFitSums;
  bool ordinal = false;
  for (int r = 0; r < n; ++r) {
    ordinal = ordinal || model.submodels[r].IsOrdinal();
  }
  const HazardWork& hazard = HazardWorkOf(std::as_const(run));
  PassPlan plan;
  plan.lsquared = fit_sums && est.lsquared_column;
  // The E-step's half L-squared is the observed terms, less those of the patterns left out,
  // less the log-likelihood: no logarithm of a ratio per pattern.
  plan.derived = iterate && est.lsquared_column && std::isfinite(est.observed_log_terms.hi);
  plan.half_lsquared = est.lsquared_column && !plan.derived;
  plan.with_hazard = hazard.table >= 0 && !fit_sums;
  if (plan.with_hazard) plan.hazard_part = &HazardWorkOf(run);
  // The exposures of estimated shapes change with the shapes. The fit sums' pass takes the
  // shares of the E-step before it, which rebuilt the tables or not by the same rule.
  const bool rebuilding =
      (iterate || fit_sums) &&
      (run.estimation.iteration == 0 || model.LatentCount > 0 || model.ResCount > 0 || ordinal ||
       hazard.kind == TimeModel::kEstimatedShapes);
  plan.rebuild = iterate && rebuilding;
  // (Runs with a hazard part have no direct cells.)
  plan.direct = !rebuilding && !plan.half_lsquared && !est.direct_cells.empty();
  if (plan.rebuild) {
    std::fill(est.ExpectedTable.begin(), est.ExpectedTable.end(), 0.0);
    ClearHazardExpectations(run);
    est.ForgetExpectedMargins();
  }

  // The shares of the pass. Hazard models (whose expectations the shares would share) take one.
  const std::int64_t patterns = run.data.EntryCount();
  const auto table_size = static_cast<std::int64_t>(est.ExpectedTable.size());
  const std::int64_t share_size = hazard.table >= 0
                                      ? std::max<std::int64_t>(patterns, 1)
                                      : std::max(kSharePatterns, rebuilding ? table_size : 0);
  const std::int64_t shares = std::max<std::int64_t>(1, (patterns + share_size - 1) / share_size);
  const std::vector<ClassLayout> layouts =
      MakeClassLayouts(run, !plan.direct && hazard.table < 0 &&
                                static_cast<std::int64_t>(est.FittedTable.size()) < kPrefetchCells);
  PassSums total;
  if (shares == 1) {
    if (plan.direct) {
      DirectShare(run, plan, 0, patterns, total, 0);
    } else {
      PassShare(run, plan, layouts, 0, patterns, est.ExpectedTable.data(), est.posterior, total, 0);
    }
  } else {
    // Shares run in rounds, each into tables of its own, added to the expected tables in the
    // order of the shares. A round takes as many shares as a quarter of the memory budget holds
    // tables for (at most kRoundShares), at least one per thread: the threads then meet once a
    // round, not once a share.
    int threads = static_cast<int>(std::min<std::int64_t>(ThreadCount(run.Threads()), shares));
    // The shares' own tables within the memory budget: fewer threads when they do not all fit
    // (the shares, and so the order of the additions, stay the same).
    const double share_bytes = static_cast<double>(table_size) * sizeof(double);
    std::int64_t per_round = std::min(shares, kRoundShares);
    if (plan.rebuild && share_bytes > 0) {
      threads = static_cast<int>(
          std::clamp<double>(std::floor(run.context.MemoryAvailable() / share_bytes), 1, threads));
      per_round = static_cast<std::int64_t>(
          std::clamp<double>(std::floor(run.context.MemoryAvailable() / 4 / share_bytes), threads,
                             std::max<double>(threads, static_cast<double>(per_round))));
    }
    const MemoryReservation reserved(run.context, plan.rebuild ? per_round * share_bytes : 0.0);
    std::vector<std::vector<double>> tables(plan.rebuild ? per_round : 0);
    for (std::vector<double>& table : tables) table.resize(table_size);
    std::vector<std::vector<double>> posteriors(threads, est.posterior);
    std::vector<PassSums> share_sums(per_round);
    for (std::int64_t first = 0; first < shares; first += per_round) {
      const int round = static_cast<int>(std::min<std::int64_t>(per_round, shares - first));
      ParallelFor(round, threads, [&](int i, int worker) {
        const std::int64_t from = (first + i) * share_size;
        const std::int64_t to = std::min(patterns, from + share_size);
        double* expected = nullptr;
        if (plan.rebuild) {
          std::fill(tables[i].begin(), tables[i].end(), 0.0);
          expected = tables[i].data();
        }
        if (plan.direct) {
          DirectShare(run, plan, from, to, share_sums[i], worker);
        } else {
          PassShare(run, plan, layouts, from, to, expected, posteriors[worker], share_sums[i],
                    worker);
        }
      });
      for (int i = 0; i < round; ++i) {
        const PassSums& s = share_sums[i];
        total.log_likelihood += s.log_likelihood;
        total.half_lsquared += s.half_lsquared;
        total.pearson += s.pearson;
        total.cressie_read += s.cressie_read;
        total.abs_residual += s.abs_residual;
        total.expected_total += s.expected_total;
        total.excluded += s.excluded;
        total.excluded_patterns += s.excluded_patterns;
        total.log_likelihood_terms =
            double_double::Add(total.log_likelihood_terms, s.log_likelihood_terms);
        total.excluded_log_terms =
            double_double::Add(total.excluded_log_terms, s.excluded_log_terms);
        if (!plan.rebuild) continue;
        double* expected = est.ExpectedTable.data();
        const double* add = tables[i].data();
        for (std::int64_t c = 0; c < table_size; ++c) expected[c] += add[c];
      }
    }
  }

  Evaluation result;
  result.log_likelihood = total.log_likelihood;
  if (plan.derived) {
    const double_double::Pair half = double_double::Add(
        double_double::Add(est.observed_log_terms, Negated(total.excluded_log_terms)),
        Negated(total.log_likelihood_terms));
    result.half_lsquared = half.hi + half.lo;
  } else {
    result.half_lsquared = total.half_lsquared;
  }
  if (fit_sums) {
    est.PearsonSum = total.pearson;
    est.CressieReadSum = total.cressie_read;
    est.AbsResidualSum = total.abs_residual;
    est.ExpectedTotal = total.expected_total;
  }
  if (iterate || fit_sums) est.HalfLSquared = result.half_lsquared;
  if (iterate) {
    est.ExcludedObservations = total.excluded;
    est.excluded_patterns = total.excluded_patterns;
  }
  return result;
}

// The categories of the res variables of subgroup g, from its number, first most significant.
void SubgroupCategories(const ModelState& model, int g, std::vector<int>& category) {
  for (int v = model.ResCount - 1; v >= 0; --v) {
    category[v] = g % model.Dimension[v];
    g /= model.Dimension[v];
  }
}

// The next completion of a pattern of subgroup `pattern`: its latent and carried variables as one
// mixed-radix number, the latent variables outermost, the last variable fastest (back to all 0
// after the last).
void NextCompletion(const ModelState& model, const Membership& pattern,
                    std::vector<int>& category) {
  const int first = model.FirstManifest();
  for (int v = model.VariableCount - 1; v >= model.ResCount; --v) {
    if (v >= first && pattern[v - first] != 2) continue;
    if (++category[v] < model.Dimension[v]) break;
    category[v] = 0;
  }
}

}  // namespace

void BuildIndexMaps(EstimationRun& run) {
  const ModelState& model = run.model;
  const DataStore& data = run.data;
  EstimationState& est = run.estimation;
  const int n = model.SubmodelCount;
  const int first = model.FirstManifest();
  const std::int64_t patterns = data.EntryCount();
  run.context.KeepMemory(MemoryUse::kIndexMaps, 0);

  // Each submodel's cell is first_cell plus the sum of category times stride over its
  // variables (mixed radix, last variable fastest): the manifest variables' part comes from
  // each pattern's categories, the rest from its subgroup and completion.
  std::vector<std::vector<std::pair<int, std::int64_t>>> strides(n);
  for (int r = 0; r < n; ++r) {
    const Submodel& submodel = model.submodels[r];
    std::int64_t stride = 1;
    for (int v = kVectorSize - 1; v >= 0; --v) {
      if (submodel.SubmodelVariables[v] == 0) continue;
      strides[r].emplace_back(v, stride);
      stride *= model.Dimension[v];
    }
  }

  // Per subgroup, the cells of its completions (NextCompletion) with the observed variables at
  // category 0, for the submodels that stay: one holding a variable the subgroup neither
  // observes nor carries drops out.
  const int subgroups = static_cast<int>(model.SubgroupPattern.size());
  est.subgroup_submodels.assign(subgroups, {});
  est.subgroup_cells.assign(subgroups, {});
  est.subgroup_columns.assign(subgroups, {});
  est.subgroup_strides.assign(subgroups, {});
  double cells_size = 0;
  std::vector<int> category(kVectorSize, 0);
  for (int g = 0; g < subgroups; ++g) {
    const Membership& pattern = model.SubgroupPattern[g];
    std::vector<char> drops(n, 0);
    for (int r = 0; r < n; ++r) {
      for (int v = first; v < model.VariableCount; ++v) {
        if (model.submodels[r].SubmodelVariables[v] != 0 && pattern[v - first] == 0) drops[r] = 1;
      }
    }
    // The submodels that stay and their observed variables.
    std::vector<int>& stay = est.subgroup_submodels[g];
    for (int r = 0; r < n; ++r) {
      if (drops[r]) continue;
      const int column = static_cast<int>(stay.size());
      stay.push_back(r);
      for (const auto& [v, stride] : strides[r]) {
        if (v >= first && pattern[v - first] == 1 && v - first < data.category_items) {
          est.subgroup_strides[g].push_back({column, v - first, static_cast<std::int32_t>(stride)});
        }
      }
    }
    const int m = static_cast<int>(stay.size());
    const std::int64_t completions = g < static_cast<int>(model.complete_cell_count.size())
                                         ? static_cast<std::int64_t>(model.complete_cell_count[g])
                                         : 0;
    cells_size += 2.0 * static_cast<double>(completions) * m;  // by rows and by columns
    run.context.CheckMemory(cells_size * sizeof(std::int32_t));
    std::fill(category.begin(), category.end(), 0);
    SubgroupCategories(model, g, category);
    std::vector<std::int32_t>& cells = est.subgroup_cells[g];
    cells.resize(static_cast<std::size_t>(completions) * m);
    for (std::int64_t k = 0; k < completions; ++k) {
      for (int j = 0; j < m; ++j) {
        const int r = stay[j];
        std::int64_t index = model.submodels[r].first_cell;
        for (const auto& [v, stride] : strides[r]) {
          if (v < first || pattern[v - first] == 2) index += category[v] * stride;
        }
        cells[k * m + j] = static_cast<std::int32_t>(index);
      }
      NextCompletion(model, pattern, category);
    }
    std::vector<std::int32_t>& columns = est.subgroup_columns[g];
    columns.resize(cells.size());
    for (std::int64_t k = 0; k < completions; ++k) {
      for (int j = 0; j < m; ++j) columns[j * completions + k] = cells[k * m + j];
    }
  }

  est.completion_start.assign(patterns + 1, 0);
  std::int64_t completions = 0;
  double largest = 1;
  for (std::int64_t p = 0; p < patterns; ++p) {
    est.completion_start[p] = completions;
    const auto count =
        static_cast<std::int64_t>(model.complete_cell_count[PatternSubgroup(data, p)]);
    completions += count;
    largest = std::max(largest, static_cast<double>(count));
  }
  est.completion_start[patterns] = completions;
  const bool with_hazard = HazardWorkOf(std::as_const(run)).table >= 0;
  // A pattern of a single completion has a single cell per submodel: the passes that keep the
  // expected tables read them from a list made once.
  const bool direct = !with_hazard && subgroups == 1 && completions == patterns && patterns > 0;
  const std::size_t m = direct ? est.subgroup_submodels[0].size() : 0;
  const double direct_count = static_cast<double>(patterns) * static_cast<double>(m);
  const double direct_bytes =
      direct_count <= kMaxIntArrayCount ? direct_count * sizeof(std::int32_t) : 0.0;
  run.context.CheckMemory(cells_size * sizeof(std::int32_t) + direct_bytes);
  // The layout lives beside the fitted and expected tables and the data: together they stay
  // within the memory budget.
  run.context.KeepMemory(
      MemoryUse::kIndexMaps,
      cells_size * sizeof(std::int32_t) +
          (static_cast<double>(patterns) + 1) * sizeof(std::int64_t) + direct_bytes +
          (with_hazard ? static_cast<double>(completions) : 0.0) * sizeof(std::int32_t));
  est.posterior.assign(static_cast<std::size_t>(largest), 0.0);
  est.direct_cells.assign(direct_bytes > 0 ? static_cast<std::size_t>(direct_count) : 0, 0);
  if (direct_bytes > 0) {
    PatternCells pattern_cells(run);
    for (std::int64_t p = 0; p < patterns; ++p) {
      const std::int32_t* bases = pattern_cells.Bases(p);
      const std::int32_t* columns = pattern_cells.Columns(p);
      for (std::size_t j = 0; j < m; ++j) {
        est.direct_cells[static_cast<std::size_t>(p) * m + j] = bases[j] + columns[j];
      }
    }
  }

  if (!with_hazard) return;
  HazardWork& hazard = HazardWorkOf(run);
  // The hazard submodel's covariate cell of every completion.
  // (Counted with the layout above.)
  if (completions > kMaxIntArrayCount) StopRun("  Error: array too big to fit in memory");
  hazard.covariate_cell.assign(static_cast<std::size_t>(completions), 0);
  for (std::int64_t p = 0; p < patterns; ++p) {
    const int g = PatternSubgroup(data, p);
    const Membership& pattern = model.SubgroupPattern[g];
    SubgroupCategories(model, g, category);
    for (int v = model.ResCount; v < model.VariableCount; ++v) {
      const bool observed = v >= first && pattern[v - first] == 1;
      category[v] = observed ? data.EntryCategory(p, v - first) : 0;
    }
    const std::int64_t count = est.completion_start[p + 1] - est.completion_start[p];
    for (std::int64_t k = 0; k < count; ++k) {
      std::int64_t c = 0;
      for (const auto& [v, stride] : hazard.covariate_strides) c += category[v] * stride;
      hazard.covariate_cell[est.completion_start[p] + k] = static_cast<std::int32_t>(c);
      NextCompletion(model, pattern, category);
    }
  }
}

PatternCells::PatternCells(const EstimationRun& run)
    : run_(run), base_(static_cast<std::size_t>(run.model.SubmodelCount), 0) {}

const std::int32_t* PatternCells::Bases(std::int64_t p) {
  const EstimationState& est = run_.estimation;
  const DataStore& data = run_.data;
  const int g = PatternSubgroup(data, p);
  std::fill(base_.begin(), base_.begin() + Width(p), 0);
  const std::vector<EstimationState::ObservedStride>& strides = est.subgroup_strides[g];
  if (data.category_width == 1) {
    const std::uint8_t* category =
        data.entry_categories.data() + static_cast<std::size_t>(p) * data.category_items;
    for (const auto& s : strides) base_[s.column] += category[s.variable] * s.stride;
  } else {
    for (const auto& s : strides) base_[s.column] += data.EntryCategory(p, s.variable) * s.stride;
  }
  return base_.data();
}

const std::int32_t* PatternCells::Of(std::int64_t p) {
  const int n = run_.model.SubmodelCount;
  const int m = Width(p);
  const std::vector<int>& stay = run_.estimation.subgroup_submodels[PatternSubgroup(run_.data, p)];
  const std::int32_t* base = Bases(p);
  const std::int32_t* rows = Rows(p);
  const std::int64_t completions = Completions(p);
  cells_.assign(static_cast<std::size_t>(completions) * n, -1);
  for (std::int64_t k = 0; k < completions; ++k) {
    for (int j = 0; j < m; ++j) cells_[k * n + stay[j]] = base[j] + rows[k * m + j];
  }
  return cells_.data();
}

std::int64_t PatternCells::FirstCell(std::int64_t p) const {
  const EstimationState& est = run_.estimation;
  const DataStore& data = run_.data;
  const int g = PatternSubgroup(data, p);
  if (est.subgroup_submodels[g].empty()) return -1;
  std::int64_t cell = est.subgroup_cells[g][0];
  for (const auto& s : est.subgroup_strides[g]) {
    if (s.column == 0) cell += std::int64_t{data.EntryCategory(p, s.variable)} * s.stride;
  }
  return cell;
}

int PatternCells::Width(std::int64_t p) const {
  return static_cast<int>(run_.estimation.subgroup_submodels[PatternSubgroup(run_.data, p)].size());
}

const std::int32_t* PatternCells::Rows(std::int64_t p) const {
  return run_.estimation.subgroup_cells[PatternSubgroup(run_.data, p)].data();
}

const std::int32_t* PatternCells::Columns(std::int64_t p) const {
  return run_.estimation.subgroup_columns[PatternSubgroup(run_.data, p)].data();
}

void WriteIterationHeader(EstimationRun& run) {
  if (run.estimation.lsquared_column) {
    WriteLogLine(run.context, "  iteration   log-likelihood      stop-criterion         L-squared");
  } else {
    WriteLogLine(run.context, "  iteration   log-likelihood      stop-criterion");
  }
}

namespace {

// The expected tables from the product of every completion (value(k, cells): k the completion's
// number over all patterns, cells its submodel cells).
template <typename Value>
void AccumulateExpected(const EstimationRun& run, Value value, double* expected,
                        std::vector<double>& posterior) {
  const ModelState& model = run.model;
  const DataStore& data = run.data;
  const EstimationState& est = run.estimation;
  const int n = model.SubmodelCount;
  std::fill(expected, expected + est.FittedTable.size(), 0.0);
  posterior.resize(est.posterior.size());
  double* p = posterior.data();
  PatternCells pattern_cells(run);
  const std::int64_t patterns = data.EntryCount();
  for (std::int64_t h = 0; h < patterns; ++h) {
    const double weight = PatternWeight(data, h);
    const std::int32_t* map = pattern_cells.Of(h);
    const std::int64_t completions = pattern_cells.Completions(h);
    const std::int64_t first = est.completion_start[h];
    double sum = 0;
    for (std::int64_t k = 0; k < completions; ++k) {
      p[k] = value(first + k, map + k * n);
      sum += p[k];
    }
    if (sum <= kTableZero) continue;
    const double scale = weight / sum;
    for (std::int64_t k = 0; k < completions; ++k) {
      const double share = p[k] * scale;
      if (share == 0) continue;
      const std::int32_t* cells = map + k * n;
      for (int r = 0; r < n; ++r) {
        if (cells[r] >= 0) expected[cells[r]] += share;
      }
    }
  }
}

}  // namespace

double CompletionProduct(const double* fitted, const std::int32_t* cells, int n) {
  double value = 1;
  for (int r = 0; r < n; ++r) {
    if (cells[r] >= 0) value *= fitted[cells[r]];
  }
  return value;
}

void ExpectedCompleteTables(const EstimationRun& run, const double* fitted, double* expected,
                            std::vector<double>& posterior) {
  const int n = run.model.SubmodelCount;
  AccumulateExpected(
      run,
      [&](std::int64_t, const std::int32_t* cells) { return CompletionProduct(fitted, cells, n); },
      expected, posterior);
}

std::vector<double> CompletionProducts(const EstimationRun& run, const double* fitted) {
  const int n = run.model.SubmodelCount;
  const EstimationState& est = run.estimation;
  const std::int64_t total = est.completion_start.empty() ? 0 : est.completion_start.back();
  std::vector<double> products(total);
  PatternCells pattern_cells(run);
  for (std::int64_t h = 0; h + 1 < static_cast<std::int64_t>(est.completion_start.size()); ++h) {
    const std::int32_t* cells = pattern_cells.Of(h);
    const std::int64_t completions = pattern_cells.Completions(h);
    for (std::int64_t k = 0; k < completions; ++k) {
      products[est.completion_start[h] + k] = CompletionProduct(fitted, cells + k * n, n);
    }
  }
  return products;
}

void ExpectedCompleteTablesAfterChange(const EstimationRun& run,
                                       const std::vector<double>& products, int t,
                                       const double* factor, double* expected,
                                       std::vector<double>& posterior) {
  const ModelState& model = run.model;
  const std::int64_t first = static_cast<std::int64_t>(model.submodels[t].first_cell);
  const std::vector<int> sharing = SubmodelsSharingCells(model, t);
  AccumulateExpected(
      run,
      [&](std::int64_t k, const std::int32_t* cells) {
        double value = products[k];
        for (int r : sharing) {
          if (cells[r] >= 0) value *= factor[cells[r] - first];
        }
        return value;
      },
      expected, posterior);
}

Evaluation EvaluateModel(EstimationRun& run) { return Pass(run, PassKind::kEvaluate); }

double_double::Pair ObservedLogTerms(const EstimationRun& run) {
  const DataStore& data = run.data;
  double_double::Pair terms{0, 0};
  for (std::int64_t h = 0; h < data.EntryCount(); ++h) {
    const double weight = PatternWeight(data, h);
    if (weight > 0 &&
        (data.subgroup_total.empty() || !(data.subgroup_total[PatternSubgroup(data, h)] > 0))) {
      return {std::numeric_limits<double>::quiet_NaN(), 0};
    }
    terms = double_double::Add(terms, ObservedLogTerm(data, h));
  }
  return terms;
}

void ComputeFitSums(EstimationRun& run) {
  if (run.estimation.lsquared_column) Pass(run, PassKind::kFitSums);
}

void ForEachPosterior(const EstimationRun& run, const PosteriorSink& sink) {
  const DataStore& data = run.data;
  const EstimationState& est = run.estimation;
  const HazardWork& hazard = HazardWorkOf(run);
  const bool with_hazard = hazard.table >= 0;
  const double* fitted = est.FittedTable.data();
  const std::int32_t* covariate_cells = hazard.covariate_cell.data();
  PatternCells pattern_cells(run);
  std::optional<LogRates> log_rates;
  if (with_hazard && LogRates::Fits(run)) log_rates.emplace(run);
  std::vector<double> p;
  const std::int64_t patterns = data.EntryCount();
  for (std::int64_t h = 0; h < patterns; ++h) {
    if ((h & 1023) == 0) CheckCancel(run.context);
    const int m = pattern_cells.Width(h);
    const std::int32_t* base = pattern_cells.Bases(h);
    const std::int64_t completions = pattern_cells.Completions(h);
    p.assign(static_cast<std::size_t>(completions), 0.0);
    const HazardPattern episodes(run, hazard, with_hazard ? h : 0,
                                 log_rates ? &*log_rates : nullptr);
    const std::int32_t* covariate_cell =
        with_hazard ? covariate_cells + est.completion_start[h] : nullptr;
    const double sum = CompletionProbabilities(fitted, base, pattern_cells.Columns(h), m,
                                               completions, episodes, covariate_cell, p.data());
    if (sum <= kTableZero) continue;
    for (double& value : p) value /= sum;
    sink(h, p);
  }
}

void EStep(EstimationRun& run) {
  EstimationState& est = run.estimation;
  const double previous = est.LogLikelihood;
  est.LogLikelihood = ExpectationStep(run);
  const bool lsquared = est.lsquared_column;
  if (est.ExcludedObservations > 0) {
    WriteLogLine(run.context, "  Warning: " + FormatReal(2, 2, est.ExcludedObservations) +
                                  " observations are not used as a result of a sum");
    WriteLogLine(run.context, "            of zero of the posterior probabilities in " +
                                  FormatReal(1, 1, est.excluded_patterns) + " cells");
  }
  run.estimation.stop_criterion = est.LogLikelihood - previous;
  run.ShowProgress();
  const IterationRecord record{run.estimation.iteration, est.LogLikelihood,
                               run.estimation.stop_criterion, 2 * est.HalfLSquared, lsquared};
  est.iteration_history.push_back(record);
  WriteIterationLogLine(run.context, IterationLine(record));
}

double ExpectationStep(EstimationRun& run) { return Pass(run, PassKind::kIterate).log_likelihood; }

std::string IterationLine(const IterationRecord& record) {
  // The log drops a line's first two characters: beyond iteration 999999 the field widens, so
  // that no digit falls into that margin.
  const std::string number = FormatReal(0, 0, record.iteration);
  const int width = std::max(8, static_cast<int>(number.size()) + 2);
  // A value that fills its column (|x| of 1E9 or more) keeps a blank in front of it.
  const auto column = [](int width, double x) {
    std::string text = FormatReal(width, 8, x);
    return text[0] == ' ' ? text : " " + text;
  };
  std::string line = FormatReal(width, 0, record.iteration) + column(20, record.log_likelihood) +
                     column(20, record.stop_criterion);
  if (record.has_l_squared) line += column(18, record.l_squared);
  return line;
}

}  // namespace tav
