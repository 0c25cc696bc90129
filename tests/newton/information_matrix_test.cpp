#include "newton/information_matrix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/format_real.h"
#include "core/stop_run.h"
#include "newton/newton_iteration.h"
#include "tav95/run_driver.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::ParseText;
using testing::RecordingPresentation;
using testing::TempDir;

// A run whose log lines reach window.lines.
struct LoggingRun {
  LoggingRun() {
    run.context.presentation = &window;
    run.context.arguments = {"in", "out"};
  }
  bool Logged(const std::string& start) const {
    for (const std::string& line : window.lines) {
      if (line.rfind(start, 0) == 0) return true;
    }
    return false;
  }
  ProgramRun run;
  RecordingPresentation window;
};

// Parses and estimates text, then computes the standard errors.
struct WithStandardErrors : testing::Fitted {
  explicit WithStandardErrors(const std::string& text) : Fitted(text) {
    if (!message.empty()) return;
    message = testing::StopMessageOrEmpty([this] {
      if (StandardErrorsWanted(run)) ComputeStandardErrors(run, Evaluator(run));
    });
  }
  bool Logged(const std::string& start) const { return CountLines(start) > 0; }
  double StdErr(int i) const {
    const int n = run.estimation.free_parameters.Count();
    return std::sqrt(run.newton.information_matrix[static_cast<std::size_t>(i) * n + i]);
  }
};

TEST(Inversion, OneByOneMatrixFourInvertsToAQuarter) {
  LoggingRun r;
  std::vector<double> m{4};
  InvertInformation(r.run, m, 1, InversionMode::kNewtonStep);
  EXPECT_DOUBLE_EQ(m[0], 0.25);
  EXPECT_TRUE(r.window.lines.empty());
}

TEST(Inversion, TwoByTwoMatrixHasItsClosedForm) {
  LoggingRun r;
  // [[4, 1], [1, 3]]: determinant 11, inverse [[3, -1], [-1, 4]] / 11.
  std::vector<double> m{4, 1, 1, 3};
  InvertInformation(r.run, m, 2, InversionMode::kStandardErrors);
  EXPECT_NEAR(m[0], 3.0 / 11, 1e-15);
  EXPECT_NEAR(m[1], -1.0 / 11, 1e-15);
  EXPECT_NEAR(m[2], -1.0 / 11, 1e-15);
  EXPECT_NEAR(m[3], 4.0 / 11, 1e-15);
  EXPECT_EQ(r.run.newton.BoundaryTotal(), 0);
}

TEST(Inversion, SingularMatrixWarnsAndZeroesTheRejectedParameter) {
  LoggingRun r;
  std::vector<double> m{2, 2, 2, 2};
  InvertInformation(r.run, m, 2, InversionMode::kNewtonStep);
  EXPECT_DOUBLE_EQ(m[0], 0.5);
  EXPECT_EQ(m[1], 0);
  EXPECT_EQ(m[2], 0);
  EXPECT_EQ(m[3], 0);
  ASSERT_EQ(r.window.lines.size(), 1u);
  EXPECT_EQ(r.window.lines[0].rfind("Warning: Information matrix is not full rank (2,", 0), 0u);
  EXPECT_EQ(r.run.newton.BoundaryTotal(), 1);
  for (double x : m) EXPECT_TRUE(std::isfinite(x));
}

TEST(Inversion, NegativePivotIsNotPositiveDefinite) {
  LoggingRun r;
  std::vector<double> m{1, 0, 0, -1};
  InvertInformation(r.run, m, 2, InversionMode::kNewtonStep);
  ASSERT_EQ(r.window.lines.size(), 1u);
  EXPECT_EQ(r.window.lines[0], "Warning: Information matrix is not positive definite (2," +
                                   FormatReal(9, -1, -1) + ")");
  EXPECT_DOUBLE_EQ(m[0], 1);
  EXPECT_EQ(m[3], 0);
  EXPECT_EQ(r.run.newton.BoundaryTotal(), 1);
}

TEST(Inversion, InternalModeNeitherWarnsNorCounts) {
  LoggingRun r;
  r.run.newton.boundary_by_table = {3};
  std::vector<double> m{1, 1, 1, 1};
  InvertInformation(r.run, m, 2, InversionMode::kInternal);
  EXPECT_TRUE(r.window.lines.empty());
  EXPECT_EQ(r.run.newton.boundary_by_table, std::vector<int>{3});
  EXPECT_DOUBLE_EQ(m[0], 1);
  EXPECT_EQ(m[3], 0);
}

TEST(Inversion, StandardErrorToleranceFollowsTheLargestEigenvalue) {
  ProgramRun run;
  run.newton.eigenvalues = {5000, 2};
  EXPECT_DOUBLE_EQ(InversionTolerance(run, InversionMode::kStandardErrors), 0.1);
  run.newton.eigenvalues = {3, 1};
  EXPECT_DOUBLE_EQ(InversionTolerance(run, InversionMode::kStandardErrors), 0.001);
  run.newton.eigenvalues = {50, 1};
  EXPECT_DOUBLE_EQ(InversionTolerance(run, InversionMode::kStandardErrors), 0.005);
  EXPECT_DOUBLE_EQ(InversionTolerance(run, InversionMode::kNewtonStep), 0.001);
  EXPECT_DOUBLE_EQ(InversionTolerance(run, InversionMode::kInternal), 1e-10);
}

// Reference: R 4 glm(n ~ H*E + H*S + E*S, family = poisson) on the hair, eye colour and sex
// table of the examples (H slowest, S fastest), glm.control(epsilon = 1e-14), computed once;
// the standard errors of the multinomial model equal those of the Poisson model for every
// parameter but the intercept. Effect coding: contrasts contr.sum.
constexpr const char* kHairEye =
    "man 3 dim 4 4 2 lab H E S mod {HE,HS,ES} cri 0.0000000001\n"
    "dat [ 32 36 11 9 10 5 3 2 53 66 50 34 25 29 15 14\n"
    "      10 16 10 7 7 7 7 7 3 4 30 64 5 5 8 8 ]";

TEST(StandardErrors, LogLinearParametersAgreeWithAPoissonFitUnderEffectCoding) {
  WithStandardErrors f(kHairEye);
  ASSERT_EQ(f.message, "");
  ASSERT_TRUE(f.run.newton.std_errors_computed);
  ASSERT_EQ(f.run.estimation.free_parameters.Count(), 22);
  // List order: S, E (3), ES (3), H (3), HS (3), HE (9, E fastest).
  const double reference[22] = {
      0.0524652121028,                                    // S1
      0.1013046253886, 0.0887440106916, 0.1086062477546,  // E1 E2 E3
      0.0720571054523, 0.0734009646204, 0.0886746415533,  // E1:S1 E2:S1 E3:S1
      0.1194176826590, 0.0782579647036, 0.1064797616773,  // H1 H2 H3
      0.0873940796757, 0.0637797307980, 0.0978545975604,  // H1:S1 H2:S1 H3:S1
      0.1567417270068, 0.1757777206281, 0.1974999045817,  // H1:E1 H1:E2 H1:E3
      0.1210998334989, 0.1147982907409, 0.1369176492820,  // H2:E1 H2:E2 H2:E3
      0.1657841310795, 0.1735095272893, 0.1927172178630,  // H3:E1 H3:E2 H3:E3
  };
  // Forward differences with step 0.00015 give about four significant digits.
  for (int i = 0; i < 22; ++i) EXPECT_NEAR(f.StdErr(i), reference[i], 1e-7 * reference[i]) << i;
  EXPECT_EQ(f.run.newton.BoundaryTotal(), 0);
  ASSERT_EQ(f.run.newton.eigenvalues.size(), 22u);
  for (std::size_t i = 1; i < 22; ++i) {
    EXPECT_GE(f.run.newton.eigenvalues[i - 1], f.run.newton.eigenvalues[i]);
  }
  EXPECT_GT(f.run.newton.eigenvalues.back(), 0);
  // The fitted tables and the log-likelihood are as the estimation left them.
  EXPECT_NEAR(f.run.estimation.LogLikelihood, -1817.5372851286, 1e-7);
  EXPECT_NEAR(f.run.estimation.FittedTable[0], 32.7924406068494, 2e-4);
}

TEST(StandardErrors, LogLinearParametersAgreeWithAPoissonFitUnderDummyCoding) {
  // Reference categories 1: R's default contr.treatment.
  WithStandardErrors f(std::string(kHairEye) + " dum 1 1 1");
  ASSERT_EQ(f.message, "");
  const double reference[22] = {
      0.205189190606,                                  // S2
      0.272642528841, 0.307771758316, 0.479824837356,  // E2 E3 E4
      0.217632749354, 0.251916909360, 0.296614206779,  // E2:S2 E3:S2 E4:S2
      0.195524588174, 0.290334844175, 0.443465065698,  // H2 H3 H4
      0.230868309495, 0.313017831327, 0.297034739982,  // H2:S2 H3:S2 H4:S2
      0.292827160108, 0.329838081186, 0.508537374137,  // H2:E2 H2:E3 H2:E4
      0.404236161110, 0.438507977118, 0.571600162496,  // H3:E2 H3:E3 H3:E4
      0.471553383627, 0.572685275772, 0.652960181004,  // H4:E2 H4:E3 H4:E4
  };
  for (int i = 0; i < 22; ++i) EXPECT_NEAR(f.StdErr(i), reference[i], 1e-7 * reference[i]) << i;
}

TEST(StandardErrors, ProbabilitiesOfAnIndependenceModelHaveTheirClosedForm) {
  // Under independence the row and column proportions are asymptotically independent:
  // var(p_a p_b) = p_b^2 p_a (1 - p_a) / N + p_a^2 p_b (1 - p_b) / N.
  WithStandardErrors f("man 2 dim 2 3 mod {A,B} cri 0.0000000001 dat [ 10 20 30 40 25 15 ]");
  ASSERT_EQ(f.message, "");
  const double row[] = {60.0 / 140, 80.0 / 140};
  const double column[] = {50.0 / 140, 45.0 / 140, 45.0 / 140};
  for (int c = 0; c < 6; ++c) {
    const double pa = row[c / 3];
    const double pb = column[c % 3];
    const double se = std::sqrt((pb * pb * pa * (1 - pa) + pa * pa * pb * (1 - pb)) / 140);
    EXPECT_NEAR(f.run.newton.probability_std_errors[c], se, 2e-4 * se) << c;
  }
}

TEST(StandardErrors, ConditionalProbabilitiesOfASaturatedModelAreBinomial) {
  // P(B | A) with A given: se = sqrt(p (1 - p) / n_a).
  WithStandardErrors f("man 2 dim 2 2 mod A B|A cri 0.0000000001 dat [ 30 10 12 48 ]");
  ASSERT_EQ(f.message, "");
  const Submodel& conditional = f.run.model.submodels[1];
  const double n[] = {30, 10, 12, 48};
  for (int c = 0; c < 4; ++c) {
    const double na = n[c / 2 * 2] + n[c / 2 * 2 + 1];
    const double p = n[c] / na;
    const double se = std::sqrt(p * (1 - p) / na);
    EXPECT_NEAR(f.run.newton.probability_std_errors[conditional.first_cell + c], se, 2e-4 * se)
        << c;
  }
  // P(A): binomial with N = 100.
  EXPECT_NEAR(f.run.newton.probability_std_errors[0], std::sqrt(0.4 * 0.6 / 100), 1e-5);
}

TEST(StandardErrors, NonIdentifiedLatentClassParameterIsNotFullRank) {
  // Two latent classes for two dichotomous items: five parameters for three degrees of
  // freedom.
  WithStandardErrors f("lat 1 man 2 dim 2 2 2 mod X A|X B|X see 7 dat [ 30 10 12 40 ]");
  ASSERT_EQ(f.message, "");
  EXPECT_TRUE(f.Logged("Warning: Information matrix is not full rank ("));
  EXPECT_GE(f.run.newton.BoundaryTotal(), 1);
  for (double x : f.run.newton.information_matrix) EXPECT_TRUE(std::isfinite(x));
  for (double x : f.run.newton.probability_std_errors) EXPECT_TRUE(std::isfinite(x));
}

// Three latent classes for three dichotomous items: eleven parameters for seven degrees of
// freedom, so at least four directions the data do not determine. Three pivots fall below the
// tolerance, four eigenvalues: the count is four, and the log says why.
TEST(StandardErrors, NonIdentifiedDirectionsAreCountedByTheEigenvalues) {
  WithStandardErrors f(
      "lat 1 man 3 dim 3 2 2 2 lab X A B C mod X A|X B|X C|X see 42 "
      "dat [ 42 23 6 25 6 24 7 38 ]");
  ASSERT_EQ(f.message, "");
  ASSERT_EQ(f.run.newton.eigenvalues.size(), 11u);
  const double tolerance = InversionTolerance(f.run, InversionMode::kStandardErrors);
  EXPECT_EQ(std::count_if(f.run.newton.eigenvalues.begin(), f.run.newton.eigenvalues.end(),
                          [&](double v) { return v <= tolerance; }),
            4);
  EXPECT_EQ(f.run.newton.BoundaryTotal(), 4);
  EXPECT_EQ(f.CountLines("Warning: Information matrix is not "), 3);
  EXPECT_TRUE(f.Logged("Warning: 4 eigenvalues of the information matrix are not above 1.4E-0002"));
}

TEST(StandardErrors, NoneWithMoreThanTwoThousandParameters) {
  std::string text = "man 3 dim 3 7 100 mod {ABC} dat [";
  for (int c = 0; c < 2100; ++c) text += " " + std::to_string(c % 7 + 1);
  WithStandardErrors f(text + " ]");
  ASSERT_EQ(f.message, "");
  EXPECT_FALSE(StandardErrorsWanted(f.run));
  EXPECT_FALSE(f.run.newton.std_errors_computed);
}

TEST(Perturbation, KeepsTheFormOfTheSubmodelAndMovesTheLogLikelihood) {
  WithStandardErrors f("man 2 dim 2 2 mod A B|A cri 0.0000000001 dat [ 30 10 12 48 ]");
  ASSERT_EQ(f.message, "");
  RunState& run = f.run;
  const ModelEvaluator evaluate = Evaluator(run);
  const double l0 = evaluate().log_likelihood;
  // Parameter 1 is B of B|A (effect coding: +delta at B = 1, -delta at B = 2).
  const double l1 = perturb_and_evaluate(run, 1, 0.1, evaluate);
  EXPECT_LT(l1, l0);
  const double* p = run.estimation.FittedTable.data() + run.model.submodels[1].first_cell;
  EXPECT_NEAR(p[0] + p[1], 1, 1e-14);
  EXPECT_NEAR(p[2] + p[3], 1, 1e-14);
  // The odds of B = 1 within A = 1 grow by exp(0.2).
  EXPECT_NEAR(p[0] / p[1], 3 * std::exp(0.2), 1e-9);
  PerturbParameter(run, 0, 0.3);
  double total = 0;
  for (int c = 0; c < 2; ++c) total += run.estimation.FittedTable[c];
  EXPECT_NEAR(total, 100, 1e-9);
  EXPECT_NEAR(run.estimation.FittedTable[0] / run.estimation.FittedTable[1],
              40.0 / 60 * std::exp(0.6), 1e-9);
}

TEST(Damping, IndefiniteMatrixRaisesLambdaTenfold) {
  // [[1, 2], [2, 1]] has eigenvalues 3 and -1; with the diagonal times c they are c + 2 and
  // c - 2. lambda 0.1: c = 1.1 is still indefinite, lambda 1 gives c = 2.2 (eigenvalues 4.2
  // and 0.2); the next iteration starts from 1 / 100.
  std::vector<double> m{1, 2, 2, 1};
  double lambda = 0.1;
  DampInformation(m, 2, lambda);
  EXPECT_NEAR(lambda, 0.01, 1e-15);
  EXPECT_NEAR(m[0], 2.2, 1e-12);
  EXPECT_NEAR(m[3], 2.2, 1e-12);
  EXPECT_EQ(m[1], 2);
}

TEST(Damping, StopsWhenLambdaPassesOne) {
  // A negative diagonal stays negative however it is scaled: lambda 1 goes to 10 and stops.
  std::vector<double> m{1, 0, 0, -1};
  double lambda = 1;
  DampInformation(m, 2, lambda);
  EXPECT_NEAR(lambda, 0.1, 1e-15);
  EXPECT_NEAR(m[0], 22, 1e-12);
}

TEST(Damping, PositiveDefiniteMatrixIsDampedOnce) {
  std::vector<double> m{4, 1, 1, 3};
  double lambda = 1;
  DampInformation(m, 2, lambda);
  EXPECT_NEAR(lambda, 0.01, 1e-15);
  EXPECT_EQ(m[0], 8);
  EXPECT_EQ(m[3], 6);
}

// A model with more free parameters than the list holds (2499), and a normal model of 602,
// whose information takes finite differences: no standard errors, and the report and the log
// say why.
TEST(StandardErrors, TooManyParametersAreSaidToBeTheReason) {
  std::string saturated = "man 2\ndim 50 50\nlab A B\nmod {AB}\ndat [";
  for (int cell = 0; cell < 2500; ++cell) saturated += " " + std::to_string(1 + cell % 7);
  std::string cumulative = "man 2\ndim 600 4\nlab A R\nmod A R|A cum(i) {}\ndat [";
  for (int cell = 0; cell < 2400; ++cell) cumulative += " " + std::to_string(1 + cell % 5);
  const struct {
    std::string input;
    std::string reason;
  } cases[] = {
      {saturated,
       "standard errors and identification check skipped: more than 2000 free parameters"},
      {cumulative,
       "standard errors and identification check skipped: more than 500 free parameters in a "
       "model that needs finite differences"},
  };
  for (const auto& c : cases) {
    const testing::EngineRun run(c.input + " ]\n");
    ASSERT_EQ(run.status, 0) << c.reason;
    EXPECT_TRUE(run.Has("WARNING: no information is provided on identification of parameters"));
    EXPECT_TRUE(run.Has("WARNING: " + c.reason));
    // The log's lines hold 80 characters.
    const std::string first = c.reason.substr(0, c.reason.find(" in a model"));
    const auto at = std::find(run.log.begin(), run.log.end(), first);
    ASSERT_NE(at, run.log.end());
    if (first != c.reason) {
      EXPECT_EQ(*(at + 1), "in a model that needs finite differences");
    }
  }
}

// 575 parameters of a saturated 24 x 24 table, above the cap of finite differences: the closed
// form gives their standard errors, those of the multinomial; under dummy coding against the
// last categories the interaction of (1, 1) is the log odds ratio of cells (1, 1), (1, 24),
// (24, 1) and (24, 24), with standard error sqrt(1 / n11 + 1 / n1J + 1 / nI1 + 1 / nIJ).
TEST(StandardErrors, SaturatedTableOfFiveHundredAndSeventySixCells) {
  std::string input = "man 2 dim 24 24 lab A B mod {AB} dum 24 24 dat [";
  for (int cell = 0; cell < 576; ++cell) input += " " + std::to_string(1 + cell % 7);
  WithStandardErrors f(input + " ]");
  ASSERT_EQ(f.message, "");
  ASSERT_TRUE(f.run.newton.std_errors_computed);
  ASSERT_EQ(f.run.estimation.free_parameters.Count(), 575);
  const double n11 = 1, n1j = 1 + 23 % 7, ni1 = 1 + 552 % 7, nij = 1 + 575 % 7;
  EXPECT_NEAR(f.StdErr(46), std::sqrt(1 / n11 + 1 / n1j + 1 / ni1 + 1 / nij), 1e-6);
}

}  // namespace
}  // namespace tav
