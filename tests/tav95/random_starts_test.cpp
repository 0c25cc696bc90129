// Random starts (rst): the seeds, the ranking of the starts on data with two known maxima, the
// identity of the kept fit with a single run of its seed, and a cancel while the starts run.

#include "tav95/random_starts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/random.h"
#include "tav95/run_driver.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::EngineRun;

// Two pairs of binary items, each pair associated and the pairs independent: A and B agree in 90
// of 100 cases, C and D in 80 (1000 cases, the table is the product of the pairs' tables). A
// two-class model explains one pair: a maximum where the classes are A and B, with the fit of
// the log-linear model {AB,C,D}, log-likelihood 1000 (0.9 ln 0.45 + 0.1 ln 0.05 + 2 ln 0.5),
// and one where they are C and D, 1000 (0.8 ln 0.4 + 0.2 ln 0.1 + 2 ln 0.5), 175.3 lower.
constexpr char kTwoMaxima[] =
    "lat 1\nman 4\ndim 2 2 2 2 2\nlab X A B C D\nmod X A|X B|X C|X D|X\n"
    "dat [ 180 45 45 180  20 5 5 20  20 5 5 20  180 45 45 180 ]\n";
const double kFirstMaximum =
    1000 * (0.9 * std::log(0.45) + 0.1 * std::log(0.05) + 2 * std::log(0.5));
const double kSecondMaximum =
    1000 * (0.8 * std::log(0.4) + 0.2 * std::log(0.1) + 2 * std::log(0.5));

constexpr char kTableHeader[] =
    "   Rank  Start       Seed    Log-likelihood  Iterations  Converged";

struct StartRow {
  int rank = 0, start = 0, seed = 0;
  double log_likelihood = 0;
  int iterations = 0;
  std::string converged;
};

std::vector<StartRow> StartRows(const EngineRun& run) {
  std::vector<StartRow> rows;
  const std::vector<std::string> block = run.Block(kTableHeader);
  for (std::size_t i = 1; i < block.size(); ++i) {
    std::istringstream in(block[i]);
    StartRow row;
    in >> row.rank >> row.start >> row.seed >> row.log_likelihood >> row.iterations >>
        row.converged;
    rows.push_back(row);
  }
  return rows;
}

// The report from the statistics on, without the random starts section.
std::vector<std::string> FitSections(const std::vector<std::string>& report) {
  std::vector<std::string> kept;
  bool fit = false, starts = false;
  for (const std::string& line : report) {
    if (line.rfind("***", 0) == 0) {
      fit = fit || line == "*** STATISTICS ***";
      starts = line == "*** RANDOM STARTS ***";
    }
    if (fit && !starts) kept.push_back(line);
  }
  return kept;
}

TEST(RandomStartSeeds, DistinctSeedsOfOneWideAmplitudeSpreadOverTheBand) {
  // h = 1234: r = 1 + (1234 + i * 7919) mod 9999.
  const std::vector<std::int32_t> seeds = RandomStartSeeds(1234, 1, kMaxRandomStarts);
  ASSERT_EQ(seeds.size(), static_cast<std::size_t>(kMaxRandomStarts));
  EXPECT_EQ(seeds[0], 90000 + 1235);
  EXPECT_EQ(seeds[1], 90000 + 1 + (1234 + 7919) % 9999);
  EXPECT_EQ(seeds[2], 90000 + 1 + (1234 + 2 * 7919) % 9999);
  const std::set<std::int32_t> distinct(seeds.begin(), seeds.end());
  EXPECT_EQ(distinct.size(), seeds.size());
  for (std::int32_t seed : seeds) {
    EXPECT_EQ(SeedAmplitude(seed), kRandomStartAmplitude);
    EXPECT_NE(seed % 1000, 0);
  }
  // A run whose own seed asks for a wider amplitude keeps it.
  EXPECT_EQ(SeedAmplitude(RandomStartSeeds(251234, 26, 1)[0]), 26);
}

TEST(RandomStarts, RankTwoKnownMaximaAndKeepTheBest) {
  EngineRun run(std::string(kTwoMaxima) + "see 4321\nrst 40\n");
  ASSERT_EQ(run.status, 0) << run.log.back();
  const std::vector<StartRow> rows = StartRows(run);
  ASSERT_EQ(rows.size(), 40u);
  int at_first = 0;
  std::set<int> starts;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const StartRow& row = rows[i];
    EXPECT_EQ(row.rank, static_cast<int>(i) + 1);
    starts.insert(row.start);
    EXPECT_EQ(row.converged, "yes");
    const bool first = std::fabs(row.log_likelihood - kFirstMaximum) < 0.6e-5;
    const bool second = std::fabs(row.log_likelihood - kSecondMaximum) < 0.6e-5;
    EXPECT_TRUE(first || second) << row.log_likelihood;
    // The starts at the better maximum come first.
    EXPECT_EQ(first, static_cast<int>(i) < at_first + 1 && first);
    if (first) ++at_first;
  }
  EXPECT_EQ(starts.size(), 40u);
  EXPECT_GT(at_first, 1);
  EXPECT_LT(at_first, 40);
  EXPECT_TRUE(run.Has("  Starts at the best log-likelihood (within 0.0001) = " +
                      std::to_string(at_first) + " of 40"));
  // The report's fit is the best start's.
  EXPECT_NEAR(run.Statistic("Log-likelihood"), kFirstMaximum, 0.6e-5);
  EXPECT_EQ(run.Statistic("Seed random values"), rows[0].seed);

  // One start cannot confirm its maximum.
  EngineRun one(std::string(kTwoMaxima) + "see 4321\nrst 1\n");
  EXPECT_TRUE(
      one.Has("  Warning: fewer than two starts reached the best log-likelihood; it may be a"));
}

TEST(RandomStarts, ResultsDocumentHoldsEveryStart) {
  EngineRun run(std::string(kTwoMaxima) + "see 4321\nrst 12\nwjs r.json\n");
  ASSERT_EQ(run.status, 0);
  std::ifstream in(run.dir.File("r.json"));
  const nlohmann::ordered_json document = nlohmann::ordered_json::parse(in);
  const nlohmann::ordered_json& starts = document["random_starts"];
  const std::vector<StartRow> rows = StartRows(run);
  EXPECT_EQ(starts["best_start"].get<int>(), rows[0].start);
  int at_best = 0;
  for (const StartRow& row : rows) {
    const nlohmann::ordered_json& start = starts["starts"][row.start - 1];
    EXPECT_EQ(start["seed"].get<int>(), row.seed);
    EXPECT_NEAR(start["log_likelihood"].get<double>(), row.log_likelihood, 0.6e-5);
    at_best += std::fabs(row.log_likelihood - kFirstMaximum) < 0.6e-5;
  }
  EXPECT_EQ(starts["at_best"].get<int>(), at_best);
}

TEST(RandomStarts, BestStartIsTheSingleRunOfItsSeedWhateverTheThreads) {
  EngineRun two(std::string(kTwoMaxima) + "see 777\nrst 12\nthr 2\n");
  EngineRun one(std::string(kTwoMaxima) + "see 777\nrst 12\nthr 1\n");
  ASSERT_EQ(two.status, 0);
  EXPECT_EQ(FitSections(two.report), FitSections(one.report));
  EXPECT_EQ(two.Block(kTableHeader), one.Block(kTableHeader));
  ASSERT_TRUE(two.Has("*** RANDOM STARTS ***"));

  const int seed = StartRows(two)[0].seed;
  EngineRun single(std::string(kTwoMaxima) + "see " + std::to_string(seed) + "\n");
  ASSERT_EQ(single.status, 0);
  EXPECT_FALSE(single.Has("*** RANDOM STARTS ***"));
  EXPECT_EQ(FitSections(two.report), FitSections(single.report));

  // Without diagnostics the report is the single run's but for the echo.
  EngineRun quiet(std::string(kTwoMaxima) + "see 777\nrst 12\nndi\n");
  EngineRun plain(std::string(kTwoMaxima) + "see " + std::to_string(seed) + "\nndi\n");
  EXPECT_EQ(FitSections(quiet.report), FitSections(plain.report));
  EXPECT_FALSE(quiet.Has("*** RANDOM STARTS ***"));
}

TEST(RandomStarts, LogAndProgressCountTheStartsAndCancelStopsThemAll) {
  EngineRun run(std::string(kTwoMaxima) + "see 4321\nrst 20\n");
  ASSERT_EQ(run.status, 0);
  int lines = 0;
  for (const std::string& line : run.log) lines += line.rfind("start ", 0) == 0;
  EXPECT_EQ(lines, 20);
  EXPECT_NE(std::find(run.window.positions.begin(), run.window.positions.end(), 100),
            run.window.positions.end());

  // The slow fits of a four-class model of five items (the LSAT 6 data): the cancel comes
  // while the starts run, and every start stops.
  testing::TempDir dir;
  ProgramRun slow;
  testing::RecordingPresentation window;
  window.cancel_after_pumps = 25;
  slow.context.presentation = &window;
  slow.context.arguments = {
      dir.Write("model.inp",
                "lat 1\nman 5\ndim 4 2 2 2 2 2\nlab X A B C D E\n"
                "mod X A|X B|X C|X D|X E|X\nsee 1234\nrst 400\n"
                "cri 0.0000000001\nite 100000\ndat [ 3 6 2 11 1 1 3 4 1 8 0 16 "
                "0 3 2 15 10 29 14 81 3 28 15 80 16 56 21 173 11 61 28 298 ]\n"),
      dir.File("model.out"), dir.path().string() + "/", dir.File("log.tmp"), "-log"};
  EXPECT_EQ(RunMain(slow), kExitCancel);
  EXPECT_EQ(testing::ReadLines(dir.File("log.tmp")).back(), "The run was cancelled.");
  EXPECT_FALSE(std::filesystem::exists(dir.File("model.out")));
  EXPECT_EQ(window.last_progress.starts, 400);
  EXPECT_GE(window.last_progress.start, 1);
}

TEST(RandomStarts, RefusedWithoutRandomStartValues) {
  EngineRun run(std::string("man 2\ndim 2 2\nlab A B\nmod {A,B} nra\nrst 5\n") +
                "dat [ 32 18 12 38 ]\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.log.back(), "Error: command rst needs random start values (see ran)");

  EngineRun simulated("man 2\ndim 2 2\nlab A B\nmod {A,B}\nrst 5\nsim 10 drawn.dat\n");
  EXPECT_EQ(simulated.status, 1);
  EXPECT_EQ(simulated.log.back(),
            "Error: command rst cannot be used with sim: simulated data are drawn from the start "
            "values, not estimated");
}

}  // namespace
}  // namespace tav
