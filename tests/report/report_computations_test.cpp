#include "report/report_computations.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/format_real.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::FittedModel;

// Upper tails in closed form: 2 df exp(-x/2); 4 df exp(-x/2)(1 + x/2); 1 df erfc(sqrt(x/2));
// 3 df erfc(sqrt(x/2)) + sqrt(2x/pi) exp(-x/2).
double ExactTail(int df, double x) {
  const double pi = 3.14159265358979323846;
  switch (df) {
    case 1:
      return std::erfc(std::sqrt(x / 2));
    case 2:
      return std::exp(-x / 2);
    case 3:
      return std::erfc(std::sqrt(x / 2)) + std::sqrt(2 * x / pi) * std::exp(-x / 2);
    default:
      return std::exp(-x / 2) * (1 + x / 2);
  }
}

TEST(ChiSquaredProbability, AgreesWithClosedFormsToTheSeriesAccuracy) {
  for (int df : {1, 2, 3, 4}) {
    for (double x : {0.01, 0.5, 1.0, 3.0, 7.5, 15.0, 30.0, 60.0}) {
      EXPECT_NEAR(ChiSquaredProbability(df, x), ExactTail(df, x), 2e-6) << df << " " << x;
    }
  }
}

TEST(ChiSquaredProbability, PublishedFivePercentPoints) {
  // Upper 5% points of the chi-squared table.
  const std::pair<int, double> points[] = {{1, 3.841},  {2, 5.991},   {3, 7.815},
                                           {5, 11.070}, {10, 18.307}, {30, 43.773}};
  for (const auto& [df, x] : points) {
    EXPECT_EQ(FormatReal(4, 4, ChiSquaredProbability(df, x)), "0.0500") << df;
  }
  EXPECT_EQ(FormatReal(4, 4, ChiSquaredProbability(1, 6.635)), "0.0100");
  EXPECT_EQ(FormatReal(4, 4, ChiSquaredProbability(100, 124.342)), "0.0500");
}

TEST(ChiSquaredProbability, ExactBranches) {
  EXPECT_EQ(ChiSquaredProbability(3, 0.0), 1.0);
  // A statistic below 0 is a perfect fit up to rounding: every chi-squared value exceeds it.
  EXPECT_EQ(ChiSquaredProbability(3, -1e-15), 1.0);
  EXPECT_EQ(ChiSquaredProbability(3, -1.0), 1.0);
  EXPECT_EQ(ChiSquaredProbability(0, 0.0), 0.0);
  EXPECT_EQ(ChiSquaredProbability(0, 5.0), 0.0);
  EXPECT_EQ(ChiSquaredProbability(-2, 5.0), 0.0);
  // More than 100 df: beyond 4 sqrt(2 df) of df the answer is 1 or 0 without the series.
  EXPECT_EQ(ChiSquaredProbability(200, 100.0), 1.0);  // 200 - 80 = 120 > 100
  EXPECT_EQ(ChiSquaredProbability(200, 281.0), 0.0);
  EXPECT_NEAR(ChiSquaredProbability(200, 200.0), 0.4867, 1e-4);
  // A negligible leading factor (h <= -25): 1 below the mean, 0 above it.
  EXPECT_EQ(ChiSquaredProbability(1, 1e-30), 1.0);
  EXPECT_EQ(ChiSquaredProbability(2, 200.0), 0.0);
  EXPECT_EQ(ChiSquaredProbability(60, 1.0), 1.0);
  // Degrees of freedom beyond a 32-bit integer, and on both sides of the change of method
  // (R 4: pchisq(x, df, lower.tail = FALSE)).
  EXPECT_NEAR(ChiSquaredProbability(1000000, 1001000.0), 0.239676804825521, 1e-7);
  EXPECT_NEAR(ChiSquaredProbability(1000000, 999000.0), 0.760176731459873, 1e-7);
  EXPECT_NEAR(ChiSquaredProbability(1000001, 1001501.0), 0.14443560642534, 1e-7);
  EXPECT_NEAR(ChiSquaredProbability(2000000, 2002000.0), 0.15865521363166, 1e-7);
  const std::int64_t df = 5559060566555456;  // 3^33 cells less 67 parameters
  EXPECT_NEAR(ChiSquaredProbability(df, df + 0.5 * std::sqrt(2.0 * df)), 0.308537536305175, 1e-7);
  // Non-finite statistics give 0, never NaN.
  EXPECT_EQ(ChiSquaredProbability(2, HUGE_VAL), 0.0);
  EXPECT_EQ(ChiSquaredProbability(2, std::nan("")), 0.0);
}

// Two latent classes and two dichotomous items. P(X) x N = 60, 40; P(A = 1 | X) = 0.8, 0.3;
// P(B = 1 | X) = 0.9, 0.2.
constexpr const char* kLatent = "lat 1 man 2 dim 2 2 2 mod X A|X B|X\ndat [ 40 15 10 35 ]\n";
void FillLatent(FittedModel& f) {
  // A|X and B|X: cells (X, item) with the item fastest.
  f.SetFitted({60, 40, 0.8, 0.2, 0.3, 0.7, 0.9, 0.1, 0.2, 0.8});
}

TEST(EstimatedFrequencies, LatentClassCompletionsAndMargins) {
  FittedModel f(kLatent);
  ASSERT_EQ(f.message, "");
  FillLatent(f);
  std::vector<double> completions;
  // A = 1, B = 2: 60 x 0.8 x 0.1 = 4.8 in class 1, 40 x 0.3 x 0.8 = 9.6 in class 2.
  EXPECT_NEAR(EstimatedObservedFrequency(f.run, 0, 1.0, completions), 14.4, 1e-12);
  ASSERT_EQ(completions.size(), 2u);
  EXPECT_NEAR(completions[0], 4.8, 1e-12);
  EXPECT_NEAR(completions[1], 9.6, 1e-12);
  // Complete table X, A, B (B fastest): cell (2, 2, 1) = 40 x 0.7 x 0.2 = 5.6.
  EXPECT_NEAR(EstimatedCellFrequency(f.run, 4 + 2 + 0), 5.6, 1e-12);
  // Margin over A: class 1 gives 48 and 12, class 2 gives 12 and 28.
  std::vector<double> margin{-1};
  Membership a{};
  a[1] = 1;
  CollapseTable(f.run, a, margin, 1);
  ASSERT_EQ(margin.size(), 3u);
  EXPECT_EQ(margin[0], -1);
  EXPECT_NEAR(margin[1], 60, 1e-12);
  EXPECT_NEAR(margin[2], 40, 1e-12);
  // Margin over X and B.
  Membership xb{};
  xb[0] = xb[2] = 1;
  std::vector<double> table;
  CollapseTable(f.run, xb, table, 0);
  const std::vector<double> expected{54, 6, 8, 32};
  ASSERT_EQ(table.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(table[i], expected[i], 1e-12);
}

TEST(EstimatedFrequencies, ZeroFittedValueGivesExactlyZero) {
  FittedModel f(kLatent);
  FillLatent(f);
  f.run.estimation.FittedTable[1] = 0;  // class 2 is empty
  EXPECT_EQ(EstimatedCellFrequency(f.run, 4), 0.0);
  EXPECT_NEAR(EstimatedObservedFrequency(f.run, 0, 0.0), 60 * 0.8 * 0.9, 1e-12);
}

TEST(EstimatedFrequencies, SubgroupsDropOrCarryUnobservedVariables) {
  // K = 1 observes A and B, K = 2 only A; B|A drops out of subgroup 2 (B is not carried).
  FittedModel f(
      "res 1 man 2 dim 2 2 3 lab K A B sub AB A mod A B|A K|A\n"
      "dat [ 30 15 25 10 20 40 35 25 ]\n");
  ASSERT_EQ(f.message, "");
  f.SetFitted({105, 95, 30. / 70, 15. / 70, 25. / 70, 10. / 70, 20. / 70, 40. / 70, 70. / 105,
               70. / 95, 35. / 105, 25. / 95});
  EXPECT_NEAR(EstimatedObservedFrequency(f.run, 0, 5.0), 40, 1e-9);
  EXPECT_NEAR(EstimatedObservedFrequency(f.run, 1, 0.0), 35, 1e-9);
  EXPECT_NEAR(EstimatedObservedFrequency(f.run, 1, 1.0), 25, 1e-9);
  // The complete table K, A, B: (K = 2, A = 1, B = 3) = 105 x 25/70 x 35/105 = 12.5.
  EXPECT_NEAR(EstimatedCellFrequency(f.run, 6 + 2), 12.5, 1e-9);
}

TEST(EstimatedFrequencies, CarriedVariablesRunInsideTheLatentClasses) {
  // With `wpo` every unobserved variable is carried: subgroup 2 sums over B (mark 2).
  FittedModel f(
      "res 1 lat 1 man 2 dim 2 2 2 2 lab K X A B sub AB A mod X A|X B|X K\n"
      "dat [ 1 2 3 4 5 6 ] wpo post.txt\n");
  ASSERT_EQ(f.message, "");
  ASSERT_EQ(f.run.model.SubgroupPattern[1][1], 2);
  // X: 60, 40; A|X; B|X; K: 0.75, 0.25.
  f.SetFitted({60, 40, 0.8, 0.2, 0.3, 0.7, 0.9, 0.1, 0.2, 0.8, 0.75, 0.25});
  std::vector<double> completions;
  // Subgroup 2 (K = 2), A = 2: class 1 B = 1, 2; class 2 B = 1, 2.
  const double sum = EstimatedObservedFrequency(f.run, 1, 1.0, completions);
  const std::vector<double> expected{60 * 0.2 * 0.9 * 0.25, 60 * 0.2 * 0.1 * 0.25,
                                     40 * 0.7 * 0.2 * 0.25, 40 * 0.7 * 0.8 * 0.25};
  ASSERT_EQ(completions.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(completions[i], expected[i], 1e-12);
  EXPECT_NEAR(sum, (60 * 0.2 + 40 * 0.7) * 0.25, 1e-12);
}

TEST(ConditionalLabel, DependentBarConditioning) {
  FittedModel f("lat 1 man 3 dim 2 2 2 2 mod X A|X BC|AX\ndat [ 1 2 3 4 5 6 7 8 ]\n");
  ASSERT_EQ(f.message, "");
  EXPECT_EQ(ConditionalLabel(f.run, 0), "P(X)");
  EXPECT_EQ(ConditionalLabel(f.run, 1), "P(A|X)");
  EXPECT_EQ(ConditionalLabel(f.run, 2), "P(BC|XA)");
  FittedModel g("man 2 dim 2 2 lab Aa Bb mod Aa.Bb\ndat [ 1 2 3 4 ]\n");
  ASSERT_EQ(g.message, "");
  EXPECT_EQ(ConditionalLabel(g.run, 0), "P(Aa.Bb)");
}

struct Counted {
  explicit Counted(const std::string& model) { message = testing::ParseModelText(run, model, dir); }
  std::int64_t operator()(int t) const { return CountSubmodelParameters(run, t); }
  testing::TempDir dir;
  ProgramRun run;
  std::string message;
};

TEST(CountSubmodelParameters, HierarchicalAndConditionalSubmodels) {
  // {AB, BC} in a 2 x 3 x 4 table: 1 + 1 + 2 + 3 + 2 + 6 = 15.
  Counted hierarchical("man 3 dim 2 3 4 mod {AB,BC}");
  ASSERT_EQ(hierarchical.message, "");
  EXPECT_EQ(hierarchical(0), 15);
  // Saturated conditional B|A (2 x 3): 2 x (3 - 1) = 4 free probabilities; C|AB {AC,BC}:
  // C, AC and BC add 3 + 3 + 6.
  Counted conditional("man 3 dim 2 3 4 mod A B|A C|AB {AC,BC}");
  ASSERT_EQ(conditional.message, "");
  EXPECT_EQ(conditional(0), 2);
  EXPECT_EQ(conditional(1), 4);
  EXPECT_EQ(conditional(2), 12);
  // Independence: 1 + 1 + 2.
  Counted independence("man 2 dim 2 3 mod {A,B}");
  EXPECT_EQ(independence(0), 4);
}

TEST(CountSubmodelParameters, TiedAndFixedSubmodelsAddNothing) {
  // C|A tied to B|A by eq1 shares its parameters.
  Counted tied("man 3 dim 2 3 3 mod A B|A C|A eq1 B|A");
  ASSERT_EQ(tied.message, "");
  EXPECT_EQ(tied(1), 4);
  EXPECT_EQ(tied(2), 0);
  // Equality-restricted submodels are counted with the restricted parameters.
  Counted equal("man 2 dim 2 3 mod A B|A eq3");
  ASSERT_EQ(equal.message, "");
  EXPECT_EQ(equal(1), 0);
}

}  // namespace
}  // namespace tav
