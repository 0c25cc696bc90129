#ifndef TAV_ENGINE_DATA_GENERATED_DESIGNS_H_
#define TAV_ENGINE_DATA_GENERATED_DESIGNS_H_

#include <array>
#include <cstdint>

#include "core/model_state.h"

namespace tav {

// Writes the design columns of the prespecified (spe) model of `design`, a design of
// `submodel`, into out[0 .. P*n): column k at cell i is out[k * n + i]. n = the product of the
// dimensions of the design's variables (those with DesignVariables[v] == 1, in variable order,
// the first variable most significant, last fastest); P = design.DesignCountParam. All values
// start at 0. Never writes past P*n values.
//
// The model is design.special_model, named below by its digit and letter; c_v below is the
// category (from 0) of the effect's variable v at the cell, J_v its number of categories.
// dummy_reference[v] (by variable number) chooses the coding of 1a: -1 effect coding, k >= 1
// dummy coding with reference category k (from 1) skipped, 0 no category skipped (categories
// 0 .. J_v - 2 get columns).
//   1a  the interaction design of the non-reference categories, in mixed-radix order.
//   1b  one column, the centred product of the categories, prod_v (c_v - (J_v - 1) / 2);
//       written only when n > 1.
//   2a  1 in column sum_v c_v.                2b  sum_v c_v in column 0.
//   3a  one column per symmetry class (the multiset of the categories), numbered in the order
//       of the classes' first cells.
//   4a  as 3a without the main diagonal (cells whose categories are all equal stay 0).
//   5a  one column per cell of the main diagonal; the other cells stay 0.
//   6a  column j: #{v : c_j < c_v} - #{v : c_last < c_v}, c_j the category of the effect's
//       j-th variable and c_last that of its last.
//   7a  column i: the sum over the positions a (from 0) with c_a = i of (J - 1 - a), minus the
//       same sum over the positions with c_a = J - 1; J the dimension of the first variable.
//   8a  1 in column c_1 - c_2 + J_2 - 1.      9a  1 in column |c_1 - c_2|.
// The b variants have one parameter each, in column 0; these are our own definitions:
//   3b  the agreement count: the number of pairs (u < v) of the effect's variables that take
//       the same category (for two variables, the indicator of the main diagonal).
//   4b  1 at every cell off the main diagonal: one parameter shared by the off-diagonal
//       symmetry classes.
//   5b  1 at every cell on the main diagonal: one parameter shared by the diagonal cells
//       (uniform inheritance).
//   6b  the sum of the k - 1 columns of 6a (k variables): one parameter shared by them.
//   7b  the sum of the J - 1 columns of 7a: one parameter shared by them.
//   8b  c_1 - c_2 + J_2 - 1, the column number of 8a, as a value (the shifted difference,
//       from 0 to J_1 + J_2 - 2, not the signed difference).
//   9b  |c_1 - c_2|.
// 8 and 9 need exactly two variables and write nothing otherwise. A computed column outside
// 0 .. P - 1 is not written. P <= 0 or n = 0 writes nothing.
void BuildPrespecifiedDesign(const ModelState& model, const Design& design,
                             const std::array<std::int32_t, kVectorSize + 1>& dummy_reference,
                             double* out);

}  // namespace tav

#endif  // TAV_ENGINE_DATA_GENERATED_DESIGNS_H_
