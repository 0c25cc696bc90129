#include "report/probabilities.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/format_real.h"
#include "tav95/run_driver.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::EngineRun;

using testing::FittedModel;
using testing::ReadLines;
using testing::RecordingPresentation;
using testing::TempDir;

// The sections as the report writes them.
void WriteProbabilities(RunState& run, int first) {
  WriteProbabilitiesSection(ComputeProbabilities(run, first), run.model, run.context.ReportFile);
}
void WriteLatentClassOutput(RunState& run) {
  WriteLatentClassSection(ComputeLatentClassOutput(run), run.model, run.context.ReportFile);
}

// The lines from the one equal to `from` up to (not including) the next empty line.
std::vector<std::string> Block(const std::vector<std::string>& lines, const std::string& from) {
  auto at = std::find(lines.begin(), lines.end(), from);
  return std::vector<std::string>(at, std::find(at, lines.end(), ""));
}

TEST(Probabilities, CategoryLabelsCountFromOne) {
  EXPECT_EQ(CategoryLabel(0), "1");
  EXPECT_EQ(CategoryLabel(11), "12");
  EXPECT_EQ(CategoryLabel(9999), "10000");
}

// Submodel 0 is P(A) (frequencies), submodel 1 is P(B|A).
constexpr const char* kTwoByTwo = "man 2 dim 2 2 mod A B|A dat [ 10 20 0 0 ]\n";

TEST(Probabilities, BoundaryValuesAreMarked) {
  FittedModel f(kTwoByTwo);
  ASSERT_EQ(f.message, "");
  f.SetFitted({30, 0, 1, 0, 0.5, 0.5});
  const auto lines = f.Report([](RunState& r) { WriteProbabilities(r, 0); });
  const std::vector<std::string> expected{
      "",
      "*** (CONDITIONAL) PROBABILITIES ***",
      "",
      "* P(A) *",
      "",
      "  1              1.0000 *",
      "  2              0.0000 *",
      "",
      "* P(B|A) *",
      "",
      "  1 | 1          1.0000 *",
      "  2 | 1          0.0000 *",
      "  1 | 2          0.5000",
      "  2 | 2          0.5000",
      "",
      "",
  };
  EXPECT_EQ(lines, expected);
}

TEST(Probabilities, StandardErrorsWhenComputed) {
  FittedModel f(kTwoByTwo);
  ASSERT_EQ(f.message, "");
  f.SetFitted({12, 18, 0.25, 0.75, 0.5, 0.5});
  f.run.newton.std_errors_computed = true;
  f.run.newton.probability_std_errors = {0.01, 0.02, 0.125, 0.04, 0.05, 0.06};
  const auto lines = f.Report([](RunState& r) { WriteProbabilities(r, 1); });
  const std::vector<std::string> expected{
      "",
      "*** (CONDITIONAL) PROBABILITIES ***",
      "",
      "* P(B|A) *",
      "",
      "  1 | 1          0.2500  (0.1250)",
      "  2 | 1          0.7500  (0.0400)",
      "  1 | 2          0.5000  (0.0500)",
      "  2 | 2          0.5000  (0.0600)",
      "",
      "",
  };
  EXPECT_EQ(lines, expected);
  // Switched off with nse.
  f.run.parsed_input.settings.show_std_errors = false;
  const auto plain = f.Report([](RunState& r) { WriteProbabilities(r, 1); });
  EXPECT_EQ(plain[5], "  1 | 1          0.2500");
}

TEST(Probabilities, NoStandardErrorsAbove128Cells) {
  std::string data = "man 2 dim 2 65 mod A B|A dat [";
  for (int c = 0; c < 130; ++c) data += " 1";
  FittedModel f(data + " ]\n");
  ASSERT_EQ(f.message, "");
  std::vector<double> fitted{65, 65};
  fitted.resize(2 + 130, 1.0 / 65);
  f.SetFitted(fitted);
  f.run.newton.std_errors_computed = true;
  f.run.newton.probability_std_errors.assign(fitted.size(), 0.001);
  const auto lines = f.Report([](RunState& r) { WriteProbabilities(r, 0); });
  EXPECT_EQ(lines[5], "  1              0.5000  (0.0010)");
  EXPECT_EQ(Block(lines, "* P(B|A) *").size(), 1u);
  const auto at = std::find(lines.begin(), lines.end(), "* P(B|A) *");
  ASSERT_NE(at, lines.end());
  EXPECT_EQ(*(at + 2), "  1 | 1          0.0154");
  EXPECT_EQ(*(at + 2 + 129), "  65 | 2         0.0154");
}

// Nine classes of one latent variable and one dichotomous item. Class x (from 1) holds
// x / 45 of the sample and answers 1 with probability x / 10. By hand: the class sizes are
// x / 45; for answer 1 the class frequencies are proportional to x^2 (sum 285, largest 81), for
// answer 2 to x (10 - x) (sum 165, largest 25), over 450: E = (204 + 140) / 450 = 0.76444;
// P_max = 9 / 45 = 0.2, lambda = (1 - 0.2 - 0.76444) / 0.8 = 0.04444.
TEST(LatentClassOutput, NineClassesGiveBlocksOfEightAndOne) {
  FittedModel f("lat 1 man 1 dim 9 2 mod X A|X dat [ 10 20 ]\n");
  ASSERT_EQ(f.message, "");
  std::vector<double> fitted;
  for (int x = 1; x <= 9; ++x) fitted.push_back(30.0 * x / 45);
  for (int x = 1; x <= 9; ++x) {
    fitted.push_back(x / 10.0);
    fitted.push_back(1 - x / 10.0);
  }
  f.SetFitted(fitted);
  const auto lines = f.Report(WriteLatentClassOutput);
  const std::vector<std::string> expected{
      "",
      "*** LATENT CLASS OUTPUT ***",
      "",
      "          X  1    X  2    X  3    X  4    X  5    X  6    X  7    X  8",
      "         0.0222  0.0444  0.0667  0.0889  0.1111  0.1333  0.1556  0.1778",
      "  A  1   0.1000  0.2000  0.3000  0.4000  0.5000  0.6000  0.7000  0.8000",
      "  A  2   0.9000  0.8000  0.7000  0.6000  0.5000  0.4000  0.3000  0.2000",
      "",
      "          X  9",
      "         0.2000",
      "  A  1   0.9000",
      "  A  2   0.1000",
      "",
      "E = 0.7644, lambda = 0.0444",
  };
  EXPECT_EQ(lines, expected);
}

TEST(LatentClassOutput, EmptyClassShowsDashes) {
  FittedModel f("lat 1 man 1 dim 2 2 mod X A|X dat [ 10 20 ]\n");
  ASSERT_EQ(f.message, "");
  f.SetFitted({30, 0, 0.25, 0.75, 0.5, 0.5});
  const auto lines = f.Report(WriteLatentClassOutput);
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[3], "          X  1    X  2");
  EXPECT_EQ(lines[4], "         1.0000    --- ");
  EXPECT_EQ(lines[5], "  A  1   0.2500    --- ");
  // One class holds everything: no classification error, and lambda is 0 (P_max = 1).
  EXPECT_EQ(lines[8], "E = 0.0000, lambda = 0.0000");
}

TEST(LatentClassOutput, FiveLatentVariablesGiveBlocksOfSix) {
  FittedModel f("lat 5 man 1 dim 2 2 2 2 2 2 lab V W X Y Z A mod VWXYZ A|VWXYZ dat [ 16 16 ]\n");
  ASSERT_EQ(f.message, "");
  std::vector<double> fitted(32, 1.0);
  fitted.resize(32 + 64, 0.5);
  f.SetFitted(fitted);
  const auto lines = f.Report(WriteLatentClassOutput);
  // Six blocks (6, 6, 6, 6, 6 and 2 classes) of 5 heading lines, the sizes, 2 item lines and
  // an empty line; the section's three opening lines and the E line.
  ASSERT_EQ(lines.size(), 3u + 6 * 9 + 1);
  EXPECT_EQ(lines[3], "          V  1    V  1    V  1    V  1    V  1    V  1");
  EXPECT_EQ(lines[7], "          Z  1    Z  2    Z  1    Z  2    Z  1    Z  2");
  EXPECT_EQ(lines[8], "         0.0312  0.0312  0.0312  0.0312  0.0312  0.0312");
  const std::size_t last = 3 + 5 * 9;
  EXPECT_EQ(lines[last], "          V  2    V  2");
  EXPECT_EQ(lines[last + 3], "          Y  2    Y  2");
  EXPECT_EQ(lines[last + 4], "          Z  1    Z  2");
}

// Stouffer-Toby role conflict, two latent classes, run as a whole. Reference: a separate EM in
// R run to full convergence: class sizes 0.720753872144734 and 0.279246127855266 (the engine's
// classes 1 and 2 with seed 1234), P(item = 1 | class) 0.713587948242766 0.329619343518429
// 0.354016454643932 0.132372580070700 and 0.993193323699821 0.939764443076908
// 0.926530872203981 0.769132009754343. From these, in R: E = 1 - sum over the 16 response
// patterns of the largest joint class-and-pattern probability = 0.097540782664706, lambda =
// (1 - 0.720753872144734 - E) / (1 - 0.720753872144734) = 0.650699605348650.

constexpr const char* kStouffer =
    "lat 1 man 4 dim 2 2 2 2 2 lab X A B C D mod X A|X B|X C|X D|X see 1234\n"
    "cri 0.0000000000001 nse\n"
    "dat [ 42 23 6 25 6 24 7 38 1 4 1 6 2 9 2 20 ]\n";

TEST(LatentClassOutput, StoufferTobyAgreesWithAnIndependentFit) {
  EngineRun e(kStouffer);
  ASSERT_EQ(e.status, kExitNormal) << (e.window.errors.empty() ? "" : e.window.errors[0]);
  const std::vector<std::string> expected{
      "*** LATENT CLASS OUTPUT ***",
      "",
      "          X  1    X  2",
      "         0.7208  0.2792",
      "  A  1   0.7136  0.9932",
      "  A  2   0.2864  0.0068",
      "  B  1   0.3296  0.9398",
      "  B  2   0.6704  0.0602",
      "  C  1   0.3540  0.9265",
      "  C  2   0.6460  0.0735",
      "  D  1   0.1324  0.7691",
      "  D  2   0.8676  0.2309",
      "",
      "E = 0.0975, lambda = 0.6507",
  };
  const auto at = std::find(e.report.begin(), e.report.end(), "*** LATENT CLASS OUTPUT ***");
  // The sections that check the model follow it.
  ASSERT_GE(e.report.end() - at, static_cast<std::ptrdiff_t>(expected.size()));
  EXPECT_EQ(std::vector<std::string>(at, at + expected.size()), expected);

  // The probabilities section (the pseudo R-squared section before it names P(D|X) too).
  const auto parameters =
      std::find(e.report.begin(), e.report.end(), "*** LOG-LINEAR PARAMETERS ***");
  const auto probabilities =
      std::find(e.report.begin(), e.report.end(), "*** (CONDITIONAL) PROBABILITIES ***");
  ASSERT_NE(probabilities, e.report.end());
  const std::vector<std::string> p_x{"* P(X) *", "", "  1              0.7208",
                                     "  2              0.2792"};
  const auto x = std::find(probabilities, e.report.end(), "* P(X) *");
  ASSERT_NE(x, e.report.end());
  EXPECT_EQ(std::vector<std::string>(x, x + 4), p_x);
  const std::vector<std::string> p_d{"* P(D|X) *",
                                     "",
                                     "  1 | 1          0.1324",
                                     "  2 | 1          0.8676",
                                     "  1 | 2          0.7691",
                                     "  2 | 2          0.2309"};
  const auto d = std::find(probabilities, e.report.end(), "* P(D|X) *");
  ASSERT_NE(d, e.report.end());
  EXPECT_EQ(std::vector<std::string>(d, d + 6), p_d);

  // The sections come in order, each announced in the log.
  EXPECT_LT(parameters, probabilities);
  EXPECT_LT(probabilities, at);
  EXPECT_NE(std::find(e.log.begin(), e.log.end(), "log-linear parameters"), e.log.end());
  EXPECT_NE(std::find(e.log.begin(), e.log.end(), "latent class parameters"), e.log.end());
}

TEST(LatentClassOutput, SwitchedOffWithNla) {
  EngineRun e(std::string(kStouffer) + "nla npa nco\n");
  ASSERT_EQ(e.status, kExitNormal);
  for (const char* section : {"*** LATENT CLASS OUTPUT ***", "*** LOG-LINEAR PARAMETERS ***",
                              "*** (CONDITIONAL) PROBABILITIES ***"}) {
    EXPECT_EQ(std::find(e.report.begin(), e.report.end(), section), e.report.end()) << section;
  }
  EXPECT_EQ(std::find(e.log.begin(), e.log.end(), "latent class parameters"), e.log.end());
}

// A saturated model of a 2 x 2 table (counts 10 20 / 30 40): the probabilities are sample
// proportions, whose standard errors have the closed form sqrt(p (1 - p) / n) with n the
// size of the sample they come from: P(A = 1) = 0.3 with sqrt(0.21 / 100) = 0.045826,
// P(B = 1 | A = 1) = 1/3 with sqrt(2/9 / 30) = 0.086066, P(B = 1 | A = 2) = 3/7 with
// sqrt(12/49 / 70) = 0.059148. The log-linear parameters of P(B|A): lambda_B1 =
// (ln(10/20) + ln(30/40)) / 4 = -0.245186 with variance (1/10 + 1/20 + 1/30 + 1/40) / 16, so a
// standard error of 0.114109, z = -2.149 and Wald (lambda / se)^2 = 4.617 (p = 0.032).
TEST(Probabilities, StandardErrorsOfASaturatedModelHaveTheirClosedForm) {
  EngineRun e("man 2 dim 2 2 mod A B|A cri 0.0000000001 dat [ 10 20 30 40 ]\n");
  ASSERT_EQ(e.status, kExitNormal) << (e.window.errors.empty() ? "" : e.window.errors[0]);
  const std::vector<std::string> expected{
      "*** (CONDITIONAL) PROBABILITIES ***",
      "",
      "* P(A) *",
      "",
      "  1              0.3000  (0.0458)",
      "  2              0.7000  (0.0458)",
      "",
      "* P(B|A) *",
      "",
      "  1 | 1          0.3333  (0.0861)",
      "  2 | 1          0.6667  (0.0861)",
      "  1 | 2          0.4286  (0.0591)",
      "  2 | 2          0.5714  (0.0591)",
      "",
      "",
  };
  const auto at =
      std::find(e.report.begin(), e.report.end(), "*** (CONDITIONAL) PROBABILITIES ***");
  ASSERT_NE(at, e.report.end());
  ASSERT_GE(e.report.end() - at, static_cast<long>(expected.size()));
  EXPECT_EQ(std::vector<std::string>(at, at + expected.size()), expected);

  const auto b = std::find(e.report.begin(), e.report.end(), "* TABLE AB [or P(B|A)] *");
  ASSERT_NE(b, e.report.end());
  EXPECT_EQ(*(b + 8), "   1            -0.2452   0.1141   -2.149      0.7825 ");
  EXPECT_EQ(*(b + 9), "   2             0.2452                        1.2779     4.62   1 0.032");
}

}  // namespace
}  // namespace tav
