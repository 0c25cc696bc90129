#include "estimation/em_acceleration.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace tav {
namespace {

using testing::EngineRun;
using testing::Fitted;

std::string Source(const std::string& path) { return std::string(TAV_SOURCE_DIR) + "/" + path; }

// The input with `extra` put in before its data command.
std::string WithSetting(std::string input, const std::string& extra) {
  const std::size_t at = input.find("\ndat ");
  return input.insert(at + 1, extra + "\n");
}

std::string LineStarting(const std::vector<std::string>& report, const std::string& start) {
  for (const std::string& line : report) {
    if (line.rfind(start, 0) == 0) return line;
  }
  ADD_FAILURE() << start << " not in the report";
  return "";
}

int Iterations(const std::vector<std::string>& report) {
  const std::string line = LineStarting(report, "  Number of iterations =");
  return line.empty() ? 0 : std::stoi(line.substr(line.find('=') + 1));
}

// The report without what tells the two fits apart: the echo of `acc`, the iteration count and
// last change, and the eigenvalues of the information matrix, whose numerical derivatives
// tell apart points that both meet the criterion.
std::vector<std::string> Comparable(const std::vector<std::string>& report) {
  std::vector<std::string> kept;
  bool eigenvalues = false;
  for (const std::string& line : report) {
    if (line == "  Eigenvalues information matrix") eigenvalues = true;
    if (eigenvalues) {
      eigenvalues = !line.empty();
      continue;
    }
    if (line == "  acc" || line.rfind("  Number of iterations", 0) == 0 ||
        line.rfind("  Converge criterion", 0) == 0) {
      continue;
    }
    kept.push_back(line);
  }
  return kept;
}

// The golden case with `acc` against the plain golden of the same input, both with the
// criterion 1E-12. The two reports agree in the fit statistics and in every probability; where
// they differ, an independent fit backs the accelerated one: EM in R to a change below 1E-15 in
// every probability (3816 iterations from P(X) = (0.6, 0.4)) gives the log-likelihood
// -2467.40552388, P(X = 1) = 0.66047706, the estimated frequency 174.287506 of the pattern
// 2 2 1 2 2 and the entropy R-squared 0.314351, where plain EM, stopped by the criterion after
// 1660 iterations, still shows 174.287 and 0.3143.
TEST(EmAcceleration, GoldenCaseReachesTheMaximumOfPlainEm) {
  const std::vector<std::string> fast = testing::ReadLines(Source("tests/golden/lcacc.out"));
  const std::vector<std::string> plain = testing::ReadLines(Source("tests/golden/lcbvr_lsat.out"));
  ASSERT_FALSE(fast.empty());
  ASSERT_FALSE(plain.empty());
  EXPECT_LE(5 * Iterations(fast), Iterations(plain));
  for (const char* start :
       {"  X-squared", "  L-squared", "  Cressie-Read", "  Log-likelihood", "  Degrees of freedom",
        "  Number of parameters", "  BIC(L-squared)", "  AIC(log-likelihood)"}) {
    EXPECT_EQ(LineStarting(fast, start), LineStarting(plain, start));
  }
  EXPECT_EQ(LineStarting(fast, "  Log-likelihood"), "  Log-likelihood       = -2467.40552");
  const auto after = [](const std::vector<std::string>& report, const std::string& from) {
    std::vector<std::string> lines;
    bool in = false;
    for (const std::string& line : report) {
      if (line == from) in = true;
      if (in && line.rfind("*** BIVARIATE", 0) == 0) break;
      if (in) lines.push_back(line);
    }
    return lines;
  };
  // The conditional probabilities with their standard errors, and the latent class output.
  EXPECT_EQ(after(fast, "* P(X) *"), after(plain, "* P(X) *"));
  EXPECT_NE(after(fast, "* P(X) *").size(), 0u);
  EXPECT_EQ(LineStarting(fast, "  1              0.6605"), "  1              0.6605  (0.1492)");
  EXPECT_EQ(LineStarting(fast, "  2 2 1 2 2").substr(0, 34), "  2 2 1 2 2     173.000    174.288");
  EXPECT_EQ(LineStarting(fast, "  Entropy R-squared"), "  Entropy R-squared = 0.3144");
}

// Plain and accelerated EM with a tight criterion give the same report but for the iterations
// and the eigenvalues: the same fitted tables, and the same log-linear parameters, also the
// effects of the conditioning variables in the conditional tables, which the fitted
// probabilities leave free and proportional fitting carries from the start values. With
// subgroups (lcmissin) and with submodels tied by eq1 (lcequal).
TEST(EmAcceleration, SameReportAsPlainEmAtATightCriterion) {
  for (const char* example : {"examples/lcmissin.inp", "examples/lcequal.inp"}) {
    const std::string input = WithSetting(testing::ReadFile(Source(example)), "cri 0.000000000001");
    const EngineRun plain(input);
    const EngineRun fast(WithSetting(input, "acc"));
    ASSERT_EQ(plain.status, 0) << example;
    ASSERT_EQ(fast.status, 0) << example;
    EXPECT_LE(5 * Iterations(fast.report), Iterations(plain.report)) << example;
    EXPECT_EQ(Comparable(fast.report), Comparable(plain.report)) << example;
  }
}

// The three-class model of lcthree creeps along a ridge: plain EM stops there, by the default
// criterion, 3E-5 below the maximum -928.96908148 (EM in R from six random starts, each to a
// change below 1E-13 in every probability, some 23,000 iterations). The accelerated iterations
// reach the maximum in a fifth of plain EM's 139 iterations, and the log-likelihood never falls.
TEST(EmAcceleration, CreepingModelReachesTheMaximumWithoutFalling) {
  Fitted f(WithSetting(testing::ReadFile(Source("examples/lcthree.inp")), "acc"));
  ASSERT_EQ(f.message, "");
  EXPECT_NEAR(f.LogLikelihood(), -928.96908148, 5e-6);
  EXPECT_LE(5 * f.est().iteration, 139);
  const std::vector<IterationRecord>& history = f.est().iteration_history;
  ASSERT_GE(history.size(), 3u);
  for (std::size_t k = 2; k < history.size(); ++k) {
    EXPECT_GE(history[k].log_likelihood, history[k - 1].log_likelihood) << k;
    EXPECT_EQ(history[k].stop_criterion, history[k].log_likelihood - history[k - 1].log_likelihood);
  }
}

// Models whose iterations need more than proportional fitting keep plain EM, with a warning;
// their fit is that of the same input without `acc`.
TEST(EmAcceleration, IgnoredWithAWarningWhereTheModelNeedsMore) {
  const std::string restricted =
      "lat 1 man 4 dim 2 2 2 2 2 lab X A B C D mod X A|X {lin(XA 1)} B|X C|X D|X "
      "des [ 0 1 -1 0 ] see 1234\ndat [ 42 23 6 25 6 24 7 38 1 4 1 6 2 9 2 20 ]";
  const std::string newton =
      "lat 1 man 4 dim 2 2 2 2 2 lab X A B C D mod X A|X B|X C|X D|X new 30 1 see 1234\n"
      "dat [ 42 23 6 25 6 24 7 38 1 4 1 6 2 9 2 20 ]";
  const std::pair<std::string, std::string> cases[] = {
      {restricted, "Warning: acc is ignored for a model with lin or log restrictions"},
      {newton, "Warning: acc is ignored for a model with Newton-type iterations (new)"},
  };
  for (const auto& [input, warning] : cases) {
    Fitted plain(input);
    Fitted asked(WithSetting(input, "acc"));
    ASSERT_EQ(plain.message, "");
    ASSERT_EQ(asked.message, "");
    EXPECT_EQ(asked.CountLines(warning), 1) << warning;
    EXPECT_EQ(plain.CountLines("Warning: acc"), 0);
    EXPECT_EQ(asked.est().iteration, plain.est().iteration);
    EXPECT_EQ(asked.LogLikelihood(), plain.LogLikelihood());
  }
}

}  // namespace
}  // namespace tav
