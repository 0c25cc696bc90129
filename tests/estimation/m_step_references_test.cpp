// The M-steps of the model families against closed forms and against fits computed once in
// R 4.2.2 (Debian r-base-core; gnm 1.1.2): single steps of proportional fitting from the
// uniform start, and converged fits of the families whose maxima have no closed form.

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "estimation/estimate.h"
#include "estimation/m_steps.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::EngineRun;
using testing::Fitted;
using testing::FittedModel;

// n_abc of a 2 x 2 x 2 table (C fastest) and its closed form under {AB,BC}:
// m_abc = n_ab. n_.bc / n_.b.
std::vector<double> ConditionalIndependence(const std::vector<double>& n) {
  std::vector<double> m(8);
  for (int a = 0; a < 2; ++a) {
    for (int b = 0; b < 2; ++b) {
      const double ab = n[4 * a + 2 * b] + n[4 * a + 2 * b + 1];
      const double b_total = n[2 * b] + n[2 * b + 1] + n[4 + 2 * b] + n[4 + 2 * b + 1];
      for (int c = 0; c < 2; ++c) {
        const double bc = n[2 * b + c] + n[4 + 2 * b + c];
        m[4 * a + 2 * b + c] = b_total > 0 ? ab * bc / b_total : 0;
      }
    }
  }
  return m;
}

std::string Counts(const std::vector<double>& n) {
  std::string text;
  for (double x : n) text += std::to_string(static_cast<int>(x)) + " ";
  return text;
}

// From the uniform start one cycle of proportional fitting (AB, then BC) gives the closed form
// of the decomposable model at once: the AB step leaves n_ab. / 2, the BC step multiplies by
// n_.bc / (n_.b. / 2). A zero margin of B (the second table) stays empty, without a division by
// zero, and a sampling zero of AB (the third) leaves its cells at 0.
TEST(ProportionalFitting, OneCycleFromTheUniformStartGivesTheDecomposableClosedForm) {
  const std::vector<double> tables[] = {
      {25, 10, 14, 31, 8, 17, 22, 13}, {25, 10, 0, 0, 8, 17, 0, 0}, {25, 10, 14, 31, 0, 0, 22, 13}};
  for (const std::vector<double>& n : tables) {
    FittedModel t("man 3 dim 2 2 2 mod {AB,BC} dat [ " + Counts(n) + "]");
    ASSERT_EQ(t.message, "");
    SetUpEstimationTables(t.run);
    ASSERT_EQ(t.run.estimation.FittedTable, std::vector<double>(8, 1.0));
    t.SetExpected(n);
    IpfAdjustAll(t.run, 0);
    const std::vector<double> m = ConditionalIndependence(n);
    for (int c = 0; c < 8; ++c) {
      EXPECT_NEAR(t.run.estimation.FittedTable[c], m[c], 1e-12) << Counts(n) << c;
    }
  }
}

// The whole fit converges to the same closed form, zero margin included; L-squared and the
// log-likelihood are those of the closed form (cells with n = 0 add nothing).
TEST(ProportionalFitting, ConditionalIndependenceConvergesToTheClosedForm) {
  for (const std::vector<double>& n : {std::vector<double>{25, 10, 14, 31, 8, 17, 22, 13},
                                       std::vector<double>{25, 10, 0, 0, 8, 17, 0, 0}}) {
    Fitted f("man 3 dim 2 2 2 mod {AB,BC} cri 0.0000000001 dat [ " + Counts(n) + "]");
    ASSERT_EQ(f.message, "");
    const std::vector<double> m = ConditionalIndependence(n);
    double total = 0;
    for (double x : n) total += x;
    double lsquared = 0;
    double loglik = 0;
    for (int c = 0; c < 8; ++c) {
      EXPECT_NEAR(f.Frequency(c), m[c], 1e-9) << Counts(n) << c;
      if (n[c] > 0) {
        lsquared += 2 * n[c] * std::log(n[c] / m[c]);
        loglik += n[c] * std::log(m[c] / total);
      }
    }
    EXPECT_NEAR(f.LSquared(), lsquared, 1e-8) << Counts(n);
    EXPECT_NEAR(f.LogLikelihood(), loglik, 1e-8) << Counts(n);
  }
}

// Income (rows) by job satisfaction (columns), a General Social Survey table with a sampling
// zero from Agresti's Categorical Data Analysis. Linear-by-linear association with integer
// scores u and v: R's glm(n ~ factor(u) + factor(v) + I(u * v), poisson) gives the coefficient
// 0.21381084322 (standard error 0.12516342947), deviance 3.7228424675 on 8 df, sum(n log(m / N)) =
// -237.9691413654 and the fitted values below.
TEST(DesignEffectReferences, LinearByLinearAssociationOnAFourByFourTableWithAZero) {
  // The same design three ways: centred scores (cov), integer scores (eff, whose other part
  // the main effects absorb) and the prespecified design 1b.
  std::string centred;
  std::string products;
  for (int i = 1; i <= 4; ++i) {
    for (int j = 1; j <= 4; ++j) {
      centred += std::to_string((i - 2.5) * (j - 2.5)) + " ";
      products += std::to_string(i * j) + " ";
    }
  }
  const double fitted[] = {1.5052306490, 3.7931674678, 9.2584715472,  5.4431303382,
                           1.0772954987, 3.3619455790, 10.1621318996, 7.3986270252,
                           1.0193219181, 3.9393454433, 14.7460290058, 13.2953036374,
                           0.3981519449, 1.9055415115, 8.8333675479,  9.8629389997};
  for (const std::string& design :
       {"cov(AB 1)} des [ " + centred + "]", "eff(AB 1)} des [ " + products + "]",
        std::string("spe(AB 1b)}")}) {
    const EngineRun run("man 2 dim 4 4 lab A B mod {A,B," + design +
                        " cri 0.0000000001 see 7 dat [ 1 3 10 6  2 3 10 7  1 6 14 12  0 1 9 11 ]");
    testing::ExpectFit(run, -237.9691414, 3.722842, 8);
    const std::vector<std::string> block = run.Block("  AB");
    ASSERT_GE(block.size(), 2u) << design;
    std::istringstream in(block[1].substr(14));
    double beta = 0, std_err = 0;
    in >> beta >> std_err;
    EXPECT_NEAR(beta, 0.2138108432, 0.6e-4) << design;
    EXPECT_NEAR(std_err, 0.1251634295, 0.6e-4) << design;
    for (int c = 0; c < 16; ++c) {
      EXPECT_NEAR(run.run.estimation.FittedTable[c], fitted[c], 1e-6) << design << c;
    }
  }
}

// A cumulative logit model of R (4 categories) by A (3), with an empty cell: ordinal::clm
// 2022.11.16 (clm(r ~ a, weights = n), gradTol 1e-12) gives the thresholds -0.1019258881,
// 1.4200550014, 2.9864434672, the effects 1.1037331796 and 2.4912050732 (with the opposite
// sign here, as the report adds them to the thresholds), the log-likelihood -110.4127711503
// (to which the saturated margin of A, 26, 31 and 32 of 89, adds its own) and the fitted
// probabilities below (MASS::polr agrees to 6 digits).
TEST(CumulativeReferences, CumulativeLogitProbabilitiesAgreeWithACumulativeLinkModel) {
  const EngineRun run(
      "man 2 dim 3 4 lab A R mod A R|A cum(a) {fac(A 2)} des [ 0 1 2 ] cri 0.0000000001 see 3 "
      "dat [ 12 9 5 0  7 11 9 4  3 6 10 13 ]");
  const double probabilities[] = {0.4745405654, 0.3308064733, 0.1466108780, 0.0480420833,
                                  0.2304700300, 0.3479575614, 0.2894945343, 0.1320778744,
                                  0.0695818105, 0.1856026234, 0.3661552515, 0.3786603146};
  const double n[] = {12, 9, 5, 0, 7, 11, 9, 4, 3, 6, 10, 13};
  const double rows[] = {26, 31, 32};
  double lsquared = 0;
  for (int c = 0; c < 12; ++c) {
    if (n[c] > 0) lsquared += 2 * n[c] * std::log(n[c] / (rows[c / 4] * probabilities[c]));
  }
  const double margin =
      26 * std::log(26.0 / 89) + 31 * std::log(31.0 / 89) + 32 * std::log(32.0 / 89);
  testing::ExpectFit(run, -110.4127711503 + margin, lsquared, 4);
  const double* fitted =
      run.run.estimation.FittedTable.data() + run.run.model.submodels[1].first_cell;
  for (int c = 0; c < 12; ++c) EXPECT_NEAR(fitted[c], probabilities[c], 1e-7) << c;
  const std::vector<std::string> effects = run.Block("  A");
  ASSERT_EQ(effects.size(), 3u);
  EXPECT_NEAR(std::stod(effects[1].substr(14)), -1.1037331796, 0.6e-4);
  EXPECT_NEAR(std::stod(effects[2].substr(14)), -2.4912050732, 0.6e-4);
}

// Rows whose ordering is violated at every cut pool: both rows of B|A take the column shares
// of the whole table, 30, 40 and 50 of 120, whichever ordering is asked for.
TEST(OrdinalReferences, ViolatedOrderingsPoolTheRows) {
  for (const std::string kind : {"or1(c)", "or1(b)", "or1(a)", "or1(d)"}) {
    const EngineRun run("man 2 dim 2 3 lab A B mod A B|A " + kind +
                        " cri 0.0000000001 see 3 dat [ 10 20 30 20 20 20 ]");
    ASSERT_EQ(run.status, 0) << kind;
    const double* p = run.run.estimation.FittedTable.data() + run.run.model.submodels[1].first_cell;
    const double pooled[] = {30.0 / 120, 40.0 / 120, 50.0 / 120};
    for (int c = 0; c < 6; ++c) EXPECT_NEAR(p[c], pooled[c % 3], 1e-6) << kind << c;
  }
}

// The RC(1) model on the vision table (right eye by left eye, 7477 women): gnm(n ~ r + c +
// Mult(r, c), poisson), best of five starts, tolerance 1e-12: deviance 1704.3202156265 on 4
// df, sum(n log(m / N)) = -17236.6391674407. Scores centred, scaled to unit sums of squares
// (phi takes the scale) and signed so that the first row score is negative.
TEST(AssociationReferences, RowAndColumnEffectsModelOfTheVisionTable) {
  const EngineRun run(
      "man 2 dim 4 4 lab A B mod {A,B,ass2(A B 5a)} see 7 "
      "dat [ 1520 266 124 66  234 1512 432 78  117 362 1772 205  36 82 179 492 ]");
  testing::ExpectFit(run, -17236.6391674, 1704.320216, 4);
  const std::vector<std::string> block = run.Block("  type 2 association (row=A column=B)");
  auto values = [&](const std::string& head) {
    std::vector<double> numbers;
    for (const std::string& line : block) {
      if (line.rfind(head, 0) != 0) continue;
      std::istringstream in(line.substr(14));
      for (double x; in >> x;) numbers.push_back(x);
      break;
    }
    return numbers;
  };
  const std::vector<double> phi = values("  association");
  const std::vector<double> row = values("  row ");
  const std::vector<double> column = values("  column ");
  ASSERT_EQ(phi.size(), 1u);
  ASSERT_EQ(row.size(), 4u);
  ASSERT_EQ(column.size(), 4u);
  EXPECT_NEAR(phi[0], 6.81768950, 0.6e-4);
  const double want_row[] = {-0.68401717, -0.18779634, 0.19422137, 0.67759214};
  const double want_column[] = {-0.72686228, -0.14054049, 0.23911746, 0.62828531};
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(row[i], want_row[i], 0.6e-4) << i;
    EXPECT_NEAR(column[i], want_column[i], 0.6e-4) << i;
  }
}

// Marginal homogeneity of a 2 x 2 table has the closed form m_12 = m_21 = (n_12 + n_21) / 2
// with the diagonal at the data: 30 15 15 40 of 100.
TEST(MarginalRestrictionReferences, MarginalHomogeneityOfATwoByTwoTable) {
  const double n[] = {30, 10, 20, 40};
  const double m[] = {30, 15, 15, 40};
  double loglik = 0;
  double lsquared = 0;
  for (int c = 0; c < 4; ++c) {
    loglik += n[c] * std::log(m[c] / 100);
    lsquared += 2 * n[c] * std::log(n[c] / m[c]);
  }
  const EngineRun run(
      "man 2 dim 2 2 lab A B mod AB {mar(A B a 1)} des [ 1 0  -1 0 ] see 7 "
      "dat [ 30 10 20 40 ]");
  testing::ExpectFit(run, loglik, lsquared, 1);
}

// The saturated piecewise-constant hazard model {AT}: the rate of each category of A and
// interval is its events over its exposure, those who leave an interval (by an event or
// censored) counting half of it. The data hold the events per category of A and interval, then
// the censored cases the same way; the second table has an interval without events, whose rate
// is 0.
TEST(HazardReferences, SaturatedPiecewiseConstantRatesAreEventsOverExposure) {
  const double tables[2][2][2][3] = {{{{20, 14, 9}, {5, 8, 30}}, {{26, 13, 7}, {3, 6, 25}}},
                                     {{{20, 0, 9}, {26, 13, 7}}, {{5, 8, 30}, {3, 6, 25}}}};
  for (const auto& table : tables) {
    std::string counts;
    for (const auto& kind : table) {
      for (const auto& category : kind) {
        for (double x : category) counts += std::to_string(static_cast<int>(x)) + " ";
      }
    }
    std::vector<double> rates;
    for (int a = 0; a < 2; ++a) {
      const double* events = table[0][a];
      const double* censored = table[1][a];
      double at_risk = 0;
      for (int j = 0; j < 3; ++j) at_risk += events[j] + censored[j];
      for (int j = 0; j < 3; ++j) {
        const double leave = events[j] + censored[j];
        rates.push_back(events[j] / (at_risk - 0.5 * leave));
        at_risk -= leave;
      }
    }
    const EngineRun run("man 1 dim 2 lab A mod {A} tim 3 haz A {AT} wha rates.txt see 97 dat [ " +
                        counts + "]");
    ASSERT_EQ(run.status, 0) << counts;
    std::vector<double> got;
    for (const std::vector<double>& line : run.Numbers("rates.txt")) {
      if (!line.empty()) got.push_back(line[0]);
    }
    ASSERT_EQ(got.size(), rates.size()) << counts;
    for (std::size_t i = 0; i < rates.size(); ++i) {
      EXPECT_NEAR(got[i], rates[i], 0.6e-8) << counts << i;
    }
  }
}

}  // namespace
}  // namespace tav
