#include "data/settings_section.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "core/stop_run.h"
#include "input/reader.h"
#include "input/sections.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::ParseText;
using testing::TempDir;

// A run with a model built by hand: manifest variables A, B, ... with the given numbers of
// categories, one subgroup observing all of them, and the submodels that Add makes. Settings
// runs the settings section on a text; the data file d.txt holds a table for the model.
struct Pass {
  explicit Pass(std::vector<int> dims = {2, 3}) {
    ModelState& m = run.model;
    m.ManifestCount = m.VariableCount = static_cast<int>(dims.size());
    std::string table;
    double cells = 1;
    for (int v = 0; v < m.VariableCount; ++v) {
      m.Dimension[v] = dims[v];
      m.VariableLabel[v] = std::string(1, static_cast<char>('A' + v));
      cells *= dims[v];
    }
    m.ManifestCellCount = cells;
    NewSubgroupPatterns(m);
    for (int v = 0; v < m.VariableCount; ++v) m.SubgroupPattern[0][v] = 1;
    for (int c = 0; c < cells; ++c) table += "1 ";
    dir.Write("d.txt", table + "\n");
  }

  // Adds a submodel of the given kind that holds the variables labelled in labels; returns
  // its number.
  int Add(const std::string& labels, SubmodelKindCode kind = SubmodelKindCode::kLogLinear) {
    ModelState& m = run.model;
    const int index = m.SubmodelCount++;
    Submodel& s = NewSubmodel(m, index);
    s.SubmodelKind = kind;
    s.term = labels;
    for (char c : labels) s.SubmodelVariables[c - 'A'] = 1;
    s.SubmodelVarCount = static_cast<int>(labels.size());
    return index;
  }
  // Adds a log-linear effect over the labelled variables to submodel s.
  void AddEffect(int s, const std::string& labels) {
    Submodel& sub = run.model.submodels[s];
    Membership& e = NewEffect(sub, sub.MarginCount());
    for (char c : labels) e[c - 'A'] = 1;
  }
  // Adds a design of the given family and parameter count over the labelled variables (a label
  // after "|" marks a grouping variable).
  Design& AddDesign(int s, DesignFamily family, const std::string& labels, int count,
                    DesignInteraction interaction = DesignInteraction::kA) {
    Submodel& sub = run.model.submodels[s];
    Design& d = NewDesign(sub, sub.DesignTermCount());
    d.family = family;
    d.interaction = interaction;
    d.DesignCountParam = count;
    std::uint8_t code = 1;
    for (char c : labels) {
      if (c == '|') {
        code = 255;
      } else {
        d.DesignVariables[c - 'A'] = code;
      }
    }
    return d;
  }

  // Runs the settings section on text; returns the stop message or "".
  std::string Settings(const std::string& text) {
    run.FilePrefix = dir.path().string() + "/";
    run.InputFileName = dir.Write("input.inp", text);
    reader.input.Open(run.InputFileName, "r");
    reader.command = ReadWord(reader.input);
    try {
      ParseSettings(reader, run);
    } catch (const StopRunError& stop) {
      return stop.message();
    }
    return "";
  }
  // The same with the data file named after text.
  std::string WithData(const std::string& text) { return Settings(text + data_commands); }

  std::string data_commands = "\ndat d.txt\n";

  const tav::Settings& settings() const { return run.settings; }

  TempDir dir;
  Reader reader;
  DataRun run;
};

std::string Error(const std::string& text) { return Pass().WithData(text); }

// ---------------------------------------------------------------------------------------------
// Defaults.

TEST(SettingDefaults, PlainModel) {
  Pass r;
  r.Add("AB");
  r.run.settings.random_seed = 77;
  r.run.settings.random_amplitude = 9;
  ASSERT_EQ(r.WithData(""), "");
  const tav::Settings& s = r.settings();
  EXPECT_EQ(s.max_iterations, 5000);
  EXPECT_EQ(s.convergence_criterion, 1e-6);
  EXPECT_EQ(s.em_cycles_per_iteration, 1);
  EXPECT_EQ(s.max_inner_iterations, 10);
  EXPECT_EQ(s.newton_start_iteration, 2147483647.0);
  EXPECT_EQ(s.newton_algorithm, NewtonAlgorithm::kNewtonRaphson);
  EXPECT_EQ(s.newton_lambda, 0);
  EXPECT_EQ(s.added_constant, 0);
  EXPECT_EQ(s.step_size, 1.0);
  EXPECT_EQ(s.restriction_step, 4.0);
  EXPECT_EQ(s.restriction_step_min, 1.0);
  EXPECT_EQ(s.restriction_step_interval, 2);
  for (std::int32_t reference : s.dummy_reference) EXPECT_EQ(reference, -1);
  EXPECT_FALSE(s.dummy_coding);
  EXPECT_EQ(s.score_scaling, 1);
  EXPECT_FALSE(s.user_scores_given);
  EXPECT_EQ(s.simulate_count, 0);
  EXPECT_EQ(s.simulate_file, "");
  EXPECT_TRUE(s.show_details && s.show_echo && s.show_parameters && s.show_frequencies &&
              s.show_latent && s.show_conditional && s.include_first_submodel && s.show_pseudo_r2 &&
              s.show_std_errors && s.show_zero_cells);
  EXPECT_EQ(r.run.settings.random_seed, 0);
  EXPECT_EQ(r.run.settings.random_amplitude, 1);
  EXPECT_TRUE(r.run.data.data_given);
  EXPECT_EQ(s.data_file, "d.txt");
}

TEST(SettingDefaults, DependOnTheModel) {
  {
    Pass r;
    r.run.model.AnyLinLog = true;
    SetSettingDefaults(r.run);
    EXPECT_EQ(r.settings().convergence_criterion, 1e-8);
    EXPECT_EQ(r.settings().restriction_step_min, 2.0);
    EXPECT_FALSE(r.settings().show_std_errors);
  }
  {
    Pass r;
    r.run.model.AnyMar = true;
    SetSettingDefaults(r.run);
    EXPECT_EQ(r.settings().convergence_criterion, 1e-8);
    EXPECT_EQ(r.settings().restriction_step_min, 1.0);
  }
  {
    Pass r;
    r.run.model.CovariateCount = 2;
    SetSettingDefaults(r.run);
    EXPECT_FALSE(r.settings().show_frequencies);
    EXPECT_FALSE(r.settings().show_latent);
    EXPECT_FALSE(r.settings().include_first_submodel);
    EXPECT_TRUE(r.settings().show_std_errors);
  }
  {
    Pass r;  // the special model type (cumulative model i)
    r.run.model.CumulativeI = true;
    SetSettingDefaults(r.run);
    EXPECT_FALSE(r.settings().show_frequencies);
    EXPECT_FALSE(r.settings().show_latent);
    EXPECT_TRUE(r.settings().include_first_submodel);
  }
  {
    Pass r;
    r.Add("AB", SubmodelKindCode::kSaturatedFixed);
    SetSettingDefaults(r.run);
    EXPECT_FALSE(r.settings().include_first_submodel);
    EXPECT_TRUE(r.settings().show_frequencies);
  }
  {
    Pass r({10, 10, 10});
    SetSettingDefaults(r.run);
    EXPECT_TRUE(r.settings().show_zero_cells);  // 1000 cells
    Pass big({10, 10, 11});
    SetSettingDefaults(big.run);
    EXPECT_FALSE(big.settings().show_zero_cells);
  }
  {
    Pass r;
    r.run.history.HazardModel = true;
    r.run.history.TimePointCount = 3;
    SetSettingDefaults(r.run);
    EXPECT_EQ(r.settings().dummy_reference[2], 0);  // the time variable follows A and B
    EXPECT_EQ(r.settings().dummy_reference[1], -1);
    r.run.history.TimePointCount = 1;
    SetSettingDefaults(r.run);
    EXPECT_EQ(r.settings().dummy_reference[2], -1);
  }
}

TEST(SettingDefaults, StandardErrorsNeedNewtonAndNoMarWithLatentVariables) {
  for (SubmodelKindCode kind : {SubmodelKindCode::kEqualityRestricted, SubmodelKindCode::kOrdinal1,
                                SubmodelKindCode::kOrdinal2}) {
    Pass r;
    r.Add("A");
    r.Add("AB", kind);
    EXPECT_TRUE(NewtonUnavailable(r.run.model)) << static_cast<int>(kind);
    SetSettingDefaults(r.run);
    EXPECT_FALSE(r.settings().show_std_errors) << static_cast<int>(kind);
  }
  Pass plain;
  plain.Add("AB");
  plain.AddDesign(0, DesignFamily::kEffect, "AB", 2);
  plain.AddDesign(0, DesignFamily::kEffect, "A|B", 1,
                  DesignInteraction::kC);  // interaction c: one set of parameters
  EXPECT_FALSE(NewtonUnavailable(plain.run.model));
  plain.AddDesign(0, DesignFamily::kEffect, "A|B", 1,
                  DesignInteraction::kB);  // interaction b: a second set of parameters
  EXPECT_TRUE(NewtonUnavailable(plain.run.model));
  Pass association;
  association.run.model.assoc_score_count = 5;
  EXPECT_TRUE(NewtonUnavailable(association.run.model));
  Pass mar;
  mar.run.model.AnyMar = true;
  mar.run.model.LatentCount = 1;
  SetSettingDefaults(mar.run);
  EXPECT_FALSE(mar.settings().show_std_errors);
}

// ---------------------------------------------------------------------------------------------
// Plain settings.

TEST(SettingCommands, NumbersGoToTheirSettings) {
  Pass r;
  ASSERT_EQ(r.WithData("iterations 200 mit 3 oit 7.5 cri .001 ste 2 st1 8 st2 3 st3 5 "
                       "add 0.5 sca 4 ite 300"),
            "");
  const tav::Settings& s = r.settings();
  EXPECT_EQ(s.max_iterations, 300);  // the last one counts
  EXPECT_EQ(s.em_cycles_per_iteration, 3);
  EXPECT_EQ(s.max_inner_iterations, 7.5);
  EXPECT_EQ(s.convergence_criterion, 0.001);
  EXPECT_EQ(s.step_size, 2);
  EXPECT_EQ(s.restriction_step, 8);
  EXPECT_EQ(s.restriction_step_min, 3);
  EXPECT_EQ(s.restriction_step_interval, 5);
  EXPECT_EQ(s.added_constant, 0.5);
  EXPECT_EQ(s.score_scaling, 4);
  EXPECT_EQ(Error("st3 2.5"), "  Error: a real where an integer is expected when reading st3");
  EXPECT_EQ(Error("ite"), "  Error: too few numbers encountered when reading ite");
  EXPECT_EQ(Pass().Settings("cri"), "  Error: too few numbers encountered when reading cri");
  EXPECT_EQ(Error("sca 7"), "  Error: impossible value in command sca");
  EXPECT_EQ(Error("scaling 0"), "  Error: impossible value in command scaling");
}

TEST(SettingCommands, SeedAndAmplitude) {
  Pass r;
  ASSERT_EQ(r.WithData("see 12345"), "");
  EXPECT_EQ(r.run.settings.random_seed, 12345);
  EXPECT_EQ(r.run.settings.random_amplitude, 2);
  Pass r2;
  ASSERT_EQ(r2.WithData("seed -30000"), "");
  EXPECT_EQ(r2.run.settings.random_seed, 30000);
  EXPECT_EQ(r2.run.settings.random_amplitude, 4);
  Pass r3;
  ASSERT_EQ(r3.WithData("see 9999"), "");
  EXPECT_EQ(r3.run.settings.random_amplitude, 1);
  // A huge seed saturates the amplitude and is reduced by the generator's modulus.
  Pass huge;
  ASSERT_EQ(huge.WithData("see 100000000000000000000"), "");
  EXPECT_EQ(huge.run.settings.random_amplitude, std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(huge.run.settings.random_seed, std::fmod(1e20, 2796203.0));
  EXPECT_EQ(Error("see " + std::string(400, '9')), "  Error: impossible value in command see");
}

TEST(SettingCommands, Newton) {
  Pass r;
  ASSERT_EQ(r.WithData("new 20 5"), "");
  EXPECT_EQ(r.settings().newton_start_iteration, 20);
  EXPECT_EQ(r.settings().newton_algorithm, NewtonAlgorithm::kNewtonRaphson);
  EXPECT_EQ(r.settings().newton_lambda, 1);
  Pass r6;
  ASSERT_EQ(r6.WithData("newton 20 6"), "");
  EXPECT_EQ(r6.settings().newton_algorithm, NewtonAlgorithm::kNewtonRaphsonWithEm);
  EXPECT_EQ(r6.settings().newton_lambda, 1);
  Pass r3;
  ASSERT_EQ(r3.WithData("new 10.5 3"), "");
  EXPECT_EQ(r3.settings().newton_start_iteration, 10.5);
  EXPECT_EQ(r3.settings().newton_algorithm, NewtonAlgorithm::kBfgs);
  EXPECT_EQ(r3.settings().newton_lambda, 0);
  // Only the algorithms 1 to 6 exist.
  EXPECT_EQ(Error("new 5 0"), "  Error: impossible value in command new");
  EXPECT_EQ(Error("new 5 7"), "  Error: impossible value in command new");
  Pass restricted;
  restricted.Add("A");
  restricted.Add("AB", SubmodelKindCode::kEqualityRestricted);
  restricted.run.designs.restriction_codes.clear();
  EXPECT_EQ(restricted.WithData("new 10 1"),
            "  Error: Newton-type algorithms not available for this type of model");
}

TEST(SettingCommands, DummyCoding) {
  Pass r({2, 3, 4});
  ASSERT_EQ(r.WithData("dum 1 -1 4"), "");
  EXPECT_TRUE(r.settings().dummy_coding);
  EXPECT_EQ(r.settings().dummy_reference[0], 1);
  EXPECT_EQ(r.settings().dummy_reference[1], -1);
  EXPECT_EQ(r.settings().dummy_reference[2], 4);
  EXPECT_EQ(Pass({2, 3}).WithData("dum 3 1"),
            "  Error: impossible reference category for dummy coding");
  EXPECT_EQ(Pass({2, 3}).WithData("dum 0 -2"),
            "  Error: impossible reference category for dummy coding");
  // With a covariate its variable (the last) takes no reference; a hazard part with several
  // time points adds one for the time variable.
  Pass c({2, 3, 1});
  c.run.model.CovariateCount = 1;
  c.run.history.HazardModel = true;
  c.run.history.TimePointCount = 5;
  c.run.history.RecordFormat = true;  // a simulation takes the covariate values of the records
  ASSERT_EQ(c.Settings("dum 2 0 5 sim 1 s.dat dat [ ]"), "");
  EXPECT_EQ(c.settings().dummy_reference[0], 2);
  EXPECT_EQ(c.settings().dummy_reference[1], 0);
  EXPECT_EQ(c.settings().dummy_reference[2], -1);
  EXPECT_EQ(c.settings().dummy_reference[3], 5);
  Pass t({2});
  t.run.history.HazardModel = true;
  t.run.history.TimePointCount = 2;
  EXPECT_EQ(t.WithData("dum 1 3"), "  Error: impossible reference category for dummy coding");
}

TEST(SettingCommands, OutputSwitches) {
  struct Case {
    const char* command;
    bool tav::Settings::*flag;
  };
  const Case cases[] = {
      {"nlo", &tav::Settings::show_details},
      {"nec", &tav::Settings::show_echo},
      {"npa", &tav::Settings::show_parameters},
      {"nfr", &tav::Settings::show_frequencies},
      {"nla", &tav::Settings::show_latent},
      {"nco", &tav::Settings::show_conditional},
      {"nfi", &tav::Settings::include_first_submodel},
      {"nR2", &tav::Settings::show_pseudo_r2},
      {"nse", &tav::Settings::show_std_errors},
      {"nsd", &tav::Settings::show_std_errors},
      {"nze", &tav::Settings::show_zero_cells},
  };
  for (const Case& c : cases) {
    Pass r;
    ASSERT_EQ(r.WithData(c.command), "") << c.command;
    EXPECT_FALSE(r.settings().*c.flag) << c.command;
    // The other switches stay on (npa also clears the standard errors).
    for (const Case& other : cases) {
      if (other.flag == c.flag) continue;
      const bool npa_clears =
          std::string(c.command) == "npa" && other.flag == &tav::Settings::show_std_errors;
      EXPECT_EQ(r.settings().*other.flag, !npa_clears) << c.command << " " << other.command;
    }
  }
  Pass npa;
  ASSERT_EQ(npa.WithData("npa"), "");
  EXPECT_FALSE(npa.settings().show_std_errors);
}

TEST(SettingCommands, ResultFiles) {
  struct Case {
    const char* command;
    std::string tav::Settings::*file;
    const char* what;
  };
  const Case cases[] = {
      {"wfi", &tav::Settings::file_frequencies, "write estimated frequencies"},
      {"wda", &tav::Settings::file_data, "write data"},
      {"wfr", &tav::Settings::file_observed, "write (estimated) observed frequencies"},
      {"wco", &tav::Settings::file_probabilities, "write estimated probabilities"},
      {"wpa", &tav::Settings::file_parameters, "write parameter estimates"},
      {"wse", &tav::Settings::file_covariances, "write variances/covariances/correlations"},
      {"wsd", &tav::Settings::file_covariances, "write variances/covariances/correlations"},
      {"wfa", &tav::Settings::file_failures, "write observed failures"},
      {"wha", &tav::Settings::file_hazards, "write estimated hazard rates"},
      {"wex", &tav::Settings::file_exposures, "write exposures"},
      {"wsu", &tav::Settings::file_survival, "write estimated survival probabilities"},
      {"wla", &tav::Settings::file_latent, "write latent probabilities"},
      {"wpo", &tav::Settings::file_posterior, "posterior probabilities"},
  };
  for (const Case& c : cases) {
    Pass r;
    ASSERT_EQ(r.WithData(std::string(c.command) + " out.res"), "") << c.command;
    EXPECT_EQ(r.settings().*c.file, "out.res") << c.command;
    const std::string message = std::string("  Error: file to ") + c.what + " not specified";
    EXPECT_EQ(Pass().Settings(std::string(c.command) + " nfr"), message);
    EXPECT_EQ(Pass().Settings(c.command), message);
  }
}

TEST(SettingCommands, ResultFilesNeverReplaceTheFilesOfTheRun) {
  EXPECT_EQ(Error("wfi input.inp"),
            "  Error: result file input.inp would overwrite a file of this run");
  EXPECT_EQ(Error("wma A d.txt"), "  Error: result file d.txt would overwrite a file of this run");
  EXPECT_EQ(Error("wco ./d.txt"),
            "  Error: result file ./d.txt would overwrite a file of this run");
  Pass r;
  std::filesystem::create_directories(r.dir.path() / "sub");
  EXPECT_EQ(r.WithData("wpa sub/../d.txt"),
            "  Error: result file sub/../d.txt would overwrite a file of this run");
  EXPECT_EQ(Error("wfi other.res wpa other2.res"), "");
  // Nor the report or the log of the run.
  Pass files;
  files.run.OutputFileName = files.dir.Write("report.out", "");
  files.run.arguments = {"input.inp", "report.out", "prefix/", files.dir.Write("log.tmp", "")};
  EXPECT_EQ(files.WithData("wfi log.tmp"),
            "  Error: result file log.tmp would overwrite a file of this run");
  EXPECT_EQ(files.WithData("wpo report.out"),
            "  Error: result file report.out would overwrite a file of this run");
}

TEST(SettingCommands, MarginalTables) {
  Pass r({2, 3, 2});
  ASSERT_EQ(r.WithData("wma AB ab.txt wma C c.txt"), "");
  ASSERT_EQ(r.settings().marginal_requests.size(), 2u);
  const MarginalRequest& first = r.settings().marginal_requests[0];
  EXPECT_EQ(first.file, "ab.txt");
  EXPECT_EQ(first.variables[0], 1);
  EXPECT_EQ(first.variables[1], 1);
  EXPECT_EQ(first.variables[2], 0);
  EXPECT_EQ(r.settings().marginal_requests[1].variables[2], 1);

  std::string many;
  for (int k = 0; k < 101; ++k) many += "wma A m" + std::to_string(k) + ".txt\n";
  Pass full;
  ASSERT_EQ(full.WithData(many), "");
  EXPECT_EQ(full.settings().marginal_requests.size(), 101u);
  EXPECT_EQ(Error(many + "wma B last.txt"),
            "  Error: more then 101 marginal tables specified to print");

  EXPECT_EQ(Error("wma nfr"), "  Error in command wma");
  EXPECT_EQ(Pass().Settings("wma"), "  Error in command wma");
  EXPECT_EQ(Error("wma AB nfr"),
            "  Error: file to write estimated marginal frequencies not specified");
  EXPECT_EQ(Error("wma AX x.txt"), "  Error: wrong label (X) in AX in command wma");
}

TEST(SettingCommands, UnknownAndMisplacedCommands) {
  EXPECT_EQ(Error("mod AB"), "  Error: command mod not allowed at this place");
  EXPECT_EQ(Error("dim 2 2"), "  Error: command dim not allowed at this place");
  EXPECT_EQ(Error("rec 5"), "  Error: command rec not allowed at this place");
  EXPECT_EQ(Error("haz"), "  Error: command haz not allowed at this place");
  EXPECT_EQ(Error("iterate 5 foo"), "  Error: command foo does not exist");
  EXPECT_EQ(Error("sub A"), "  Error: command sub does not exist");
  EXPECT_EQ(Error("ITE 5"), "  Error: command ITE does not exist");
  EXPECT_EQ(Error("12"), "  Error: command 12 does not exist");
}

// ---------------------------------------------------------------------------------------------
// Data, cases, simulation and designs.

TEST(SettingData, DataFileAndItsMessages) {
  EXPECT_EQ(Pass().Settings("ite 5"), "  Error: no data specified");
  EXPECT_EQ(Pass().Settings(""), "  Error: no data specified");
  EXPECT_EQ(Pass().Settings("dat"), "  Error: file containing data not specified");
  EXPECT_EQ(Pass().Settings("dat nfr"), "  Error: file containing data not specified");
  Pass missing;
  EXPECT_EQ(missing.Settings("dat none.txt"),
            "  Error: cannot open file " + missing.dir.path().string() + "/none.txt");
  Pass r;
  ASSERT_EQ(r.Settings("fre d.txt"), "");
  EXPECT_TRUE(r.run.data.data_given);
  EXPECT_FALSE(r.run.DataFile.IsOpen());
}

TEST(SettingData, AddedConstant) {
  EXPECT_EQ(Pass().Settings("dat d.txt add 0.5"),
            "  Error: \"add\" must be specified before \"dat\"");
  Pass records;
  records.run.history.RecordFormat = true;
  EXPECT_EQ(records.WithData("add 1"), "  Error: \"add\" cannot be used with record format input");
}

TEST(SettingData, SimulationNeedsNoData) {
  Pass r;
  r.Add("AB");
  r.run.history.RecordCount = 12;
  ASSERT_EQ(r.Settings("sim 99.6 sim.dat nse"), "");
  const tav::Settings& s = r.settings();
  EXPECT_EQ(s.simulate_count, 100);
  EXPECT_EQ(s.simulate_file, "sim.dat");
  EXPECT_EQ(s.max_iterations, 0);
  EXPECT_FALSE(s.show_std_errors);
  // The report says which of its sections simulated data leave out.
  EXPECT_TRUE(s.show_frequencies);
  EXPECT_TRUE(s.show_pseudo_r2);
  EXPECT_TRUE(s.show_latent);
  EXPECT_EQ(r.run.data.total_count, 1);
  EXPECT_EQ(r.run.history.RecordCount, 0);
  EXPECT_FALSE(r.run.model.submodels[0].random_start);

  Pass negative;
  ASSERT_EQ(negative.Settings("sim -1000 sim.dat"), "");
  EXPECT_EQ(negative.settings().simulate_count, -1000);
  // Beyond a 32-bit count: refused, not cut down.
  EXPECT_EQ(Pass().Settings("sim 1" + std::string(30, '0') + " sim.dat"),
            "  Error: impossible value in command sim");
  Pass largest;
  ASSERT_EQ(largest.Settings("sim -2147483647 sim.dat"), "");
  EXPECT_EQ(largest.settings().simulate_count, -2147483647);
  EXPECT_EQ(Pass().Settings("sim 10"), "  Error: file to write simulated data not specified");
  EXPECT_EQ(Pass().Settings("sim 10 ite 4"), "  Error: file to write simulated data not specified");
  EXPECT_EQ(Pass().Settings("dat d.txt sim 10 d.txt"),
            "  Error: result file d.txt would overwrite a file of this run");
}

TEST(SettingData, NumberOfCases) {
  // With simulation the observed total is 1.
  EXPECT_EQ(Pass().Settings("cas 1.000001 sim 5 s.dat"), "");
  EXPECT_EQ(Pass().Settings("cas 1.1 sim 5 s.dat"),
            "  Error: number of cases is wrong (1.00 and not 1.10)");
  EXPECT_EQ(Pass().Settings("cases 1000 sim 5 s.dat"),
            "  Error: number of cases is wrong (1.00 and not 1000.00)");
  EXPECT_EQ(Pass().Settings("cas -1 sim 5 s.dat"), "");  // -1: no check
}

// ---------------------------------------------------------------------------------------------
// Start values.

TEST(NormalStartValues, DensityWeights) {
  // Five points -4, -2, 0, 2, 4: the densities 0.000133830, 0.0539910, 0.398942, scaled to
  // sum to 5.
  const std::vector<double> values = NormalStartValues(5, 1, 8);
  ASSERT_EQ(values.size(), 5u);
  const double phi0 = 0.3989422804014327;
  const double phi2 = 0.05399096651318806;
  const double phi4 = 0.00013383022576488537;
  const double sum = phi0 + 2 * phi2 + 2 * phi4;
  EXPECT_NEAR(values[0], 5 * phi4 / sum, 1e-12);
  EXPECT_NEAR(values[1], 5 * phi2 / sum, 1e-12);
  EXPECT_NEAR(values[2], 5 * phi0 / sum, 1e-12);
  EXPECT_NEAR(values[0], 0.0013193254, 1e-9);
  EXPECT_NEAR(values[2], 3.9328536294, 1e-9);
  EXPECT_EQ(values[0], values[4]);
  EXPECT_EQ(values[1], values[3]);
  EXPECT_NEAR(values[0] + values[1] + values[2] + values[3] + values[4], 5, 1e-12);
}

TEST(NormalStartValues, IntervalProbabilities) {
  // Three values over a range of 4: cuts at -1 and 1, probabilities 0.158655, 0.682689,
  // 0.158655, times 3.
  const std::vector<double> values = NormalStartValues(3, 2, 4);
  ASSERT_EQ(values.size(), 3u);
  EXPECT_NEAR(values[0], 3 * 0.15865525393145707, 1e-12);
  EXPECT_NEAR(values[1], 3 * 0.6826894921370859, 1e-12);
  EXPECT_NEAR(values[2], 3 * 0.15865525393145707, 1e-12);
  // A negative range gives the same values, not negative probabilities.
  EXPECT_EQ(NormalStartValues(3, 2, -4), values);
}

TEST(NormalStartValues, EdgeCases) {
  EXPECT_EQ(NormalStartValues(1, 1, 8), std::vector<double>{1});
  EXPECT_EQ(NormalStartValues(0, 1, 8), std::vector<double>{});
  EXPECT_EQ(NormalStartValues(3, 1, 0), (std::vector<double>{1, 1, 1}));
  // Points so far out that every density is 0: equal values, never NaN.
  EXPECT_EQ(NormalStartValues(2, 1, 1000), (std::vector<double>{1, 1}));
  // Two values with intervals: Phi(0) each.
  EXPECT_EQ(NormalStartValues(2, 3, 8), (std::vector<double>{1, 1}));
}

// A model with a log-linear submodel AB {A, AB}, a restricted submodel C|A and designs.
struct StartModel : Pass {
  StartModel() : Pass({2, 3, 2}) {
    Add("AB");
    AddEffect(0, "");
    AddEffect(0, "A");
    AddEffect(0, "AB");
    AddDesign(0, DesignFamily::kEffect, "AB", 2);
    AddDesign(0, DesignFamily::kSpecial, "A|B", 3,
              DesignInteraction::kC);  // interaction c: parameters times the multiplier
    AddDesign(0, DesignFamily::kFixedWeights, "B|A", 4, DesignInteraction::kC);
    Add("AC", SubmodelKindCode::kEqualityRestricted);
    AddEffect(1, "A");
    // The eff design takes 6 x 2 numbers, the restricted submodel one code per cell.
    dir.Write("des.txt", "0 0 0 0 0 0 0 0 0 0 0 0\n0 0 0 0\n");
    data_commands = "\ndat d.txt des des.txt\n";
  }
};

TEST(StartValues, PlainEffectsInline) {
  StartModel r;
  ASSERT_EQ(r.WithData("sta AB [1 2 3 4 5 6] sta A [7 8]"), "");
  ASSERT_EQ(r.settings().start_values.size(), 2u);
  const StartValueRequest& ab = r.settings().start_values[0];
  EXPECT_EQ(ab.submodel, 0);
  EXPECT_EQ(ab.effect, 2);
  EXPECT_EQ(ab.design, -1);
  EXPECT_FALSE(ab.whole_table);
  EXPECT_FALSE(ab.of_hazard_part);
  EXPECT_EQ(ab.values, (std::vector<double>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(r.settings().start_values[1].effect, 1);
  EXPECT_TRUE(r.run.model.submodels[0].random_start);
  // A "[" that clings to the effect, and a "]" that clings to the last number.
  StartModel glued;
  ASSERT_EQ(glued.WithData("sta A[ 1 2]"), "");
  EXPECT_EQ(glued.settings().start_values[0].values, (std::vector<double>{1, 2}));
}

TEST(StartValues, LogValuesAreExponentiatedAndCapped) {
  Pass r({3});
  r.Add("A");
  r.AddEffect(0, "A");
  ASSERT_EQ(r.WithData("sta log A [0 0.5 700]"), "");
  const std::vector<double>& values = r.settings().start_values[0].values;
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[0], 1);
  EXPECT_DOUBLE_EQ(values[1], std::exp(0.5));
  EXPECT_DOUBLE_EQ(values[2], std::exp(600.0));
}

TEST(StartValues, WholeTableOfARestrictedSubmodel) {
  StartModel r;
  r.run.model.submodels[1].random_start = true;
  ASSERT_EQ(r.WithData("sta AC [.2 .8 .5 .5]"), "");
  const StartValueRequest& request = r.settings().start_values[0];
  EXPECT_EQ(request.submodel, 1);
  EXPECT_TRUE(request.whole_table);
  EXPECT_EQ(request.values, (std::vector<double>{.2, .8, .5, .5}));
  EXPECT_FALSE(r.run.model.submodels[1].random_start);
  // A log-linear submodel with lin restrictions also takes whole tables.
  StartModel lin;
  lin.run.model.submodels[0].LinLogSubmodel = true;
  ASSERT_EQ(lin.WithData("sta B [1 2 3]"), "");
  EXPECT_TRUE(lin.settings().start_values[0].whole_table);
  EXPECT_FALSE(lin.run.model.submodels[0].random_start);
  // The cumulative kind keeps its random start values.
  Pass cum({2, 3});
  cum.Add("AB", SubmodelKindCode::kCumulative);
  ASSERT_EQ(cum.WithData("sta AB [1 2 3 4 5 6]"), "");
  EXPECT_TRUE(cum.run.model.submodels[0].random_start);
}

TEST(StartValues, TypedEffects) {
  StartModel r;
  ASSERT_EQ(r.WithData("sta eff(AB) [1 2] sta spe(A,1a ) [1 2 3 4 5 6 7 8 9] sta wei(B) nor"), "");
  const auto& requests = r.settings().start_values;
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].design, 0);
  EXPECT_EQ(requests[0].effect_text, "eff(AB)");
  EXPECT_EQ(requests[0].values, (std::vector<double>{1, 2}));
  // spe 1a with interaction c and multiplier 0: 3 parameters times the 3 categories of B.
  EXPECT_EQ(requests[1].design, 1);
  EXPECT_EQ(requests[1].effect_text, "spe(A,1a)");
  EXPECT_EQ(requests[1].values.size(), 9u);
  // fix/wei: one value per cell of its variables (3), spread by nor.
  EXPECT_EQ(requests[2].design, 2);
  ASSERT_EQ(requests[2].values.size(), 3u);
  EXPECT_NEAR(requests[2].values[0] + requests[2].values[1] + requests[2].values[2], 3, 1e-12);
  // With a multiplier the count is the parameters times its absolute value.
  StartModel multiplied;
  multiplied.run.model.submodels[0].designs[1].group_multiplier = -4;
  // The grouped design now takes 4 real multipliers for each of the 3 categories of B.
  std::string numbers;
  for (int k = 0; k < 12 + 12 + 4; ++k) numbers += "0 ";
  multiplied.dir.Write("des.txt", numbers);
  ASSERT_EQ(multiplied.WithData("sta spe(A 1a) nor(2 6)"), "");
  EXPECT_EQ(multiplied.settings().start_values[0].values.size(), 12u);
}

TEST(StartValues, TypedEffectsMustMatchADesign) {
  const std::string not_found = "  Error: effect eff(A) specified in sta(rting_values) not found";
  EXPECT_EQ(StartModel().WithData("sta eff(A) [1 2]"), not_found);
  EXPECT_EQ(StartModel().WithData("sta fac(AB) [1 2]"),
            "  Error: effect fac(AB) specified in sta(rting_values) not found");
  EXPECT_EQ(StartModel().WithData("sta spe(A,2a) [1]"),
            "  Error: effect spe(A,2a) specified in sta(rting_values) not found");
  EXPECT_EQ(StartModel().WithData("sta BC [1 2]"),
            "  Error: effect BC specified in sta(rting_values) not found");
  EXPECT_EQ(StartModel().WithData("sta B [1 2 3]"),
            "  Error: effect B specified in sta(rting_values) not found");
}

TEST(StartValues, ValuesFromAFileAndNor) {
  StartModel r;
  r.dir.Write("start.txt", "0.1 0.2\n0.3 0.4 0.5 0.6\n");
  ASSERT_EQ(r.WithData("sta AB start.txt"), "");
  EXPECT_EQ(r.settings().start_values[0].values,
            (std::vector<double>{0.1, 0.2, 0.3, 0.4, 0.5, 0.6}));
  Pass five({5});
  five.Add("A");
  five.AddEffect(0, "A");
  ASSERT_EQ(five.WithData("sta A nor"), "");
  EXPECT_EQ(five.settings().start_values[0].values, NormalStartValues(5, 1, 8));
  Pass typed({5});
  typed.Add("A");
  typed.AddEffect(0, "A");
  ASSERT_EQ(typed.WithData("sta A nor(2 4)"), "");
  EXPECT_EQ(typed.settings().start_values[0].values, NormalStartValues(5, 2, 4));
  EXPECT_EQ(StartModel().WithData("sta A nor(2 4 ite 5"),
            "  Error: a \")\" expected in command \"nor\"");
  Pass few;
  few.Add("AB");
  few.AddEffect(0, "AB");
  few.dir.Write("short.txt", "1 2 3");
  EXPECT_EQ(few.WithData("sta AB short.txt"),
            "  Error: too few numbers encountered when reading sta(rting_values)");
}

TEST(StartValues, ARepeatedEffectKeepsItsLastValues) {
  StartModel r;
  ASSERT_EQ(r.WithData("sta A [1 2] sta A [3 4]"), "");
  ASSERT_EQ(r.settings().start_values.size(), 1u);
  EXPECT_EQ(r.settings().start_values[0].values, (std::vector<double>{3, 4}));
}

TEST(StartValues, Messages) {
  const std::string sta = "sta(rting_values)";
  EXPECT_EQ(StartModel().WithData("sta ite 5"), "  Error: effect not specified in command " + sta);
  EXPECT_EQ(StartModel().Settings("sta"), "  Error: effect not specified in command " + sta);
  EXPECT_EQ(StartModel().WithData("sta log nfr"),
            "  Error: effect not specified in command " + sta);
  EXPECT_EQ(StartModel().WithData("sta spe(A,9a) [1]"),
            "  Error: wrong model number in spe(A,9a) in command " + sta);
  EXPECT_EQ(StartModel().WithData("sta spe(A,1c) [1]"),
            "  Error: wrong model number in spe(A,1c) in command " + sta);
  EXPECT_EQ(StartModel().WithData("sta eff(AB [1 2]"),
            "  Error: a \")\" expected after eff(AB in command " + sta);
  EXPECT_EQ(StartModel().WithData("sta A [1 2 3]"), "  Error: a \"]\" expected in command " + sta);
  EXPECT_EQ(StartModel().WithData("sta A [1]"),
            "  Error: too few numbers encountered when reading " + sta);
  EXPECT_EQ(StartModel().WithData("sta A ite"), "  Error: file with " + sta + " not specified");
  EXPECT_EQ(StartModel().Settings("sta A"), "  Error: file with " + sta + " not specified");
  EXPECT_EQ(StartModel().WithData("sta AX [1]"),
            "  Error: wrong label (X) in AX in command " + sta);
}

TEST(StartValues, HazardSubmodel) {
  // Variables A, B and the time variable T (number 2); submodel 0 is A, the hazard submodel
  // (number 1) holds B and T.
  Pass r({2, 3});
  r.Add("A");
  r.AddEffect(0, "A");
  ModelState& m = r.run.model;
  m.Dimension[2] = 4;
  m.VariableLabel[2] = "T";
  r.run.history.HazardModel = true;
  r.run.history.HazardVarCount = 3;
  Submodel& hazard = NewSubmodel(m, 1);
  hazard.SubmodelVariables[1] = 1;
  hazard.SubmodelVariables[2] = 1;
  NewEffect(hazard, 0)[2] = 1;
  NewEffect(hazard, 1)[1] = 1;
  ASSERT_EQ(r.Settings("sth T [1 2 3 4] sth log B [0 0 0] sim 1 s.dat"), "");
  ASSERT_EQ(r.settings().start_values.size(), 2u);
  EXPECT_EQ(r.settings().start_values[0].submodel, 1);
  EXPECT_TRUE(r.settings().start_values[0].of_hazard_part);
  EXPECT_EQ(r.settings().start_values[0].effect, 0);  // the hazard submodel's first effect
  EXPECT_EQ(r.settings().start_values[1].effect, 1);
  EXPECT_EQ(r.settings().start_values[1].values, (std::vector<double>{1, 1, 1}));
  const std::string sth = "st(art_)h(azard)";
  Pass again({2, 3});
  again.Add("A");
  again.run.history.HazardVarCount = 2;
  Submodel& h = NewSubmodel(again.run.model, 1);
  h.SubmodelVariables[1] = 1;
  EXPECT_EQ(again.WithData("sth A [1 2]"), "  Error: wrong variabele (A) in command " + sth);
  EXPECT_EQ(again.WithData("sth B [1 2 3]"),
            "  Error: effect B specified in " + sth + " not found");
}

// ---------------------------------------------------------------------------------------------
// Association scores and designs.

TEST(SettingDesigns, UserScores) {
  Pass r;
  r.run.model.assoc_score_count = 3;
  ASSERT_EQ(r.WithData("wic 0.5 -1 2"), "");
  EXPECT_TRUE(r.settings().user_scores_given);
  EXPECT_EQ(r.settings().user_scores, (std::vector<double>{0.5, -1, 2}));
  Pass few;
  few.run.model.assoc_score_count = 3;
  EXPECT_EQ(few.Settings("wic 1 2"), "  Error: too few numbers encountered when reading wic");
}

TEST(SettingDesigns, DesignsInlineOrFromAFile) {
  // A factor effect over A (2 cells) with 3 factors.
  auto model = [](Pass& r) {
    r.Add("AB");
    r.AddDesign(0, DesignFamily::kFactor, "A", 3);
  };
  Pass none;
  none.Add("AB");
  EXPECT_EQ(none.WithData("des [1 2]"), "  Error: command \"des\" without user defined designs");
  EXPECT_EQ(none.WithData("design x.txt"),
            "  Error: command \"design\" without user defined designs");
  Pass inline_designs;
  model(inline_designs);
  ASSERT_EQ(inline_designs.WithData("des [3 0]"), "");
  EXPECT_EQ(inline_designs.run.designs.factor, (std::vector<std::int32_t>{3, 0}));
  EXPECT_EQ(inline_designs.run.designs.designs_given_inline, 1);
  Pass glued;
  model(glued);
  ASSERT_EQ(glued.WithData("des[1 2 ]"), "");
  EXPECT_EQ(glued.run.designs.factor, (std::vector<std::int32_t>{1, 2}));
  Pass file;
  model(file);
  file.dir.Write("design.txt", "2\n1\n");
  ASSERT_EQ(file.WithData("des design.txt"), "");
  EXPECT_EQ(file.run.designs.factor, (std::vector<std::int32_t>{2, 1}));
  EXPECT_EQ(file.settings().design_file, "design.txt");

  Pass missing;
  model(missing);
  EXPECT_EQ(missing.WithData(""), "  Error: no design matrix specified");
  Pass no_name;
  model(no_name);
  EXPECT_EQ(no_name.WithData("des nfr"), "  Error: file with design matrix not specified");
  Pass open;
  model(open);
  EXPECT_EQ(open.WithData("des [1 2 3]"), "  Error: a \"]\" expected in command \"des\"");
  Pass range;
  model(range);
  EXPECT_EQ(range.WithData("des [1 4]"), "  Error: wrong number in factor");
  Pass result;
  model(result);
  result.dir.Write("design.txt", "2 1");
  EXPECT_EQ(result.WithData("des design.txt wfi design.txt"),
            "  Error: result file design.txt would overwrite a file of this run");
}

TEST(SettingDesigns, GeneratedDesignsNeedNoDes) {
  // A prespecified design takes no numbers, yet the reader makes room for its columns.
  Pass r;
  r.Add("AB");
  r.AddDesign(0, DesignFamily::kSpecial, "AB", 2);
  ASSERT_EQ(r.WithData(""), "");
  EXPECT_TRUE(r.run.designs.read);
  EXPECT_EQ(r.run.designs.real_design.size(), 12u);
}

// ---------------------------------------------------------------------------------------------
// Whole input files.

TEST(SettingsInInputFiles, FollowTheModel) {
  TempDir dir;
  dir.Write("table.txt", "10 20 30 40\n");
  ProgramRun run;
  ASSERT_EQ(ParseText(run,
                      "man 2 dim 2 2 lab S T mod ST\n"
                      "ite 50 cri .0001 * the criterion, a comment\n"
                      "see 1234 nfr wfi fitted.txt\n"
                      "sta ST [1 2 3 4]\n"
                      "dat table.txt\n",
                      dir),
            "");
  EXPECT_EQ(run.settings.max_iterations, 50);
  EXPECT_EQ(run.settings.convergence_criterion, 0.0001);
  EXPECT_EQ(run.settings.random_seed, 1234);
  EXPECT_FALSE(run.settings.show_frequencies);
  EXPECT_EQ(run.settings.file_frequencies, "fitted.txt");
  ASSERT_EQ(run.settings.start_values.size(), 1u);
  EXPECT_EQ(run.settings.start_values[0].values, (std::vector<double>{1, 2, 3, 4}));
}

TEST(SettingsInInputFiles, ModelCommandsAfterSettingsAreRefused) {
  TempDir dir;
  ProgramRun run;
  EXPECT_EQ(ParseText(run, "man 2 dim 2 2 mod AB ite 5 mod A", dir),
            "  Error: command mod not allowed at this place");
  ProgramRun run2;
  EXPECT_EQ(ParseText(run2, "man 2 dim 2 2 mod AB", dir), "  Error: no data specified");
}

}  // namespace
}  // namespace tav
