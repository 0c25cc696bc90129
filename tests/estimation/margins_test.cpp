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

// The margins of table over mask by a cell-by-cell walk (cell order within every margin cell).
std::vector<double> WalkedMargin(const Shape& s, const std::vector<double>& table, unsigned mask,
                                 std::int64_t margin_cells) {
  std::vector<double> margin(margin_cells, 0.0);
  for (std::size_t c = 0; c < table.size(); ++c) margin[s.MarginCellOf(c, mask)] += table[c];
  return margin;
}

// Shapes with runs longer than the walk's slices, more middle steps than it sums side by side,
// wide and narrow lanes, and one of 2^20 cells that the threads share: the margins, the scaling
// and the scaling with the next margin formed on the way give the walk's numbers bit for bit,
// on one thread or several.
TEST(MarginShape, LongRunsWideBlocksAndThreadsGiveTheSameBits) {
  struct Case {
    std::vector<int> dims;
    std::vector<unsigned> masks;  // empty: all
  };
  const std::vector<Case> cases = {
      {{3, 20, 700}, {}},
      {{2, 9000}, {}},
      {{40, 3, 5}, {}},
      {{5, 37, 2, 30}, {}},
      {{16, 8, 8, 16, 64}, {0x03, 0x05, 0x0A, 0x14, 0x18, 0x11}},
      {{16, 8, 8, 16, 8, 8}, {0x03, 0x21, 0x06, 0x30, 0x0C, 0x12, 0x3F, 0x00, 0x08, 0x38, 0x01}},
  };
  std::mt19937 random(29);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  for (const Case& test : cases) {
    const Shape s(test.dims);
    std::int64_t cells = 1;
    for (int d : test.dims) cells *= d;
    std::vector<double> table(cells);
    for (double& x : table) x = uniform(random) * 10;
    std::vector<unsigned> masks = test.masks;
    if (masks.empty()) {
      for (unsigned mask = 0; mask < (1U << test.dims.size()); ++mask) masks.push_back(mask);
    }
    for (std::size_t i = 0; i < masks.size(); ++i) {
      const unsigned mask = masks[i];
      const unsigned next_mask = masks[(i + 1) % masks.size()];
      const MarginShape shape(s.model, s.submodel, s.Margin(mask));
      const MarginShape next(s.model, s.submodel, s.Margin(next_mask));
      const std::vector<double> expected = WalkedMargin(s, table, mask, shape.margin_cells());
      std::vector<double> factor(shape.margin_cells());
      for (double& x : factor) x = 0.5 + uniform(random);
      std::vector<double> scaled(cells);
      for (std::int64_t c = 0; c < cells; ++c)
        scaled[c] = table[c] * factor[s.MarginCellOf(c, mask)];
      const std::vector<double> expected_next =
          WalkedMargin(s, scaled, next_mask, next.margin_cells());
      for (int threads : {1, 2, 3}) {
        std::vector<double> margin(shape.margin_cells(), -1.0);
        shape.MarginOf(table.data(), margin.data(), threads);
        EXPECT_EQ(margin, expected) << "mask " << mask << " threads " << threads;
        std::vector<double> target(cells, -1.0);
        shape.Scale(table.data(), factor.data(), target.data(), threads);
        EXPECT_EQ(target, scaled) << "mask " << mask << " threads " << threads;
        std::vector<double> next_margin(next.margin_cells(), -1.0);
        target = table;
        shape.ScaleThenMarginOf(target.data(), factor.data(), target.data(), next,
                                next_margin.data(), threads);
        EXPECT_EQ(target, scaled) << "mask " << mask << " threads " << threads;
        EXPECT_EQ(next_margin, expected_next)
            << "mask " << mask << " then " << next_mask << " threads " << threads;
      }
    }
  }
}

}  // namespace
}  // namespace tav
