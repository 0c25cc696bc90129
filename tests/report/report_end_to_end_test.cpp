// Whole runs of the engine on small inputs, with the report and the probability files
// compared against figures worked out independently.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "core/format_real.h"
#include "tav95/run_driver.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::EngineRun;

using testing::ReadLines;
using testing::RecordingPresentation;
using testing::TempDir;

TEST(ReportRun, IndependenceInATwoByThreeTable) {
  // Fitted values row total x column total / N: 18 18 24 / 12 12 16 (see the statistics tests
  // for the hand calculation of every figure).
  EngineRun e("man 2 dim 2 3 mod {A,B} dat [ 10 20 30 20 10 10 ]\n");
  ASSERT_EQ(e.status, kExitNormal) << (e.window.errors.empty() ? "" : e.window.errors[0]);
  EXPECT_EQ(e.report[5], "*** INPUT ***");
  const std::vector<std::string> fit{
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
  };
  EXPECT_EQ(e.Block("  X-squared            = 13.1944 (0.0014)"), fit);
  EXPECT_FALSE(
      e.Has("  Seed random values   = " + std::to_string(e.run.estimation.random.seed_used)));
  const std::vector<std::string> frequencies{
      "  A B     observed  estimated  std. res.", "  1 1      10.000     18.000     -1.886",
      "  1 2      20.000     18.000      0.471",  "  1 3      30.000     24.000      1.225",
      "  2 1      20.000     12.000      2.309",  "  2 2      10.000     12.000     -0.577",
      "  2 3      10.000     16.000     -1.500",
  };
  EXPECT_EQ(e.Block("  A B     observed  estimated  std. res."), frequencies);
  // Independence: A predicts nothing of B, and the first submodel gets no block.
  EXPECT_FALSE(e.Has("*** PSEUDO R-SQUARED MEASURES ***"));
  // The log notes the report's progress.
  const auto log = ReadLines(e.dir.File("log.tmp"));
  EXPECT_NE(std::find(log.begin(), log.end(), "statistics and frequencies"), log.end());
}

TEST(ReportRun, SwitchesLeaveSectionsOut) {
  EngineRun e("man 2 dim 2 3 mod A B|A dat [ 30 15 25 10 20 40 ] nec nfr\n");
  ASSERT_EQ(e.status, kExitNormal) << (e.window.errors.empty() ? "" : e.window.errors[0]);
  EXPECT_FALSE(e.Has("*** INPUT ***"));
  EXPECT_FALSE(e.Has("*** FREQUENCIES ***"));
  EXPECT_TRUE(e.Has("*** STATISTICS ***"));
  EXPECT_TRUE(e.Has("*** PSEUDO R-SQUARED MEASURES ***"));
  EXPECT_TRUE(e.Has("  entropy                 1.0607    1.0083    0.0494"));

  EngineRun quiet("man 2 dim 2 3 mod A B|A dat [ 30 15 25 10 20 40 ] nlo\n");
  ASSERT_EQ(quiet.status, kExitNormal);
  EXPECT_FALSE(quiet.Has("*** FREQUENCIES ***"));
  EXPECT_FALSE(quiet.Has("*** PSEUDO R-SQUARED MEASURES ***"));

  // nlo keeps the input and the statistics only, also of a latent class model.
  EngineRun latent(
      "lat 1 man 3 dim 2 2 2 2 mod X A|X B|X C|X see 600 dat [ 40 10 12 8 9 11 10 50 ] nlo\n");
  ASSERT_EQ(latent.status, kExitNormal);
  EXPECT_TRUE(latent.Has("*** STATISTICS ***"));
  for (const char* section : {"*** LOG-LINEAR PARAMETERS ***", "*** LATENT CLASS OUTPUT ***",
                              "*** BIVARIATE RESIDUALS ***", "*** CLASSIFICATION ***"}) {
    EXPECT_FALSE(latent.Has(section)) << section;
  }
}

// Posterior class probabilities P(X = x | a, b) computed from the fitted tables the run left:
// P(X) N, P(A | X) and P(B | X), two classes and two dichotomous items.
std::vector<double> Posterior(const RunState& run, int a, int b) {
  const std::vector<double>& f = run.estimation.FittedTable;
  std::vector<double> joint(2);
  for (int x = 0; x < 2; ++x) joint[x] = f[x] * f[2 + 2 * x + a] * f[6 + 2 * x + b];
  const double sum = joint[0] + joint[1];
  return {joint[0] / sum, joint[1] / sum};
}

TEST(ReportRun, LatentAndPosteriorFilesOfATable) {
  EngineRun e(
      "lat 1 man 2 dim 2 2 2 mod X A|X B|X see 1234\n"
      "dat [ 20 5 7 18 ] wla classes.txt wpo posterior.txt\n");
  ASSERT_EQ(e.status, kExitNormal) << (e.window.errors.empty() ? "" : e.window.errors[0]);
  const auto classes = e.Numbers("classes.txt");
  const auto posterior = e.Numbers("posterior.txt");
  ASSERT_EQ(classes.size(), 4u);
  ASSERT_EQ(posterior.size(), 4u);
  const double counts[] = {20, 5, 7, 18};
  for (int cell = 0; cell < 4; ++cell) {
    const int a = cell / 2;
    const int b = cell % 2;
    const std::vector<double> p = Posterior(e.run, a, b);
    // Categories, frequency, two class probabilities, modal class, 1 - its probability.
    ASSERT_EQ(classes[cell].size(), 7u);
    EXPECT_EQ(classes[cell][0], a + 1);
    EXPECT_EQ(classes[cell][1], b + 1);
    EXPECT_EQ(classes[cell][2], counts[cell]);
    EXPECT_NEAR(classes[cell][3], p[0], 0.5e-4);
    EXPECT_NEAR(classes[cell][4], p[1], 0.5e-4);
    const int modal = p[1] > p[0] ? 2 : 1;
    EXPECT_EQ(classes[cell][5], modal);
    EXPECT_NEAR(classes[cell][6], 1 - std::max(p[0], p[1]), 0.5e-4);
    ASSERT_EQ(posterior[cell].size(), 5u);
    EXPECT_NEAR(posterior[cell][3], p[0], 0.5e-4);
    EXPECT_NEAR(posterior[cell][4], p[1], 0.5e-4);
  }
  // The line layout: categories in 3 columns, the frequency in 10 with 4 decimals.
  EXPECT_EQ(ReadLines(e.dir.File("posterior.txt"))[0].substr(0, 16), "  1  1   20.0000");
}

TEST(ReportRun, LatentFileOfRecordsHasOneLinePerRecordWithADrawnClass) {
  const std::string records = "1 1\n1 1\n1 2\n2 2\n2 1\n2 2\n1 1\n2 2\n";
  EngineRun e("lat 1 man 2 dim 2 2 2 mod X A|X B|X rec 8 see 1234\ndat [ " + records +
              "] wla classes.txt wpo posterior.txt\n");
  ASSERT_EQ(e.status, kExitNormal) << (e.window.errors.empty() ? "" : e.window.errors[0]);
  const auto classes = e.Numbers("classes.txt");
  const auto posterior = e.Numbers("posterior.txt");
  ASSERT_EQ(classes.size(), 8u);
  ASSERT_EQ(posterior.size(), 8u);
  std::istringstream in(records);
  for (int r = 0; r < 8; ++r) {
    int a = 0;
    int b = 0;
    in >> a >> b;
    const std::vector<double> p = Posterior(e.run, a - 1, b - 1);
    // Two class probabilities, modal class and its error, drawn class and its error.
    ASSERT_EQ(classes[r].size(), 6u) << r;
    EXPECT_NEAR(classes[r][0], p[0], 0.5e-4);
    EXPECT_NEAR(classes[r][1], p[1], 0.5e-4);
    const int drawn = static_cast<int>(classes[r][4]);
    ASSERT_TRUE(drawn == 1 || drawn == 2);
    EXPECT_NEAR(classes[r][5], 1 - p[drawn - 1], 0.5e-4);
    ASSERT_EQ(posterior[r].size(), 2u);
    EXPECT_NEAR(posterior[r][0], p[0], 0.5e-4);
  }
}

}  // namespace
}  // namespace tav
