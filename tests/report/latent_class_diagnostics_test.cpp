// The bivariate residuals and the classification of latent class models. Whole reports are
// golden files (the latent class examples, lcbvr_lsat and lcbvr_planned); these tests hold
// their numbers against an independent computation.
//
// The references are R 4.2.2 fits by an EM algorithm written for the purpose (20 to 30 random
// starts each, run to a change of the log-likelihood below 1E-13; not part of TAV), with the
// pair tables and X-squared formed there from the fitted class probabilities:
//   LSAT section 6, two classes: log-likelihood -2467.40552; X-squared (1 df) of the pairs
//     A-B 0.1144177, A-C 0.4348302, A-D 0.1240285, A-E 0.3230232, B-C 0.0069964,
//     B-D 0.3218895, B-E 0.4768499, C-D 0.0598723, C-E 0.6830322, D-E 1.5602785;
//     modal classes of 681 and 319 examinees with average posteriors (0.8204283, 0.1795717)
//     and (0.3190100, 0.6809900); entropy R-squared 0.3143500.
//   examples/lcthree.inp, three classes: log-likelihood -928.969081; X-squared A-B 0.0091944,
//     A-C 0.0031902, A-D 0.0061889, A-E 0.0059881, B-C 0.0306969, B-D 0.0515031,
//     B-E 0.0088913, C-D 0.0009424, C-E 0.0007049, D-E 0.0645528; modal classes of 163, 113
//     and 43; entropy R-squared 0.6699775.
//   examples/lcmissin.inp (X, K|X, A|X, B|X, C|X; K = 2 misses C): X-squared A-B 1.2E-14
//     (both subgroups), A-C 0.0220665 and B-C 0.1071292 (the first subgroup only).
#include "report/latent_class_diagnostics.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <sstream>

#include "report/report_computations.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::EngineRun;
using testing::Fitted;

std::string Read(const std::string& path) {
  return testing::ReadFile(std::string(TAV_SOURCE_DIR) + "/" + path);
}

// The input with `extra` put in before its data command.
std::string WithSetting(std::string input, const std::string& extra) {
  const std::size_t at = input.find("\ndat ");
  return input.insert(at + 1, extra + "\n");
}

std::vector<std::string> Section(const EngineRun& run, const std::string& header) {
  auto at = std::find(run.report.begin(), run.report.end(), header);
  std::vector<std::string> lines;
  for (++at; at != run.report.end() && at->rfind("***", 0) != 0; ++at) lines.push_back(*at);
  return lines;
}

// The printed X-squared/df of the pair (row, column) of the lower-triangular table.
double PrintedRatio(const EngineRun& run, const std::string& row, int column) {
  for (const std::string& line : Section(run, "*** BIVARIATE RESIDUALS ***")) {
    if (line.rfind("  " + row + " ", 0) != 0 || line.size() < 6) continue;
    std::istringstream numbers(line.substr(6));
    double value = NAN;
    for (int j = 0; j <= column; ++j) numbers >> value;
    return value;
  }
  ADD_FAILURE() << "no row " << row;
  return NAN;
}

// The numbers of the classification line of class `label` ("    1 ..."): cases, averages.
std::vector<double> ClassRow(const EngineRun& run, const std::string& label) {
  for (const std::string& line : Section(run, "*** CLASSIFICATION ***")) {
    std::istringstream words(line);
    std::string first;
    words >> first;
    if (first != label || line.find("cases") != std::string::npos) continue;
    std::vector<double> row;
    for (double x; words >> x;) row.push_back(x);
    return row;
  }
  ADD_FAILURE() << "no class " << label;
  return {};
}

double EntropyRSquared(const EngineRun& run) { return run.Statistic("Entropy R-squared"); }

TEST(BivariateResiduals, LsatTwoClassesAgreeWithAnIndependentFit) {
  const EngineRun run(Read("tests/golden/cases/lcbvr_lsat.inp"));
  ASSERT_EQ(run.status, 0);
  EXPECT_NEAR(run.Statistic("Log-likelihood"), -2467.40552, 6e-6);
  const struct {
    const char* row;
    int column;
    double x_squared;
  } pairs[] = {{"B", 0, 0.1144177}, {"C", 0, 0.4348302}, {"D", 0, 0.1240285}, {"E", 0, 0.3230232},
               {"C", 1, 0.0069964}, {"D", 1, 0.3218895}, {"E", 1, 0.4768499}, {"D", 2, 0.0598723},
               {"E", 2, 0.6830322}, {"E", 3, 1.5602785}};
  for (const auto& pair : pairs) {
    EXPECT_NEAR(PrintedRatio(run, pair.row, pair.column), pair.x_squared, 0.0005 + 1e-9)
        << pair.row << " " << pair.column;
  }
  EXPECT_TRUE(run.Has("  No pair has X-squared/df above 3.84."));

  // Class 1 is the larger one here.
  EXPECT_EQ(ClassRow(run, "1"), (std::vector<double>{681, 0.8204, 0.1796}));
  EXPECT_EQ(ClassRow(run, "2"), (std::vector<double>{319, 0.3190, 0.6810}));
  EXPECT_NEAR(EntropyRSquared(run), 0.3143500, 0.00006);
}

TEST(BivariateResiduals, ThreeClassesAgreeWithAnIndependentFit) {
  const EngineRun run(WithSetting(Read("examples/lcthree.inp"), "cri 0.000000000001"));
  ASSERT_EQ(run.status, 0);
  EXPECT_NEAR(run.Statistic("Log-likelihood"), -928.96908, 6e-6);
  const double x_squared[5][4] = {{},
                                  {0.0091944},
                                  {0.0031902, 0.0306969},
                                  {0.0061889, 0.0515031, 0.0009424},
                                  {0.0059881, 0.0088913, 0.0007049, 0.0645528}};
  const char* rows[] = {"A", "B", "C", "D", "E"};
  for (int i = 1; i < 5; ++i) {
    for (int j = 0; j < i; ++j) {
      EXPECT_NEAR(PrintedRatio(run, rows[i], j), x_squared[i][j], 0.0005 + 1e-9)
          << rows[i] << " " << j;
    }
  }
  // The classes come in an order of their own; their sizes do not.
  std::vector<double> cases = {ClassRow(run, "1")[0], ClassRow(run, "2")[0], ClassRow(run, "3")[0]};
  std::sort(cases.begin(), cases.end());
  EXPECT_EQ(cases, (std::vector<double>{43, 113, 163}));
  EXPECT_NEAR(EntropyRSquared(run), 0.6699775, 0.00006);
}

TEST(BivariateResiduals, MissingDataPairsSumOverTheSubgroupsThatObserveThem) {
  const EngineRun run(WithSetting(Read("examples/lcmissin.inp"), "cri 0.000000000001"));
  ASSERT_EQ(run.status, 0);
  EXPECT_NEAR(PrintedRatio(run, "B", 0), 0.0, 1e-9);
  EXPECT_NEAR(PrintedRatio(run, "C", 0), 0.0220665, 0.0005);
  EXPECT_NEAR(PrintedRatio(run, "C", 1), 0.1071292, 0.0005);
}

// The pair tables are the two-way margins of what the frequencies section compares: its
// observed and estimated frequencies (EstimatedObservedFrequency of every cell of every
// subgroup) added up over the subgroups that observe both variables.
// (Both models have dichotomous items only.)
TEST(BivariateResiduals, PairTablesAreMarginsOfTheFrequencies) {
  for (const char* name : {"examples/lcmissin.inp", "tests/golden/cases/lcbvr_planned.inp"}) {
    Fitted f(Read(name));
    ASSERT_EQ(f.message, "") << name;
    const ModelState& model = f.run.model;
    const DataStore& data = f.run.data;
    const int first = model.FirstManifest();
    for (int a = first; a < model.VariableCount; ++a) {
      for (int b = a + 1; b < model.VariableCount; ++b) {
        std::vector<double> observed(4, 0.0);
        std::vector<double> expected(4, 0.0);
        int subgroups = 0;
        for (int s = 0; s < model.SubgroupCount; ++s) {
          const Membership& marks = model.SubgroupPattern[s];
          if (marks[a - first] != 1 || marks[b - first] != 1) continue;
          ++subgroups;
          // The subgroup's observed variables, the first slowest.
          std::vector<int> seen;
          for (int v = first; v < model.VariableCount; ++v) {
            if (marks[v - first] == 1) seen.push_back(v);
          }
          for (int c = 0; c < model.subgroup_cell_count[s]; ++c) {
            int i = 0, j = 0, rest = c;
            for (int k = static_cast<int>(seen.size()) - 1; k >= 0; --k) {
              if (seen[k] == a) i = rest % 2;
              if (seen[k] == b) j = rest % 2;
              rest /= 2;
            }
            expected[i * 2 + j] += EstimatedObservedFrequency(f.run, s, c);
            for (std::int64_t e = 0; e < data.EntryCount(); ++e) {
              if (data.entry_subgroup[e] == s && data.entry_cell[e] == c) {
                observed[i * 2 + j] += data.entry_count[e];
              }
            }
          }
        }
        const PairTable table = BivariateTable(f.run, a, b);
        EXPECT_EQ(table.subgroups, subgroups);
        for (int c = 0; c < 4; ++c) {
          EXPECT_EQ(table.observed[c], observed[c]) << name << " " << a << b << c;
          EXPECT_NEAR(table.expected[c], expected[c], 1e-9) << name << " " << a << b << c;
        }
      }
    }
  }
}

// Two items given two equally large classes, fitted values set by hand: P(A = 1 | X) and
// P(B = 1 | X) are 0.8 and 0.2. The estimated pair table is 100 x (0.34 0.16 / 0.16 0.34), so
// with observed 30 10 / 20 40: X-squared = 16/34 + 36/16 + 16/16 + 36/34 = 4.7794118. The
// posterior of class 1 is 16/17 for (1, 1), 1/2 for (1, 2) and (2, 1) (ties go to class 1) and
// 1/17 for (2, 2): class 1 takes 60 cases with average posterior (30 16/17 + 15) / 60, class 2
// 40 with 1/17; the entropy is 70 h(1/17) + 30 ln 2, h(p) = -p ln p - (1 - p) ln(1 - p).
TEST(LatentClassDiagnostics, HandComputedPairAndClassification) {
  Fitted f("lat 1 man 2 dim 2 2 2 lab X A B mod X A|X B|X\nrec 100\nndi\ndat [ " + [] {
    std::string records;
    for (int k = 0; k < 30; ++k) records += "1 1\n";
    for (int k = 0; k < 10; ++k) records += "1 2\n";
    for (int k = 0; k < 20; ++k) records += "2 1\n";
    for (int k = 0; k < 40; ++k) records += "2 2\n";
    return records;
  }() + "]\n");
  ASSERT_EQ(f.message, "");
  const ModelState& model = f.run.model;
  std::vector<double>& fitted = f.run.estimation.FittedTable;
  for (double& x : fitted) x = 0;
  auto set = [&](int t, std::vector<double> values) {
    for (std::size_t c = 0; c < values.size(); ++c)
      fitted[model.submodels[t].first_cell + c] = values[c];
  };
  set(0, {50, 50});
  set(1, {0.8, 0.2, 0.2, 0.8});
  set(2, {0.8, 0.2, 0.2, 0.8});

  const PairTable table = BivariateTable(f.run, 1, 2);  // A and B
  EXPECT_EQ(table.observed, (std::vector<double>{30, 10, 20, 40}));
  for (int c = 0; c < 4; ++c) EXPECT_NEAR(table.expected[c], c == 0 || c == 3 ? 34 : 16, 1e-12);
  const PairResidual residual = BivariateResidual(table);
  EXPECT_NEAR(residual.x_squared, 4.7794117647, 1e-9);
  EXPECT_EQ(residual.df, 1);
  EXPECT_TRUE(residual.defined);

  const double log_likelihood = f.run.estimation.LogLikelihood;
  const ClassificationTable classes = ClassifyEntries(f.run);
  EXPECT_EQ(f.run.estimation.LogLikelihood, log_likelihood);
  EXPECT_EQ(classes.cases, (std::vector<double>{60, 40}));
  EXPECT_NEAR(classes.average[0], (30 * 16.0 / 17 + 15) / 60, 1e-12);
  EXPECT_NEAR(classes.average[1], 1 - (30 * 16.0 / 17 + 15) / 60, 1e-12);
  EXPECT_NEAR(classes.average[2], 1.0 / 17, 1e-12);
  EXPECT_NEAR(classes.average[3], 16.0 / 17, 1e-12);
  const double p = 1.0 / 17;
  const double h = -p * std::log(p) - (1 - p) * std::log(1 - p);
  EXPECT_NEAR(classes.entropy_r_squared, 1 - (70 * h + 30 * std::log(2.0)) / (100 * std::log(2.0)),
              1e-12);
  EXPECT_NEAR(classes.entropy_r_squared, 0.4740701, 1e-7);  // the same, evaluated by hand
}

// Records give the sections of the table they add up to.
TEST(LatentClassDiagnostics, RecordsAndTableGiveTheSameSections) {
  const std::string table = Read("examples/lcstouff.inp");
  const int counts[] = {42, 23, 6, 25, 6, 24, 7, 38, 1, 4, 1, 6, 2, 9, 2, 20};
  std::string records;
  for (int c = 0; c < 16; ++c) {
    for (int k = 0; k < counts[c]; ++k) {
      for (int bit = 3; bit >= 0; --bit) records += std::to_string((c >> bit & 1) + 1) + " ";
      records += "\n";
    }
  }
  std::string input =
      table.substr(0, table.find("see ")) + "rec 216\nsee 1234\ndat [\n" + records + "]\n";
  const EngineRun from_table(table);
  const EngineRun from_records(input);
  ASSERT_EQ(from_records.status, 0);
  EXPECT_EQ(from_records.Statistic("Log-likelihood"), from_table.Statistic("Log-likelihood"));
  for (const char* header : {"*** BIVARIATE RESIDUALS ***", "*** CLASSIFICATION ***"}) {
    EXPECT_FALSE(Section(from_table, header).empty());
    EXPECT_EQ(Section(from_records, header), Section(from_table, header)) << header;
  }
}

// Records with missing values (0) and counts of their own, kept one entry per record (noc) or
// added up: the same sections, every record counted with its weight.
TEST(LatentClassDiagnostics, RecordsWithMissingValues) {
  std::string records;
  const char* lines[] = {"1 1 1", "1 1 2", "2 2 2", "2 2 1", "1 0 1", "2 0 2",
                         "1 0 1", "2 0 1", "1 2 0", "2 2 0", "1 1 1", "2 1 2"};
  for (int repeat = 0; repeat < 5; ++repeat) {
    for (const char* line : lines) records += std::string(line) + " 1.5\n";
  }
  const std::string model =
      "res 1 lat 1 man 3 dim 3 2 2 2 2 lab K X A B C sub ABC AC AB\nmod X A|X B|X C|X K\n"
      "rec 60\nrco\n";
  const std::string data = "see 42\ndat [\n" + records + "]\n";
  const EngineRun added(model + data);
  const EngineRun single(model + "noc\n" + data);
  ASSERT_EQ(added.status, 0);
  ASSERT_EQ(single.status, 0);
  for (const char* header : {"*** BIVARIATE RESIDUALS ***", "*** CLASSIFICATION ***"}) {
    EXPECT_FALSE(Section(added, header).empty());
    EXPECT_EQ(Section(single, header), Section(added, header)) << header;
  }
  EXPECT_TRUE(single.Has("  total      90.000"));
}

// One class: every posterior is 1, the entropy R-squared is 1 and the residuals are those of
// independence; nothing is not a number.
TEST(LatentClassDiagnostics, OneClassAndTheSwitch) {
  const std::string input = "lat 1 man 2 dim 1 2 2 lab X A B mod X A|X B|X\ndat [ 30 10 20 40 ]\n";
  const EngineRun run(input);
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(ClassRow(run, "1"), (std::vector<double>{100, 1}));
  EXPECT_EQ(EntropyRSquared(run), 1.0);
  // Independence: expected 20 20 / 30 30 against 30 10 / 20 40.
  EXPECT_NEAR(PrintedRatio(run, "B", 0), 100.0 / 6, 0.0005);
  EXPECT_TRUE(run.Has("  Pairs with X-squared/df above 3.84: A-B."));
  for (const std::string& line : run.report) EXPECT_EQ(line.find("Nan"), std::string::npos);

  const EngineRun without(WithSetting(input, "ndi"));
  EXPECT_FALSE(without.Has("*** BIVARIATE RESIDUALS ***"));
  EXPECT_FALSE(without.Has("*** CLASSIFICATION ***"));
}

// The most items a latent class model can have, 99: 4851 pairs in blocks of eight columns, from
// 2000 records kept one by one (the table has too many cells to number), without delay.
TEST(LatentClassDiagnostics, MostItemsStayFast) {
  // Labels of three characters: the default ones would run out of letters.
  auto label = [](int v) {
    return std::string(1, static_cast<char>('A' + v / 26)) + static_cast<char>('a' + v % 26) +
           std::to_string(v % 10);
  };
  std::string input = "lat 1\nman 99\ndim 2";
  for (int v = 0; v < 99; ++v) input += " 2";
  input += "\nlab X";
  for (int v = 0; v < 99; ++v) input += " " + label(v);
  input += "\nmod X";
  for (int v = 0; v < 99; ++v) input += " " + label(v) + "|X";
  input += "\nrec 2000\nite 5\ndat [\n";
  unsigned state = 12345;
  for (int r = 0; r < 2000; ++r) {
    const bool high = r % 2 == 0;
    for (int v = 0; v < 99; ++v) {
      state = state * 1103515245u + 12345u;
      const bool one = (state >> 16) % 100 < (high ? 80u : 20u);
      input += one ? "1 " : "2 ";
    }
    input += "\n";
  }
  input += "]\n";
  const auto start = std::chrono::steady_clock::now();
  const EngineRun run(input);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(run.status, 0) << (run.log.empty() ? "" : run.log.back());
  const std::vector<std::string> section = Section(run, "*** BIVARIATE RESIDUALS ***");
  // Every pair once, in the rows of the blocks.
  int cells = 0;
  for (const std::string& line : section) {
    if (line.size() < 6 || line[2] == ' ' || line.find("Pairs") != std::string::npos) continue;
    std::istringstream numbers(line.substr(6));
    for (double x; numbers >> x;) ++cells;
  }
  EXPECT_EQ(cells, 99 * 98 / 2);
  EXPECT_TRUE(Section(run, "*** CLASSIFICATION ***").size() > 5);
  EXPECT_LT(seconds, 20.0);
}

}  // namespace
}  // namespace tav
