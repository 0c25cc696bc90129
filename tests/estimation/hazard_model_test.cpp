// Event-history models against independent fits. The inputs are examples and golden cases
// (their whole reports are golden files); the references are R 4.2.2 fits of the same data:
//   - piecewise-constant rates: glm(events ~ covariates + interval, family = poisson,
//     offset = log(exposure)) on the episodes split by interval, one fit per risk (competing
//     risks are separate fits, whose log-likelihoods, X-squared and deviances add up);
//   - discrete time: glm(cbind(events, at risk - events) ~ ..., family = binomial) on the
//     person-periods, its log-likelihood that of the person-periods (without the binomial
//     coefficients);
//   - estimated shapes: survival::survreg(Surv(time, status) ~ A, dist = "weibull") 3.4, the
//     shape 1/scale and the proportional-hazards coefficients -coef/scale;
//   - latent classes and missing covariates: the likelihood written out in R and maximised by
//     optim (BFGS and Nelder-Mead, ten starts, relative tolerance 1e-16).
// All with sum-to-zero contrasts, which are the report's effect coding; the hazard
// log-likelihood is sum(events log rate - rate exposure) at the fitted rates.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace tav {
namespace {

using testing::EngineRun;

std::string Read(const std::string& relative) {
  std::ifstream in(std::string(TAV_SOURCE_DIR) + "/" + relative);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Example(const std::string& name) { return Read("examples/" + name + ".inp"); }
std::string GoldenCase(const std::string& name) {
  return Read("tests/golden/cases/" + name + ".inp");
}

// The numbers of a line of the hazard parameter table: the line of `effect` itself (cell -1,
// "main") or the line cell + 1 below it.
std::vector<double> HazardRow(const EngineRun& run, const std::string& effect, int cell = 0) {
  auto at = std::find(run.report.begin(), run.report.end(), "*** HAZARD PARAMETERS ***");
  if (cell < 0) {
    at = std::find_if(at, run.report.end(),
                      [&](const std::string& line) { return line.rfind("  " + effect, 0) == 0; });
  } else {
    at = std::find(at, run.report.end(), "  " + effect + " ");
    if (at != run.report.end()) at += cell + 1;
  }
  if (at >= run.report.end()) return {};
  std::istringstream in(at->substr(14));
  std::vector<double> row;
  for (double x; in >> x;) row.push_back(x);
  return row;
}

// beta and its standard error in the hazard table agree with the reference to the printed
// digits.
void ExpectParameter(const EngineRun& run, const std::string& effect, int cell, double beta,
                     double std_err) {
  const std::vector<double> row = HazardRow(run, effect, cell);
  ASSERT_GE(row.size(), 2u) << effect << " " << cell;
  EXPECT_NEAR(row[0], beta, 0.6e-4) << effect << " " << cell;
  EXPECT_NEAR(row[1], std_err, 0.6e-4) << effect << " " << cell;
}

// The statistics of the hazard part on its own.
void ExpectHazardFit(const EngineRun& run, double loglik, double x_squared, double l_squared,
                     int df) {
  ASSERT_EQ(run.status, 0);
  EXPECT_NEAR(run.Statistic("Log-likelihood"), loglik, 0.6e-5);
  EXPECT_NEAR(run.Statistic("X-squared"), x_squared, 0.6e-4);
  EXPECT_NEAR(run.Statistic("L-squared"), l_squared, 0.6e-4);
  EXPECT_EQ(run.Statistic("Degrees of freedom"), df);
}

TEST(HazardModel, DiscreteTimeLogitEqualsTheBinomialModelOfPersonPeriods) {
  // Example discrete: 120 records, 5 periods; glm coefficients (Intercept), A1, T1 .. T4.
  const EngineRun run(Example("discrete"));
  ExpectHazardFit(run, -188.289312, 4.454211, 4.491819, 4);
  ExpectParameter(run, "R", 1, -0.687628767, 0.14934207);
  ExpectParameter(run, "AR", 1, -0.394485162, 0.12749499);
  ExpectParameter(run, "TR", 1, -0.417962360, 0.22482378);
  ExpectParameter(run, "TR", 7, 0.769082591, 0.29516123);
  // Staying is the reference of every contrast.
  EXPECT_EQ(HazardRow(run, "TR", 0)[0], 0.0);
  // Grouped event times in table form: events, then those censored, per category and period.
  const EngineRun table(GoldenCase("haztable"));
  ExpectHazardFit(table, -172.252472, 0.1259833, 0.1257786, 3);
  ExpectParameter(table, "R", 1, -0.94524954, 0.1463986);
  ExpectParameter(table, "TR", 5, 0.07293809, 0.2553143);
  // A linear effect of the period (a design inside haz): glm(... ~ factor(A) + T), its
  // X-squared the sum of the squared Pearson residuals.
  const EngineRun linear(GoldenCase("hazcov"));
  ExpectHazardFit(linear, -190.889931, 9.658746, 9.693056, 7);
  ExpectParameter(linear, "R", 1, -1.28788662, 0.26256398);
  ExpectParameter(linear, "AR", 1, -0.38823816, 0.12611774);
  const std::vector<std::string> slope = linear.Block("  TR");
  ASSERT_EQ(slope.size(), 2u);
  std::istringstream numbers(slope[1].substr(14));
  double beta = 0, std_err = 0;
  numbers >> beta >> std_err;
  EXPECT_NEAR(beta, 0.21535388, 0.6e-4);
  EXPECT_NEAR(std_err, 0.10010670, 0.6e-4);
  // Two processes per record (mul 2): two binomial models, whose log-likelihoods add up;
  // their coefficients of A are the contrasts of the moves of states 0 and 1.
  const EngineRun two(GoldenCase("hazmul"));
  ASSERT_EQ(two.status, 0);
  EXPECT_NEAR(two.Statistic("Log-likelihood"), -131.102542, 0.6e-5);
  EXPECT_NEAR(HazardRow(two, "AR", 1)[0], -0.502732, 0.6e-4);
  EXPECT_NEAR(HazardRow(two, "AR", 3)[0], -0.240860, 0.6e-4);
}

TEST(HazardModel, PiecewiseConstantRatesEqualPoissonModelsWithLogExposureOffsets) {
  // Example compete: two competing risks in five intervals, two Poisson fits; the report's
  // parameters are effect coded over the risks too, so a risk's coefficient is the sum of the
  // effect's and its interaction with R.
  const EngineRun run(Example("compete"));
  ExpectHazardFit(run, -396.724636 - 285.193927, 6.106717 + 8.029973, 5.913234 + 9.45953, 8);
  const double main = HazardRow(run, "main", -1)[0];
  EXPECT_NEAR(main + HazardRow(run, "R", 0)[0], -2.66533, 1.1e-4);
  EXPECT_NEAR(main + HazardRow(run, "R", 1)[0], -3.07230, 1.1e-4);
  EXPECT_NEAR(HazardRow(run, "A", 0)[0] + HazardRow(run, "AR", 0)[0], -0.20961, 1.1e-4);
  EXPECT_NEAR(HazardRow(run, "A", 0)[0] + HazardRow(run, "AR", 1)[0], 0.07020, 1.1e-4);
  // The rates file (wha): A = 1 in the first interval, the fitted rates of the two fits.
  const std::vector<std::vector<double>> rates = run.Numbers("compete.haz");
  ASSERT_FALSE(rates.empty());
  ASSERT_EQ(rates[0].size(), 2u);
  EXPECT_NEAR(rates[0][0], 0.06448955, 1e-7);
  EXPECT_NEAR(rates[0][1], 0.05300529, 1e-7);

  // Grouped times in table form with the default exposure time 0.5: the cases that leave an
  // interval, by an event or censored, count half of it.
  const EngineRun grouped(GoldenCase("hazgroup"));
  ExpectHazardFit(grouped, -185.039377, 0.656047, 0.657738, 2);
  ExpectParameter(grouped, "main", -1, -1.037980485, 0.11611597);
  ExpectParameter(grouped, "T", 1, -0.178322408, 0.16069199);

  // A chain 0 -> 1 -> 2 with entry times and two episodes per record; the clock runs on from
  // the entry, and with zer starts again with every episode (the intervals then split the
  // durations).
  const std::string chain = GoldenCase("hazchain");
  const EngineRun calendar(chain);
  ExpectHazardFit(calendar, -159.858109, 9.818404, 7.232045, 2);
  std::string with_zer = chain;
  with_zer.replace(with_zer.find("exp 1"), 5, "zer\nexp 1");
  const EngineRun duration(with_zer);
  ExpectHazardFit(duration, -161.007165, 0.603245, 0.642647, 2);
  const double constant = HazardRow(duration, "main", -1)[0];
  EXPECT_NEAR(constant + HazardRow(duration, "R", 0)[0], -1.692074, 1.1e-4);
  EXPECT_NEAR(constant + HazardRow(duration, "R", 1)[0], -1.465701, 1.1e-4);

  // Weighted records (rco), and single spells with counts of events (rsu): Poisson fits with
  // weights and with the counts as the response.
  const EngineRun weighted(GoldenCase("hazweigh"));
  EXPECT_NEAR(weighted.Statistic("Log-likelihood"), -208.301037, 0.6e-5);
  ExpectParameter(weighted, "main", -1, -1.173002, 0.102084);
  ExpectParameter(weighted, "A", 0, 0.153565, 0.102084);
  const EngineRun counts(GoldenCase("hazcount"));
  EXPECT_NEAR(counts.Statistic("Log-likelihood"), -131.040644, 0.6e-5);
  ExpectParameter(counts, "main", -1, -0.898570, 0.120718);
  ExpectParameter(counts, "A", 0, -0.289063, 0.120718);
}

TEST(HazardModel, ShapesAgreeWithWeibullRegression) {
  // Estimated shape: survreg's log-likelihood -342.5402, shape 1.463511 (standard error
  // 0.1129817 by the delta method), coefficients -2.914457 and -0.256162.
  const EngineRun run(GoldenCase("hazweib"));
  ASSERT_EQ(run.status, 0);
  EXPECT_NEAR(run.Statistic("Log-likelihood"), -342.54022, 0.6e-5);
  EXPECT_NEAR(HazardRow(run, "main", -1)[0], -2.914457, 0.6e-4);
  EXPECT_NEAR(HazardRow(run, "A", 0)[0], -0.256162, 0.6e-4);
  const std::vector<double> alpha = HazardRow(run, "alpha", -1);
  ASSERT_EQ(alpha.size(), 2u);
  EXPECT_NEAR(alpha[0], 1.463511, 0.6e-4);
  EXPECT_NEAR(alpha[1], 0.1129817, 0.6e-4);
  // A fixed shape 1.5: the Poisson fit with offset log(time^1.5), its log-likelihood plus
  // sum over the events of log 1.5 + 0.5 log time.
  const EngineRun fixed(GoldenCase("hazshape"));
  EXPECT_NEAR(fixed.Statistic("Log-likelihood"), -90.564177, 0.6e-5);
  EXPECT_NEAR(HazardRow(fixed, "main", -1)[0], -1.927871, 0.6e-4);
  EXPECT_NEAR(HazardRow(fixed, "A", 0)[0], 0.092356, 0.6e-4);
}

// The numbers after the 14-character head of the line that begins with head (the lines of an
// association block), from the line of `from` on.
std::vector<double> LineAfter(const EngineRun& run, const std::string& from,
                              const std::string& head) {
  auto at = std::find(run.report.begin(), run.report.end(), from);
  at = std::find_if(at, run.report.end(),
                    [&](const std::string& line) { return line.rfind(head, 0) == 0; });
  if (at == run.report.end()) return {};
  std::istringstream in(at->substr(14));
  std::vector<double> row;
  for (double x; in >> x;) row.push_back(x);
  return row;
}

void ExpectValues(const std::vector<double>& got, const std::vector<double>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(got[i], want[i], 0.6e-4) << i;
}

TEST(HazardModel, AssociationTermsAgreeWithPoissonModelsOfMultTerms) {
  // Golden case hazassoc, an RC term between A and B in the log rates: gnm 1.1.2,
  // gnm(events ~ A + B + T + Mult(A, B), offset = log(exposure), family = poisson) on the
  // events and exposures per cell and interval, the best of 20 starts. Its log-likelihood,
  // X-squared and deviance; the effects of the fitted log rates with sum-to-zero contrasts and
  // the scores centred, of unit length, phi positive and the first row score negative (the
  // first singular vectors of the interaction); their standard errors from the Fisher
  // information of the Poisson fit under these constraints (the scores' also from
  // getContrasts(ref = "mean", scaleRef = "mean", scaleWeights = "unit")).
  const EngineRun rc(GoldenCase("hazassoc"));
  ExpectHazardFit(rc, -361.576875626, 9.29530312, 9.482963329, 13);
  const std::string block = "  type 2 association (row=A column=B)";
  ExpectParameter(rc, "main", -1, -1.184155343, 0.081169158);
  ExpectParameter(rc, "A", 0, 0.02407569031, 0.113181427);
  ExpectParameter(rc, "B", 1, -0.14942016694, 0.137864327);
  ExpectParameter(rc, "T", 0, -0.1927757042, 0.079285958);
  ExpectValues(LineAfter(rc, block, "  association"), {1.319043146});
  ExpectValues(LineAfter(rc, block, "  row "), {-0.8090645849, 0.3093436737, 0.4997209112});
  ExpectValues(LineAfter(rc, block, "  column "),
               {-0.5301932003, -0.4459123951, 0.3402924519, 0.6358131435});
  const std::vector<std::string> lines = rc.Block(block);
  ASSERT_GE(lines.size(), 7u);
  auto numbers = [](const std::string& line) {
    std::istringstream in(line.substr(14));
    std::vector<double> values;
    for (double x; in >> x;) values.push_back(x);
    return values;
  };
  ExpectValues(numbers(lines[2]), {0.275497323});
  ExpectValues(numbers(lines[4]), {0.0241056097, 0.1657187214, 0.1416131116});
  ExpectValues(numbers(lines[6]), {0.1365878729, 0.1478850066, 0.1688239871, 0.1246635189});
  // With estimated Weibull shapes (_we): the same gnm fit with the exposures at shape alpha,
  // its log-likelihood plus sum over the events of log alpha + (alpha - 1) log time,
  // maximised over alpha by optimize (tolerance 1e-10): alpha 1.05612817, -361.409065061.
  std::string weibull = Read("tests/golden/cases/hazassoc.inp");
  weibull.replace(weibull.find("exp 1"), 5, "_we\nexp 1");
  const EngineRun shaped(weibull);
  ASSERT_EQ(shaped.status, 0);
  EXPECT_NEAR(shaped.Statistic("Log-likelihood"), -361.409065061, 0.6e-5);
  EXPECT_NEAR(HazardRow(shaped, "alpha", -1)[0], 1.05612817, 0.6e-4);
  // Discrete time: uniform association of the period with the move (R) is the linear effect
  // of the period on the logit, the design of golden case hazcov (glm, see above): phi is its
  // slope, with the same standard error and fit.
  std::string discrete = GoldenCase("hazcov");
  discrete.replace(discrete.find("cov(TR 1)"), 9, "ass(T R 2a)");
  discrete.erase(discrete.find("des ["), discrete.find("dat [") - discrete.find("des ["));
  const EngineRun uniform(discrete);
  ExpectHazardFit(uniform, -190.889931, 9.658746, 9.693056, 7);
  const std::string slope = "  type 1 association (row=T column=R)";
  ExpectValues(LineAfter(uniform, slope, "  association"), {0.21535388});
  ExpectValues(LineAfter(uniform, slope, "  s.e."), {0.10010670});
  // Discrete time with two destinations: an RC term between the risk variable (stay, move to
  // 1, move to 2) and A, in 300 simulated histories of five periods, given as weighted
  // records (A, weight, period, state). gnm(y ~ -1 + block + R + R:T + Mult(R, A), poisson)
  // on the person-period counts, block the cells of A and the period (the multinomial logit
  // model), the best of 20 starts: its multinomial log-likelihood, X-squared and deviance over
  // all transitions, the stays included, the scores as above (sign: the second R score
  // positive) with getContrasts' standard errors, phi's from the constrained Fisher
  // information.
  const EngineRun moves(
      "man 1 dim 3 lab A mod {A} dis tim 5 ris 3 [0 0] [0 1] [0 2] "
      "haz A {A, T.R, ass2(R A 5a)} rec 33 rco see 4321 dat [\n"
      "1 7 1 1\n1 10 1 2\n1 8 2 1\n1 12 2 2\n1 11 3 1\n1 8 3 2\n1 3 4 1\n"
      "1 6 4 2\n1 19 5 0\n1 5 5 1\n1 6 5 2\n2 20 1 1\n2 3 1 2\n2 18 2 1\n"
      "2 10 2 2\n2 12 3 1\n2 4 3 2\n2 6 4 1\n2 3 4 2\n2 20 5 0\n2 6 5 1\n"
      "2 2 5 2\n3 25 1 1\n3 11 1 2\n3 12 2 1\n3 2 2 2\n3 14 3 1\n3 1 3 2\n"
      "3 13 4 1\n3 4 4 2\n3 11 5 0\n3 7 5 1\n3 1 5 2\n"
      "]");
  ExpectHazardFit(moves, -665.122918608, 23.5451058, 23.75342861, 17);
  const std::string rc_moves = "  type 2 association (row=R column=A)";
  ExpectValues(LineAfter(moves, rc_moves, "  association"), {0.838019211});
  ExpectValues(LineAfter(moves, rc_moves, "  row "), {-0.0862267819, 0.7462660817, -0.6600393});
  ExpectValues(LineAfter(moves, rc_moves, "  column "), {-0.78928239, 0.21360259, 0.5756798});
  const std::vector<std::string> errors = moves.Block(rc_moves);
  ASSERT_GE(errors.size(), 7u);
  ExpectValues(numbers(errors[2]), {0.169160072});
  ExpectValues(numbers(errors[4]), {0.1146670723, 0.0467874207, 0.0678796516});
  ExpectValues(numbers(errors[6]), {0.0371764498, 0.1401481420, 0.1029716922});
}

TEST(HazardModel, LatentClassesAndMissingCovariatesAgreeWithDirectMaximisation) {
  // Example mixhaz: two latent classes with rates of their own; optim's maximum
  // -839.215614, log rate -1.574110 + X (0.757088 for the class of high rates) + T (0.366059,
  // 0.031213, -0.010171).
  const EngineRun mixture(Example("mixhaz"));
  ASSERT_EQ(mixture.status, 0);
  EXPECT_NEAR(mixture.Statistic("Log-likelihood"), -839.215614, 0.6e-5);
  EXPECT_NEAR(HazardRow(mixture, "main", -1)[0], -1.574110, 0.6e-4);
  EXPECT_NEAR(std::fabs(HazardRow(mixture, "X", 0)[0]), 0.757088, 0.6e-4);
  EXPECT_NEAR(HazardRow(mixture, "T", 0)[0], 0.366059, 0.6e-4);
  EXPECT_NEAR(HazardRow(mixture, "T", 2)[0], -0.010171, 0.6e-4);
  // A covariate missing at random: optim's maximum -272.236442 of the likelihood over all
  // records, which the report gives relative to the subgroup totals (31 and 49 of 80 records:
  // plus 53.409333).
  const EngineRun missing(GoldenCase("hazmiss"));
  ASSERT_EQ(missing.status, 0);
  EXPECT_NEAR(missing.Statistic("Log-likelihood"), -272.236442 + 53.409333, 0.6e-5);
  EXPECT_NEAR(HazardRow(missing, "main", -1)[0], -1.4174265, 0.6e-4);
  EXPECT_NEAR(HazardRow(missing, "A", 0)[0], -0.4827750, 0.6e-4);
  EXPECT_NEAR(HazardRow(missing, "B", 0)[0], -0.2278131, 0.6e-4);
}

}  // namespace
}  // namespace tav
