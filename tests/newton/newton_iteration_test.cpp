#include "newton/newton_iteration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "core/stop_run.h"
#include "tav95/run_driver.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::Fitted;

// The hair, eye colour and sex table under {HE,HS,ES}; the maximum of the log-likelihood is
// R's loglin fit of the same model (see the estimation tests).
std::string HairEye(const std::string& settings) {
  return "man 3 dim 4 4 2 lab H E S mod {HE,HS,ES} cri 0.0000000001 " + settings +
         "\ndat [ 32 36 11 9 10 5 3 2 53 66 50 34 25 29 15 14\n"
         "      10 16 10 7 7 7 7 7 3 4 30 64 5 5 8 8 ]";
}
constexpr double kHairEyeMaximum = -1817.5372851286;

TEST(NewtonIteration, EveryAlgorithmReachesTheMaximum) {
  const struct {
    const char* settings;
    const char* name;
  } cases[] = {
      {"new 2 1", "Newton-Raphson iteration: "},
      {"new 2 2", "Steepest-descent iteration: "},
      {"new 2 3", "BFGS iteration: "},
      {"new 2 4", "Newton-Raphson + EM iteration: "},
      {"new 2 5", "Levenberg-Maquardt iteration: "},
      {"new 2 6", "Levenberg-Maquardt + EM iteration: "},
  };
  for (const auto& c : cases) {
    Fitted f(HairEye(c.settings));
    ASSERT_EQ(f.message, "") << c.settings;
    EXPECT_NEAR(f.LogLikelihood(), kHairEyeMaximum, 1e-7) << c.settings;
    EXPECT_GT(f.CountLines(c.name), 0) << c.settings;
    // Iterations 0 to 2 are EM; every later one has its Newton line.
    EXPECT_EQ(
        f.CountLines(c.name) + f.CountLines("Steepest-descent iteration: ") * (c.name[0] != 'S'),
        f.run.estimation.iteration - 2)
        << c.settings;
  }
}

TEST(NewtonIteration, NewtonRaphsonConvergesInFewIterations) {
  Fitted f(HairEye("new 2 1"));
  ASSERT_EQ(f.message, "");
  EXPECT_LE(f.run.estimation.iteration, 6);
  EXPECT_EQ(f.LineWith(" iteration: "), "Newton-Raphson iteration: 1.0");
}

TEST(NewtonIteration, BfgsBeginsWithSteepestDescent) {
  Fitted f(HairEye("new 2 3"));
  ASSERT_EQ(f.message, "");
  EXPECT_EQ(f.LineWith(" iteration: ").rfind("Steepest-descent iteration: ", 0), 0u);
}

TEST(NewtonIteration, FirstStepMovesNoParameterByMoreThanAHalf) {
  // Newton-Raphson from the start values: iteration 1 is the first Newton iteration.
  Fitted f(HairEye("ite 1 new 0 1"));
  ASSERT_EQ(f.message, "");
  ASSERT_EQ(f.run.estimation.iteration, 1);
  double largest = 0;
  for (double step : f.run.newton.last_step) largest = std::max(largest, std::fabs(step));
  EXPECT_LE(largest, 0.5 + 1e-12);
  // The full Newton step was longer: its divisor was doubled.
  EXPECT_EQ(f.LineWith(" iteration: "), "Newton-Raphson iteration: 2.0");
  // From the start values on, Newton-Raphson alone reaches the maximum.
  Fitted g(HairEye("new 0 1"));
  ASSERT_EQ(g.message, "");
  EXPECT_NEAR(g.LogLikelihood(), kHairEyeMaximum, 1e-7);
}

TEST(NewtonIteration, MarginParametersFollowTheFittedTable) {
  // After Newton steps the product of the margin parameters still gives the fitted table,
  // which the parameter tables of the report rely on.
  Fitted f(HairEye("new 2 1"));
  ASSERT_EQ(f.message, "");
  const EstimationState& est = f.run.estimation;
  const Submodel& first = f.run.model.submodels[0];
  std::vector<double> product(static_cast<std::size_t>(first.cell_count), 1.0);
  for (int m = 0; m < first.MarginCount(); ++m) {
    est.margin_shapes[0][m].Scale(product.data(),
                                  est.MarginParameters.data() + est.margin_parameter_offset[0][m],
                                  product.data());
  }
  for (std::size_t c = 0; c < product.size(); ++c) {
    EXPECT_NEAR(product[c], est.FittedTable[c], 1e-9 * est.FittedTable[c]) << c;
  }
}

TEST(NewtonIteration, LatentClassModelReachesTheEmMaximum) {
  // Stouffer and Toby; the maximum is that of a plain EM written separately in R (see the
  // estimation tests).
  for (const char* algorithm : {"1", "3", "5"}) {
    Fitted f(std::string("lat 1 man 4 dim 2 2 2 2 2 mod X A|X B|X C|X D|X cri 0.000000000001 "
                         "see 1234 new 3 ") +
             algorithm + " dat [ 42 23 6 25 6 24 7 38 1 4 1 6 2 9 2 20 ]");
    ASSERT_EQ(f.message, "") << algorithm;
    EXPECT_NEAR(f.LogLikelihood(), -504.467670118362, 1e-6) << algorithm;
    EXPECT_LT(f.run.estimation.iteration, 100) << algorithm;
  }
}

TEST(NewtonIteration, SubmodelsOutsideTheListKeepTheirEmSteps) {
  // With nfi the class sizes are no free parameters: proportional fitting goes on fitting
  // them beside the Newton-Raphson steps, and the maximum is the same.
  Fitted f(
      "lat 1 man 4 dim 2 2 2 2 2 mod X A|X B|X C|X D|X cri 0.000000000001 see 1234 new 5 1 nfi "
      "dat [ 42 23 6 25 6 24 7 38 1 4 1 6 2 9 2 20 ]");
  ASSERT_EQ(f.message, "");
  EXPECT_NE(f.LineWith(" iteration: "), "");
  EXPECT_NEAR(f.LogLikelihood(), -504.467670118362, 1e-6);
}

TEST(NewtonIteration, TooManyParametersLeaveTheEstimationToEm) {
  // A normal model (cum(i)) of 602 free parameters (a predictor of 600 categories), too many for
  // the finite differences its Newton-type steps need: none is taken, the log says so once, and EM
  // reaches the maximum, where each predictor category has its observed response margin.
  std::string text = "man 2 dim 600 4 lab A R mod A R|A cum(i) {} new 1 1 dat [";
  for (int c = 0; c < 2400; ++c) text += " " + std::to_string(c % 5 + 1);
  Fitted f(text + " ]");
  ASSERT_EQ(f.message, "");
  EXPECT_EQ(f.LineWith(" iteration: "), "");
  EXPECT_EQ(f.CountLines("Newton-type iterations skipped: more than 500 free parameters"), 1);
  EXPECT_GT(f.run.estimation.free_parameters.Count(), 500);
  // The saturated 2 x 3 x 100 table (599 parameters) is covered by the score: its Newton steps
  // are taken.
  std::string saturated = "man 3 dim 2 3 100 mod {ABC} new 1 1 dat [";
  for (int c = 0; c < 600; ++c) saturated += " " + std::to_string(c % 7 + 1);
  Fitted g(saturated + " ]");
  ASSERT_EQ(g.message, "");
  EXPECT_EQ(g.CountLines("Newton-type iterations skipped"), 0);
  EXPECT_NEAR(g.run.estimation.HalfLSquared, 0, 1e-9);
}

TEST(NewtonIteration, StandardErrorsLeaveTheEstimatesAlone) {
  Fitted f(HairEye(""));
  ASSERT_EQ(f.message, "");
  const std::vector<double> fitted = f.run.estimation.FittedTable;
  const double log_likelihood = f.LogLikelihood();
  const double stop = f.run.estimation.stop_criterion;
  ComputeStandardErrors(f.run, Evaluator(f.run));
  EXPECT_EQ(f.run.estimation.FittedTable, fitted);
  EXPECT_EQ(f.LogLikelihood(), log_likelihood);
  EXPECT_EQ(f.run.estimation.stop_criterion, stop);
  EXPECT_TRUE(f.run.newton.std_errors_computed);
}

}  // namespace
}  // namespace tav
