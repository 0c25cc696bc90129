// The pairs' observed and expected tables, whichever way the observed counts are found (bit
// sets of whole counts of one, bit sets with the counts' binary digits, passes in entry order
// for fractional counts) and whatever the number of threads.
//
// The data: 400 records of A (3 categories), B (2) and C (4) drawn in R 4.2.2 from a two-class
// model (set.seed(35); class probabilities 0.6 0.4). The references come from an EM fit written
// for the purpose in R (20 random starts, all at log-likelihood -1179.4720278; run until the
// log-likelihood changed by less than 1E-13; the expected tables agree across the starts to
// 3E-6): the observed tables by xtabs, the expected ones as N sum_x P(x) P(a | x) P(b | x).
#include "report/pair_tables.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace tav {
namespace {

using testing::Fitted;

// A B C and the count of every cell that holds records.
constexpr int kCells[24][4] = {
    {1, 1, 1, 62}, {2, 1, 1, 17}, {3, 1, 1, 11}, {1, 2, 1, 15}, {2, 2, 1, 12}, {3, 2, 1, 5},
    {1, 1, 2, 46}, {2, 1, 2, 15}, {3, 1, 2, 12}, {1, 2, 2, 12}, {2, 2, 2, 8},  {3, 2, 2, 17},
    {1, 1, 3, 13}, {2, 1, 3, 8},  {3, 1, 3, 9},  {1, 2, 3, 9},  {2, 2, 3, 10}, {3, 2, 3, 22},
    {1, 1, 4, 15}, {2, 1, 4, 5},  {3, 1, 4, 18}, {1, 2, 4, 10}, {2, 2, 4, 9},  {3, 2, 4, 40}};

struct Reference {
  int first;
  int second;
  std::vector<double> observed;
  std::vector<double> expected;
};

const Reference kPairs[] = {
    {1,
     2,
     {136, 46, 45, 39, 50, 84},
     {131.43697424, 50.56302576, 50.73918227, 33.26081773, 48.82384349, 85.17615651}},
    {1,
     3,
     {77, 58, 22, 25, 29, 23, 18, 14, 16, 29, 31, 58},
     {77.90041530, 57.84065260, 22.59990332, 23.65902879, 27.51550226, 23.75953219, 14.08839699,
      18.63656857, 16.58408244, 28.39981521, 34.31169970, 54.70440264}},
    {2,
     3,
     {90, 73, 30, 38, 32, 37, 41, 59},
     {91.48833260, 70.84346128, 31.88562906, 36.78257706, 30.51166740, 39.15653872, 39.11437094,
      60.21742294}}};

// The model with the records one per line (scale 0: every count 1), or each cell once with its
// count times scale.
std::string Input(double scale) {
  std::string text = "lat 1 man 3 dim 2 3 2 4 lab X A B C mod X A|X B|X C|X\n";
  std::string records;
  int lines = 0;
  for (const auto& cell : kCells) {
    const std::string categories =
        std::to_string(cell[0]) + " " + std::to_string(cell[1]) + " " + std::to_string(cell[2]);
    if (scale == 0) {
      for (int k = 0; k < cell[3]; ++k, ++lines) records += categories + "\n";
    } else {
      records += categories + " " + std::to_string(cell[3] * scale) + "\n";
      ++lines;
    }
  }
  // One data entry per record (noc), so that the counts stay as given.
  text += "rec " + std::to_string(lines) + "\nnoc\n";
  if (scale != 0) text += "rco\n";
  return text + "see 7\ncri 0.000000000001\nite 5000\ndat [\n" + records + "]\n";
}

std::vector<PairTable> Tables(Fitted& f, int threads) {
  f.run.thread_limit = threads;
  return PairTables(f.run, {{1, 2}, {1, 3}, {2, 3}});
}

TEST(PairTables, AgreeWithAnIndependentFitWhicheverWayTheyAreCounted) {
  for (double scale : {0.0, 1.0, 0.5}) {
    Fitted f(Input(scale));
    ASSERT_EQ(f.message, "") << scale;
    const double n = scale == 0 ? 1 : scale;
    if (scale != 0.5) {
      EXPECT_NEAR(f.LogLikelihood(), -1179.4720278, 1e-6);
    }
    const std::vector<PairTable> tables = Tables(f, 1);
    ASSERT_EQ(tables.size(), 3u);
    for (int p = 0; p < 3; ++p) {
      const PairTable& table = tables[p];
      const Reference& want = kPairs[p];
      EXPECT_EQ(table.first, want.first);
      EXPECT_EQ(table.second, want.second);
      EXPECT_EQ(table.subgroups, 1);
      ASSERT_EQ(table.observed.size(), want.observed.size());
      for (std::size_t c = 0; c < want.observed.size(); ++c) {
        EXPECT_EQ(table.observed[c], n * want.observed[c]) << scale << " " << p << " " << c;
        EXPECT_NEAR(table.expected[c], n * want.expected[c], 1e-4) << scale << " " << p << " " << c;
      }
    }
    // Every number the same with two threads.
    const std::vector<PairTable> again = Tables(f, 2);
    for (int p = 0; p < 3; ++p) {
      EXPECT_EQ(again[p].observed, tables[p].observed) << scale << " " << p;
      EXPECT_EQ(again[p].expected, tables[p].expected) << scale << " " << p;
    }
  }
}

}  // namespace
}  // namespace tav
