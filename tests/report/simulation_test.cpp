// Data drawn from a model with given parameters (sim), against the model's probabilities:
// P(A) = (1, 3) / 4 and P(B) = (1, 2, 5) / 8, independent.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "test_support.h"

namespace tav {
namespace {

using testing::EngineRun;
using testing::ReadFile;

const std::string kModel = "man 2 dim 2 3 lab A B mod {A,B} sta A [1 3] sta B [1 2 5] see 1234 ";
const double kProbability[2][3] = {{1.0 / 32, 2.0 / 32, 5.0 / 32}, {3.0 / 32, 6.0 / 32, 15.0 / 32}};

// Expected data: one record per cell with its weight, the weights summing to the count.
TEST(Simulation, ExpectedDataWeighTheCellsByTheirProbabilities) {
  const EngineRun run(kModel + "sim -1000 expected.txt");
  ASSERT_EQ(run.status, 0);
  const auto rows = run.Numbers("expected.txt");
  ASSERT_EQ(rows.size(), 6u);
  double sum = 0;
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 3u);
    const auto a = static_cast<int>(row[0]) - 1;
    const auto b = static_cast<int>(row[1]) - 1;
    EXPECT_NEAR(row[2], 1000 * kProbability[a][b], 0.6e-8);
    sum += row[2];
  }
  EXPECT_NEAR(sum, 1000, 1e-6);
  EXPECT_EQ(run.Statistic("Sample size"), 1000);
}

// Random data: 200,000 records whose cell proportions lie within four standard errors of the
// probabilities; the same seed gives the same file, byte for byte.
TEST(Simulation, RandomDataFollowTheModelAndRepeatWithTheSeed) {
  const int n = 200000;
  const EngineRun run(kModel + "sim 200000 drawn.txt");
  ASSERT_EQ(run.status, 0);
  int counts[2][3] = {};
  for (const auto& row : run.Numbers("drawn.txt")) {
    ASSERT_EQ(row.size(), 2u);
    ++counts[static_cast<int>(row[0]) - 1][static_cast<int>(row[1]) - 1];
  }
  for (int a = 0; a < 2; ++a) {
    for (int b = 0; b < 3; ++b) {
      const double p = kProbability[a][b];
      EXPECT_LT(std::fabs(counts[a][b] - n * p), 4 * std::sqrt(n * p * (1 - p))) << a << b;
    }
  }
  const EngineRun again(kModel + "sim 200000 drawn.txt");
  EXPECT_EQ(ReadFile(again.dir.File("drawn.txt")), ReadFile(run.dir.File("drawn.txt")));
}

}  // namespace
}  // namespace tav
