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
}

void MarginShape::MarginOf(const double* table, double* margin) const {
  std::fill(margin, margin + margin_cells_, 0.0);
  ForEach([&](std::int64_t cell, std::int64_t mc) {
    const double value = table[cell];
    if (value != 0.0) margin[mc] += value;
  });
}

void MarginShape::Scale(const double* source, const double* factor, double* target) const {
  ForEach([&](std::int64_t cell, std::int64_t mc) { target[cell] = source[cell] * factor[mc]; });
}

std::int64_t CellIndex(const ModelState& model, const Membership& vars, const int* category) {
  std::int64_t index = 0;
  for (int v = 0; v < kVectorSize; ++v) {
    if (vars[v] != 0) index = index * model.Dimension[v] + category[v];
  }
  return index;
}

}  // namespace tav
