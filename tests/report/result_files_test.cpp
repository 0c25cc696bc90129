// The result files of the statistics section, against closed forms: the model {AB,AC} fits
// m(a,b,c) = n(a,b) n(a,c) / n(a), whose margins AB and AC are those of the data.

#include "report/result_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace tav {
namespace {

using testing::EngineRun;

const std::string kTable = "man 3 dim 2 3 2 lab A B C mod {AB,AC} see 5 ";
const std::string kData = "dat [ 10 12 8 14 20 6 9 11 13 7 5 15 ]";
const double kCounts[12] = {10, 12, 8, 14, 20, 6, 9, 11, 13, 7, 5, 15};

// The values of a file of one number per line, empty lines left out.
std::vector<double> Column(const EngineRun& run, const std::string& name) {
  std::vector<double> values;
  for (const std::vector<double>& row : run.Numbers(name)) {
    if (!row.empty()) values.push_back(row[0]);
  }
  return values;
}

TEST(ResultFiles, TablesAndMarginsOfTheFittedModel) {
  const EngineRun run(kTable +
                      "wfi full.txt wma AB margins.txt wma C margins.txt wma ABC all.txt "
                      "wfr expected.txt wco fitted.txt wpa parameters.txt " +
                      kData);
  ASSERT_EQ(run.status, 0);
  double ab[6] = {};
  double ac[4] = {};
  double a[2] = {};
  double c[2] = {};
  for (int k = 0; k < 12; ++k) {
    ab[k / 2] += kCounts[k];
    ac[(k / 6) * 2 + k % 2] += kCounts[k];
    a[k / 6] += kCounts[k];
    c[k % 2] += kCounts[k];
  }
  const std::vector<double> full = Column(run, "full.txt");
  const std::vector<double> all = Column(run, "all.txt");
  const std::vector<double> fitted = Column(run, "fitted.txt");
  const std::vector<double> expected = Column(run, "expected.txt");
  ASSERT_EQ(full.size(), 12u);
  ASSERT_EQ(all.size(), 12u);
  ASSERT_EQ(fitted.size(), 12u);
  ASSERT_EQ(expected.size(), 12u);
  for (int k = 0; k < 12; ++k) {
    const double m = ab[k / 2] * ac[(k / 6) * 2 + k % 2] / a[k / 6];
    EXPECT_NEAR(full[k], m, 0.6e-8) << k;
    EXPECT_EQ(all[k], full[k]) << k;
    EXPECT_NEAR(fitted[k], m / 130, 0.6e-8) << k;
    EXPECT_NEAR(expected[k], kCounts[k], 0.6e-8) << k;
  }
  // The margin AB, an empty line, then the margin C appended to the same file.
  const std::vector<std::vector<double>> margins = run.Numbers("margins.txt");
  ASSERT_EQ(margins.size(), 10u);
  for (int k = 0; k < 6; ++k) EXPECT_NEAR(margins[k][0], ab[k], 0.6e-8);
  EXPECT_TRUE(margins[6].empty());
  EXPECT_NEAR(margins[7][0], c[0], 0.6e-8);
  EXPECT_NEAR(margins[8][0], c[1], 0.6e-8);
  EXPECT_TRUE(margins[9].empty());
  // Half L-squared, the seed, the amplitude, then the parameters.
  const std::vector<std::vector<double>> parameters = run.Numbers("parameters.txt");
  ASSERT_EQ(parameters.size(), 1u);
  ASSERT_GE(parameters[0].size(), 3u);
  EXPECT_NEAR(parameters[0][0], run.Statistic("L-squared") / 2, 0.6e-4);
  EXPECT_EQ(parameters[0][1], 5);
  EXPECT_EQ(parameters[0][2], 1);
}

// A complete table that does not fit in what the memory budget leaves is read from the fitted
// tables as its file is written, with the numbers of the table worked out beforehand.
TEST(ResultFiles, ACompleteTableBeyondTheBudgetIsReadAsItIsWritten) {
  testing::Fitted fitted(kTable + "wfi full.txt " + kData);
  ASSERT_EQ(fitted.message, "");
  const std::vector<ResultFile> held = ComputeResultFiles(fitted.run);
  fitted.run.context.memory_budget = 0;
  const std::vector<ResultFile> read = ComputeResultFiles(fitted.run);
  ASSERT_EQ(held.size(), 1u);
  ASSERT_EQ(read.size(), 1u);
  ASSERT_TRUE(held[0].numbers.values);
  ASSERT_FALSE(read[0].numbers.values);
  ASSERT_TRUE(read[0].numbers.value_at);
  EXPECT_EQ(read[0].numbers.block_rows, held[0].numbers.block_rows);
  for (int k = 0; k < 12; ++k) EXPECT_EQ(read[0].numbers.value_at(k), (*held[0].numbers.values)[k]);
}

// The data file read back as records with counts gives the same fit.
TEST(ResultFiles, DataFileReadsBackToTheSameEstimates) {
  const EngineRun first(kTable + "wda data.txt " + kData);
  ASSERT_EQ(first.status, 0);
  std::string records;
  int count = 0;
  for (const std::vector<double>& row : first.Numbers("data.txt")) {
    ASSERT_EQ(row.size(), 4u);
    // One record per line.
    records += "\n";
    for (double x : row) records += " " + std::to_string(x);
    ++count;
  }
  EXPECT_EQ(count, 12);
  const EngineRun again("man 3 dim 2 3 2 lab A B C mod {AB,AC} rec " + std::to_string(count) +
                        " rco dat [" + records + "\n] see 5");
  ASSERT_EQ(again.status, 0);
  EXPECT_EQ(again.Statistic("L-squared"), first.Statistic("L-squared"));
  EXPECT_EQ(again.Statistic("Log-likelihood"), first.Statistic("Log-likelihood"));
}

// A margin too large to write is not written, and the report and the log say so.
TEST(ResultFiles, AMarginTooLargeIsReported) {
  const EngineRun run(
      "man 5 dim 21 21 21 21 2 lab A B C D F mod {A,B,C,D,F} rec 3 "
      "dat [\n1 2 3 4 1\n2 3 4 5 2\n12 11 10 9 1\n] wma ABCD big.mar nse see 5");
  ASSERT_EQ(run.status, 0);
  EXPECT_TRUE(run.Has("WARNING: big.mar (wma) not written: 194481 cells, the limit is 163799"));
  EXPECT_TRUE(run.Numbers("big.mar").empty());
}

}  // namespace
}  // namespace tav
