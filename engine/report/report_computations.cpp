#include "report/report_computations.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "core/distributions.h"
#include "core/elementary.h"
#include "core/format_real.h"
#include "core/stop_run.h"

namespace tav {
namespace {

constexpr double kLnSqrtPi = 0.57236494;

// The fitted value at a flat index of the submodel tables; 0 outside the table.
double Fitted(const RunState& run, std::int64_t index) {
  const std::vector<double>& table = run.estimation.FittedTable;
  if (index < 0 || index >= static_cast<std::int64_t>(table.size())) return 0.0;
  return table[static_cast<std::size_t>(index)];
}

// Mixed-radix weights of submodel t's own table: the cell of a category vector is
// first_cell + sum of weight[v] * category[v] (weight 0 for variables outside the submodel).
std::vector<std::int64_t> SubmodelWeights(const ModelState& model, int t) {
  const std::vector<int> variables = SubmodelVariableList(model, t);
  const int size = std::max(model.VariableCount, variables.empty() ? 1 : variables.back() + 1);
  std::vector<std::int64_t> weight(size, 0);
  std::int64_t w = 1;
  for (auto v = variables.rbegin(); v != variables.rend(); ++v) {
    weight[*v] = w;
    w *= model.Dimension[*v];
  }
  return weight;
}

std::int64_t SubmodelCell(const ModelState& model, int t, const std::vector<std::int64_t>& weight,
                          const std::vector<int>& category) {
  std::int64_t cell = model.submodels[t].first_cell;
  for (int v = 0; v < model.VariableCount; ++v) cell += weight[v] * category[v];
  return cell;
}

// Advances the categories of variables (the last fastest); false after the last combination.
bool NextCombination(const ModelState& model, const std::vector<int>& variables,
                     std::vector<int>& category) {
  for (auto v = variables.rbegin(); v != variables.rend(); ++v) {
    if (++category[*v] < model.Dimension[*v]) return true;
    category[*v] = 0;
  }
  return false;
}

bool InMargin(const Submodel& submodel, int margin, int v) {
  return margin < submodel.MarginCount() && submodel.EffectVariables[margin][v] != 0;
}

}  // namespace

// The series runs until a term no longer changes the sum. Cut off at a share of 1e-6, it lost
// the fourth decimal at a million degrees of freedom, where the terms fall slowly.
constexpr double kSeriesPrecision = 1e-17;

double ChiSquaredProbability(std::int64_t df, double x) {
  if (std::isnan(x) || df <= 0) return 0.0;
  // A statistic at or below 0 is a perfect fit (below 0 only through rounding): every
  // chi-squared value is at least as large.
  if (!(x > 0.0)) return 1.0;
  if (std::isinf(x)) return 0.0;
  const auto n = static_cast<double>(df);
  if (df > 100) {
    const double d = 4.0 * std::sqrt(2.0) * std::sqrt(n);
    if (x < n - d) return 1.0;
    if (x > n + d) return 0.0;
  }
  if (df > kLargestSeriesDf) {
    // Wilson and Hilferty: (x / df)^(1/3) is nearly normal with mean 1 - 2 / (9 df) and
    // variance 2 / (9 df); its error is far below the printed digits at these df.
    const double v = 2.0 / (9.0 * n);
    return NormalCdf(-(Pow(x / n, 1.0 / 3.0) - (1.0 - v)) / std::sqrt(v));
  }
  double a = n / 2.0;
  // ln Gamma(a + 1) = ln(a (a - 1) ... ), with ln sqrt(pi) for a half-integer a.
  double g = 0.0;
  double k = a;
  while (k > 0.0) {
    g += Log(k);
    k -= 1.0;
  }
  if (k != 0.0) g += kLnSqrtPi;
  const double b = x / 2.0;
  const double h = a * Log(b) - g - b;
  if (h <= -25.0) return n > x ? 1.0 : 0.0;
  double term = 1.0;
  double sum = 1.0;
  do {
    a += 1.0;
    term = term * b / a;
    sum += term;
  } while (term / sum > kSeriesPrecision);
  const double lower = sum * Exp(h);
  return lower > 1.0 ? 0.0 : 1.0 - lower;
}

std::int64_t ObservedCells(const ModelState& model) {
  // Counted from the numbers of categories in 64 bits (the subgroups' cell numbers stop at
  // 2^31 - 1), held at the largest 64-bit integer beyond it.
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  std::int64_t total = 0;
  for (const Membership& pattern : model.SubgroupPattern) {
    std::int64_t cells = 1;
    for (int m = 0; m < model.ManifestCount; ++m) {
      if (pattern[m] != 1) continue;
      const std::int64_t dimension = std::max(model.Dimension[model.FirstManifest() + m], 1);
      cells = cells > kMax / dimension ? kMax : cells * dimension;
    }
    total = total > kMax - cells ? kMax : total + cells;
  }
  return total;
}

std::string NotListedText(const std::string& table, double cells) {
  return "  Not listed: the " + table + " has more than " + FormatReal(0, 0, cells) + " cells.";
}

bool DataSimulated(const RunState& run) { return !run.settings.simulate_file.empty(); }

std::string NotComputedText() { return "  Not computed: the data were simulated."; }

void WriteNotComputedSection(TextFile& out, const std::string& heading) {
  out.WriteLine("");
  out.WriteLine(heading);
  out.WriteLine("");
  out.WriteLine(NotComputedText());
  out.WriteLine("");
}

bool LatentClassOutputFits(const ModelState& model) {
  const double complete_cells = static_cast<double>(model.SubgroupCount) *
                                static_cast<double>(model.ManifestCellCount) *
                                model.LatentStateCount;
  return complete_cells <= kLargestLatentClassTable;
}

const CumulativeForm* CumulativeFormOf(const ModelState& model, int t) {
  if (t < 0 || t >= static_cast<int>(model.submodels.size())) return nullptr;
  const Submodel& submodel = model.submodels[t];
  return submodel.IsCumulative() ? &submodel.CumulativeModel : nullptr;
}

bool IsNormalCumulative(const ModelState& model, int t) {
  const CumulativeForm* form = CumulativeFormOf(model, t);
  return form != nullptr && form->IsNormal();
}

bool IsDependentIn(const ModelState& model, int t, int v) {
  const Submodel& submodel = model.submodels[t];
  if (submodel.SubmodelVariables[v] == 0) return false;
  return t <= 0 || !InMargin(submodel, 0, v);
}

double EstimatedCellFrequency(const RunState& run, std::int64_t cell) {
  const ModelState& model = run.model;
  std::vector<int> category(std::max(model.VariableCount, 1), 0);
  for (int v = model.VariableCount - 1; v >= 0; --v) {
    const int d = std::max(model.Dimension[v], 1);
    category[v] = static_cast<int>(cell % d);
    cell /= d;
  }
  double product = 1.0;
  for (int t = 0; t < model.SubmodelCount && product != 0.0; ++t) {
    product *= Fitted(run, SubmodelCell(model, t, SubmodelWeights(model, t), category));
  }
  return product;
}

namespace {

// The estimated frequencies of the cells of a table of manifest variables in one subgroup:
// the categories of the `res` variables come from the subgroup, the variables the pattern
// marks 1 are set cell by cell, those marked 2 are summed over with the latent variables, and
// the submodels of those marked 0 are left out of the product.
class PatternFrequencies {
 public:
  PatternFrequencies(const RunState& run, int subgroup, const Membership& pattern)
      : run_(run), model_(run.model), pattern_(pattern), category_(kVectorSize, 0) {
    const int first = model_.FirstManifest();
    // The categories of the `res` variables: the first variable most significant.
    int rest = subgroup;
    for (int v = model_.ResCount - 1; v >= 0; --v) {
      const int d = std::max(model_.Dimension[v], 1);
      category_[v] = rest % d;
      rest /= d;
    }
    // Submodels of a variable the pattern drops sum to 1 over it and leave the product.
    for (int t = 0; t < model_.SubmodelCount; ++t) {
      bool drops = false;
      for (int v = first; v < model_.VariableCount && !drops; ++v) {
        drops = model_.submodels[t].SubmodelVariables[v] != 0 && pattern_[v - first] == 0;
      }
      if (!drops) used_.push_back(t);
    }
    for (int t : used_) weights_.push_back(SubmodelWeights(model_, t));
    // Latent variables outermost, then the carried unobserved manifest variables.
    for (int v = model_.ResCount; v < first; ++v) free_variables_.push_back(v);
    for (int v = first; v < model_.VariableCount; ++v) {
      if (pattern_[v - first] == 2) free_variables_.push_back(v);
      if (pattern_[v - first] == 1) observed_.push_back(v);
    }
  }

  // The manifest variables the pattern marks 1, in variable order.
  const std::vector<int>& Observed() const { return observed_; }
  // Sets the category of observed variable v.
  void Set(int v, int category) { category_[v] = category; }

  // The frequency of the cell the observed variables are set to, summed over its completions;
  // completions (when not null) receives every completion's.
  double Frequency(std::vector<double>* completions) {
    double sum = 0.0;
    do {
      double entry = 1.0;
      for (std::size_t i = 0; i < used_.size(); ++i) {
        entry *= Fitted(run_, SubmodelCell(model_, used_[i], weights_[i], category_));
      }
      if (completions != nullptr) completions->push_back(entry);
      sum += entry;
    } while (NextCombination(model_, free_variables_, category_));
    return sum;
  }

 private:
  const RunState& run_;
  const ModelState& model_;
  const Membership& pattern_;
  std::vector<int> category_;
  std::vector<int> used_;
  std::vector<std::vector<std::int64_t>> weights_;
  std::vector<int> free_variables_;
  std::vector<int> observed_;
};

}  // namespace

double EstimatedObservedFrequency(const RunState& run, int subgroup, const Membership& pattern,
                                  double cell, std::vector<double>& completions) {
  const ModelState& model = run.model;
  completions.clear();
  if (subgroup < 0 || subgroup >= static_cast<int>(model.SubgroupPattern.size())) return 0.0;
  PatternFrequencies frequencies(run, subgroup, pattern);

  // The categories of the observed manifest variables.
  long double size = model.ManifestCellCount;
  for (int v = model.FirstManifest(); v < model.VariableCount; ++v) {
    if (pattern[v - model.FirstManifest()] != 1) size /= model.Dimension[v];
  }
  long double remaining = cell;
  for (int v : frequencies.Observed()) {
    size /= model.Dimension[v];
    const long double c = std::floor(remaining / size);
    const int category = static_cast<int>(std::clamp<long double>(c, 0, model.Dimension[v] - 1));
    frequencies.Set(v, category);
    remaining -= category * size;
  }
  return frequencies.Frequency(&completions);
}

double EstimatedObservedFrequency(const RunState& run, int subgroup, double cell,
                                  std::vector<double>& completions) {
  const ModelState& model = run.model;
  completions.clear();
  if (subgroup < 0 || subgroup >= static_cast<int>(model.SubgroupPattern.size())) return 0.0;
  return EstimatedObservedFrequency(run, subgroup, model.SubgroupPattern[subgroup], cell,
                                    completions);
}

double EstimatedObservedFrequency(const RunState& run, int subgroup, double cell) {
  std::vector<double> completions;
  return EstimatedObservedFrequency(run, subgroup, cell, completions);
}

std::vector<double> EstimatedPatternTable(const RunState& run, int subgroup,
                                          const Membership& pattern) {
  const ModelState& model = run.model;
  if (subgroup < 0 || subgroup >= static_cast<int>(model.SubgroupPattern.size())) return {};
  PatternFrequencies frequencies(run, subgroup, pattern);
  const std::vector<int>& observed = frequencies.Observed();
  std::size_t cells = 1;
  for (int v : observed) cells *= static_cast<std::size_t>(std::max(model.Dimension[v], 1));
  run.context.CheckMemory(static_cast<double>(cells) * sizeof(double));
  std::vector<double> table(cells, 0.0);
  std::vector<int> category(kVectorSize, 0);
  for (std::size_t c = 0; c < cells; ++c) {
    for (int v : observed) frequencies.Set(v, category[v]);
    table[c] = frequencies.Frequency(nullptr);
    NextCombination(model, observed, category);
  }
  return table;
}

Membership MarginPattern(const ModelState& model, const Membership& observed) {
  const int first = model.FirstManifest();
  Membership pattern{};
  for (int v = first; v < model.VariableCount; ++v) pattern[v - first] = observed[v] ? 1 : 0;
  // Drop as many of the others as can be: a variable stays (carried, 2) when a submodel that
  // holds it is the first (frequencies, not probabilities) or has a dependent variable that is
  // not dropped. Carrying one variable can make another stay; repeat until nothing changes.
  for (bool changed = true; changed;) {
    changed = false;
    for (int t = 0; t < model.SubmodelCount; ++t) {
      const Submodel& submodel = model.submodels[t];
      bool holds_dropped = false;
      bool droppable = t > 0;
      for (int v = 0; v < model.VariableCount; ++v) {
        if (submodel.SubmodelVariables[v] == 0) continue;
        const bool dropped = model.IsManifest(v) && pattern[v - first] == 0;
        holds_dropped = holds_dropped || dropped;
        if (!dropped && IsDependentIn(model, t, v)) droppable = false;
      }
      if (!holds_dropped || droppable) continue;
      for (int v = first; v < model.VariableCount; ++v) {
        if (submodel.SubmodelVariables[v] != 0 && pattern[v - first] == 0) {
          pattern[v - first] = 2;
          changed = true;
        }
      }
    }
  }
  return pattern;
}

long double CompleteTableCells(const ModelState& model) {
  long double cells = 1;
  for (int v = 0; v < model.VariableCount; ++v) cells *= std::max(model.Dimension[v], 1);
  return cells;
}

void VisitCompleteTable(const RunState& run, const CellVisitor& visit) {
  const ModelState& model = run.model;
  const int submodels = model.SubmodelCount;
  // Every submodel's cell at the current cell of the complete table, moved along with it.
  std::vector<std::vector<std::int64_t>> weights;
  std::vector<std::int64_t> at;
  for (int t = 0; t < submodels; ++t) {
    weights.push_back(SubmodelWeights(model, t));
    at.push_back(model.submodels[t].first_cell);
  }
  std::vector<int> category(kVectorSize, 0);
  for (;;) {
    double product = 1.0;
    for (int t = 0; t < submodels && product != 0.0; ++t) product *= Fitted(run, at[t]);
    visit(category, product);
    int v = model.VariableCount - 1;
    for (; v >= 0; --v) {
      const int last = std::max(model.Dimension[v], 1) - 1;
      if (category[v] < last) {
        ++category[v];
        for (int t = 0; t < submodels; ++t) at[t] += weights[t][v];
        break;
      }
      for (int t = 0; t < submodels; ++t) at[t] -= weights[t][v] * last;
      category[v] = 0;
    }
    if (v < 0) return;
  }
}

void CollapseTable(const RunState& run, const Membership& flags, std::vector<double>& target,
                   std::int64_t offset) {
  const ModelState& model = run.model;
  std::vector<std::int64_t> weight(kVectorSize, 0);
  std::int64_t size = 1;
  for (int v = model.VariableCount - 1; v >= 0; --v) {
    if (flags[v] == 0) continue;
    weight[v] = size;
    size *= model.Dimension[v];
  }
  if (static_cast<std::int64_t>(target.size()) < offset + size) {
    target.resize(static_cast<std::size_t>(offset + size), 0.0);
  }
  std::fill(target.begin() + offset, target.begin() + offset + size, 0.0);
  VisitCompleteTable(run, [&](const std::vector<int>& category, double frequency) {
    std::int64_t at = offset;
    for (int v = 0; v < model.VariableCount; ++v) at += weight[v] * category[v];
    target[static_cast<std::size_t>(at)] += frequency;
  });
}

std::string ConditionalLabel(const RunState& run, int t) {
  const ModelState& model = run.model;
  Membership dependent{};
  Membership conditioning{};
  bool any_conditioning = false;
  for (int v = 0; v < model.VariableCount; ++v) {
    if (model.submodels[t].SubmodelVariables[v] == 0) continue;
    if (IsDependentIn(model, t, v)) {
      dependent[v] = 1;
    } else {
      conditioning[v] = 1;
      any_conditioning = true;
    }
  }
  std::string label = "P(" + TermText(model, dependent);
  if (any_conditioning) label += "|" + TermText(model, conditioning);
  return label + ")";
}

}  // namespace tav
