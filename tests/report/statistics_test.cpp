#include "report/statistics.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace tav {
namespace {

using testing::FittedModel;

// The statistics section as the report writes it.
void WriteStatistics(RunState& run) {
  WriteStatisticsSection(ComputeStatistics(run), run.model, run.context.ReportFile);
}

// Independence in a 2 x 3 table: the fitted values are row total x column total / N
// (rows 60 and 40, columns 30, 30 and 40, N = 100). The figures below were worked out apart
// from this code: X2 = sum (n - m)^2 / m = 13.1944, L2 = 2 sum n ln(n / m) = 13.2338, their
// tail probabilities with 2 df exp(-x / 2), the index of dissimilarity sum |n - m| / 2N = 0.16.
constexpr const char* kIndependence =
    "man 2 dim 2 3 mod {A,B}\n"
    "dat [ 10 20 30\n"
    "      20 10 10 ]\n";

void FillIndependence(FittedModel& f) {
  const std::vector<double> n{10, 20, 30, 20, 10, 10};
  const std::vector<double> m{18, 18, 24, 12, 12, 16};
  f.SetFitted(m);
  f.SetExpected(n);
  f.SetFitSums(n, m, std::vector<double>(6, 100));
  f.run.estimation.iteration = 3;
  f.run.estimation.stop_criterion = 0;
}

TEST(Statistics, IndependenceModelInATwoByThreeTable) {
  FittedModel f(kIndependence);
  FillIndependence(f);
  ASSERT_EQ(f.message, "");
  const auto lines = f.Report(WriteStatistics);
  const std::vector<std::string> expected{
      "",
      "*** STATISTICS ***",
      "",
      "  Number of iterations = 3",
      "  Converge criterion   = 0.0000000000",
      "",
      "  X-squared            = 13.1944 (0.0014)",
      "  L-squared            = 13.2338 (0.0013)",
      "  Cressie-Read         = 13.1493 (0.0014)",
      "  Dissimilarity index  = 0.1600",
      "  Degrees of freedom   = 2",
      "  Log-likelihood       = -176.19116",
      "  Number of parameters = 3 (+1)",
      "  Sample size          = 100.0",
      "  BIC(L-squared)       = 4.0235",
      "  AIC(L-squared)       = 9.2338",
      "  BIC(log-likelihood)  = 366.1978",
      "  AIC(log-likelihood)  = 358.3823",
      "",
      "WARNING: no information is provided on identification of parameters",
      "",
      "",
      "",
      "*** FREQUENCIES ***",
      "",
      "  A B     observed  estimated  std. res.",
      "  1 1      10.000     18.000     -1.886",
      "  1 2      20.000     18.000      0.471",
      "  1 3      30.000     24.000      1.225",
      "  2 1      20.000     12.000      2.309",
      "  2 2      10.000     12.000     -0.577",
      "  2 3      10.000     16.000     -1.500",
      "",
      "",
  };
  EXPECT_EQ(lines, expected);
}

TEST(Statistics, ParameterCountOfTheIndependenceModel) {
  FittedModel f(kIndependence);
  FillIndependence(f);
  const ParameterCount count = CountParameters(f.run);
  EXPECT_EQ(count.cells, 6);
  EXPECT_EQ(count.parameters, 3);
  EXPECT_EQ(count.fixed, 1);
  EXPECT_EQ(count.df, 2);
}

TEST(Statistics, TheIterationLimitBeforeConvergenceWarns) {
  FittedModel f(kIndependence);
  FillIndependence(f);
  const std::string warning = "WARNING: the iteration limit was reached before convergence";
  auto lines = f.Report(WriteStatistics);
  EXPECT_EQ(std::find(lines.begin(), lines.end(), warning), lines.end());
  f.run.estimation.iteration_limit_reached = true;
  lines = f.Report(WriteStatistics);
  EXPECT_NE(std::find(lines.begin(), lines.end(), warning), lines.end());
}

TEST(Statistics, ZeroCellsAreListedUnlessNzeAndZeroEstimatesWarn) {
  // A structural zero: cell (2, 3) is fitted 0 and observed 0.
  FittedModel f("man 2 dim 2 3 mod {AB}\ndat [ 10 20 30 20 10 0 ]\n");
  ASSERT_EQ(f.message, "");
  f.SetFitted({10, 20, 30, 20, 10, 0});
  f.SetFitSums({10, 20, 30, 20, 10}, {10, 20, 30, 20, 10}, std::vector<double>(5, 90));
  auto lines = f.Report(WriteStatistics);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "WARNING: 1 zero estimated frequencies"),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "  2 3       0.000      0.000 *    0.000"),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "  Degrees of freedom   = 0"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "  L-squared            = 0.0000 (0.0000)"),
            lines.end());

  f.run.parsed_input.settings.show_zero_cells = false;
  lines = f.Report(WriteStatistics);
  EXPECT_EQ(std::find(lines.begin(), lines.end(), "  2 3       0.000      0.000 *    0.000"),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "  2 2      10.000     10.000      0.000"),
            lines.end());
}

TEST(Statistics, SaturatedTableWithoutAModelHasNoFreeParameters) {
  // No `mod`: the table is one saturated fixed margin; every cell is a fixed parameter.
  FittedModel f("man 2 dim 2 3\ndat [ 10 20 30 20 10 10 ]\n");
  ASSERT_EQ(f.message, "");
  ASSERT_TRUE(f.run.model.submodels[0].IsSaturatedFixed());
  const ParameterCount count = CountParameters(f.run);
  EXPECT_EQ(count.df, 0);
  EXPECT_EQ(count.parameters, 0);
  EXPECT_EQ(count.fixed, 6);
}

TEST(Statistics, UnexplainedVariableGetsItsOwnSaturatedMargin) {
  // C is in no submodel: AB x C, with 3 + 1 free parameters, 8 - 5 = 3 df.
  FittedModel f("man 3 dim 2 2 2 mod AB {AB}\ndat [ 1 2 3 4 5 6 7 8 ]\n");
  ASSERT_EQ(f.message, "");
  ASSERT_EQ(f.run.model.SubmodelCount, 2);
  ASSERT_TRUE(f.run.model.submodels[1].IsSaturatedFixed());
  const ParameterCount count = CountParameters(f.run);
  EXPECT_EQ(count.df, 3);
  EXPECT_EQ(count.parameters, 4);
  EXPECT_EQ(count.fixed, 1);
}

// Missing at random in a 2 x 3 table (K = 1 observes A and B, K = 2 only A). With a
// saturated model the maximum likelihood estimates factor into complete-data pieces:
// P(A) from all 200 cases, P(B | A) from the complete cases, P(K | A) from the counts per A.
constexpr const char* kMonotone =
    "res 1 man 2 dim 2 2 3 lab K A B sub AB A mod A B|A K|A\n"
    "dat [ 30 15 25  10 20 40\n"
    "      35 25 ]\n";

void FillMonotone(FittedModel& f) {
  f.SetFitted({105, 95,                                                     // A (frequencies)
               30. / 70, 15. / 70, 25. / 70, 10. / 70, 20. / 70, 40. / 70,  // B | A
               70. / 105, 70. / 95, 35. / 105, 25. / 95});                  // K | A, K slowest
  const std::vector<double> n{30, 15, 25, 10, 20, 40, 35, 25};
  f.SetFitSums(n, n, {140, 140, 140, 140, 140, 140, 60, 60});
  f.run.estimation.iteration = 12;
  f.run.estimation.stop_criterion = 4e-7;
  f.run.estimation.random.seed_used = 4321;
}

TEST(Statistics, MonotoneMissingDataFitsExactlyWithSubgroupLines) {
  FittedModel f(kMonotone);
  FillMonotone(f);
  ASSERT_EQ(f.message, "");
  const auto lines = f.Report(WriteStatistics);
  const std::vector<std::string> head{
      "",
      "*** STATISTICS ***",
      "",
      "  Number of iterations = 12",
      "  Converge criterion   = 0.0000004000",
      "  Seed random values   = 4321",
      "",
      "  X-squared            = 0.0000 (0.0000)",
      "  L-squared            = 0.0000 (0.0000)",
      "  Cressie-Read         = 0.0000 (0.0000)",
      "  Dissimilarity index  = 0.0000",
      "  Degrees of freedom   = 0",
  };
  ASSERT_GE(lines.size(), head.size());
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + head.size()), head);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "  Number of parameters = 7 (+1)"), lines.end());
  const std::vector<std::string> frequencies{
      "*** FREQUENCIES ***",
      "",
      "* SUBGROUP K 1 *",
      "",
      "  A B     observed  estimated  std. res.",
      "  1 1      30.000     30.000      0.000",
      "  1 2      15.000     15.000      0.000",
      "  1 3      25.000     25.000      0.000",
      "  2 1      10.000     10.000      0.000",
      "  2 2      20.000     20.000      0.000",
      "  2 3      40.000     40.000      0.000",
      "",
      "  X-squared = 0.0000, L-squared = 0.0000",
      "",
      "* SUBGROUP K 2 *",
      "",
      "  A     observed  estimated  std. res.",
      "  1      35.000     35.000      0.000",
      "  2      25.000     25.000      0.000",
      "",
      "  X-squared = 0.0000, L-squared = 0.0000",
      "",
      "",
  };
  const auto at = std::find(lines.begin(), lines.end(), "*** FREQUENCIES ***");
  ASSERT_NE(at, lines.end());
  EXPECT_EQ(std::vector<std::string>(at, lines.end()), frequencies);
}

TEST(Statistics, SubgroupFitLineSumsOverTheLinesOfTheSubgroup) {
  // The same data with B independent of A among the complete cases: in subgroup 1 the
  // estimates are 70 x (column total / 140) per row: 20, 17.5, 32.5 in both rows.
  FittedModel f(kMonotone);
  ASSERT_EQ(f.message, "");
  f.SetFitted({105, 95, 40. / 140, 35. / 140, 65. / 140, 40. / 140, 35. / 140, 65. / 140, 70. / 105,
               70. / 95, 35. / 105, 25. / 95});
  const std::vector<double> n{30, 15, 25, 10, 20, 40, 35, 25};
  const std::vector<double> m{20, 17.5, 32.5, 20, 17.5, 32.5, 35, 25};
  f.SetFitSums(n, m, {140, 140, 140, 140, 140, 140, 60, 60});
  const auto lines = f.Report(WriteStatistics);
  // X2 = 2 (100 / 20 + 6.25 / 17.5) + (56.25 + 56.25) / 32.5 = 14.1758;
  // L2 = 2 (30 ln 1.5 + 15 ln(15 / 17.5) + 25 ln(25 / 32.5) + 10 ln 0.5 + 20 ln(20 / 17.5)
  //         + 40 ln(40 / 32.5)) = 14.6746.
  EXPECT_NE(std::find(lines.begin(), lines.end(), "  X-squared = 14.1758, L-squared = 14.6746"),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "  X-squared = 0.0000, L-squared = 0.0000"),
            lines.end());
}

TEST(Statistics, SwitchesAndLimitsTurnTheFrequencyTableOff) {
  FittedModel f(kIndependence);
  FillIndependence(f);
  f.run.parsed_input.settings.show_details = false;
  auto lines = f.Report(WriteStatistics);
  EXPECT_EQ(std::find(lines.begin(), lines.end(), "*** FREQUENCIES ***"), lines.end());
  EXPECT_TRUE(f.run.settings.show_frequencies);  // the settings stay as parsed

  FittedModel g(kIndependence);
  FillIndependence(g);
  g.run.parsed_input.data.entry_count_given = false;
  lines = g.Report(WriteStatistics);
  EXPECT_EQ(std::find(lines.begin(), lines.end(), "*** FREQUENCIES ***"), lines.end());
}

TEST(Statistics, NoObservationsUsedLeavesTheDissimilarityIndexOut) {
  FittedModel f(kIndependence);
  FillIndependence(f);
  f.run.estimation.ExcludedObservations = 100;
  const auto lines = f.Report(WriteStatistics);
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find("Dissimilarity"), std::string::npos) << line;
    EXPECT_EQ(line.find("Nan"), std::string::npos) << line;
    EXPECT_EQ(line.find("Inf"), std::string::npos) << line;
  }
}

TEST(Statistics, LatentClassModelCountsItsParametersAndShowsTheSeed) {
  // Two classes, four dichotomous items: 1 + 4 x 2 = 9 free parameters, 16 - 10 = 6 df.
  FittedModel f(
      "lat 1 man 4 dim 2 2 2 2 2 mod X A|X B|X C|X D|X\n"
      "dat [ 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 ]\n");
  ASSERT_EQ(f.message, "");
  const ParameterCount count = CountParameters(f.run);
  EXPECT_EQ(count.df, 6);
  EXPECT_EQ(count.parameters, 9);
  f.SetFitted(std::vector<double>(2 + 4 * 4, 0.5));
  f.run.estimation.random.seed_used = 77;
  const auto lines = f.Report(WriteStatistics);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "  Seed random values   = 77"), lines.end());
}

}  // namespace
}  // namespace tav
