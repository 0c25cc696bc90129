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
  // cell. Every margin cell adds its cells in cell order, on whichever thread, so the sums are
  // the same bits whatever the number of threads (tables of fewer than 2^20 cells take one).
  void MarginOf(const double* table, double* margin, int threads = 1) const;

  // target[c] := source[c] * factor[margin cell of c] for every cell c (target may be source).
  void Scale(const double* source, const double* factor, double* target, int threads = 1) const;

  // Scale, then next.MarginOf(target, next_margin), in one pass over the table where one
  // thread does the work or the threads can share it by next's margin cells: each cell is then
  // read and written once, while it is in the cache. next is a margin of the same table; the
  // numbers are those of the two calls.
  void ScaleThenMarginOf(const double* source, const double* factor, double* target,
                         const MarginShape& next, double* next_margin, int threads = 1) const;

  // Calls f(cell, margin_cell) for every cell in order.
  template <typename F>
  void ForEach(F f) const;

 private:
  // Scales the cells of a table by this shape's margin cells, range by range; a range that
  // starts where the last one ended costs no decoding.
  class Cursor;

  // The table is walked in blocks. The last variables form a run of variables that are all in
  // the margin or all outside it (inner_ cells); the run before it has the other membership
  // (middle_ cells, 1 when there is none). One block is middle_ x inner_ consecutive cells. When
  // the inner run is in the margin, the inner cells of every middle step fall into the margin
  // cells first, first + 1, ...; otherwise every middle step m of inner cells falls into the
  // single margin cell first + m. The variables before the two runs (outer) are counted on by
  // an odometer, which gives each block its first margin cell.
  //
  // Adds the cells of blocks from .. to - 1 into margin, for the lanes (inner run in the
  // margin) or middle steps (inner run outside it) first .. last - 1 of every block; with a
  // scaler, the cells are scaled just before they are added.
  void AddBlocks(Cursor* scaler, const double* values, double* margin, std::int64_t from,
                 std::int64_t to, std::int64_t first, std::int64_t last) const;

  // MarginOf on threads, with the cells scaled by scaler's shape on the way when there is one.
  void Pass(const MarginShape* scaler, const double* source, const double* factor, double* target,
            const double* values, double* margin, int threads) const;

  std::vector<int> dims_;              // of the submodel's variables
  std::vector<std::int64_t> strides_;  // margin stride per submodel variable (0 if not in it)
  std::int64_t cells_ = 1;
  std::int64_t margin_cells_ = 1;
  std::int64_t inner_ = 1;
  std::int64_t middle_ = 1;
  bool inner_in_margin_ = false;
  int outer_count_ = 0;  // variables 0 .. outer_count_ - 1 are outer
  // The first outer variable in the margin (-1 if none): blocks that differ in its category
  // add into different margin cells. Each of its categories takes split_blocks_ consecutive
  // blocks, split_prefixes_ times over (once per category of the outer variables before it).
  int split_ = -1;
  std::int64_t split_blocks_ = 1;
  std::int64_t split_prefixes_ = 1;
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

// The mixed-radix index, in a table over the variables marked in vars (variable order, last
// fastest), of the cell whose categories (from 0) are category[v] per variable v.
std::int64_t CellIndex(const ModelState& model, const Membership& vars, const int* category);

}  // namespace tav

#endif  // TAV_ENGINE_ESTIMATION_MARGINS_H_
