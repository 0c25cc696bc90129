#include "estimation/estimate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/stop_run.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::Fitted;

using testing::ParseText;
using testing::RecordingPresentation;
using testing::TempDir;

// Parses text and estimates the model; the log lines go to window.lines.

TEST(LogLinear, IndependenceInATwoWayTableHasItsClosedForm) {
  Fitted f("man 2 dim 2 3 mod {A,B} cri 0.0000000001 dat [ 10 20 30 40 25 15 ]");
  ASSERT_EQ(f.message, "");
  // Row totals 60 and 80, column totals 50, 45, 45; N = 140.
  const double n[] = {10, 20, 30, 40, 25, 15};
  const double row[] = {60, 80};
  const double column[] = {50, 45, 45};
  double lsq = 0;
  double loglik = 0;
  for (int c = 0; c < 6; ++c) {
    const double m = row[c / 3] * column[c % 3] / 140;
    EXPECT_NEAR(f.Frequency(c), m, 1e-9) << c;
    lsq += 2 * n[c] * std::log(n[c] / m);
    loglik += n[c] * std::log(m / 140);
  }
  EXPECT_NEAR(f.LSquared(), lsq, 1e-8);
  EXPECT_NEAR(f.est().LogLikelihood, loglik, 1e-8);
  EXPECT_NEAR(f.est().ExpectedTotal, 140, 1e-9);
}

TEST(LogLinear, SaturatedModelReproducesTheData) {
  Fitted f("man 3 dim 2 2 2 mod {ABC} dat [ 5 8 2 9 11 3 7 6 ]");
  ASSERT_EQ(f.message, "");
  const double n[] = {5, 8, 2, 9, 11, 3, 7, 6};
  for (int c = 0; c < 8; ++c) EXPECT_NEAR(f.Frequency(c), n[c], 1e-9);
  EXPECT_NEAR(f.LSquared(), 0, 1e-9);
  EXPECT_NEAR(f.est().PearsonSum, 0, 1e-9);
}

// Reference values: R's loglin (eps 1e-12) on the same tables, the log-likelihood computed
// as sum(n * log(fit / N)).
TEST(LogLinear, ConditionalIndependenceAgreesWithAnIndependentFit) {
  Fitted f(
      "man 3 dim 2 2 6 lab A S D mod {AD,SD} cri 0.0000000001\n"
      "dat [ 512 353 120 138 53 22 89 17 202 131 94 24\n"
      "      313 207 205 279 138 351 19 8 391 244 299 317 ]");
  ASSERT_EQ(f.message, "");
  EXPECT_NEAR(f.LSquared(), 21.7355067781328, 1e-7);
  EXPECT_NEAR(f.est().PearsonSum, 19.9384133778807, 1e-7);
  EXPECT_NEAR(f.est().LogLikelihood, -13069.6918048031, 1e-7);
  EXPECT_NEAR(f.Frequency(0), 531.430868167203, 1e-7);
  EXPECT_NEAR(f.Frequency(23), 319.03081232493, 1e-7);
}

TEST(LogLinear, NoThreeWayInteractionAgreesWithAnIndependentFit) {
  Fitted f(
      "man 3 dim 4 4 2 lab H E S mod {HE,HS,ES} cri 0.0000000001\n"
      "dat [ 32 36 11 9 10 5 3 2 53 66 50 34 25 29 15 14\n"
      "      10 16 10 7 7 7 7 7 3 4 30 64 5 5 8 8 ]");
  ASSERT_EQ(f.message, "");
  EXPECT_NEAR(f.LSquared(), 6.76125041877217, 1e-7);
  // One proportional-fitting pass per iteration: the fitted values trail the log-likelihood.
  EXPECT_NEAR(f.est().PearsonSum, 6.86902723863621, 1e-5);
  EXPECT_NEAR(f.est().LogLikelihood, -1817.5372851286, 1e-7);
  EXPECT_NEAR(f.Frequency(0), 32.7924406068494, 1e-4);
  EXPECT_NEAR(f.Frequency(3 * 8 + 1 * 2 + 1), 59.4987470973487, 1e-4);
}

// Two latent classes for the four dichotomous items of Stouffer and Toby (216 respondents).
// Reference: a plain EM written separately in R, run for 20000 iterations.
// More distinct response patterns than the 163,800 the store once held: 185,000 records of 20
// dichotomous items (a fixed pseudo-random draw) under independence, whose maximum has the
// closed form sum_v sum_k n_vk ln(n_vk / N) from the margins.
TEST(LogLinear, MoreThanTheOldCapOfDistinctPatterns) {
  constexpr int kItems = 20;
  constexpr int kRecords = 185000;
  std::string input = "man 20 dim";
  for (int v = 0; v < kItems; ++v) input += " 2";
  input += " lab A B C D E F G H I J K L M N O P Q R S T mod {A";
  for (int v = 1; v < kItems; ++v) input += std::string(",") + static_cast<char>('A' + v);
  input += "} rec " + std::to_string(kRecords) + " nse\ndat [\n";
  std::vector<double> ones(kItems, 0);
  unsigned state = 2024;
  for (int r = 0; r < kRecords; ++r) {
    for (int v = 0; v < kItems; ++v) {
      state = state * 1664525u + 1013904223u;
      const bool one = (state >> 16) % 100 < 48u + static_cast<unsigned>(v % 5);
      ones[v] += one ? 1 : 0;
      input += one ? "1 " : "2 ";
    }
    input += "\n";
  }
  const testing::EngineRun run(input + "]\n");
  ASSERT_EQ(run.status, 0);
  EXPECT_GT(run.run.data.EntryCount(), 163800);
  double maximum = 0;
  for (double n1 : ones) {
    const double n2 = kRecords - n1;
    maximum += n1 * std::log(n1 / kRecords) + n2 * std::log(n2 / kRecords);
  }
  EXPECT_NEAR(run.Statistic("Log-likelihood"), maximum, 0.6e-5);
}

// A table of 2^98 cells (the variable limit with the latent variable and the subgroup
// variable): two latent classes for 98 dichotomous items, 400 records from a fixed
// pseudo-random draw, the first three items missing one time in ten (missing at random). The
// complete table is never formed. Reference: a plain EM written separately in R on the same
// records (missing answers left out of each record's likelihood), from four starts that all
// reached log-likelihood -24874.61585621 and class sizes 0.41502266 and 0.58497734.
TEST(LatentClass, MoreThan1E18CellsWithMissingAnswers) {
  constexpr int kItems = 98;
  std::vector<std::string> labels;
  for (char a = 'A'; a <= 'Z' && static_cast<int>(labels.size()) < kItems; ++a) {
    for (char b = 'A'; b <= 'Z' && static_cast<int>(labels.size()) < kItems; ++b) {
      const std::string label{a, b};
      if (label != "XX" && label != "RR") labels.push_back(label);
    }
  }
  std::string input = "res 1 lat 1 man 98 dim 8 2";
  for (int v = 0; v < kItems; ++v) input += " 2";
  input += "\nlab RR XX";
  for (const std::string& label : labels) input += " " + label;
  input += "\nmod RR XX";
  for (const std::string& label : labels) input += " " + label + "|XX";
  input += "\nrec 400 see 1234 cri 0.0000000001 nse\ndat [\n";
  std::uint32_t state = 7;
  auto uniform = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / (1 << 24);
  };
  for (int r = 0; r < 400; ++r) {
    const bool first_class = uniform() < 0.6;
    for (int v = 0; v < kItems; ++v) {
      const double p = first_class ? 0.25 + 0.5 * (v % 7) / 6.0 : 0.75 - 0.5 * (v % 5) / 4.0;
      int answer = uniform() < p ? 1 : 2;
      if (v < 3 && uniform() < 0.1) answer = 0;
      input += std::to_string(answer) + " ";
    }
    input += "\n";
  }
  const testing::EngineRun run(input + "]\n");
  ASSERT_EQ(run.status, 0);
  EXPECT_NEAR(run.Statistic("Log-likelihood"), -24874.61586, 0.6e-5);
  EXPECT_TRUE(run.Has("  not given: the table has more than 1E18 cells."));
  EXPECT_TRUE(run.Has("  Not listed: the observed table has more than 163800 cells."));
  EXPECT_TRUE(run.Has("  Not listed: the complete table has more than 163800 cells."));
  // The class sizes: the first line of P(XX) among the probabilities.
  const auto at =
      std::find(run.report.begin(), run.report.end(), "*** (CONDITIONAL) PROBABILITIES ***");
  const auto sizes = std::find(at, run.report.end(), "* P(XX) *");
  ASSERT_LT(sizes + 2, run.report.end());
  const double first = std::stod(sizes[2].substr(14, 9));
  EXPECT_NEAR(std::min(first, 1 - first), 0.4150, 0.6e-4);
}

// The largest model: 499 dichotomous items and a latent variable of two classes, 500 variables.
// Five records of two complementary answer patterns (three of one, two of the other): two
// classes reproduce the observed pattern proportions, the most any model can, so the maximum of
// the log-likelihood is 3 ln(3/5) + 2 ln(2/5) = -3.3650583350. The diagnostics (124,251 pairs of
// items) are left out to keep the test short.
TEST(LatentClass, FiveHundredVariables) {
  constexpr int kItems = 499;
  std::vector<std::string> labels;
  for (char a = 'A'; a <= 'Z' && static_cast<int>(labels.size()) < kItems; ++a) {
    for (char b = 'A'; b <= 'Z' && static_cast<int>(labels.size()) < kItems; ++b) {
      const std::string label{a, b};
      if (label != "XX") labels.push_back(label);
    }
  }
  std::string input = "lat 1 man 499 dim 2";
  for (int v = 0; v < kItems; ++v) input += " 2";
  input += "\nlab XX";
  for (const std::string& label : labels) input += " " + label;
  input += "\nmod XX";
  for (const std::string& label : labels) input += " " + label + "|XX";
  input += "\nrec 5 see 1234 nse ndi\ndat [\n";
  for (int r = 0; r < 5; ++r) {
    for (int v = 0; v < kItems; ++v) input += (v + (r < 3 ? 0 : 1)) % 2 == 0 ? "1 " : "2 ";
    input += "\n";
  }
  const testing::EngineRun run(input + "]\n");
  ASSERT_EQ(run.status, 0);
  EXPECT_NEAR(run.Statistic("Log-likelihood"), -3.3650583350, 1e-4);
  // The report names the last item and its table.
  EXPECT_TRUE(run.Has("* P(TE|XX) *"));
}

// The E-step over many patterns runs in shares on several threads: the report is the same to
// the last byte whatever the number of threads (here 1, 2 and 3, over 30,000 records of 16
// items, 15,688 distinct patterns in two shares, in 50 iterations of 3 latent classes).
TEST(LatentClass, SameReportWhateverTheThreads) {
  std::string data;
  std::uint32_t state = 11;
  for (int r = 0; r < 30000; ++r) {
    state = state * 1664525u + 1013904223u;
    const int latent = static_cast<int>((state >> 8) % 3);
    for (int v = 0; v < 16; ++v) {
      state = state * 1664525u + 1013904223u;
      const bool one = static_cast<double>(state >> 8) / (1 << 24) < 0.2 + 0.3 * latent;
      data += one ? "1 " : "2 ";
    }
    data += "\n";
  }
  std::vector<std::string> reports[3];
  std::vector<double> fitted[3];
  for (int threads = 1; threads <= 3; ++threads) {
    const testing::EngineRun run(
        "lat 1 man 16 dim 3 2 2 2 2 2 2 2 2 2 2 2 2 2 2 2 2\n"
        "lab X A B C D E F G H I J K L M N O P\n"
        "mod X A|X B|X C|X D|X E|X F|X G|X H|X I|X J|X K|X L|X M|X N|X O|X P|X\n"
        "rec 30000 ite 50 see 1234 nse thr " +
        std::to_string(threads) + "\ndat [\n" + data + "]\n");
    ASSERT_EQ(run.status, 0);
    EXPECT_GT(run.run.data.EntryCount(), 8192);
    // The report after the input echo, which names the thread count.
    const auto from = std::find(run.report.begin(), run.report.end(), "*** STATISTICS ***");
    reports[threads - 1].assign(from, run.report.end());
    fitted[threads - 1] = run.run.estimation.FittedTable;
  }
  EXPECT_GT(reports[0].size(), 100u);
  EXPECT_EQ(reports[1], reports[0]);
  EXPECT_EQ(reports[2], reports[0]);
  // To the last bit.
  EXPECT_EQ(fitted[1], fitted[0]);
  EXPECT_EQ(fitted[2], fitted[0]);
}

// Proportional fitting of a table of 2^20 cells (the size from which the margins are shared by
// the threads) gives the same fit to the last bit on one, two or three threads.
TEST(Hierarchical, SameFitWhateverTheThreads) {
  std::string data;
  std::uint32_t state = 5;
  const int dims[] = {16, 8, 8, 16, 64};
  for (int r = 0; r < 3000; ++r) {
    for (int d : dims) {
      state = state * 1664525u + 1013904223u;
      data += std::to_string(1 + (state >> 8) % d) + " ";
    }
    data += "\n";
  }
  std::vector<std::string> reports[3];
  std::vector<double> fitted[3];
  for (int threads = 1; threads <= 3; ++threads) {
    const testing::EngineRun run(
        "man 5 dim 16 8 8 16 64 lab A B C D E mod {AB,AC,BD,CE,DE,AE}\n"
        "rec 3000 ite 4 cri 0 see 1234 nse thr " +
        std::to_string(threads) + "\ndat [\n" + data + "]\n");
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.run.estimation.FittedTable.size(), std::size_t{1} << 20);
    const auto from = std::find(run.report.begin(), run.report.end(), "*** STATISTICS ***");
    reports[threads - 1].assign(from, run.report.end());
    fitted[threads - 1] = run.run.estimation.FittedTable;
  }
  EXPECT_GT(reports[0].size(), 100u);
  EXPECT_EQ(reports[1], reports[0]);
  EXPECT_EQ(reports[2], reports[0]);
  EXPECT_EQ(fitted[1], fitted[0]);
  EXPECT_EQ(fitted[2], fitted[0]);
}

TEST(LatentClass, TwoClassesReachTheMaximumFromSeveralSeeds) {
  for (const char* seed : {"1234", "99", "31415", "7"}) {
    Fitted f(
        std::string("lat 1 man 4 dim 2 2 2 2 2 mod X A|X B|X C|X D|X cri 0.000000000001 see ") +
        seed + " dat [ 42 23 6 25 6 24 7 38 1 4 1 6 2 9 2 20 ]");
    ASSERT_EQ(f.message, "") << seed;
    EXPECT_NEAR(f.est().LogLikelihood, -504.467670118362, 1e-6) << seed;
    EXPECT_NEAR(f.LSquared(), 2.71992187165901, 1e-5) << seed;
    EXPECT_NEAR(f.est().PearsonSum, 2.7197617711303, 1e-5) << seed;
    // Class sizes, in either order.
    const double first = f.Frequency(0) / 216;
    EXPECT_NEAR(std::min(first, 1 - first), 0.279246127855266, 1e-5) << seed;
  }
}

TEST(MissingData, MonotonePatternFactorsIntoCompleteDataPieces) {
  // 100 respondents answer A and B, 60 only A. Under MAR the estimates are p(A) from all 160
  // answers and p(B | A) from the 100 complete answers.
  Fitted f(
      "res 1 man 2 dim 2 2 2 sub AB A mod {K,AB} cri 0.000000000001\n"
      "dat [ 30 10 20 40  25 35 ]");
  ASSERT_EQ(f.message, "");
  const double a1 = 65.0 / 160;
  const double p[] = {a1 * 30 / 40, a1 * 10 / 40, (1 - a1) * 20 / 60, (1 - a1) * 40 / 60};
  const double n[] = {30, 10, 20, 40};
  double loglik = 25 * std::log(a1) + 35 * std::log(1 - a1);
  for (int c = 0; c < 4; ++c) loglik += n[c] * std::log(p[c]);
  EXPECT_NEAR(f.est().LogLikelihood, loglik, 1e-8);
}

TEST(EqualityRestrictions, Eq3PoolsTheRestrictedProbabilities) {
  // P(B = 1 | A = 1) = P(B = 1 | A = 2) = 25 / 135; the other answers share the rest of
  // their column in proportion to their counts.
  Fitted f("man 2 dim 2 3 mod A B|A eq3 des [ 1 0 0 1 0 0 ] dat [ 10 20 30 15 25 35 ]");
  ASSERT_EQ(f.message, "");
  const double p1 = 25.0 / 135;
  const double m[] = {60 * p1, 60 * (1 - p1) * 20 / 50, 60 * (1 - p1) * 30 / 50,
                      75 * p1, 75 * (1 - p1) * 25 / 60, 75 * (1 - p1) * 35 / 60};
  const double n[] = {10, 20, 30, 15, 25, 35};
  double lsq = 0;
  for (int c = 0; c < 6; ++c) lsq += 2 * n[c] * std::log(n[c] / m[c]);
  EXPECT_NEAR(f.LSquared(), lsq, 1e-9);
  const Submodel& b = f.run.model.submodels[1];
  EXPECT_NEAR(f.est().FittedTable[b.first_cell], p1, 1e-12);
  EXPECT_NEAR(f.est().FittedTable[b.first_cell + 3], p1, 1e-12);
}

TEST(EqualityRestrictions, Eq2GivesTheMaximumLikelihoodEstimates) {
  // P(B = 1 | A) = P(B = 2 | A) within each row: the two share their row's first two counts.
  Fitted f(
      "man 2 dim 2 3 mod A B|A eq2 des [ 1 1 0 2 2 0 ] cri 0.0000000001\n"
      "dat [ 20 24 16 11 9 30 ]");
  ASSERT_EQ(f.message, "");
  const Submodel& b = f.run.model.submodels[1];
  const double* p = f.est().FittedTable.data() + b.first_cell;
  EXPECT_NEAR(p[0], 22.0 / 60, 1e-7);
  EXPECT_NEAR(p[1], 22.0 / 60, 1e-7);
  EXPECT_NEAR(p[2], 16.0 / 60, 1e-7);
  EXPECT_NEAR(p[3], 10.0 / 50, 1e-7);
  EXPECT_NEAR(p[5], 30.0 / 50, 1e-7);
}

TEST(EqualityRestrictions, Eq3RefusesRestrictedProbabilitiesAboveOne) {
  // Column 1: the pooled P(B = 1) = 80 / (60 + 55) = 0.70 and the fixed P(B = 2) = 0.5.
  Fitted f(
      "man 2 dim 2 2 mod A B|A eq3 des [ 1 -1 1 0 ] sta B|A [ 0.5 0.5 0.5 0.5 ]\n"
      "dat [ 30 10 50 5 ]");
  EXPECT_EQ(f.message, "  Error: \"eq3\" fails, try \"eq2\"");
}

TEST(EqualityRestrictions, OnTheFirstSubmodelGiveFrequencies) {
  // P(AB = 1) = P(AB = 2) pools their 30 of 100 observations; the others keep their shares.
  for (const char* method : {"eq2", "eq3"}) {
    Fitted f(std::string("man 2 dim 2 2 mod AB ") + method +
             " des [ 1 1 0 0 ] cri 0.0000000001 dat [ 10 20 30 40 ]");
    ASSERT_EQ(f.message, "") << method;
    const double expected[] = {15, 15, 30, 40};
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(f.Frequency(c), expected[c], 1e-7) << method;
    EXPECT_NEAR(f.LSquared(), 2 * (10 * std::log(10 / 15.0) + 20 * std::log(20 / 15.0)), 1e-8)
        << method;
  }
}

TEST(EqualityRestrictions, FixedProbabilitiesKeepTheirGivenValues) {
  // P(B = 1 | A = 1) is fixed at 0.2 (not at 0.2 / 2.2, its share of the given column, and
  // not moved by a random start); B = 2 and 3 share the other 0.8 in proportion 20 : 30.
  Fitted f(
      "man 2 dim 2 3 mod A B|A eq3 des [ -1 0 0  0 0 0 ] see 123\n"
      "sta B|A [ 0.2 1 1  1 1 1 ] dat [ 10 20 30 40 50 60 ]");
  ASSERT_EQ(f.message, "");
  const double* p = f.est().FittedTable.data() + f.run.model.submodels[1].first_cell;
  EXPECT_EQ(p[0], 0.2);
  EXPECT_NEAR(p[1], 0.8 * 20 / 50, 1e-9);
  EXPECT_NEAR(p[2], 0.8 * 30 / 50, 1e-9);

  // Fixed values that add up to more than 1 are no probabilities.
  for (const char* method : {"eq2", "eq3"}) {
    Fitted above(std::string("man 2 dim 2 3 mod A B|A ") + method +
                 " des [ -1 -1 0  0 0 0 ] sta B|A [ 0.6 0.6 0.4 0.3 0.3 0.4 ]\n"
                 "dat [ 10 20 30 40 50 60 ]");
    EXPECT_EQ(above.message,
              "  Error: the fixed probabilities (des -1) of a column of B|A add up to more than 1")
        << method;
  }
}

TEST(IterationLog, NonFiniteLogLikelihoodStopsTheRun) {
  // Two counts of 1E308 overflow the sample size: no estimate could be a finite number, and
  // the data reader refuses them before the fit (their total exceeds 1e100), which once ended
  // in a log-likelihood that was no number.
  const std::string huge = "1" + std::string(308, '0');
  Fitted f("man 1 dim 2 mod {A} dat [ " + huge + " " + huge + " ]");
  EXPECT_EQ(f.message, "  Error: number too large when reading observed frequencies");
}

TEST(IterationLog, HeaderLinesAndLimits) {
  Fitted none("man 2 dim 2 2 mod {A,B} ite 0 dat [ 1 2 3 4 ]");
  ASSERT_EQ(none.message, "");
  ASSERT_EQ(none.window.lines.size(), 2u);
  EXPECT_EQ(none.window.lines[0],
            "iteration   log-likelihood      stop-criterion         L-squared");
  EXPECT_EQ(none.window.lines[1].substr(0, 6), "     0");
  EXPECT_EQ(none.run.estimation.iteration, 0);

  // One iteration does not meet the convergence criterion: the log says so (ite 0 above asks
  // for the start values and has no warning).
  Fitted one("man 2 dim 2 2 mod {A,B} ite 1 dat [ 1 2 3 4 ]");
  ASSERT_EQ(one.message, "");
  ASSERT_EQ(one.window.lines.size(), 4u);
  EXPECT_EQ(one.window.lines[3], "Warning: the iteration limit was reached before convergence");
  EXPECT_EQ(one.run.estimation.iteration, 1);
  EXPECT_TRUE(one.est().iteration_limit_reached);

  // Iteration 0's stop criterion is its log-likelihood; the line holds both with 8 decimals.
  const std::string& line = none.window.lines[1];
  EXPECT_EQ(line.substr(6, 20), line.substr(26, 20));
}

TEST(IterationLog, ExcludedPatternsAreReported) {
  // B = 2 is impossible when A = 1, yet 5 observations have it.
  Fitted f(
      "man 2 dim 2 2 mod A B|A eq3 des [ 0 -1 0 0 ] sta B|A [ 1 0 0.5 0.5 ] ite 3\n"
      "dat [ 10 5 3 4 ]");
  ASSERT_EQ(f.message, "");
  const auto& lines = f.window.lines;
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "Warning: 5.00 observations are not used as a result of a sum"),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "          of zero of the posterior probabilities in 1.0 cells"),
            lines.end());
  EXPECT_EQ(f.est().ExcludedObservations, 5);
}

}  // namespace
}  // namespace tav
