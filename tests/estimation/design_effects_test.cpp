// Design effects and cumulative models, run through the program and checked against
// independent fits. The reference figures come from R 4.2.2 (Debian r-base-core), computed once:
// Poisson glm fits of log m = R + C + (terms) with the regressors and offsets built by hand,
// and ordinal::clm 2022.11.16 (Debian r-cran-ordinal) fits of rating ~ temp + contact on the
// `wine` data of that package. Log-likelihoods are the multinomial sum n ln(m / N).

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace tav {
namespace {

using testing::EngineRun;

// Mental health status (4 rows) by parents' socioeconomic status (6 columns).
const char kMentalHealth[] = "man 2 dim 4 6 lab A B ";
const char kMentalHealthData[] =
    "see 17 dat [ 64 57 57 72 36 21  94 94 105 141 97 71  58 54 65 77 54 54  46 40 60 94 78 71 ]";
// Father's by son's status in a British mobility table (5 x 5).
const char kMobility[] = "man 2 dim 5 5 lab A B ";
const char kMobilityData[] =
    "see 17 dat [ 50 45 8 18 8  28 174 84 154 55  11 78 110 223 96  14 150 185 714 447  "
    "3 42 72 320 411 ]";
// Wine bitterness rating (5 categories) by temperature and contact (2 x 2).
const char kWine[] = "man 3 dim 2 2 5 lab T C R mod TC R|TC cum(";
const char kWineData[] = "see 17 dat [ 4 9 5 0 0  1 7 8 2 0  0 5 8 3 2  0 1 5 7 5 ]";

// The beta (ln of the parameter) and standard error of the lines after the block heading.
std::vector<std::pair<double, double>> Block(const EngineRun& run, const std::string& heading) {
  std::vector<std::pair<double, double>> rows;
  auto at = std::find(run.report.begin(), run.report.end(), heading);
  if (at == run.report.end()) ADD_FAILURE() << heading << " not in the report";
  for (++at; at < run.report.end() && at->size() > 14 && at->rfind("   ", 0) == 0 &&
             std::isdigit(static_cast<unsigned char>((*at)[3]));
       ++at) {
    std::istringstream in(at->substr(14));
    double beta = 0, se = 0;
    in >> beta >> se;
    rows.emplace_back(beta, se);
  }
  return rows;
}

struct Case {
  std::string input;
  double loglik;
  double lsquared;
  int df;
  std::string heading;                                // of the parameter block checked
  std::vector<std::pair<double, double>> parameters;  // beta and standard error
};

// Log-likelihood and L-squared to every printed digit, parameters to the printed precision,
// standard errors to the printed precision too.
void Check(const Case& c) {
  const EngineRun run(c.input);
  ASSERT_EQ(run.status, 0) << c.input;
  EXPECT_NEAR(run.Statistic("Log-likelihood"), c.loglik, 0.6e-5) << c.input;
  EXPECT_NEAR(run.Statistic("L-squared"), c.lsquared, 0.6e-4) << c.input;
  EXPECT_EQ(run.Statistic("Degrees of freedom"), c.df) << c.input;
  const auto rows = Block(run, c.heading);
  ASSERT_EQ(rows.size(), c.parameters.size()) << c.input;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    EXPECT_NEAR(rows[k].first, c.parameters[k].first, 0.6e-4) << c.input << " " << k;
    EXPECT_NEAR(rows[k].second, c.parameters[k].second, 0.6e-4) << c.input << " " << k;
  }
}

std::string Scores(double a, double b) {
  std::string text;
  for (int i = 1; i <= 4; ++i) {
    for (int j = 1; j <= 6; ++j) text += std::to_string((i - a) * (j - b)) + " ";
  }
  return text;
}

TEST(DesignEffects, LogLinearDesignsAgreeWithPoissonRegressions) {
  const std::string health = kMentalHealth;
  const std::string x = Scores(2.5, 3.5);
  // Linear-by-linear association with centred scores; the same with integer scores i j as
  // eff() entries.
  Check({health + "mod {A,B,cov(AB 1)} des [ " + x + "] " + kMentalHealthData,
         -5171.817007,
         9.89512355,
         14,
         "  AB",
         {{0.09068660881, 0.01500612698}}});
  std::string products;
  for (int i = 1; i <= 4; ++i) {
    for (int j = 1; j <= 6; ++j) products += std::to_string(i * j) + " ";
  }
  Check(
      {health + "mod {A,B,eff(AB 1)} des [ " + products + "] cri 0.0000000001 " + kMentalHealthData,
       -5171.817007,
       9.89512355,
       14,
       "  AB",
       {{0.09068660881, 0.01500612698}}});
  // Row effects: mu_i (j - 3.5) for rows 1 to 3.
  std::string rows;
  for (int k = 1; k <= 3; ++k) {
    for (int i = 1; i <= 4; ++i) {
      for (int j = 1; j <= 6; ++j) rows += std::to_string(i == k ? j - 3.5 : 0.0) + " ";
    }
  }
  Check({health + "mod {A,B,cov(AB 3)} des [ " + rows + "] cri 0.0000000001 " + kMentalHealthData,
         -5170.009826,
         6.280760919,
         12,
         "  AB",
         {{-0.3068184546, 0.04893768516},
          {-0.1617299972, 0.04130920216},
          {-0.1433863761, 0.04618890751}}});
  // A fixed offset 0.05 (i - 2.5)(j - 3.5)^2 (fix, given on the log scale) and a cell weight
  // of 2 for cell (1,1) (wei): glm offsets; neither takes a degree of freedom.
  std::string offset;
  std::string weight;
  for (int i = 1; i <= 4; ++i) {
    for (int j = 1; j <= 6; ++j) {
      offset += std::to_string(0.05 * (i - 2.5) * (j - 3.5) * (j - 3.5)) + " ";
      weight += i == 1 && j == 1 ? "2 " : "1 ";
    }
  }
  Check({health + "mod {A,B,cov(AB 1),fix(AB 1)} des [ " + x + "] sta log fix(AB) [ " + offset +
             "] " + kMentalHealthData,
         -5177.08042,
         20.42194975,
         14,
         "  AB",
         {{0.09747846041, 0.01504743246}}});
  Check({health + "mod {A,B,cov(AB 1),wei(AB 1)} des [ " + x + "] sta wei(AB) [ " + weight + "] " +
             kMentalHealthData,
         -5180.478598,
         27.21830495,
         14,
         "  AB",
         {{0.05908229833, 0.01486426094}}});
}

TEST(DesignEffects, SymmetryFamiliesAgreeWithPoissonRegressions) {
  const std::string mobility = kMobility;
  // Symmetry (3a), quasi-symmetry (4a with the margins), quasi-independence (5a, and the same
  // as a factor), uniform inheritance (5b) and the absolute distance (9b).
  const auto run = [&](const std::string& model) {
    const EngineRun r(mobility + "mod " + model + " cri 0.0000000001 " + kMobilityData);
    return std::make_pair(r.Statistic("Log-likelihood"), r.Statistic("L-squared"));
  };
  EXPECT_NEAR(run("{spe(AB 3a)}").first, -9280.392801, 0.6e-5);
  EXPECT_NEAR(run("{A,B,spe(AB 4a)}").second, 4.664071336, 0.6e-4);
  const std::vector<std::pair<double, double>> diagonal = {{3.484296476, 0.2262715117},
                                                           {1.393698335, 0.1139450358},
                                                           {0.5299850409, 0.1243263654},
                                                           {-0.01672297851, 0.07738891969},
                                                           {1.045762567, 0.08840294445}};
  Check({mobility + "mod {A,B,spe(AB 5a)} cri 0.0000000001 " + kMobilityData, -9379.551851,
         235.7817991, 11, "  AB", diagonal});
  Check({mobility +
             "mod {A,B,fac(AB 5)} des [ 1 0 0 0 0 0 2 0 0 0 0 0 3 0 0 0 0 0 4 0 0 0 0 0 5 ] "
             "cri 0.0000000001 " +
             kMobilityData,
         -9379.551851, 235.7817991, 11, "  AB", diagonal});
  Check({mobility + "mod {A,B,spe(AB 5b)} " + kMobilityData,
         -9499.647432,
         475.9729602,
         15,
         "  AB",
         {{0.6725395729, 0.03682283153}}});
  Check({mobility + "mod {A,B,spe(AB 9b)} " + kMobilityData,
         -9308.176771,
         93.03163938,
         15,
         "  AB",
         {{-0.5336128321, 0.02046623477}}});
}

// Hair (4) by eye colour (4) by sex (2) of 592 students: a linear-by-linear association of hair
// and eye colour, (h - 2.5)(e - 2.5), grouped by sex: its own parameter per sex (c), a shared
// one with a shift for the second sex (b, no standard errors: the shifts have none), and one
// that only the first sex has (a, group numbers 1 and 0). Poisson glm of n ~ H*S + E*S + terms.
TEST(DesignEffects, GroupedDesignsAgreeWithPoissonRegressions) {
  std::string x;
  for (int h = 1; h <= 4; ++h) {
    for (int e = 1; e <= 4; ++e) x += std::to_string((h - 2.5) * (e - 2.5)) + " ";
  }
  const auto input = [&](const std::string& effect, const std::string& groups) {
    return "man 3 dim 4 4 2 lab H E S mod {HS,ES," + effect + "} des [ " + x + groups +
           " ] see 5 dat [ 32 36 11 9 10 5 3 2 53 66 50 34 25 29 15 14 10 16 10 7 7 7 7 7 "
           "3 4 30 64 5 5 8 8 ]";
  };
  Check({input("cov(HE 1 S c)", ""),
         -1877.333393,
         126.3534666,
         16,
         "  HE",
         {{0.2349837292, 0.06473014859}, {0.2315530597, 0.05848553113}}});
  const EngineRun shifted(input("cov(HE 1 S b)", ""));
  EXPECT_NEAR(shifted.Statistic("Log-likelihood"), -1877.333393, 0.6e-5);
  const auto rows = Block(shifted, "  HE");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_NEAR(rows[0].first, 0.2349837292, 0.6e-4);
  EXPECT_NEAR(rows[1].first, -0.00343066945, 0.6e-4);
  Check({input("cov(HE 1 S a 1)", "1 0"),
         -1885.607778,
         142.9022361,
         17,
         "  HE",
         {{0.2349837292, 0.06473014859}}});
  // Real group multipliers: (1, 1) and (0, 1) for the two sexes give the association and its
  // shift for the second sex, with standard errors (glm: se 0.08723846335 of the shift).
  Check({input("cov(HE 1 S c -2)", "1 1 0 1"),
         -1877.333393,
         126.3534666,
         16,
         "  HE",
         {{0.2349837292, 0.06473014859}, {-0.00343066945, 0.08723846335}}});
  // Distances |h - e| (9a) with parameters of their own per sex, each sex's distance 0 at 1:
  // glm n ~ H*S + E*S + factor(|h - e|):S.
  const EngineRun distances(
      "man 3 dim 4 4 2 lab H E S mod {HS,ES,spe(HE 9a S c)} cri 0.0000000001 see 5 dat [ 32 36 "
      "11 9 10 5 3 2 53 66 50 34 25 29 15 14 10 16 10 7 7 7 7 7 3 4 30 64 5 5 8 8 ]");
  EXPECT_NEAR(distances.Statistic("Log-likelihood"), -1843.557844, 0.6e-5);
  EXPECT_EQ(distances.Statistic("Degrees of freedom"), 12);
  const auto per_sex = Block(distances, "  HE");
  ASSERT_EQ(per_sex.size(), 8u);
  const double expected[] = {0, -0.2813811, -0.1108597, -1.8965977,
                             0, -0.1157865, 0.3133495,  -2.4427088};
  for (int k = 0; k < 8; ++k) EXPECT_NEAR(per_sex[k].first, expected[k], 0.6e-4) << k;
  // The same association for both sexes given in `all`: it acts on the submodel that holds
  // its variables (glm n ~ H*S + E*S + x); a plain effect of `all` joins that submodel's terms
  // (no three-way interaction, as the haireye example).
  const std::string data =
      " see 5 dat [ 32 36 11 9 10 5 3 2 53 66 50 34 25 29 15 14 10 16 10 7 7 7 7 7 "
      "3 4 30 64 5 5 8 8 ]";
  Check({"man 3 dim 4 4 2 lab H E S mod {HS,ES} all {cov(HE 1)} des [ " + x + "]" + data,
         -1877.334166,
         126.3550131,
         17,
         "  HE",
         {{0.23309628099, 0.04339830276}}});
  const EngineRun plain("man 3 dim 4 4 2 lab H E S mod {HS,ES} all {HE}" + data);
  EXPECT_NEAR(plain.Statistic("L-squared"), 6.7613, 0.6e-4);
  EXPECT_EQ(plain.Statistic("Degrees of freedom"), 9);
}

// A logistic regression on a continuous covariate z of 40 records (drawn in R with
// set.seed(3)): cov(Bx 1) takes covariate 1 (all 0) for B = 1 and covariate 2 (z) for B = 2.
// glm(B == 2 ~ z, binomial): slope 1.466549795 (se 0.5120008369), intercept 0.2259577786
// (se 0.37068091), log-likelihood -22.23653467, to which the saturated covariate margin adds
// 40 ln(1/40); effect coding halves the intercept.
TEST(DesignEffects, ContinuousCovariatesAgreeWithALogisticRegression) {
  // One record per line.
  const std::string input =
      "con 2 man 1 dim 2 lab B x mod B|x {B,cov(Bx 1)} rec 40 see 3 cri 0.0000000001 dat [\n"
      "2 0 -0.96\n2 0 -0.29\n2 0 0.26\n1 0 -1.15\n1 0 0.2\n1 0 0.03\n2 0 0.09\n2 0 1.12\n"
      "1 0 -1.22\n1 0 1.27\n1 0 -0.74\n1 0 -1.13\n1 0 -0.72\n1 0 0.25\n1 0 0.15\n1 0 -0.31\n"
      "1 0 -0.95\n1 0 -0.65\n2 0 1.22\n1 0 0.2\n2 0 -0.58\n2 0 -0.94\n2 0 -0.2\n1 0 -1.67\n"
      "2 0 -0.48\n1 0 -0.74\n2 0 1.16\n2 0 1.01\n2 0 -0.07\n1 0 -1.14\n2 0 0.9\n2 0 0.85\n"
      "2 0 0.73\n2 0 0.74\n2 0 -0.35\n2 0 0.71\n2 0 1.3\n1 0 0.04\n1 0 -0.98\n2 0 0.79\n ]";
  const EngineRun run(input);
  ASSERT_EQ(run.status, 0);
  EXPECT_NEAR(run.Statistic("Log-likelihood"), -22.23653467 + 40 * std::log(1.0 / 40), 0.6e-5);
  const auto slope = Block(run, "  Bx");
  ASSERT_EQ(slope.size(), 1u);
  EXPECT_NEAR(slope[0].first, 1.466549795, 0.6e-4);
  EXPECT_NEAR(slope[0].second, 0.5120008369, 1.6e-4);
  EXPECT_NEAR(run.Row("B", 1).at(0), 0.2259577786 / 2, 0.6e-4);

  // The same regression as a design grouped by the covariates (1 and z as its multipliers).
  std::string records;
  for (std::size_t at = input.find("[\n") + 2; at < input.size();) {
    const std::size_t end = input.find('\n', at);
    if (end == std::string::npos) break;
    std::istringstream line(input.substr(at, end - at));
    std::string b, zero, z;
    line >> b >> zero >> z;
    records += b + " 1 " + z + "\n";
    at = end + 1;
  }
  const EngineRun grouped("con 2 man 1 dim 2 lab B x mod B|x {cov(B 1 x c -2)} rec 40 see 3 " +
                          std::string("des [ 0 1 ] dat [\n") + records + " ]");
  const auto rows = Block(grouped, "  B");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_NEAR(rows[0].first, 0.2259577786, 0.6e-4);
  EXPECT_NEAR(rows[0].second, 0.37068091, 1.6e-4);
  EXPECT_NEAR(rows[1].first, 1.466549795, 0.6e-4);
}

// The log-likelihood adds that of the saturated temperature-by-contact margin, 72 ln(1/4).
// Effects act on eta = theta + x ln tau, so their signs are those of clm's coefficients for
// the log-log link only (whose thresholds change sign instead).
TEST(DesignEffects, CumulativeModelsAgreeWithCumulativeLinkRegressions) {
  const std::string wine = kWine;
  const std::string effects = ") {cov(T 1) cov(C 1)} des [ 0 1 0 1 ] ";
  const double margin = 72 * std::log(0.25);
  Check({wine + "a" + effects + kWineData,
         -86.49192337 + margin,
         4.952692056,
         10,
         "  thresholds (free)",
         {{-1.344383411, 0.5171020453},
          {1.250808798, 0.437880203},
          {3.466886926, 0.5977604246},
          {5.006404204, 0.7309063437}}});
  Check({wine + "b" + effects + kWineData,
         -85.76114836 + margin,
         3.491142055,
         10,
         "  T",
         {{-1.499374578, 0.2917903911}}});
  Check({wine + "c" + effects + kWineData,
         -86.63407921 + margin,
         5.237003743,
         10,
         "  C",
         {{-0.8597136567, 0.2827319149}}});
  Check({wine + "d" + effects + kWineData,
         -87.71785514 + margin,
         7.404555611,
         10,
         "  thresholds (free)",
         {{0.3024414632, 0.258473015},
          {-1.178604775, 0.3169616551},
          {-2.606232888, 0.4076576723},
          {-3.814822873, 0.5196926478}}});
  // Equidistant thresholds: the intercept is the middle threshold -1.001044254 + 1.5 spacing.
  Check({wine + "e" + effects + kWineData,
         -87.86460185 + margin,
         7.698049022,
         12,
         "  thresholds (equidistant)",
         {{-1.001044254 + 1.5 * 2.122936243, 0.4488}, {2.122936243, 0.2455332359}}});
  // The other links with equidistant thresholds (clm threshold = "equidistant": first
  // threshold, spacing, temp, contact, log-likelihood); the log-log thresholds change sign.
  const struct {
    const char* letter;
    double first, spacing, temp, contact, loglik;
  } equidistant[] = {{"f", -0.5865481628, 1.241490819, 1.489138668, 0.8571140119, -87.23691967},
                     {"g", -1.104216107, 1.362270408, 1.814706744, 0.8628602231, -90.16987263},
                     {"h", 0.2748975092, -1.397886588, -1.488283245, -0.8923650844, -87.90966522}};
  for (const auto& e : equidistant) {
    const EngineRun run(wine + e.letter + effects + kWineData);
    EXPECT_NEAR(run.Statistic("Log-likelihood"), e.loglik + margin, 0.6e-5) << e.letter;
    const auto thresholds = Block(run, "  thresholds (equidistant)");
    ASSERT_EQ(thresholds.size(), 2u) << e.letter;
    EXPECT_NEAR(thresholds[0].first, e.first + 1.5 * e.spacing, 0.6e-4) << e.letter;
    EXPECT_NEAR(thresholds[1].first, e.spacing, 0.6e-4) << e.letter;
    EXPECT_NEAR(Block(run, "  T").at(0).first, -e.temp, 0.6e-4) << e.letter;
    EXPECT_NEAR(Block(run, "  C").at(0).first, -e.contact, 0.6e-4) << e.letter;
  }
}

// A cumulative model of a one-category response has no thresholds to estimate.
// The normal model i is a weighted least-squares regression of the centred category on the
// effects, with the maximum-likelihood variance RSS / N: R lm(h ~ a2 + b, weights = n) gives
// intercept -0.2023281596, 0.7301059374 and 0.328713969, R-squared 0.1622702651 and
// log-likelihood -N/2 (ln(2 pi RSS / N) + 1) = -103.9862827, to which the saturated margin of
// A and B adds -130.6043694.
TEST(DesignEffects, TheNormalModelIsAWeightedRegression) {
  const EngineRun run(
      "man 3 dim 2 3 4 lab A B R mod AB R|AB cum(i) {fac(A 1) cov(B 1)} des [ 0 1 -1 0 1 ] "
      "see 9 dat [ 5 3 2 1 4 4 3 1 2 3 4 5 1 2 6 3 2 2 3 5 1 1 4 6 ]");
  ASSERT_EQ(run.status, 0);
  EXPECT_NEAR(run.Statistic("Log-likelihood"), -234.5906521, 0.6e-5);
  EXPECT_TRUE(run.Has("  R-squared      0.1623"));
  EXPECT_NEAR(Block(run, "  A").at(0).first, 0.7301059374, 0.6e-4);
  EXPECT_NEAR(Block(run, "  B").at(0).first, 0.328713969, 0.6e-4);
}

TEST(DesignEffects, ImpossibleModelsStopWithAMessage) {
  const EngineRun one("man 2 dim 2 1 lab A B mod A B|A cum(a) { } dat [ 1 2 ]");
  EXPECT_NE(one.status, 0);
  const auto has_message = [](const std::string& line) {
    return line.find("needs a response with more than one category") != std::string::npos;
  };
  EXPECT_NE(std::find_if(one.log.begin(), one.log.end(), has_message), one.log.end());
}

}  // namespace
}  // namespace tav

namespace tav {
namespace {

// The scores u_i v_j of the linear-by-linear model times 10^power, written out in full (the
// input has no exponent form).
std::string ScaledScores(int power) {
  const int hundredths[4][6] = {{375, 225, 75, -75, -225, -375},
                                {125, 75, 25, -25, -75, -125},
                                {-125, -75, -25, 25, 75, 125},
                                {-375, -225, -75, 75, 225, 375}};
  std::string text;
  for (const auto& row : hundredths) {
    for (int value : row) {
      std::string digits = std::to_string(std::abs(value));
      const int exponent = power - 2;  // value / 100 * 10^power
      if (exponent >= 0) {
        digits += std::string(exponent, '0');
      } else {
        const int shift = -exponent;
        if (static_cast<int>(digits.size()) <= shift) {
          digits = std::string(shift - digits.size() + 1, '0') + digits;
        }
        digits.insert(digits.size() - shift, ".");
      }
      text += (value < 0 ? " -" : " ") + digits;
    }
  }
  return text;
}

// The design values of a covariate in any unit give the same fit: the columns are scaled for
// the fit and the parameter shown for the user's column. Once scores times 1e16 left the
// covariate out (L-squared 47.42), times 1e-5 stopped at the iteration limit (24.06), times
// 1e-170 or 1e200 gave every fitted frequency 0. R: glm(count ~ M + S + I(u * v * s), poisson)
// gives the deviance 9.895124 at every s, the coefficient 0.0906866 (se 0.0150061) at s = 1
// and 9068.66 (1500.61) at s = 1e-5.
TEST(DesignEffects, CovariatesInAnyUnitGiveTheSameFit) {
  for (int power : {-170, -5, 0, 16, 200}) {
    SCOPED_TRACE(power);
    const EngineRun run(std::string(kMentalHealth) + "mod {A,B,cov(AB 1)} des [" +
                        ScaledScores(power) + " ] " + kMentalHealthData);
    ASSERT_EQ(run.status, 0);
    EXPECT_NEAR(run.Statistic("L-squared"), 9.895124, 0.6e-4);
    EXPECT_FALSE(run.Has("WARNING: the iteration limit was reached before convergence"));
    const auto line = std::find(run.report.begin(), run.report.end(), "  AB");
    ASSERT_NE(line, run.report.end());
    ASSERT_NE(line + 1, run.report.end());
    std::istringstream in((line + 1)->substr(14));
    double beta = 0;
    double std_err = 0;
    in >> beta >> std_err;
    if (power == 0 || power == -5) {
      const double scale = power == 0 ? 1 : 1e-5;
      EXPECT_NEAR(beta * scale, 0.0906866, 0.6e-4 * (power == 0 ? 1 : 1e-5) + 1e-6);
      EXPECT_NEAR(std_err * scale, 0.0150061, 0.6e-4 * (power == 0 ? 1 : 1e-5) + 1e-6);
    } else {
      // Two significant digits in the exponent form, or 0 for the large scales.
      const double expected = 0.0906866 * std::pow(10.0, -power);
      EXPECT_NEAR(beta, power > 0 ? 0.0 : expected, power > 0 ? 0.0 : 0.06 * expected);
    }
    for (const std::string& text : run.report) {
      EXPECT_EQ(text.find("Inf"), std::string::npos) << text;
      EXPECT_EQ(text.find("Nan"), std::string::npos) << text;
    }
  }
}

}  // namespace
}  // namespace tav
