// The M-steps on expected tables set by hand, against their closed forms.

#include "estimation/m_steps.h"

#include <gtest/gtest.h>

#include <vector>

#include "estimation/estimate.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::ParseText;
using testing::TempDir;

// A model parsed with its tables set up, whose expected table the test fills.
struct Tables {
  explicit Tables(const std::string& text) {
    message = ParseText(run, text, dir);
    if (message.empty()) SetUpEstimationTables(run);
  }
  double* Fitted(int r) { return run.estimation.FittedTable.data() + First(r); }
  double* Expected(int r) { return run.estimation.ExpectedTable.data() + First(r); }
  std::int64_t First(int r) const { return run.model.submodels[r].first_cell; }
  TempDir dir;
  ProgramRun run;
  std::string message;
};

TEST(IpfAdjust, OneStepMatchesTheMarginAndCarriesTheRestOfTheTable) {
  // {A,B} on 2 x 3 cells: adjusting the fitted table (start 1, or the odd shape below) to the
  // margin of A keeps the proportions within each row; the margin's parameters take the
  // factors.
  Tables t("man 2 dim 2 3 mod {A,B} dat [ 1 2 3 4 5 6 ]");
  ASSERT_EQ(t.message, "");
  const double expected[] = {10, 20, 30, 5, 15, 40};
  const double start[] = {1, 2, 3, 1, 1, 2};
  std::copy(std::begin(expected), std::end(expected), t.Expected(0));
  std::copy(std::begin(start), std::end(start), t.Fitted(0));
  // Margin 0 is A (the effect list {A,B}), margin 1 is B.
  IpfAdjust(t.run, 0, 0);
  const double* fitted = t.Fitted(0);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(fitted[c], 60.0 * start[c] / 6, 1e-12) << c;
  for (int c = 3; c < 6; ++c) EXPECT_NEAR(fitted[c], 60.0 * start[c] / 4, 1e-12) << c;
  const EstimationState& est = t.run.estimation;
  const double* parameters = est.MarginParameters.data() + est.margin_parameter_offset[0][0];
  EXPECT_NEAR(parameters[0], 60.0 / 6, 1e-12);
  EXPECT_NEAR(parameters[1], 60.0 / 4, 1e-12);
  // Then B: the column sums become 15, 35, 70; the row proportions within a column stay.
  IpfAdjust(t.run, 0, 1);
  const double column[] = {15, 35, 70};
  for (int b = 0; b < 3; ++b) {
    const double before0 = 60.0 * start[b] / 6;
    const double before1 = 60.0 * start[3 + b] / 4;
    EXPECT_NEAR(fitted[b], column[b] * before0 / (before0 + before1), 1e-12) << b;
    EXPECT_NEAR(fitted[3 + b], column[b] * before1 / (before0 + before1), 1e-12) << b;
  }
}

TEST(EqualityRestrictions, Eq3PoolsEqualProbabilitiesAndSharesTheRest) {
  // B|A with P(B = 1 | A = 1) = P(B = 1 | A = 2) and P(B = 3 | A = 2) fixed at 0.4.
  Tables t("man 2 dim 2 3 mod A B|A eq3 des [ 1 0 0 1 0 -1 ] dat [ 1 2 3 4 5 6 ]");
  ASSERT_EQ(t.message, "");
  const double expected[] = {10, 20, 30, 15, 25, 35};
  std::copy(std::begin(expected), std::end(expected), t.Expected(1));
  t.Fitted(1)[5] = 0.4;
  FitEqualityRestrictions(t.run);
  // eq3's closed form: the fixed cell leaves column 2 a share of 0.6 for 40 of its 75
  // expected, so the column counts as 75 * (1 - 35 / 75) / (1 - 0.4) = 400 / 6 for the
  // equality set (eq2 gives the exact maximum instead).
  const double column2 = 75.0 * (1 - 35.0 / 75) / 0.6;
  const double pooled = (10.0 + 15.0) / (60.0 + column2);
  const double* p = t.Fitted(1);
  EXPECT_NEAR(p[0], pooled, 1e-12);
  EXPECT_NEAR(p[3], pooled, 1e-12);
  EXPECT_NEAR(p[1], (1 - pooled) * 20 / 50, 1e-12);
  EXPECT_NEAR(p[2], (1 - pooled) * 30 / 50, 1e-12);
  EXPECT_NEAR(p[4], 1 - pooled - 0.4, 1e-12);
  EXPECT_EQ(p[5], 0.4);
}

TEST(EqualityRestrictions, Eq2ReachesTheMaximumLikelihoodEstimatesInOneStep) {
  // P(B = 1 | A) = P(B = 2 | A) within each row: the two share their row's first two counts.
  Tables t("man 2 dim 2 3 mod A B|A eq2 des [ 1 1 0 2 2 0 ] dat [ 1 2 3 4 5 6 ]");
  ASSERT_EQ(t.message, "");
  const double expected[] = {20, 24, 16, 11, 9, 30};
  std::copy(std::begin(expected), std::end(expected), t.Expected(1));
  FitEqualityRestrictionsEq2(t.run);
  const double* p = t.Fitted(1);
  const double want[] = {22.0 / 60, 22.0 / 60, 16.0 / 60, 10.0 / 50, 10.0 / 50, 30.0 / 50};
  for (int c = 0; c < 6; ++c) EXPECT_NEAR(p[c], want[c], 1e-10) << c;
}

TEST(SaturatedMargins, TakeTheExpectedTable) {
  // A is explained by no submodel: its margin is fixed at the data.
  Tables t("man 2 dim 2 2 mod B dat [ 1 2 3 4 ]");
  ASSERT_EQ(t.message, "");
  int saturated = -1;
  for (int r = 0; r < t.run.model.SubmodelCount; ++r) {
    if (t.run.model.submodels[r].IsSaturatedFixed()) saturated = r;
  }
  ASSERT_GE(saturated, 0);
  t.Expected(saturated)[0] = 3;
  t.Expected(saturated)[1] = 7;
  CopyObservedSaturated(t.run);
  EXPECT_EQ(t.Fitted(saturated)[0], 3);
  EXPECT_EQ(t.Fitted(saturated)[1], 7);
}

}  // namespace
}  // namespace tav
