#ifndef TAV_ENGINE_ESTIMATION_MARGINS_H_
#define TAV_ENGINE_ESTIMATION_MARGINS_H_

#include <cstdint>
#include <vector>

#include "core/model_state.h"

namespace tav {

// A margin of a submodel's table: the submodel's cells are numbered in mixed radix over its
// variables (variable order, last fastest) and the margin's cells in mixed radix over the
// variables the margin marks, in the same order. Walking the table in cell order, the margin
// index moves by a fixed stride per variable, so no cell is ever decoded.
class MarginShape {
 public:
  MarginShape() = default;
  // The margin of submodel over the variables marked in margin (only those of the submodel
  // count).
  MarginShape(const ModelState& model, const Submodel& submodel, const Membership& margin);

  std::int64_t cells() const { return cells_; }                // cells of the submodel's table
  std::int64_t margin_cells() const { return margin_cells_; }  // cells of the margin

  // margin[0 .. margin_cells) := the sums of table[0 .. cells) over the cells of each margin
  // cell (cells that are exactly 0 are skipped).
  void MarginOf(const double* table, double* margin) const;

  // target[c] := source[c] * factor[margin cell of c] for every cell c (target may be source).
  void Scale(const double* source, const double* factor, double* target) const;

  // Calls f(cell, margin_cell) for every cell in order.
  template <typename F>
  void ForEach(F f) const;

 private:
  // The table is walked in blocks. The last variables form a run of variables that are all in
  // the margin or all outside it (inner_ cells); the run before it has the other membership
  // (middle_ cells, 1 when there is none). One block is middle_ x inner_ consecutive cells. When
  // the inner run is in the margin, the inner cells of every middle step fall into the margin
  // cells first, first + 1, ...; otherwise every middle step m of inner cells falls into the
  // single margin cell first + m. The variables before the two runs (outer) are counted on by
  // an odometer, which gives each block its first margin cell.
  template <typename F>
  void ForEachBlock(F f) const;

  std::vector<int> dims_;              // of the submodel's variables
  std::vector<std::int64_t> strides_;  // margin stride per submodel variable (0 if not in it)
  std::int64_t cells_ = 1;
  std::int64_t margin_cells_ = 1;
  std::int64_t inner_ = 1;
  std::int64_t middle_ = 1;
  bool inner_in_margin_ = false;
  int outer_count_ = 0;  // variables 0 .. outer_count_ - 1 are outer
};

template <typename F>
void MarginShape::ForEach(F f) const {
  const int m = static_cast<int>(dims_.size());
  if (m == 0) {
    f(std::int64_t{0}, std::int64_t{0});
    return;
  }
  std::vector<int> category(m, 0);
  std::int64_t margin_cell = 0;
  const int last = m - 1;
  const int last_dim = dims_[last];
  const std::int64_t last_stride = strides_[last];
  std::int64_t cell = 0;
  while (cell < cells_) {
    // The last variable runs fastest: one run of it, then carry into the others.
    std::int64_t mc = margin_cell;
    for (int k = 0; k < last_dim; ++k, ++cell, mc += last_stride) f(cell, mc);
    int i = last - 1;
    for (; i >= 0; --i) {
      if (++category[i] < dims_[i]) {
        margin_cell += strides_[i];
        break;
      }
      category[i] = 0;
      margin_cell -= strides_[i] * (dims_[i] - 1);
    }
    if (i < 0) break;
  }
}

template <typename F>
void MarginShape::ForEachBlock(F f) const {
  const std::int64_t block = middle_ * inner_;
  std::vector<int> category(outer_count_, 0);
  std::int64_t margin_cell = 0;
  for (std::int64_t cell = 0; cell < cells_; cell += block) {
    f(cell, margin_cell);
    for (int i = outer_count_ - 1; i >= 0; --i) {
      if (++category[i] < dims_[i]) {
        margin_cell += strides_[i];
        break;
      }
      category[i] = 0;
      margin_cell -= strides_[i] * (dims_[i] - 1);
    }
  }
}

// The mixed-radix index, in a table over the variables marked in vars (variable order, last
// fastest), of the cell whose categories (from 0) are category[v] per variable v.
std::int64_t CellIndex(const ModelState& model, const Membership& vars, const int* category);

}  // namespace tav

#endif  // TAV_ENGINE_ESTIMATION_MARGINS_H_
