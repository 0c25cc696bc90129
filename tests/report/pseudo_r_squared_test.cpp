#include "report/pseudo_r_squared.h"

#include <gtest/gtest.h>

#include <cmath>

#include "test_support.h"

namespace tav {
namespace {

using testing::FittedModel;

// The section as the report writes it.
void WritePseudoRSquared(RunState& run, int first) {
  WritePseudoRSquaredSection(ComputePseudoRSquaredSection(run, first), run.context.ReportFile);
}

// B | A saturated: the fitted probabilities are the row proportions of the data (rows 70 and
// 70, N = 140, B margin 40, 35, 65). The block was worked out apart from this code from the
// definitions: entropy and qualitative variance of the B margin against those of the rows,
// classification error 1 - 65/140 against 1 - (30 + 40)/140, and -2/N times the
// log-likelihoods.
constexpr const char* kDependence =
    "man 2 dim 2 3 mod A B|A\n"
    "dat [ 30 15 25 10 20 40 ]\n";

void FillDependence(FittedModel& f) {
  f.SetFitted({70, 70, 30. / 70, 15. / 70, 25. / 70, 10. / 70, 20. / 70, 40. / 70});
  f.SetExpected({70, 70, 30, 15, 25, 10, 20, 40});
}

TEST(PseudoRSquared, ConditionalSubmodelBlock) {
  FittedModel f(kDependence);
  ASSERT_EQ(f.message, "");
  FillDependence(f);
  const auto lines = f.Report([](RunState& run) { WritePseudoRSquared(run, 0); });
  const std::vector<std::string> expected{
      "",
      "*** PSEUDO R-SQUARED MEASURES ***",
      "",
      "* P(B|A) *",
      "                         baseline   fitted   R-squared",
      "  entropy                 1.0607    1.0083    0.0494",
      "  qualitative variance    0.3202    0.3036    0.0518",
      "  classification error    0.5357    0.5000    0.0667",
      "  -2/N*log-likelihood     2.1215    2.0166    0.0494/0.0949",
      "  likelihood^(-2/N)       8.3433    7.5131    0.0995/0.1131",
      "",
      "",
  };
  EXPECT_EQ(lines, expected);
}

TEST(PseudoRSquared, IndependenceExplainsNothing) {
  FittedModel f(kDependence);
  ASSERT_EQ(f.message, "");
  f.SetFitted({70, 70, 40. / 140, 35. / 140, 65. / 140, 40. / 140, 35. / 140, 65. / 140});
  f.SetExpected({70, 70, 30, 15, 25, 10, 20, 40});
  const PseudoRSquared r = ComputePseudoRSquared(f.run, 1);
  EXPECT_NEAR(r.entropy_r2, 0, 1e-12);
  EXPECT_NEAR(r.variance_r2, 0, 1e-12);
  EXPECT_NEAR(r.error_r2, 0, 1e-12);
  EXPECT_NEAR(r.deviance_r2, 0, 1e-12);
  EXPECT_NEAR(r.likelihood_r2, 0, 1e-12);
  EXPECT_NEAR(r.deviance_ratio, 0, 1e-12);
}

TEST(PseudoRSquared, AllMassInOneCategoryHasNoClassificationGain) {
  FittedModel f(kDependence);
  f.SetFitted({70, 70, 1, 0, 0, 1, 0, 0});
  f.SetExpected({70, 70, 70, 0, 0, 70, 0, 0});
  const PseudoRSquared r = ComputePseudoRSquared(f.run, 1);
  EXPECT_EQ(r.error_baseline, 0);
  EXPECT_EQ(r.error_r2, 0);
  EXPECT_EQ(r.entropy_baseline, 0);
  EXPECT_EQ(r.entropy_r2, 0);
  EXPECT_EQ(r.deviance_r2, 0);
  EXPECT_EQ(r.likelihood_ratio, 0);  // baseline likelihood^(-2/N) is exactly 1
}

TEST(PseudoRSquared, EmptySubmodelGivesNumbersNotNan) {
  FittedModel f(kDependence);
  f.SetFitted({0, 0, 0, 0, 0, 0, 0, 0});
  f.SetExpected({0, 0, 0, 0, 0, 0, 0, 0});
  const auto lines = f.Report([](RunState& run) { WritePseudoRSquared(run, 0); });
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find("Nan"), std::string::npos) << line;
    EXPECT_EQ(line.find("Inf"), std::string::npos) << line;
  }
}

TEST(PseudoRSquared, FirstSubmodelAgainstAUniformBaseline) {
  // Fitted frequencies 105 and 95 of A against 100 and 100.
  FittedModel f(kDependence);
  f.SetFitted({105, 95, 0.5, 0.25, 0.25, 0.5, 0.25, 0.25});
  f.SetExpected({105, 95, 0, 0, 0, 0, 0, 0});
  const PseudoRSquared r = ComputePseudoRSquared(f.run, 0);
  EXPECT_NEAR(r.entropy_baseline, std::log(2.0), 1e-12);
  EXPECT_NEAR(r.entropy_fitted, 0.6918966592050799, 1e-12);
  EXPECT_NEAR(r.variance_baseline, 0.25, 1e-12);
  EXPECT_NEAR(r.variance_fitted, 0.249375, 1e-12);
  EXPECT_NEAR(r.error_baseline, 0.5, 1e-12);
  EXPECT_NEAR(r.error_fitted, 0.475, 1e-12);
  EXPECT_NEAR(r.deviance_baseline, 1.3862943611198906, 1e-12);
  EXPECT_NEAR(r.deviance_fitted, 1.3837933184101598, 1e-12);
}

TEST(PseudoRSquared, WhichSubmodelsGetABlock) {
  // Without the first submodel, and with a first submodel of one cell whose successor has
  // no conditioning variables, the section starts at the third submodel.
  FittedModel f("man 3 dim 2 2 2 mod A B|A C|AB\ndat [ 1 2 3 4 5 6 7 8 ]\n");
  ASSERT_EQ(f.message, "");
  f.SetFitted(std::vector<double>(2 + 4 + 8, 0.5));
  f.SetExpected(std::vector<double>(2 + 4 + 8, 1));
  auto labels = [&f](int first) {
    std::vector<std::string> found;
    for (const std::string& line :
         f.Report([first](RunState& run) { WritePseudoRSquared(run, first); })) {
      if (line.rfind("* P(", 0) == 0) found.push_back(line);
    }
    return found;
  };
  EXPECT_EQ(labels(0), (std::vector<std::string>{"* P(B|A) *", "* P(C|AB) *"}));
  EXPECT_EQ(labels(1), (std::vector<std::string>{"* P(B|A) *", "* P(C|AB) *"}));
  EXPECT_EQ(labels(2), (std::vector<std::string>{"* P(C|AB) *"}));
  EXPECT_TRUE(f.Report([](RunState& run) { WritePseudoRSquared(run, 3); }).empty());

  // A first submodel of one cell followed by a submodel whose conditioning margin has one
  // cell: without the first submodel the section starts at the third.
  FittedModel one("man 3 dim 1 2 2 mod A B|A C|AB\ndat [ 1 2 3 4 ]\n");
  ASSERT_EQ(one.message, "");
  ASSERT_EQ(one.run.model.submodels[0].cell_count, 1);
  ASSERT_EQ(one.run.model.submodels[1].condition_cells, 1);
  one.SetFitted(std::vector<double>(1 + 2 + 4, 0.5));
  one.SetExpected(std::vector<double>(1 + 2 + 4, 1));
  std::vector<std::string> blocks;
  for (const std::string& line : one.Report([](RunState& run) { WritePseudoRSquared(run, 1); })) {
    if (line.rfind("* P(", 0) == 0) blocks.push_back(line);
  }
  EXPECT_EQ(blocks, (std::vector<std::string>{"* P(C|AB) *"}));

  // A tied submodel (eq1) gets no block.
  FittedModel g(
      "man 3 dim 2 3 3 mod A B|A C|A eq1 B|A\ndat [ 1 2 3 4 5 6 7 8 9 1 2 3 4 5 6 7 8 9 ]\n");
  ASSERT_EQ(g.message, "");
  g.SetFitted(std::vector<double>(2 + 6, 0.5));
  g.SetExpected(std::vector<double>(2 + 6, 1));
  std::vector<std::string> found;
  for (const std::string& line : g.Report([](RunState& run) { WritePseudoRSquared(run, 0); })) {
    if (line.rfind("* P(", 0) == 0) found.push_back(line);
  }
  EXPECT_EQ(found, (std::vector<std::string>{"* P(B|A) *"}));
}

}  // namespace
}  // namespace tav
