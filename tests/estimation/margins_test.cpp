#include "estimation/margins.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace tav {
namespace {

// A submodel over variables of the given numbers of categories (global variables 2, 3, ...,
// so that the submodel's variables are not the first of the model).
struct Shape {
  explicit Shape(const std::vector<int>& dims) : dims(dims) {
    for (std::size_t i = 0; i < dims.size(); ++i) {
      model.Dimension[2 + i] = dims[i];
      submodel.SubmodelVariables[2 + i] = 1;
    }
    model.Dimension[0] = 7;  // a variable outside the submodel
  }
  Membership Margin(unsigned mask) const {
    Membership margin{};
    for (std::size_t i = 0; i < dims.size(); ++i) margin[2 + i] = (mask >> i) & 1U;
    margin[0] = 1;  // outside the submodel: does not count
    return margin;
  }
  // The margin cell of cell c by decoding its categories, last variable fastest.
  std::int64_t MarginCellOf(std::int64_t c, unsigned mask) const {
    std::vector<int> category(dims.size());
    for (int i = static_cast<int>(dims.size()) - 1; i >= 0; --i) {
      category[i] = static_cast<int>(c % dims[i]);
      c /= dims[i];
    }
    std::int64_t m = 0;
    for (std::size_t i = 0; i < dims.size(); ++i) {
      if ((mask >> i) & 1U) m = m * dims[i] + category[i];
    }
    return m;
  }
  std::vector<int> dims;
  ModelState model;
  Submodel submodel;
};

// Every margin of several shapes: the sums equal, bit for bit, those of adding the non-zero
// cells one by one in cell order, and scaling multiplies every cell by its margin cell's factor.
TEST(MarginShape, MarginsAndScalingAgreeWithACellByCellWalk) {
  const std::vector<std::vector<int>> shapes = {
      {}, {5}, {2, 3}, {3, 1, 4}, {2, 3, 4, 5}, {4, 4, 4, 4, 4}, {3, 2, 5, 2, 3, 2}, {7, 6, 5}};
  std::mt19937 random(17);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  for (const auto& dims : shapes) {
    const Shape s(dims);
    std::int64_t cells = 1;
    for (int d : dims) cells *= d;
    std::vector<double> table(cells);
    for (double& x : table) x = uniform(random) < 0.2 ? 0.0 : uniform(random) * 1e3;
    for (unsigned mask = 0; mask < (1U << dims.size()); ++mask) {
      const MarginShape shape(s.model, s.submodel, s.Margin(mask));
      ASSERT_EQ(shape.cells(), cells);
      std::vector<double> expected(shape.margin_cells(), 0.0);
      for (std::int64_t c = 0; c < cells; ++c) {
        if (table[c] != 0.0) expected[s.MarginCellOf(c, mask)] += table[c];
      }
      std::vector<double> margin(shape.margin_cells(), -1.0);
      shape.MarginOf(table.data(), margin.data());
      for (std::size_t m = 0; m < margin.size(); ++m) {
        EXPECT_EQ(margin[m], expected[m]) << "mask " << mask << " cell " << m;
      }

      std::vector<double> factor(shape.margin_cells());
      for (double& x : factor) x = uniform(random);
      std::vector<double> scaled(cells);
      shape.Scale(table.data(), factor.data(), scaled.data());
      for (std::int64_t c = 0; c < cells; ++c) {
        EXPECT_EQ(scaled[c], table[c] * factor[s.MarginCellOf(c, mask)]) << "mask " << mask;
      }
      std::vector<std::int64_t> walked;
      shape.ForEach([&](std::int64_t c, std::int64_t m) {
        EXPECT_EQ(m, s.MarginCellOf(c, mask));
        walked.push_back(c);
      });
      EXPECT_EQ(static_cast<std::int64_t>(walked.size()), cells);
    }
  }
}

}  // namespace
}  // namespace tav
