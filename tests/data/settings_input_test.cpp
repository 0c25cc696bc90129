// Whole input files through the settings section: the settings meet the model, the data
// reader and the design reader.

#include <gtest/gtest.h>

#include <map>

#include "newton/run_state.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::ParseText;
using testing::TempDir;

using Files = std::map<std::string, std::string>;

// Parses text with the files written beside it first.
struct Input {
  explicit Input(const std::string& text, const Files& files = {}) {
    for (const auto& [name, contents] : files) dir.Write(name, contents);
    message = ParseText(run, text, dir);
  }
  TempDir dir;
  ProgramRun run;
  std::string message;
};

std::string Error(const std::string& text, const Files& files = {}) {
  return Input(text, files).message;
}

TEST(SettingsInput, NumberOfCasesAgainstTheData) {
  Input close("man 2 dim 2 2 cas 1000 dat [ 250 250 250 250.000001 ]");
  EXPECT_EQ(close.message, "");
  EXPECT_NEAR(close.run.data.total_count, 1000.000001, 1e-9);
  EXPECT_EQ(Error("man 2 dim 2 2 cas 1000 dat [ 250 250 250 250.1 ]"),
            "  Error: number of cases is wrong (1000.10 and not 1000.00)");
  EXPECT_EQ(Error("man 2 dim 2 2 cas 10 dat d.txt", {{"d.txt", "1 2 3 4"}}), "");
}

TEST(SettingsInput, AddedConstantBeforeTheData) {
  Input added("man 2 dim 2 2 add 0.5 dat [ 1 0 2 0 ]");
  ASSERT_EQ(added.message, "");
  EXPECT_EQ(added.run.settings.added_constant, 0.5);
  EXPECT_EQ(added.run.data.EntryCount(), 4);  // every cell is an entry now
  EXPECT_EQ(added.run.data.total_count, 5);
  EXPECT_EQ(Error("man 2 dim 2 2 dat [ 1 0 2 0 ] add 0.5"),
            "  Error: \"add\" must be specified before \"dat\"");
  EXPECT_EQ(Error("man 2 dim 2 2 rec 2 add 0.5 dat [ 1 2 2 1 ]"),
            "  Error: \"add\" cannot be used with record format input");
}

TEST(SettingsInput, SimulationWithoutData) {
  Input sim("man 2 dim 2 2 mod AB sim 100 sim.dat");
  ASSERT_EQ(sim.message, "");
  EXPECT_EQ(sim.run.settings.simulate_count, 100);
  EXPECT_EQ(sim.run.settings.max_iterations, 0);
  EXPECT_EQ(sim.run.data.total_count, 1);
  EXPECT_EQ(Error("man 2 dim 2 2 mod AB ite 5"), "  Error: no data specified");
  // Data given beside sim are not the run's data: the model is evaluated without them.
  Input beside("man 2 dim 2 2 mod AB sim 100 sim.dat dat [ 1 2 3 4 ]");
  ASSERT_EQ(beside.message, "");
  EXPECT_EQ(beside.run.data.EntryCount(), 0);
  EXPECT_EQ(beside.run.data.total_count, 1);
}

TEST(SettingsInput, FactorDesign) {
  // A factor effect over A and B (4 cells) with 2 factors: 4 integers from 0 to 2.
  const std::string model = "man 2 dim 2 2 mod AB {AB fac(AB 2)} dat [1 2 3 4] ";
  Input inline_design(model + "des [0 1 2 1]");
  ASSERT_EQ(inline_design.message, "");
  EXPECT_EQ(inline_design.run.designs.factor, (std::vector<std::int32_t>{0, 1, 2, 1}));
  EXPECT_EQ(Error(model + "des [0 1 3 1]"), "  Error: wrong number in factor");
  EXPECT_EQ(Error(model), "  Error: no design matrix specified");
  Input file_design(model + "des factors.txt", {{"factors.txt", "2 2\n1 0\n"}});
  ASSERT_EQ(file_design.message, "");
  EXPECT_EQ(file_design.run.designs.factor, (std::vector<std::int32_t>{2, 2, 1, 0}));
  EXPECT_EQ(Error(model + "des short.txt", {{"short.txt", "2 2 1"}}),
            "  Error: too few numbers encountered when reading design_matrix");
  EXPECT_EQ(Error("man 2 dim 2 2 mod AB dat [1 2 3 4] des [1]"),
            "  Error: command \"des\" without user defined designs");
}

TEST(SettingsInput, RestrictionCodesOfAnEq3Submodel) {
  const std::string model = "man 2 dim 2 3 mod A B|A eq3 dat [1 2 3 4 5 6] ";
  Input codes(model + "des [-1 0 0  1 0 1]");
  ASSERT_EQ(codes.message, "");
  EXPECT_EQ(codes.run.designs.restriction_codes, (std::vector<std::int32_t>{-1, 0, 0, 1, 0, 1}));
  EXPECT_EQ(Error(model + "des [-1 0 0  1 -2 1]"),
            "  Error: wrong number in restrictions on (conditional) probabilities");
  EXPECT_EQ(Error(model + "new 5 1 des [0 0 0 0 0 0]"),
            "  Error: Newton-type algorithms not available for this type of model");
}

TEST(SettingsInput, StartValuesSpreadByNor) {
  // spe 1a over A with 6 categories has 5 parameters; nor gives 5 values that sum to 5,
  // symmetric about the middle one.
  Input nor("man 2 dim 6 2 mod AB {AB spe(A 1a)} sta spe(A,1a) nor dat [1 1 1 1 1 1 1 1 1 1 1 1]");
  ASSERT_EQ(nor.message, "");
  ASSERT_EQ(nor.run.settings.start_values.size(), 1u);
  const std::vector<double>& values = nor.run.settings.start_values[0].values;
  ASSERT_EQ(values.size(), 5u);
  EXPECT_NEAR(values[0] + values[1] + values[2] + values[3] + values[4], 5, 1e-12);
  EXPECT_DOUBLE_EQ(values[0], values[4]);
  EXPECT_DOUBLE_EQ(values[1], values[3]);
  EXPECT_GT(values[2], values[1]);
  EXPECT_EQ(nor.run.settings.start_values[0].design, 0);
}

TEST(SettingsInput, StartValuesOfAConditionalTable) {
  Input table("man 2 dim 2 2 mod A B|A eq3 sta AB [.3 .7 .6 .4] des [0 0 0 0] dat [1 2 3 4]");
  ASSERT_EQ(table.message, "");
  ASSERT_EQ(table.run.settings.start_values.size(), 1u);
  EXPECT_EQ(table.run.settings.start_values[0].submodel, 1);
  EXPECT_TRUE(table.run.settings.start_values[0].whole_table);
  EXPECT_FALSE(table.run.model.submodels[1].random_start);
}

TEST(SettingsInput, ResultFileCannotReplaceTheData) {
  EXPECT_EQ(Error("man 2 dim 2 2 dat d.txt wfr d.txt", {{"d.txt", "1 2 3 4"}}),
            "  Error: result file d.txt would overwrite a file of this run");
  EXPECT_EQ(Error("man 2 dim 2 2 dat [1 2 3 4] wfi input.inp"),
            "  Error: result file input.inp would overwrite a file of this run");
}

TEST(SettingsInput, HazardStartValuesAndDummyCoding) {
  // One covariate A and a time variable T of 2 points; a table of events and one of censored
  // cases follow the data command.
  const std::string model = "man 1 dim 2 tim 2 haz {T AT} ";
  const std::string data = " dat [1 2 3 4  5 6 7 8]";
  Input hazard(model + "sth T [0.5 2] sth log AT [0 0 0 0] dum 1 2" + data);
  ASSERT_EQ(hazard.message, "");
  const Settings& s = hazard.run.settings;
  EXPECT_EQ(s.dummy_reference[0], 1);
  EXPECT_EQ(s.dummy_reference[1], 2);  // the time variable
  ASSERT_EQ(s.start_values.size(), 2u);
  EXPECT_TRUE(s.start_values[0].of_hazard_part);
  EXPECT_EQ(s.start_values[0].submodel, hazard.run.model.SubmodelCount);
  EXPECT_EQ(s.start_values[0].values, (std::vector<double>{0.5, 2}));
  EXPECT_EQ(s.start_values[1].values, (std::vector<double>{1, 1, 1, 1}));
  EXPECT_EQ(Error(model + "dum 1 3" + data),
            "  Error: impossible reference category for dummy coding");
  EXPECT_EQ(Error(model + "sth X [1]" + data),
            "  Error: wrong label (X) in X in command st(art_)h(azard)");
  EXPECT_EQ(Error(model + "sta T [1 2]" + data),
            "  Error: wrong label (T) in T in command sta(rting_values)");
}

}  // namespace
}  // namespace tav

namespace tav {
namespace {

// Step sizes must be positive; threads are 0 (every core) to 1024.
TEST(SettingsInput, StepSizesAndThreadsWithinTheirRange) {
  const std::string base = "man 2 dim 2 2 dat [ 1 2 3 4 ] ";
  EXPECT_EQ(Error(base + "ste 0"), "  Error: impossible value in command ste");
  EXPECT_EQ(Error(base + "st1 0"), "  Error: impossible value in command st1");
  EXPECT_EQ(Error(base + "st2 -1"), "  Error: impossible value in command st2");
  EXPECT_EQ(Error(base + "stepsize 0.5"), "");
  EXPECT_EQ(Error(base + "thr -1"), "  Error: impossible value in command thr");
  EXPECT_EQ(Error(base + "thr 1025"), "  Error: impossible value in command thr");
  EXPECT_EQ(Error(base + "thr 0"), "");
  EXPECT_EQ(Error(base + "threads 4"), "");
}

// Settings without a meaning stop the whole run before anything is estimated: ite -1 once gave
// the report of a perfect fit, mit 0 an unfitted model, sim 0 a file of cells without counts, a
// sim count beyond 32 bits was cut silently, and a count beyond the range of a double ended in
// a log-likelihood that was no number. ite 0 stays the model at its start values: without random
// ones (nra) uniform, so L-squared = 2 * sum n log(n / 25) = 18.1796 for the 100 cases below
// (worked out by hand).
TEST(SettingsInput, ImpossibleSettingsStopTheRun) {
  const std::string model = "man 2\ndim 2 2\nlab A B\nmod {A,B}\nsee 7\n";
  // The log ends with the message and the line of the input it was met on.
  const auto message = [](const testing::EngineRun& run) {
    return run.log.size() < 2 ? std::string() : run.log[run.log.size() - 2];
  };
  const std::string data = "dat [ 32 18 12 38 ]\n";
  for (const std::string setting :
       {"ite -1", "iterations -1", "mit 0", "mit -3", "mit 1.5", "oit 0", "st3 -2", "new -1 1",
        "sim 10000000000000 s.dat", "sim 0.4 s.dat"}) {
    const testing::EngineRun run(model + setting + "\n" + data);
    EXPECT_EQ(run.status, 1) << setting;
    EXPECT_EQ(message(run),
              "Error: impossible value in command " + setting.substr(0, setting.find(' ')));
  }
  const testing::EngineRun huge(model + "dat [ 32 18 12 " + std::string(310, '9') + " ]\n");
  EXPECT_EQ(huge.status, 1);
  EXPECT_EQ(message(huge), "Error: number too large when reading observed frequencies");
  const testing::EngineRun record(
      "man 2\ndim 2 2\nlab A B\nmod {A,B}\nrec 2\nrco\ndat [\n1 1 5\n2 2 " + std::string(310, '9') +
      "\n]\n");
  EXPECT_EQ(record.status, 1);
  EXPECT_EQ(message(record), "Error: number too large when reading data");
  // Counts within the range of a double whose sums are not (1e308 once gave X-squared -3.05
  // and L-squared -9.48): the total of the counts may not exceed 1e100.
  const std::string e308 = "1" + std::string(308, '0');
  const std::string e101 = "1" + std::string(101, '0');
  for (const std::string& counts : {"32 18 12 " + e308, e308 + " 18 12 " + e308, e101 + " 0 0 0"}) {
    const testing::EngineRun large(model + "dat [ " + counts + " ]\n");
    EXPECT_EQ(large.status, 1) << counts.size();
    EXPECT_EQ(message(large), "Error: number too large when reading observed frequencies");
  }
  const testing::EngineRun records("man 2\ndim 2 2\nlab A B\nmod {A,B}\nrec 2\nrco\ndat [\n1 1 " +
                                   e308 + "\n1 1 " + e308 + "\n]\n");
  EXPECT_EQ(records.status, 1);
  EXPECT_EQ(message(records), "Error: number too large when reading data");
  const testing::EngineRun start("man 2\ndim 2 2\nlab A B\nmod {A,B} nra\nite 0\n" + data);
  ASSERT_EQ(start.status, 0);
  EXPECT_NEAR(start.Statistic("L-squared"), 18.1796, 5e-5);
}

// mem sets the memory budget (megabytes, at least 1) for what comes after it: a table of
// 160,000 observed cells takes more than 1 MB.
TEST(SettingsInput, MemorySetsTheBudgetOfTheDataThatFollow) {
  EXPECT_EQ(Error("man 2 dim 2 2 mem 0 dat [ 1 2 3 4 ]"),
            "  Error: impossible value in command mem");
  std::string cells;
  for (int c = 0; c < 160000; ++c) cells += " 1";
  const std::string model = "man 2 dim 400 400 ";
  EXPECT_EQ(Error(model + "mem 1 dat [" + cells + " ]"),
            "  Error: array with observed frequencies too big to fit in memory");
  EXPECT_EQ(Error(model + "mem 20 dat [" + cells + " ]"), "");
  EXPECT_EQ(Error(model + "dat [" + cells + " ] mem 1"), "");
}

}  // namespace
}  // namespace tav
