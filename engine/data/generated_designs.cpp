#include "data/generated_designs.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <map>
#include <utility>
#include <vector>

namespace tav {
namespace {

// Steps the categories c to those of the next cell, the last variable fastest.
void NextCell(std::vector<int>& c, const std::vector<int>& dims) {
  for (int v = static_cast<int>(c.size()) - 1; v >= 0; --v) {
    if (++c[v] < dims[v]) return;
    c[v] = 0;
  }
}

// True when all the categories are equal (the main diagonal; true for fewer than two).
bool OnDiagonal(const std::vector<int>& c) {
  return std::all_of(c.begin(), c.end(), [&](int x) { return x == c.front(); });
}

// Model 1a: the interaction design of the non-reference categories. Each cell has at most one
// option per variable (its own non-reference category) or, in the last category of an
// effect-coded variable, -1 on every column of that variable; the cell's non-zero columns are
// the combinations of the options.
template <typename Put>
void BuildInteraction(const std::vector<int>& vars, const std::vector<int>& dims,
                      const std::array<std::int32_t, kVectorSize + 1>& dummy_reference,
                      std::int64_t n, Put put) {
  const int k = static_cast<int>(vars.size());
  std::vector<std::vector<int>> index(k);  // per variable and category: its column digit or -1
  std::vector<bool> effect(k);
  std::vector<std::int64_t> stride(k, 1);  // the column weight of each variable's digit
  for (int v = k - 1; v >= 0; --v) {
    const int reference = dummy_reference[vars[v]];
    effect[v] = reference == -1;
    const int skip = reference >= 1 ? reference - 1 : -1;
    index[v].assign(dims[v], -1);
    int digit = 0;
    for (int cat = 0; cat < dims[v] && digit < dims[v] - 1; ++cat) {
      if (cat != skip) index[v][cat] = digit++;
    }
    if (v + 1 < k) stride[v] = stride[v + 1] * (dims[v + 1] - 1);
  }
  std::vector<int> c(k, 0);
  std::vector<std::vector<std::pair<int, double>>> options(k);
  std::vector<int> pick(k);
  for (std::int64_t cell = 0; cell < n; ++cell, NextCell(c, dims)) {
    bool zero = false;
    for (int v = 0; v < k && !zero; ++v) {
      options[v].clear();
      if (index[v][c[v]] >= 0) {
        options[v].emplace_back(index[v][c[v]], 1.0);
      } else if (effect[v] && c[v] == dims[v] - 1) {
        for (int t = 0; t < dims[v] - 1; ++t) options[v].emplace_back(t, -1.0);
      }
      zero = options[v].empty();
    }
    if (zero) continue;
    std::fill(pick.begin(), pick.end(), 0);
    while (true) {
      std::int64_t column = 0;
      double value = 1;
      for (int v = 0; v < k; ++v) {
        column += options[v][pick[v]].first * stride[v];
        value *= options[v][pick[v]].second;
      }
      put(column, cell, value);
      int v = k - 1;
      for (; v >= 0; --v) {
        if (++pick[v] < static_cast<int>(options[v].size())) break;
        pick[v] = 0;
      }
      if (v < 0) break;
    }
  }
}

// The design being written: P columns of n cells; values outside the columns are dropped.
struct DesignColumns {
  double* out;
  std::int64_t n;
  std::int64_t p;
  void operator()(std::int64_t column, std::int64_t cell, double value) const {
    if (column >= 0 && column < p) out[column * n + cell] = value;
  }
};

// 1b: the centred product of the categories (written only when n > 1).
void PutCentredProduct(const std::vector<int>& c, const std::vector<int>& dims, std::int64_t cell,
                       const DesignColumns& put) {
  if (put.n <= 1) return;
  double value = 1;
  for (std::size_t v = 0; v < c.size(); ++v) value *= c[v] - (dims[v] - 1) / 2.0;
  put(0, cell, value);
}

// 2a: 1 in the column of the sum of the categories; 2b: the sum as a value.
void PutCategorySum(const std::vector<int>& c, bool b, std::int64_t cell,
                    const DesignColumns& put) {
  std::int64_t sum = 0;
  for (int x : c) sum += x;
  if (b) {
    put(0, cell, static_cast<double>(sum));
  } else {
    put(sum, cell, 1);
  }
}

// The symmetry families 3, 4 and 5: the column of each class (multiset of the categories),
// numbered in the order of the classes' first cells, or of each diagonal cell.
struct SymmetryColumns {
  std::map<std::vector<int>, std::int64_t> classes;
  std::int64_t next_column = 0;
};

// 3b: the agreement count; 4b: 1 off the main diagonal; 5b: 1 on it.
void PutSymmetryParameter(SpecialFamily family, const std::vector<int>& c, std::int64_t cell,
                          const DesignColumns& put) {
  const bool diagonal = OnDiagonal(c);
  if (family == SpecialFamily::kSymmetry) {
    const int k = static_cast<int>(c.size());
    int agreements = 0;
    for (int u = 0; u < k; ++u) {
      for (int v = u + 1; v < k; ++v) agreements += c[u] == c[v];
    }
    put(0, cell, agreements);
  } else if (family == SpecialFamily::kQuasiSymmetry ? !diagonal : diagonal) {
    put(0, cell, 1);
  }
}

// 3a: one column per class; 4a: the same without the main diagonal; 5a: one column per
// diagonal cell.
void PutSymmetryClass(SpecialFamily family, const std::vector<int>& c, std::int64_t cell,
                      SymmetryColumns& columns, const DesignColumns& put) {
  const bool diagonal = OnDiagonal(c);
  if ((family == SpecialFamily::kQuasiSymmetry && diagonal) ||
      (family == SpecialFamily::kDiagonal && !diagonal)) {
    return;
  }
  if (family == SpecialFamily::kDiagonal) {
    put(columns.next_column++, cell, 1);
    return;
  }
  std::vector<int> sorted = c;
  std::sort(sorted.begin(), sorted.end());
  const auto found = columns.classes.emplace(sorted, columns.next_column);
  if (found.second) ++columns.next_column;
  put(found.first->second, cell, 1);
}

// 6a: columns j = 0 .. k - 2, how many variables lie above variable j less how many lie above
// the last; 6b: their sum.
void PutVariableRanks(const std::vector<int>& c, bool b, std::int64_t cell,
                      const DesignColumns& put) {
  const int k = static_cast<int>(c.size());
  const int last = c[k - 1];
  int above_last = 0;
  for (int x : c) above_last += last < x;
  double total = 0;
  for (int j = 0; j + 1 < k; ++j) {
    int above = 0;
    for (int x : c) above += c[j] < x;
    if (b) {
      total += above - above_last;
    } else {
      put(j, cell, above - above_last);
    }
  }
  if (b) put(0, cell, total);
}

// 7a: columns i = 0 .. J - 2 against category J - 1, the positions that take each category;
// 7b: their sum.
void PutCategoryPositions(const std::vector<int>& c, const std::vector<int>& dims, bool b,
                          std::int64_t cell, const DesignColumns& put) {
  const int k = static_cast<int>(c.size());
  const int top = dims[0] - 1;
  std::vector<double> plus(std::max(top, 0), 0.0);
  double minus = 0;
  for (int a = 0; a < k; ++a) {
    if (c[a] == top) {
      minus += top - a;
    } else if (c[a] < top) {
      plus[c[a]] += top - a;
    }
  }
  double total = 0;
  for (int i = 0; i < top; ++i) {
    if (b) {
      total += plus[i] - minus;
    } else {
      put(i, cell, plus[i] - minus);
    }
  }
  if (b) put(0, cell, total);
}

// 8 and 9, the distance families: the shifted difference c_1 - c_2 + J_2 - 1 or |c_1 - c_2|,
// as a column (a) or a value (b).
void PutDistance(bool signed_distance, const std::vector<int>& c, const std::vector<int>& dims,
                 bool b, std::int64_t cell, const DesignColumns& put) {
  const int d = c[0] - c[1];
  const int number = signed_distance ? d + dims[1] - 1 : std::abs(d);
  if (b) {
    put(0, cell, number);
  } else {
    put(number, cell, 1);
  }
}

// The categories of the design's variables (those marked 1, in variable order) and n, the
// cells of their table; false when the table is empty or P * n passes the range of the index.
bool EffectCells(const ModelState& model, const Design& design, std::vector<int>& vars,
                 std::vector<int>& dims, std::int64_t& n) {
  for (int v = 0; v < kVectorSize; ++v) {
    if (design.DesignVariables[v] != 1) continue;
    vars.push_back(v);
    dims.push_back(model.Dimension[v]);
  }
  const std::int64_t limit = std::numeric_limits<std::int64_t>::max() / design.DesignCountParam;
  n = 1;
  for (int dim : dims) {
    if (dim <= 0 || n > limit / dim) return false;
    n *= dim;
  }
  return true;
}

}  // namespace

void BuildPrespecifiedDesign(const ModelState& model, const Design& design,
                             const std::array<std::int32_t, kVectorSize + 1>& dummy_reference,
                             double* out) {
  const std::int64_t p = design.DesignCountParam;
  if (p <= 0) return;
  std::vector<int> vars;
  std::vector<int> dims;
  std::int64_t n = 1;
  if (!EffectCells(model, design, vars, dims, n)) return;
  std::fill(out, out + p * n, 0.0);
  const DesignColumns put{out, n, p};

  using enum SpecialFamily;
  const SpecialFamily family = design.special_model.family;
  const bool b = design.special_model.single_parameter;
  const int k = static_cast<int>(vars.size());
  if (family == kInteraction && !b) {
    BuildInteraction(vars, dims, dummy_reference, n, put);
    return;
  }
  if ((family == kSignedDistance || family == kAbsoluteDistance) && k != 2) return;
  if ((family == kVariableRanks || family == kCategoryPositions) && k < 1) return;
  SymmetryColumns classes;
  std::vector<int> c(k, 0);
  for (std::int64_t cell = 0; cell < n; ++cell, NextCell(c, dims)) {
    switch (family) {
      case kInteraction:
        PutCentredProduct(c, dims, cell, put);
        break;
      case kCategorySum:
        PutCategorySum(c, b, cell, put);
        break;
      case kSymmetry:
      case kQuasiSymmetry:
      case kDiagonal:
        if (b) {
          PutSymmetryParameter(family, c, cell, put);
        } else {
          PutSymmetryClass(family, c, cell, classes, put);
        }
        break;
      case kVariableRanks:
        PutVariableRanks(c, b, cell, put);
        break;
      case kCategoryPositions:
        PutCategoryPositions(c, dims, b, cell, put);
        break;
      case kSignedDistance:
      case kAbsoluteDistance:
        PutDistance(family == kSignedDistance, c, dims, b, cell, put);
        break;
    }
  }
}

}  // namespace tav
