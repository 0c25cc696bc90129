#include "estimation/margins.h"

#include <algorithm>

namespace tav {

MarginShape::MarginShape(const ModelState& model, const Submodel& submodel,
                         const Membership& margin) {
  std::vector<int> in_margin;
  for (int v = 0; v < kVectorSize; ++v) {
    if (submodel.SubmodelVariables[v] == 0) continue;
    dims_.push_back(std::max(model.Dimension[v], 1));
    in_margin.push_back(margin[v] != 0 ? 1 : 0);
  }
  const int m = static_cast<int>(dims_.size());
  strides_.assign(m, 0);
  std::int64_t stride = 1;
  for (int i = m - 1; i >= 0; --i) {
    cells_ *= dims_[i];
    if (in_margin[i] != 0) {
      strides_[i] = stride;
      stride *= dims_[i];
    }
  }
  margin_cells_ = stride;

  // The inner run, then the middle run of the other membership.
  int i = m - 1;
  if (m > 0) inner_in_margin_ = in_margin[m - 1] != 0;
  for (; i >= 0 && (in_margin[i] != 0) == inner_in_margin_; --i) inner_ *= dims_[i];
  for (; i >= 0 && (in_margin[i] != 0) != inner_in_margin_; --i) middle_ *= dims_[i];
  outer_count_ = i + 1;
}

void MarginShape::MarginOf(const double* table, double* margin) const {
  std::fill(margin, margin + margin_cells_, 0.0);
  // Every margin cell adds its table cells in cell order, as a plain walk would; adding a cell
  // that is 0 leaves the sum exactly as skipping it does, so no cell needs a test.
  const std::int64_t inner = inner_;
  const std::int64_t middle = middle_;
  if (inner_in_margin_) {
    ForEachBlock([&](std::int64_t cell, std::int64_t first) {
      double* sum = margin + first;
      for (std::int64_t m = 0; m < middle; ++m) {
        const double* values = table + cell + m * inner;
        for (std::int64_t k = 0; k < inner; ++k) sum[k] += values[k];
      }
    });
    return;
  }
  ForEachBlock([&](std::int64_t cell, std::int64_t first) {
    // Four margin cells at a time, each summing its own run of inner cells in order.
    std::int64_t m = 0;
    for (; m + 4 <= middle; m += 4) {
      const double* v0 = table + cell + m * inner;
      const double* v1 = v0 + inner;
      const double* v2 = v1 + inner;
      const double* v3 = v2 + inner;
      double s0 = margin[first + m];
      double s1 = margin[first + m + 1];
      double s2 = margin[first + m + 2];
      double s3 = margin[first + m + 3];
      for (std::int64_t k = 0; k < inner; ++k) {
        s0 += v0[k];
        s1 += v1[k];
        s2 += v2[k];
        s3 += v3[k];
      }
      margin[first + m] = s0;
      margin[first + m + 1] = s1;
      margin[first + m + 2] = s2;
      margin[first + m + 3] = s3;
    }
    for (; m < middle; ++m) {
      const double* values = table + cell + m * inner;
      double s = margin[first + m];
      for (std::int64_t k = 0; k < inner; ++k) s += values[k];
      margin[first + m] = s;
    }
  });
}

void MarginShape::Scale(const double* source, const double* factor, double* target) const {
  const std::int64_t inner = inner_;
  const std::int64_t middle = middle_;
  if (inner_in_margin_) {
    ForEachBlock([&](std::int64_t cell, std::int64_t first) {
      const double* f = factor + first;
      for (std::int64_t m = 0; m < middle; ++m) {
        const std::int64_t at = cell + m * inner;
        for (std::int64_t k = 0; k < inner; ++k) target[at + k] = source[at + k] * f[k];
      }
    });
    return;
  }
  ForEachBlock([&](std::int64_t cell, std::int64_t first) {
    for (std::int64_t m = 0; m < middle; ++m) {
      const double f = factor[first + m];
      const std::int64_t at = cell + m * inner;
      for (std::int64_t k = 0; k < inner; ++k) target[at + k] = source[at + k] * f;
    }
  });
}

std::int64_t CellIndex(const ModelState& model, const Membership& vars, const int* category) {
  std::int64_t index = 0;
  for (int v = 0; v < kVectorSize; ++v) {
    if (vars[v] != 0) index = index * model.Dimension[v] + category[v];
  }
  return index;
}

}  // namespace tav
