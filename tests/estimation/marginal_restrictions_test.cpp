// Marginal restrictions (mar), run through the program and checked against constrained
// maximum-likelihood fits in R 4.2.2 (nloptr 2.0.3, SLSQP on the multinomial log-likelihood in
// log-probabilities, the equations as equality or inequality constraints, tolerances 1e-15),
// against loglin of base R for the form on log cells, and against a published value: the
// L-squared of marginal homogeneity of the vision table is 11.99 (df 3).

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "test_support.h"

namespace tav {
namespace {

using testing::EngineRun;
using testing::ExpectFit;

// Unaided vision of 7477 women, right eye by left eye. The Wald test of the three multipliers
// is the score test of the restrictions, which for a multinomial is Pearson's X-squared at
// the restricted fit (11.9698).
TEST(MarginalRestrictions, MarginalHomogeneityOfTheVisionTable) {
  const EngineRun run(
      "man 2 dim 4 4 lab A B mod AB {mar(A B a 3)} "
      "des [ 1 0 0 0  0 1 0 0  0 0 1 0  -1 0 0 0  0 -1 0 0  0 0 -1 0 ] see 7 "
      "dat [ 1520 266 124 66  234 1512 432 78  117 362 1772 205  36 82 179 492 ]");
  ExpectFit(run, -16390.4726578, 11.98719625, 3);
  EXPECT_NEAR(run.Statistic("X-squared"), 11.9698, 0.6e-4);
  EXPECT_TRUE(run.Has("   3            -0.0499   0.0411   -1.213      0.9513    11.97   3 0.007"));
}

// Every form on one 2 x 2 x 2 table (64 21 12 18 25 14 19 77, C fastest): the margins of A, B
// and C equal (two equations, one block per term); the log odds ratios of the margins AB and
// BC equal (margin numbers and a first matrix); P(A = 1) = 0.45 (a target); the log-linear
// no-three-factor restriction on the log cells (loglin); P(A=1|B=1) = P(A=1|B=2) (a second
// matrix on the exponentials); and P(A = 1) = P(B = 1) with real margin rows.
TEST(MarginalRestrictions, EveryFormAgreesWithAConstrainedFit) {
  const std::string table = "man 3 dim 2 2 2 lab A B C mod ABC ";
  const std::string data = " see 5 dat [ 64 21 12 18 25 14 19 77 ]";
  ExpectFit(table + "{mar(A B C a 2)} des [ 1 0 1 0  -1 0 0 0  0 0 -1 0 ]" + data, -461.1717660,
            1.18330569, 2);
  ExpectFit(table +
                "{mar(AB BC c a 1 2 8)} des [ 1 -1 -1 1 0 0 0 0  0 0 0 0 1 -1 -1 1  1 -1  "
                "1 2 3 4  5 6 7 8 ]" +
                data,
            -460.6248498, 0.08947326, 1);
  ExpectFit(table + "{mar(A a c 1)} des [ 1 0  0.45 ]" + data, -460.6305537, 0.10088110, 1);
  ExpectFit(table + "{mar(ABC e a 1)} des [ 1 -1 -1 1 -1 1 1 -1 ]" + data, -460.8581652, 0.55610409,
            1);
  ExpectFit(table +
                "{mar(AB B d a 1 1 2 6)} des [ 1 0 0 0 -1 0  0 1 0 0 0 -1  1 -1  1  "
                "1 2 3 4  5 6 ]" +
                data,
            -486.6972272, 52.23422806, 1);
  ExpectFit(table + "{mar(A B a 1 -2)} des [ 1 -1  1 0 0 1  -1 0 0 -1 ]" + data, -461.1687455,
            1.17726458, 1);
}

// Inequalities: P(A = 1) >= P(B = 1) does not hold in the data and is active (the equality
// fit); P(B = 1) >= P(A = 1) holds, is left out and gives its degree of freedom back. A second
// equation that repeats the first (times 2) is dropped with a warning and takes no degree of
// freedom. In a conditional submodel the margin of C stays at the data (L-squared 4.666517).
TEST(MarginalRestrictions, InequalitiesDependentEquationsAndConditionalSubmodels) {
  const std::string table = "man 3 dim 2 2 2 lab A B C mod ";
  const std::string data = " see 5 dat [ 64 21 12 18 25 14 19 77 ]";
  ExpectFit(table + "ABC {mar(A B a b 1)} des [ 1 0  -1 0 ]" + data, -461.1687455, 1.17726458, 1);
  const EngineRun inactive(table + "ABC {mar(B A a b 1)} des [ 1 0  -1 0 ]" + data);
  EXPECT_NEAR(inactive.Statistic("L-squared"), 0, 0.6e-4);
  EXPECT_EQ(inactive.Statistic("Degrees of freedom"), 0);
  const EngineRun dependent(table + "ABC {mar(A B a 2)} des [ 1 0  2 0  -1 0  -2 0 ]" + data);
  EXPECT_NEAR(dependent.Statistic("L-squared"), 1.17726458, 0.6e-4);
  EXPECT_EQ(dependent.Statistic("Degrees of freedom"), 1);
  EXPECT_TRUE(dependent.Has("  WARNING: restriction 2 depends on the others and was left out"));
  const EngineRun conditional(table + "C AB|C {mar(AC BC a 1)} des [ 1 0 0 0  -1 0 0 0 ]" + data);
  ASSERT_EQ(conditional.status, 0);
  EXPECT_NEAR(conditional.Statistic("L-squared"), 4.666517, 0.6e-4);
  EXPECT_EQ(conditional.Statistic("Degrees of freedom"), 1);
}

// Beside design effects: uniform association with marginal homogeneity in the vision table,
// ln m = c + a_i + b_j + beta i j (fac for the main effects, cov for i j), against SLSQP in R;
// the standard errors against the null-space method in R (V = Z (Z' H Z)^-1 Z', H the Poisson
// information, Z the null space of the equations' Jacobian): beta 0.027814, a_1 0.208026. And
// in a conditional submodel, A and B independent given C with P(A=1,C=1) = P(B=1,C=1)
// (33.407419).
TEST(MarginalRestrictions, RestrictionsBesideDesignEffects) {
  const EngineRun association(
      "man 2 dim 4 4 lab A B mod AB {fac(A 3) fac(B 3) cov(AB 1) mar(A B a 3)} "
      "des [ 1 2 3 0  1 2 3 0  1 2 3 4 2 4 6 8 3 6 9 12 4 8 12 16 "
      "1 0 0 0  0 1 0 0  0 0 1 0  -1 0 0 0  0 -1 0 0  0 0 -1 0 ] see 7 "
      "dat [ 1520 266 124 66  234 1512 432 78  117 362 1772 205  36 82 179 492 ]");
  ExpectFit(association, -17299.9938940, 1831.02966876, 11);
  EXPECT_TRUE(
      association.Has("   1             1.3553   0.0278   48.727      3.8779  2374.27   1 0.000"));
  EXPECT_TRUE(association.Has("   1            10.7522   0.2080   51.686  4.67E+0004 "));
  const EngineRun conditional(
      "man 3 dim 2 2 2 lab A B C mod C AB|C {fac(AC 2) fac(BC 2) mar(AC BC a 1)} "
      "des [ 1 2 0 0  1 2 0 0  1 0 0 0  -1 0 0 0 ] see 5 dat [ 64 21 12 18 25 14 19 77 ]");
  ASSERT_EQ(conditional.status, 0);
  EXPECT_NEAR(conditional.Statistic("L-squared"), 33.407419, 0.6e-4);
  EXPECT_EQ(conditional.Statistic("Degrees of freedom"), 3);
}

// A design of `all` aimed at a subtable with mar() restrictions is fitted with its designs:
// golden case allmar, marginal homogeneity beside main effects (cov, effect coded) and, in
// `all`, a parameter of the cells above the diagonal, the main effects as designs or as plain
// effects. Against a Newton solution of the Lagrange equations in R (analytic score and
// equations, residual below 1e-13); standard errors from the bordered information
// [X' diag(m) X, G'; G, 0]^-1, G the equations' Jacobian.
TEST(MarginalRestrictions, DesignsOfAllBesideTheRestrictions) {
  const EngineRun run(
      "man 2 dim 3 3 lab A B mod AB {cov(AB 4), mar(A B a 2)} all {cov(AB 1)} see 4321 "
      "des [ 1 1 1 0 0 0 -1 -1 -1  0 0 0 1 1 1 -1 -1 -1  1 0 -1 1 0 -1 1 0 -1 "
      "0 1 -1 0 1 -1 0 1 -1  1 0 0 0 1 0 -1 0 0 0 -1 0  0 1 1 0 0 1 0 0 0 ] "
      "dat [ 50 20 10  15 60 25  5 20 45 ]");
  ExpectFit(run, -510.902094411, 30.18696213, 5);
  EXPECT_TRUE(run.Has("   1             0.6207   0.1084    5.726      1.8603 "));
  EXPECT_TRUE(run.Has("   3            -0.7740   0.1042   -7.430      0.4612 "));
  EXPECT_TRUE(run.Has("   1            -2.0153   0.2602   -7.746      0.1333    60.00   1 0.000"));
  // The main effects as plain effects: the same model and figures.
  const EngineRun plain(
      "man 2 dim 3 3 lab A B mod AB {A, B, mar(A B a 2)} all {cov(AB 1)} see 4321 "
      "des [ 1 0 0 0 1 0 -1 0 0 0 -1 0  0 1 1 0 0 1 0 0 0 ] dat [ 50 20 10  15 60 25  5 20 45 ]");
  ExpectFit(plain, -510.902094411, 30.18696213, 5);
  EXPECT_TRUE(plain.Has("   1             0.6207   0.1084    5.726      1.8603 "));
  EXPECT_TRUE(
      plain.Has("   1            -2.0153   0.2602   -7.746      0.1333    60.00   1 0.000"));
}

// Beside model terms: independence and marginal homogeneity of a 3 x 3 table (the input of
// tests/golden/cases/mar_independence.inp) against its closed form, p(i,j) = q(i) q(j) with
// q(i) = (n(i+) + n(+i)) / 2N, and against SLSQP in R (nloptr, Poisson log-likelihood in the
// effect-coded parameters, the equations as constraints), which also gave the standard error of
// the A effect (null-space method, 0.125290), the multipliers (-0.266279, -0.173256, standard
// errors 0.219672 from (J H^-1 J')^-1) and, with the same R fit: the model with fixed weights
// fix(AB) (5.25196544), with a structural zero (8.03842249, R: the multinomial over the other
// eight cells, nloptr AUGLAG), and A and B independent given C with P(A=1,C=1) = P(B=1,C=1)
// (33.407419, as beside the designs above). A restriction the model implies (the log odds
// ratio of independence) gives its degree of freedom back: independence's L-squared 0.796439.
TEST(MarginalRestrictions, BesideModelTermsTheLogLinearModelHoldsToo) {
  const std::string model = "man 2 dim 3 3 lab A B mod {A, B, ";
  const std::string homogeneity = " mar(A B a 2)} des [ 1 0 0  0 1 0  -1 0 0  0 -1 0 ] see 5 ";
  const std::string data = "dat [ 10 8 6 6 8 8 3 5 9 ]";
  const EngineRun run(model + homogeneity + data);
  ExpectFit(run, -138.3531322, 5.77450717, 6);
  EXPECT_NEAR(run.Statistic("X-squared"), 5.37058816, 0.6e-4);
  EXPECT_TRUE(run.Has("  1 1      10.000      7.337      0.983"));
  EXPECT_TRUE(run.Has("  3 3       9.000      6.349      1.052"));
  EXPECT_TRUE(run.Has("   1             0.0241   0.1253    0.192      1.0244 "));
  EXPECT_TRUE(run.Has("   2            -0.1733   0.2197   -0.789      0.8409     1.50   2 0.471"));
  // Start values for the whole table do not stay in it as weights.
  ExpectFit(model + homogeneity + "sta AB [ 1 2 3 4 5 6 7 8 9 ] " + data, -138.3531322, 5.77450717,
            6);
  ExpectFit(model + "fix(AB 1)," + homogeneity + "sta fix(AB) [ 1 2 1  1 1 1  0.5 1 2 ] " + data,
            -138.0918613, 5.25196544, 6);
  const EngineRun zero(model + "fix(AB 1)," + homogeneity +
                       "sta fix(AB) [ 1 1 0  1 1 1  1 1 1 ] dat [ 10 8 0 6 0 8 3 5 9 ]");
  EXPECT_NEAR(zero.Statistic("L-squared"), 8.03842249, 0.6e-4);
  EXPECT_TRUE(zero.Has("WARNING: 1 zero estimated frequencies"));
  const EngineRun conditional(
      "man 3 dim 2 2 2 lab A B C mod C AB|C {AC, BC, mar(AC BC a 1)} "
      "des [ 1 0 0 0  -1 0 0 0 ] see 5 dat [ 64 21 12 18 25 14 19 77 ]");
  EXPECT_NEAR(conditional.Statistic("L-squared"), 33.407419, 0.6e-4);
  EXPECT_EQ(conditional.Statistic("Degrees of freedom"), 3);
  const EngineRun implied(
      "man 2 dim 2 2 lab A B mod {A, B, mar(AB c a 1 1)} "
      "des [ 1 -1 -1 1  1 ] see 5 dat [ 10 8 6 9 ]");
  ExpectFit(implied, -45.5960080, 0.79643948, 1);
  EXPECT_TRUE(implied.Has("  WARNING: restriction 1 depends on the others and was left out"));
}

// A conditional submodel keeps its conditioning totals at the data, also where the equations
// move them: P(B=1) = 0.6 over B given A (R: optimize over P(B=1|A=1), P(A) at the data,
// 4.792553); the logistic regression of tests/golden/cases/mar_covariate.inp, whose records'
// mean P(B=1) is held at 0.6 (R: SLSQP with the record totals as constraints, 8.97430536,
// covariate effect 1.769611 with standard error 1.415273); and B and C given A restricted
// alike by eq1, on the pooled table (R: optimize, 10.145200).
TEST(MarginalRestrictions, ConditionalTotalsStayAtTheData) {
  const EngineRun saturated(
      "man 2 dim 2 2 lab A B mod A B|A {mar(AB a c 1)} des [ 1 0 1 0  0.6 ] see 5 "
      "dat [ 30 10 20 40 ]");
  EXPECT_NEAR(saturated.Statistic("L-squared"), 4.792553, 0.6e-4);
  EXPECT_EQ(saturated.Statistic("Degrees of freedom"), 1);
  const EngineRun covariate(
      "con 1 man 1 dim 2 lab B x mod B|x {B, cov(B 1 x c -1), mar(B a c 1)} rec 8 "
      "des [ 0 1  1 0  0.6 ] see 5 dat [ 1 -1.2\n 1 -0.4\n 2 -0.3\n 1 0.1\n 2 0.2\n 1 0.5\n"
      " 2 0.9\n 2 1.4 ]");
  ExpectFit(covariate, -4.4871527 - 8 * std::log(8.0), 8.97430536, 7);
  EXPECT_TRUE(
      covariate.Has("   1             1.7696   1.4153    1.250      5.8686     1.56   1 0.211"));
  const EngineRun tied(
      "man 3 dim 2 2 2 lab A B C mod A B|A {AB, mar(AB a 1)} C|A eq1 B|A des [ 1 0 -1 0 ] see 5 "
      "dat [ 10 8 6 9 5 7 3 9 ]");
  EXPECT_NEAR(tied.Statistic("L-squared"), 10.145200, 0.6e-4);
  EXPECT_EQ(tied.Statistic("Degrees of freedom"), 5);
}

// What stays refused says why.
TEST(MarginalRestrictions, RefusalsGiveTheirReason) {
  const std::string table = "man 2 dim 3 3 lab A B mod {A, B, ";
  const std::string data = " see 5 dat [ 10 8 6 6 8 8 3 5 9 ]";
  const EngineRun association(table + "ass(A B 2a), mar(A B a 1)} des [ 1 0 0  -1 0 0 ]" + data);
  const EngineRun linear(table +
                         "lin(AB a 1), mar(A B a 1)} "
                         "des [ 1 0 0 0 0 0 0 0 -1  1 0 0  -1 0 0 ]" +
                         data);
  ASSERT_EQ(association.window.errors.size(), 1u);
  EXPECT_EQ(association.window.errors[0],
            "Mar() beside association terms (ass) of its subtable, whose scores have a step of "
            "their own, is not available in this version");
  ASSERT_EQ(linear.window.errors.size(), 1u);
  EXPECT_EQ(linear.window.errors[0],
            "Mar() beside lin() or log() in its subtable (each fits the table to its own "
            "restrictions alone) is not available in this version");
}

// Equations no table satisfies end in a message, never in a report: two targets for one
// margin, and P(A = 1) >= 1.2.
TEST(MarginalRestrictions, EquationsThatCannotBeMetStopTheRun) {
  const std::string table = "man 3 dim 2 2 2 lab A B C mod ABC ";
  const std::string data = " see 5 ite 200 dat [ 64 21 12 18 25 14 19 77 ]";
  for (const std::string restriction :
       {"{mar(A a c 2)} des [ 1 0  1 0  0.3 0.4 ]", "{mar(A a d 1)} des [ 1 0  1.2 ]"}) {
    const EngineRun run(table + restriction + data);
    EXPECT_EQ(run.status, 1) << restriction;
    ASSERT_EQ(run.window.errors.size(), 1u) << restriction;
    EXPECT_EQ(run.window.errors[0], "The mar() restrictions of subtable ABC cannot be met");
  }
}

}  // namespace
}  // namespace tav
