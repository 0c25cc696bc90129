// The E-step on fitted tables set by hand, against the posterior probabilities, expected
// tables and log-likelihood worked out by Bayes' rule.

#include "estimation/e_step.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "estimation/estimate.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::ParseText;
using testing::TempDir;

// Two latent classes X and two dichotomous items A and B, independent given X.
constexpr double kClass[] = {0.6, 0.4};                    // P(X = x)
constexpr double kItemA[2][2] = {{0.8, 0.2}, {0.3, 0.7}};  // P(A = a | X = x)
constexpr double kItemB[2][2] = {{0.9, 0.1}, {0.2, 0.8}};  // P(B = b | X = x)
constexpr double kCounts[2][2] = {{40, 10}, {20, 30}};     // n(a, b)
constexpr double kTotal = 100;

double Joint(int x, int a, int b) { return kClass[x] * kItemA[x][a] * kItemB[x][b]; }
double Marginal(int a, int b) { return Joint(0, a, b) + Joint(1, a, b); }

struct LatentClassTables {
  LatentClassTables() {
    message = ParseText(run, "lat 1 man 2 dim 2 2 2 mod X A|X B|X dat [ 40 10 20 30 ]", dir);
    if (!message.empty()) return;
    SetUpEstimationTables(run);
    BuildIndexMaps(run);
    // Submodel 0 holds frequencies, the others conditional probabilities (X slowest).
    std::vector<double>& fitted = run.estimation.FittedTable;
    for (int x = 0; x < 2; ++x) {
      fitted[Cell(0, x, 0)] = kTotal * kClass[x];
      for (int y = 0; y < 2; ++y) {
        fitted[Cell(1, x, y)] = kItemA[x][y];
        fitted[Cell(2, x, y)] = kItemB[x][y];
      }
    }
    run.estimation.iteration = 0;
  }
  // The cell of submodel r (0: X, 1: XA, 2: XB) at class x and item category y.
  std::int64_t Cell(int r, int x, int y) const {
    const Submodel& submodel = run.model.submodels[r];
    return submodel.first_cell + (r == 0 ? x : 2 * x + y);
  }
  TempDir dir;
  ProgramRun run;
  std::string message;
};

TEST(EStep, ExpectedTablesAndLogLikelihoodFollowBayesRule) {
  LatentClassTables t;
  ASSERT_EQ(t.message, "");
  t.run.estimation.observed_log_terms = ObservedLogTerms(t.run);
  EStep(t.run);
  const std::vector<double>& expected = t.run.estimation.ExpectedTable;
  double log_likelihood = 0;
  double half_lsquared = 0;
  for (int a = 0; a < 2; ++a) {
    for (int b = 0; b < 2; ++b) {
      log_likelihood += kCounts[a][b] * std::log(Marginal(a, b));
      half_lsquared += kCounts[a][b] * std::log(kCounts[a][b] / (kTotal * Marginal(a, b)));
    }
  }
  for (int x = 0; x < 2; ++x) {
    double class_size = 0;
    for (int a = 0; a < 2; ++a) {
      double with_a = 0;
      for (int b = 0; b < 2; ++b) with_a += kCounts[a][b] * Joint(x, a, b) / Marginal(a, b);
      EXPECT_NEAR(expected[t.Cell(1, x, a)], with_a, 1e-12) << x << a;
      class_size += with_a;
    }
    EXPECT_NEAR(expected[t.Cell(0, x, 0)], class_size, 1e-12) << x;
    for (int b = 0; b < 2; ++b) {
      double with_b = 0;
      for (int a = 0; a < 2; ++a) with_b += kCounts[a][b] * Joint(x, a, b) / Marginal(a, b);
      EXPECT_NEAR(expected[t.Cell(2, x, b)], with_b, 1e-12) << x << b;
    }
  }
  EXPECT_NEAR(t.run.estimation.LogLikelihood, log_likelihood, 1e-10);
  EXPECT_NEAR(t.run.estimation.HalfLSquared, half_lsquared, 1e-10);
  EXPECT_EQ(t.run.estimation.stop_criterion,
            t.run.estimation.LogLikelihood);  // the previous one was 0
  // The report's sums, pattern by pattern on the same tables, agree.
  ComputeFitSums(t.run);
  EXPECT_NEAR(t.run.estimation.HalfLSquared, half_lsquared, 1e-10);
  EXPECT_NEAR(t.run.estimation.ExpectedTotal, kTotal, 1e-10);
}

TEST(EStep, PosteriorsOfEveryPatternAndAnEvaluationThatChangesNothing) {
  LatentClassTables t;
  ASSERT_EQ(t.message, "");
  std::vector<std::vector<double>> posteriors;
  ForEachPosterior(t.run, [&](std::int64_t pattern, const std::vector<double>& posterior) {
    EXPECT_EQ(pattern, static_cast<std::int64_t>(posteriors.size()));
    posteriors.push_back(posterior);
  });
  ASSERT_EQ(posteriors.size(), 4u);
  for (int a = 0; a < 2; ++a) {
    for (int b = 0; b < 2; ++b) {
      const std::vector<double>& p = posteriors[2 * a + b];
      ASSERT_EQ(p.size(), 2u);
      for (int x = 0; x < 2; ++x) EXPECT_NEAR(p[x], Joint(x, a, b) / Marginal(a, b), 1e-14);
    }
  }
  // Neither the posteriors nor an evaluation change the fit.
  EXPECT_EQ(t.run.estimation.LogLikelihood, 0);
  EXPECT_EQ(t.run.estimation.ExcludedObservations, 0);
  const EstimationState before = t.run.estimation;
  const Evaluation evaluation = EvaluateModel(t.run);
  double log_likelihood = 0;
  for (int a = 0; a < 2; ++a) {
    for (int b = 0; b < 2; ++b) log_likelihood += kCounts[a][b] * std::log(Marginal(a, b));
  }
  EXPECT_NEAR(evaluation.log_likelihood, log_likelihood, 1e-12);
  EXPECT_EQ(t.run.estimation.LogLikelihood, before.LogLikelihood);
  EXPECT_EQ(t.run.estimation.ExpectedTable, before.ExpectedTable);
  EXPECT_EQ(t.run.estimation.HalfLSquared, before.HalfLSquared);
}

TEST(IterationLine, KeepsEveryDigitOfTheIterationNumber) {
  // The log drops the first two characters of every line.
  for (const int iteration : {7, 999999, 1000000, 123456789}) {
    const std::string line = IterationLine({iteration, -12.5, 0.25, 3.0, true});
    const std::string number = std::to_string(iteration);
    const std::size_t width = std::max<std::size_t>(8, number.size() + 2);
    EXPECT_EQ(line.substr(0, width), std::string(width - number.size(), ' ') + number);
    EXPECT_EQ(line.substr(width), "        -12.50000000          0.25000000        3.00000000");
  }
}

}  // namespace
}  // namespace tav
