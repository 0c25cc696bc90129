#include "data/design_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "core/stop_run.h"
#include "input/reader.h"

namespace tav {
namespace {

constexpr double kCellCap = 1e18;
constexpr std::int32_t kIntMax = std::numeric_limits<std::int32_t>::max();

// A count worked out from model numbers, never negative.
double NonNegative(double count) { return count > 0 ? count : 0; }

// Stops the run unless a store of size elements has room for count more: the stores are work
// arrays and obey the same limits as any other (the run's memory budget).
void CheckRealRoom(const RunContext& run, std::size_t size, double count) {
  run.CheckMemory((static_cast<double>(size) + count) * sizeof(double));
}

void CheckIntRoom(const RunContext& run, std::size_t size, double count) {
  const double total = static_cast<double>(size) + count;
  if (total > static_cast<double>(kMaxIntArrayCount)) {
    StopRun("  Error: array too big to fit in memory");
  }
  run.CheckMemory(total * sizeof(std::int32_t));
}

// Reads count reals into store; returns where they start.
std::int64_t ReadReals(Reader& reader, DataRun& run, TextFile& source, std::vector<double>& store,
                       double count) {
  count = NonNegative(count);
  CheckRealRoom(run, store.size(), count);
  const auto start = static_cast<std::int64_t>(store.size());
  const auto n = static_cast<std::int64_t>(count);
  for (std::int64_t k = 0; k < n; ++k) store.push_back(ReadReal(reader, run, source));
  return start;
}

// Reads count integers into store, each in low .. high, else the run stops with message.
std::int64_t ReadIntegers(Reader& reader, DataRun& run, TextFile& source,
                          std::vector<std::int32_t>& store, double count, double low, double high,
                          const char* message) {
  count = NonNegative(count);
  CheckIntRoom(run, store.size(), count);
  const auto start = static_cast<std::int64_t>(store.size());
  const auto n = static_cast<std::int64_t>(count);
  for (std::int64_t k = 0; k < n; ++k) {
    const std::int32_t value = ReadInteger(reader, run, source);
    if (message != nullptr && (value < low || value > high)) StopRun(message);
    store.push_back(value);
  }
  return start;
}

// Appends count zeros to the real design store (room kept for generated columns).
std::int64_t SkipReals(const RunContext& run, std::vector<double>& store, double count) {
  count = NonNegative(count);
  CheckRealRoom(run, store.size(), count);
  const auto start = static_cast<std::int64_t>(store.size());
  store.resize(store.size() + static_cast<std::size_t>(count), 0.0);
  return start;
}

// The columns of the first design of a cumulative submodel, which the user does not give:
// identity columns for the models a to d, else a column of ones and, except for model i, a
// column of centred scores.
std::int64_t GenerateCumulativeColumns(const RunContext& run, const Submodel& submodel, double n,
                                       double p, std::vector<double>& store) {
  const auto start = static_cast<std::int64_t>(store.size());
  const auto cells = static_cast<std::int64_t>(NonNegative(n));
  if (submodel.CumulativeModel.FreeThresholds()) {
    CheckRealRoom(run, store.size(), NonNegative(p) * n);
    const auto columns = static_cast<std::int64_t>(NonNegative(p));
    for (std::int64_t k = 0; k < columns; ++k) {
      for (std::int64_t c = 0; c < cells; ++c) store.push_back(c == k ? 1.0 : 0.0);
    }
  } else if (p > 0) {
    CheckRealRoom(run, store.size(), 2 * n);
    for (std::int64_t c = 0; c < cells; ++c) store.push_back(1.0);
    if (!submodel.CumulativeModel.IsNormal()) {
      for (std::int64_t k = 0; k < cells; ++k) {
        store.push_back(static_cast<double>(k) - (static_cast<double>(cells) - 2) / 2);
      }
    }
  }
  return start;
}

// The multiplier of a design for grouping: the number after the interaction letter. Effects of
// lin, log and mar submodels are never grouped.
int GroupMultiplier(const Design& design) {
  return design.IsRestriction() ? 0 : design.group_multiplier;
}

// True when design index is the last of its parameter set (its group numbers follow it).
bool EndsParameterSet(const Submodel& submodel, int index) {
  return index + 1 >= submodel.DesignTermCount() || IsFreeDesign(submodel, index + 1);
}

// True when association effect j reads the column scores of its score group: effects that
// share their column-score position share the column scores, read after the last of them.
bool EndsScoreGroup(const Submodel& submodel, int j) {
  return j + 1 >= submodel.AssocCount() ||
         submodel.assoc[j + 1].column_score_position != submodel.assoc[j].column_score_position;
}

double TableCells(const ModelState& model, const std::vector<int>& variables) {
  double cells = 1;
  for (int v : variables) cells = std::min(cells * std::max(model.Dimension[v], 0), kCellCap);
  return cells;
}

// Reads the numbers of design i of submodel v.
void ReadDesign(Reader& reader, DataRun& run, TextFile& source, int v, int i) {
  const ModelState& model = run.model;
  DesignStore& store = run.designs;
  const Submodel& submodel = model.submodels[v];
  const Design& design = submodel.designs[i];
  DesignSlot& slot = store.design_slots[v][i];
  const DesignFamily family = design.family;
  // A design reserved by the restriction letters c and d has no cells of its own: its term is
  // that of the design it was reserved for.
  const double n = design.reserved ? 1 : CodedCells(model, design.DesignVariables, 1);
  const double p = design.DesignCountParam;
  const int covariate = CovariateMark(model, design);
  const bool free = IsFreeDesign(submodel, i);

  if (submodel.IsCumulative() && i == 0) {
    slot.real_start = GenerateCumulativeColumns(run, submodel, n, p, store.real_design);
  } else if ((family == DesignFamily::kCovariate && covariate != 1) ||
             family == DesignFamily::kLinLog) {
    slot.real_start = ReadReals(reader, run, source, store.real_design, n * p);
  } else if (family == DesignFamily::kEffect) {
    slot.int_start = ReadIntegers(reader, run, source, store.int_design, n * p, 0, 0, nullptr);
  } else if (family == DesignFamily::kFactor) {
    slot.factor_start =
        ReadIntegers(reader, run, source, store.factor, n, 0, p, "  Error: wrong number in factor");
  } else if (family == DesignFamily::kMarginal) {
    // The margin specification (m2), the matrices of m3 and m4 rows and the effect's design.
    const double m2 = design.mar_extra;
    const double m3 = design.mar_b_elements;
    const double m4 = design.mar_c_elements;
    const bool targets = design.DesignRestriction.WithTargets();
    if (m2 == 0) {
      double count = m3 == 0 ? p * n : m4 == 0 ? p * m3 + m3 * n : p * m4 + m4 * m3 + m3 * n;
      if (!free && targets && n == 1) count = p;
      slot.real_start = ReadReals(reader, run, source, store.real_design, count);
    } else {
      const double a = std::fabs(m2);
      if (free) {
        double count = m3 == 0 ? a * p : m4 == 0 ? a * m3 + p * m3 : a * m3 + p * m4 + m4 * m3;
        if (targets) count += p;
        slot.real_start = ReadReals(reader, run, source, store.real_design, count);
      }
      if (free || !targets || n != 1) {
        if (m2 < 1) {
          slot.second_start = ReadReals(reader, run, source, store.second_real, a * n);
        } else {
          slot.group_start = ReadIntegers(reader, run, source, store.group, n, 0, m2,
                                          "  Error: wrong number in specification of margin");
        }
      }
    }
  } else if (family == DesignFamily::kSpecial) {
    slot.real_start = SkipReals(run, store.real_design, n * p);
  }

  const int m = GroupMultiplier(design);
  if (m != 0 && EndsParameterSet(submodel, i)) {
    const double g = CodedCells(model, design.DesignVariables, -1);
    if (m >= 1) {
      slot.group_start =
          ReadIntegers(reader, run, source, store.group, g, 0, m, "  Error: wrong number in group");
    } else if (covariate != -1) {
      slot.second_start = ReadReals(reader, run, source, store.second_real, std::fabs(m) * g);
    }
    // The designs of one specification share its group numbers.
    for (int k = i; k > 0 && !IsFreeDesign(submodel, k); --k) {
      store.design_slots[v][k - 1].group_start = slot.group_start;
      store.design_slots[v][k - 1].second_start = slot.second_start;
    }
  }
}

// Reads the user scores of association effect j of submodel v.
void ReadAssociationScores(Reader& reader, DataRun& run, TextFile& source, int v, int j) {
  const ModelState& model = run.model;
  DesignStore& store = run.designs;
  const Submodel& submodel = model.submodels[v];
  const AssocEffect& effect = submodel.assoc[j];
  AssocSlot& slot = store.assoc_slots[v][j];
  const char* message = "  Error: wrong number in association model scores/effects";
  // The second term of a pair is the first with rows and columns exchanged: the first reads the
  // numbers of both.
  if (effect.pair_second) return;
  const int r_code = effect.AssocDimensions[0];
  const int s_code = effect.AssocDimensions[1];
  const double rows = CodedCells(model, effect.AssocVariables, 1);
  const double columns = CodedCells(model, effect.AssocVariables, 2);
  if (r_code >= 1) {
    slot.row_start = ReadIntegers(reader, run, source, store.factor, rows, 1, r_code, message);
  } else if (r_code < 0) {
    slot.row_start = ReadReals(reader, run, source, store.real_design, std::fabs(r_code) * rows);
  }
  if (!EndsScoreGroup(submodel, j)) return;
  if (s_code >= 1) {
    slot.column_start = ReadIntegers(reader, run, source, store.group, columns, 0, s_code, message);
  } else if (s_code < 0) {
    slot.column_start =
        ReadReals(reader, run, source, store.second_real, std::fabs(s_code) * columns);
  }
  for (int k = j - 1; k >= 0 && !EndsScoreGroup(submodel, k); --k) {
    store.assoc_slots[v][k].column_start = slot.column_start;
  }
  // The groups: the layer group of every layer (0: no association there), or a layer design.
  const int g_code = effect.AssocDimensions[2];
  const double groups = CodedCells(model, effect.AssocVariables, 3);
  if (g_code >= 1) {
    slot.group_start = ReadIntegers(reader, run, source, store.group, groups, 0, g_code, message);
  } else if (g_code < 0) {
    slot.group_start =
        ReadReals(reader, run, source, store.second_real, std::fabs(g_code) * groups);
  }
}

// True when design i of submodel v takes numbers from the design stream.
bool DesignTakesNumbers(const ModelState& model, int v, int i) {
  const Submodel& submodel = model.submodels[v];
  const Design& design = submodel.designs[i];
  if (submodel.IsCumulative() && i == 0) return false;
  const DesignFamily family = design.family;
  const int covariate = CovariateMark(model, design);
  if ((family == DesignFamily::kCovariate && covariate != 1) || family == DesignFamily::kEffect ||
      family == DesignFamily::kFactor || family == DesignFamily::kLinLog ||
      family == DesignFamily::kMarginal) {
    return true;
  }
  const int m = GroupMultiplier(design);
  return m != 0 && EndsParameterSet(submodel, i) && (m >= 1 || covariate != -1);
}

}  // namespace

double CodedCells(const ModelState& model, const Membership& codes, int code) {
  double cells = 1;
  for (int v = 0; v < kVectorSize; ++v) {
    if (SignedCode(codes[v]) == code) {
      cells = std::min(cells * std::max(model.Dimension[v], 0), kCellCap);
    }
  }
  return cells;
}

bool IsFreeDesign(const Submodel& submodel, int index) {
  // Walk the specifications from the first design: each takes DesignSpecTerms designs that are
  // not reserved; the first of them is free.
  int remaining = 0;
  for (int i = 0; i <= index && i < submodel.DesignTermCount(); ++i) {
    const Design& design = submodel.designs[i];
    if (design.reserved) {
      if (i == index) return false;
      continue;
    }
    const bool first = remaining <= 0;
    remaining = first ? std::max(design.DesignSpecTerms, 1) - 1 : remaining - 1;
    if (i == index) return first;
  }
  return false;
}

int GroupCount(const ModelState& model, const Design& design) {
  if (design.group_multiplier != 0) return std::abs(design.group_multiplier);
  return static_cast<int>(CodedCells(model, design.DesignVariables, -1));
}

int CovariateMark(const ModelState& model, const Design& design) {
  if (model.CovariateCount <= 0 || model.VariableCount <= 0) return 0;
  const int covariate = model.VariableCount - 1;
  if (covariate >= kVectorSize) return 0;
  return SignedCode(design.DesignVariables[covariate]);
}

int UserDesignCount(const DataRun& run) {
  const ModelState& model = run.model;
  int count = 0;
  for (int v = 0; v < static_cast<int>(model.submodels.size()); ++v) {
    const Submodel& submodel = model.submodels[v];
    for (int i = 0; i < submodel.DesignTermCount(); ++i) {
      if (DesignTakesNumbers(model, v, i)) ++count;
    }
    for (int j = 0; j < submodel.AssocCount(); ++j) {
      const AssocEffect& effect = submodel.assoc[j];
      if (!effect.pair_second && (effect.AssocDimensions[0] != 0 ||
                                  (effect.AssocDimensions[1] != 0 && EndsScoreGroup(submodel, j)) ||
                                  effect.AssocDimensions[2] != 0)) {
        ++count;
      }
    }
    if (submodel.SubmodelKind == SubmodelKindCode::kEqualityRestricted) ++count;
  }
  return count;
}

void ReadDesigns(Reader& reader, DataRun& run, TextFile& source) {
  const ModelState& model = run.model;
  DesignStore& store = run.designs;
  const int designs_given_inline = store.designs_given_inline;
  store = DesignStore{};
  store.designs_given_inline = designs_given_inline;
  reader.command = "design_matrix";
  const int submodel_count = static_cast<int>(model.submodels.size());
  store.design_slots.resize(submodel_count);
  store.assoc_slots.resize(submodel_count);
  store.restriction_start.assign(submodel_count, -1);
  for (int v = 0; v < submodel_count; ++v) {
    const Submodel& submodel = model.submodels[v];
    const std::vector<int> variables = SubmodelVariableList(model, v);
    store.design_slots[v].resize(submodel.DesignTermCount());
    store.assoc_slots[v].resize(submodel.AssocCount());
    for (int i = 0; i < submodel.DesignTermCount(); ++i) ReadDesign(reader, run, source, v, i);
    for (int j = 0; j < submodel.AssocCount(); ++j) {
      ReadAssociationScores(reader, run, source, v, j);
    }
    if (submodel.SubmodelKind == SubmodelKindCode::kEqualityRestricted) {
      store.restriction_start[v] = ReadIntegers(
          reader, run, source, store.restriction_codes, TableCells(model, variables), -1, kIntMax,
          "  Error: wrong number in restrictions on (conditional) probabilities");
    }
  }
  store.read = true;
}

}  // namespace tav
