// The identification block of the statistics section and the standard-error step of the report.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/format_real.h"
#include "newton/newton_iteration.h"
#include "report/statistics.h"
#include "tav95/run_driver.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::FittedModel;
using testing::RecordingPresentation;

// The statistics section as the report writes it.
void WriteStatistics(RunState& run) {
  WriteStatisticsSection(ComputeStatistics(run), run.model, run.context.ReportFile);
}

// Estimates the model of text and computes the standard errors when they are wanted.
struct Estimated : FittedModel {
  explicit Estimated(const std::string& text) : FittedModel(text) {
    if (!message.empty()) return;
    run.context.presentation = &window;
    run.context.arguments = {"in", "out"};
    FitModel(run);
    if (StandardErrorsWanted(run)) ComputeStandardErrors(run, Evaluator(run));
  }
  // The lines of the statistics section from "Eigenvalues information matrix" or the warning
  // that replaces it, up to the frequencies.
  std::vector<std::string> Identification() {
    const std::vector<std::string> lines = Report(WriteStatistics);
    auto from = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
      return line == "  Eigenvalues information matrix" ||
             line == "WARNING: no information is provided on identification of parameters";
    });
    auto to = std::find(from, lines.end(), "*** FREQUENCIES ***");
    return {from, to};
  }
  RecordingPresentation window;
};

constexpr const char* kHairEye =
    "man 3 dim 4 4 2 lab H E S mod {HE,HS,ES}\n"
    "dat [ 32 36 11 9 10 5 3 2 53 66 50 34 25 29 15 14\n"
    "      10 16 10 7 7 7 7 7 3 4 30 64 5 5 8 8 ]";

TEST(IdentificationBlock, EigenvaluesSixToALine) {
  Estimated f(kHairEye);
  ASSERT_EQ(f.message, "");
  const std::vector<double>& values = f.run.newton.eigenvalues;
  ASSERT_EQ(values.size(), 22u);
  const std::vector<std::string> lines = f.Identification();
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0], "  Eigenvalues information matrix");
  for (int row = 0; row < 4; ++row) {
    std::string expected = "  ";
    for (int k = row * 6; k < std::min(22, row * 6 + 6); ++k) {
      expected += FormatReal(11, 4, values[k]);
    }
    EXPECT_EQ(lines[1 + row], expected) << row;
  }
  // An empty line after the block, no warnings, two empty lines, and the empty line that
  // opens the frequencies.
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 5, lines.end()),
            (std::vector<std::string>{"", "", "", ""}));
}

TEST(IdentificationBlock, LargeEigenvaluesInExponentForm) {
  Estimated f("man 2 dim 2 2 mod {A,B} dat [ 10 20 30 40 ]");
  ASSERT_EQ(f.message, "");
  f.run.newton.eigenvalues = {123456, 9, 8, 7, 6, 5, 4, 3, -2};
  const std::vector<std::string> lines = f.Identification();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[1], "  " + FormatReal(11, -1, 123456) + FormatReal(11, 4, 9) +
                          FormatReal(11, 4, 8) + FormatReal(11, 4, 7) + FormatReal(11, 4, 6) +
                          FormatReal(11, 4, 5));
  EXPECT_EQ(lines[2], "  " + FormatReal(11, 4, 4) + FormatReal(11, 4, 3) + FormatReal(11, 4, -2));
}

TEST(IdentificationBlock, NseGivesTheWarningInstead) {
  Estimated f(std::string(kHairEye) + " nse");
  ASSERT_EQ(f.message, "");
  EXPECT_FALSE(f.run.newton.std_errors_computed);
  const std::vector<std::string> lines = f.Identification();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "WARNING: no information is provided on identification of parameters");
}

TEST(IdentificationBlock, NonIdentifiedParameterIsCountedInTheWarnings) {
  Estimated f("lat 1 man 2 dim 2 2 2 mod X A|X B|X see 7 dat [ 30 10 12 40 ]");
  ASSERT_EQ(f.message, "");
  ASSERT_GE(f.run.newton.BoundaryTotal(), 1);
  const std::vector<std::string> lines = f.Identification();
  const std::string warning = "WARNING: " + FormatReal(0, 0, f.run.newton.BoundaryTotal()) +
                              " (nearly) boundary or non-identified (log-linear) parameters";
  EXPECT_NE(std::find(lines.begin(), lines.end(), warning), lines.end());
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find("Nan"), std::string::npos) << line;
    EXPECT_EQ(line.find("Inf"), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace tav
