#include "data/generated_designs.h"

#include <gtest/gtest.h>

#include <vector>

#include "input/model_codes.h"

namespace tav {
namespace {

using Reals = std::vector<double>;

// The spe design of model_name ("3a") with p columns over variables of the given dimensions, all in
// the effect, every variable with dummy_reference `reference`. The value after the p * n design
// values must stay untouched.
Reals Build(const std::vector<int>& dims, const char* model_name, int p, int reference = -1) {
  ModelState model;
  Design design;
  model.ManifestCount = model.VariableCount = static_cast<int>(dims.size());
  int n = 1;
  for (int v = 0; v < model.VariableCount; ++v) {
    model.Dimension[v] = dims[v];
    design.DesignVariables[v] = 1;
    n *= dims[v];
  }
  design.family = DesignFamily::kSpecial;
  design.special_model = SpecialModelOf(model_name[0], model_name[1]).value();
  design.DesignCountParam = p;
  std::array<std::int32_t, kVectorSize + 1> references;
  references.fill(reference);
  Reals out(static_cast<std::size_t>(p) * n + 1, 7.0);
  BuildPrespecifiedDesign(model, design, references, out.data());
  EXPECT_EQ(out.back(), 7.0) << "written past P * n";
  out.pop_back();
  return out;
}

// Columns of indicators: cell i has 1 in column classes[i] (in none for -1).
Reals OneHot(const std::vector<int>& classes, int p) {
  const int n = static_cast<int>(classes.size());
  Reals out(static_cast<std::size_t>(p) * n, 0.0);
  for (int i = 0; i < n; ++i) {
    if (classes[i] >= 0) out[classes[i] * n + i] = 1;
  }
  return out;
}

TEST(GeneratedDesigns, SymmetryFamiliesOnThreeByThree) {
  // Cells 00 01 02 10 11 12 20 21 22.
  EXPECT_EQ(Build({3, 3}, "3a", 6), OneHot({0, 1, 2, 1, 3, 4, 2, 4, 5}, 6));        // 3a
  EXPECT_EQ(Build({3, 3}, "4a", 3), OneHot({-1, 0, 1, 0, -1, 2, 1, 2, -1}, 3));     // 4a
  EXPECT_EQ(Build({3, 3}, "5a", 3), OneHot({0, -1, -1, -1, 1, -1, -1, -1, 2}, 3));  // 5a
  const Reals diagonal{1, 0, 0, 0, 1, 0, 0, 0, 1};
  EXPECT_EQ(Build({3, 3}, "5b", 1), diagonal);                            // 5b
  EXPECT_EQ(Build({3, 3}, "4b", 1), Reals({0, 1, 1, 1, 0, 1, 1, 1, 0}));  // 4b
  EXPECT_EQ(Build({3, 3}, "3b", 1), diagonal);                            // 3b
  EXPECT_EQ(Build({2, 2, 2}, "3b", 1), Reals({3, 1, 1, 1, 1, 1, 1, 3}));  // 3b
}

TEST(GeneratedDesigns, InteractionDesigns) {
  EXPECT_EQ(Build({2, 2}, "1a", 1, -1), Reals({1, -1, -1, 1}));  // 1a, effect coding
  // 1a, reference category 1: columns (1,1), (1,2), (2,1), (2,2) of categories from 0.
  EXPECT_EQ(Build({3, 3}, "1a", 4, 1), OneHot({-1, -1, -1, -1, 0, 1, -1, 2, 3}, 4));
  // 1b: (c1 - 1) (c2 - 1/2) over cells 00 01 10 11 20 21.
  EXPECT_EQ(Build({3, 2}, "1b", 1), Reals({0.5, -0.5, 0, 0, -0.5, 0.5}));
  EXPECT_EQ(Build({3}, "1b", 0), Reals());  // P = 0 writes nothing
}

TEST(GeneratedDesigns, SumAndDistanceFamilies) {
  // 2 x 3: cells 00 01 02 10 11 12, sums 0 1 2 1 2 3.
  EXPECT_EQ(Build({2, 3}, "2a", 4), OneHot({0, 1, 2, 1, 2, 3}, 4));     // 2a
  EXPECT_EQ(Build({2, 3}, "2b", 1), Reals({0, 1, 2, 1, 2, 3}));         // 2b
  EXPECT_EQ(Build({2, 3}, "2a", 2), OneHot({0, 1, -1, 1, -1, -1}, 2));  // columns past P dropped
  // 3 x 3: c1 - c2 + 2.
  EXPECT_EQ(Build({3, 3}, "8a", 5), OneHot({2, 1, 0, 3, 2, 1, 4, 3, 2}, 5));  // 8a
  EXPECT_EQ(Build({3, 3}, "8b", 1), Reals({2, 1, 0, 3, 2, 1, 4, 3, 2}));      // 8b
  Reals distance;
  for (int c1 = 0; c1 < 4; ++c1) {
    for (int c2 = 0; c2 < 4; ++c2) distance.push_back(c1 > c2 ? c1 - c2 : c2 - c1);
  }
  EXPECT_EQ(Build({4, 4}, "9b", 1), distance);  // 9b
}

TEST(GeneratedDesigns, OrderFamilies) {
  // 6a, three 2-category variables: column j is #{c_j < c_v} - #{c_3 < c_v}.
  const Reals first{0, 1, 0, 2, -1, 0, -2, 0};
  const Reals second{0, 1, -1, 0, 0, 2, -2, 0};
  Reals both = first;
  both.insert(both.end(), second.begin(), second.end());
  EXPECT_EQ(Build({2, 2, 2}, "6a", 2), both);
  EXPECT_EQ(Build({2, 2, 2}, "6b", 1), Reals({0, 2, -1, 2, -1, 2, -4, 0}));  // 6b
  // 7a, two 3-category variables: column i is the sum of 2 - a over the positions a in
  // category i, less that over the positions in category 2.
  EXPECT_EQ(Build({3, 3}, "7a", 2),
            Reals({3, 2, 1, 1, 0, -1, -1, -2, -3, 0, 1, -1, 2, 3, 1, -2, -1, -3}));
  EXPECT_EQ(Build({3, 3}, "7b", 1), Reals({3, 3, 0, 3, 3, 0, -3, -3, -6}));  // 7b
}

}  // namespace
}  // namespace tav
