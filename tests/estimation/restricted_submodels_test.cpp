// lin and log restrictions, run through the program and checked against closed forms and
// against maximisations in R 4.2.2 (base R optim with a Newton polish, confirmed by an EM
// written for the purpose; both agree to 1e-8 in the log-likelihood), computed once.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "test_support.h"

namespace tav {
namespace {

using testing::EngineRun;
using testing::ExpectFit;

// The 2 x 2 table 30 10 20 40 (N = 100). Closed forms: p12 = p21 gives 0.3, 0.15, 0.15, 0.4;
// ln p11 + ln p22 - ln p12 - ln p21 = 0 is independence (0.2, 0.2, 0.3, 0.3); a first row
// fixed at 0.5 in the conditional form gives P(B|A) unchanged and P(A = 1) = 0.5.
TEST(RestrictedSubmodels, RestrictionsOfATwoByTwoTableHaveTheirClosedForms) {
  const std::string table = "man 2 dim 2 2 lab A B mod ";
  const std::string data = " see 7 dat [ 30 10 20 40 ]";
  ExpectFit(table + "{lin(AB 1)} des [ 0 1 -1 0 ]" + data, -129.6844130, 3.397980736, 1);
  ExpectFit(table + "{log(AB 1)} des [ 1 -1 -1 1 ]" + data, -136.6158848, 17.26092435, 1);
  ExpectFit(table + "{lin(AB c 1)} des [ 1 1 0 0  0.5 ]" + data, -129.9989739, 4.027102710, 1);
}

// Rows of a 3 x 3 table with equal mean column scores (scores 1, 2, 3): two restrictions on
// P(B|A); the log-likelihood adds that of the saturated margin of A (35, 45, 42 of 122).
TEST(RestrictedSubmodels, EqualMeanScoresInEveryRow) {
  const double margin =
      35 * std::log(35.0 / 122) + 45 * std::log(45.0 / 122) + 42 * std::log(42.0 / 122);
  ExpectFit(
      "man 2 dim 3 3 lab A B mod A B|A {lin(AB 2)} "
      "des [ 1 2 3 -1 -2 -3 0 0 0  0 0 0 1 2 3 -1 -2 -3 ] see 7 "
      "dat [ 20 10 5  8 25 12  3 9 30 ]",
      -126.4244327 + margin, 33.45217544, 2);
}

// Two latent classes for four dichotomous items (216 respondents): equal error rates of item
// A in both classes, P(A=2|X=1) = P(A=1|X=2), and the inequality P(A=1|X=1) <= 0.8, written
// -P(A=1|X=1) >= -0.8 (letter d: a target and the boundary rule), which is active (7 df).
TEST(RestrictedSubmodels, LatentClassModelsWithLinearRestrictions) {
  const std::string model = "lat 1 man 4 dim 2 2 2 2 2 lab X A B C D mod X A|X {lin(XA ";
  const std::string data = " dat [ 42 23 6 25 6 24 7 38  1 4 1 6 2 9 2 20 ]";
  ExpectFit(model + "1)} B|X C|X D|X des [ 0 1 -1 0 ] see 1234" + data, -528.3891959, 50.56297340,
            7);
  ExpectFit(model + "d 1)} B|X C|X D|X des [ -1 0 0 0 -0.8 ] see 1" + data, -511.7459315,
            17.27644456, 7);
}

// Only the restricted submodel counts as saturated: A and B stay independent (3 parameters),
// and C|AB has 4 less its restriction P(C=1|A=1,B=1) = P(C=1|A=2,B=2), so 2 degrees of
// freedom. Closed form: the independence fit of A and B, and for C the pooled proportion of
// the two restricted columns.
TEST(RestrictedSubmodels, OnlyTheRestrictedSubmodelIsSaturated) {
  const double n[] = {10, 20, 30, 15, 25, 5, 12, 18};
  const double total = 135;
  const double ab[] = {30, 45, 30, 30};
  const double a[] = {75, 60};
  const double b[] = {60, 75};
  double loglik = 0;
  for (int i = 0; i < 4; ++i) loglik += ab[i] * std::log(a[i / 2] * b[i % 2] / (total * total));
  const double pooled = (n[0] + n[6]) / (ab[0] + ab[3]);
  loglik += (n[0] + n[6]) * std::log(pooled) + (n[1] + n[7]) * std::log(1 - pooled);
  for (int k = 1; k <= 2; ++k) {
    loglik += n[2 * k] * std::log(n[2 * k] / ab[k]) + n[2 * k + 1] * std::log(n[2 * k + 1] / ab[k]);
  }
  const EngineRun run(
      "man 3 dim 2 2 2 lab A B C mod AB {A,B} C|AB {lin(ABC 1)} des [ 1 0 0 0 0 0 -1 0 ] see 3 "
      "dat [ 10 20 30 15 25 5 12 18 ]");
  EXPECT_NEAR(run.Statistic("Log-likelihood"), loglik, 0.6e-5);
  EXPECT_EQ(run.Statistic("Degrees of freedom"), 2);
}

// Restrictions written in `all` act on the first subtable that holds their variables.
// Golden case alllin: P(B=1|A=1) = P(B=1|A=2) and ln P(B=3|A=3) - ln P(B=3|A=1) = ln 2 on B|A,
// against optim in R (Nelder-Mead, then BFGS, relative tolerance 1e-16, ten starts) over the
// four probabilities the restrictions leave free. And P(C=1) = 2 P(C=2) on C, which no
// submodel explains (its margin would be fixed at the data): closed form, C independent of AB
// with the probabilities 2/3 and 1/3.
TEST(RestrictedSubmodels, RestrictionsOfAllActOnTheirSubtable) {
  ExpectFit(
      "man 2 dim 3 3 lab A B mod A B|A all {lin(AB a 1), log(AB c 1)} see 4321 "
      "des [ 1 0 0 -1 0 0 0 0 0  0 0 -1 0 0 0 0 0 1  0.6931471805599453 ] "
      "dat [ 30 15 10  20 25 15  10 20 35 ]",
      -383.514471904, 5.699473605, 2);
  const double n[] = {10, 20, 30, 40, 15, 25, 35, 45};
  double loglik = 0;
  double lsquared = 0;
  for (int ab = 0; ab < 4; ++ab) {
    for (int c = 0; c < 2; ++c) {
      const double fitted = (n[2 * ab] + n[2 * ab + 1]) * (c == 0 ? 2.0 / 3 : 1.0 / 3);
      loglik += n[2 * ab + c] * std::log(fitted / 220);
      lsquared += 2 * n[2 * ab + c] * std::log(n[2 * ab + c] / fitted);
    }
  }
  ExpectFit(
      "man 3 dim 2 2 2 lab A B C mod A B|A all {lin(C a 1)} des [ 1 -2 ] see 3 "
      "dat [ 10 20 30 40 15 25 35 45 ]",
      loglik, lsquared, 4);
}

// A restriction no probabilities can meet: the first row's probability 1.5.
TEST(RestrictedSubmodels, ImpossibleRestrictionsStopWithAMessage) {
  const EngineRun run(
      "man 2 dim 2 2 lab A B mod A B|A {lin(AB c 1)} des [ 1 0 1 0 3 ] see 7 dat [ 30 10 20 40 ]");
  EXPECT_NE(run.status, 0);
}

}  // namespace
}  // namespace tav
