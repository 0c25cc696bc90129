#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/stop_run.h"
#include "input/reader.h"
#include "input/sections.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::TempDir;

// A model of manifest variables A, B, ... (two categories each) with one submodel, and the
// event-history and record-format sections read from text.
struct Sections {
  explicit Sections(int manifest = 2, std::vector<std::string> labels = {}) {
    ModelState& model = run.model;
    model.ManifestCount = manifest;
    model.VariableCount = manifest;
    for (int v = 0; v < manifest; ++v) {
      model.Dimension[v] = 2;
      model.VariableLabel[v] = v < static_cast<int>(labels.size())
                                   ? labels[v]
                                   : std::string(1, static_cast<char>('A' + v));
      if (model.VariableLabel[v].size() > 1) model.LongLabels = true;
    }
    model.ManifestCellCount = 1 << manifest;
    NewSubmodel(model, 0);
    model.SubmodelCount = 1;
    // A budget of 100 MB: the tables too large for it are refused without taking the machine's
    // memory first.
    run.memory_budget = 100'000'000;
  }

  // Reads the two sections from text; returns the stop message, or "".
  std::string Parse(const std::string& text) {
    reader.input.Open(dir.Write("input.inp", text), "r");
    reader.command = ReadWord(reader.input);
    try {
      ParseEventHistorySection(reader, run);
      ParseRecordFormatSection(reader, run);
    } catch (const StopRunError& stop) {
      return stop.message();
    }
    return "";
  }

  const EventHistoryState& history() const { return run.history; }
  const Submodel& hazard() const { return run.model.submodels[run.model.SubmodelCount]; }

  TempDir dir;
  Reader reader;
  DataRun run;
};

using Risks = std::vector<std::int32_t>;

TEST(EventHistory, WithoutCommandsOnlyTheHazardSubmodelIsReserved) {
  Sections s;
  ASSERT_EQ(s.Parse("ite 5"), "");
  const EventHistoryState& h = s.history();
  EXPECT_FALSE(h.HazardModel);
  EXPECT_FALSE(h.RecordFormat);
  EXPECT_EQ(h.TimeKind, TimeModel::kPiecewiseConstant);
  EXPECT_EQ(h.TimePointCount, 1);
  EXPECT_EQ(h.TimeValues, (std::vector<double>{0, 1}));
  EXPECT_TRUE(h.EquidistantTimes);
  EXPECT_EQ(h.StateCount, 2);
  EXPECT_EQ(h.RiskCount, 1);
  EXPECT_EQ(h.TransitionRisk, (Risks{0, 1, 0, 0}));
  EXPECT_DOUBLE_EQ(h.ExposureTime, 0.5);
  EXPECT_EQ(s.run.model.submodels.size(), 2u);
  EXPECT_EQ(s.run.model.SubmodelCount, 1);
  EXPECT_EQ(s.run.model.VariableLabel[2], "T");
  EXPECT_EQ(s.run.model.Dimension[2], 1);
  EXPECT_EQ(s.reader.command, "ite");
}

TEST(EventHistory, TimePointsAndBoundaries) {
  Sections plain;
  ASSERT_EQ(plain.Parse("tim 3 haz {A}"), "");
  EXPECT_TRUE(plain.history().HazardModel);
  EXPECT_FALSE(plain.history().RecordFormat);
  EXPECT_EQ(plain.history().TimePointCount, 3);
  EXPECT_EQ(plain.history().TimeValues, (std::vector<double>{0, 1, 2, 3}));
  EXPECT_TRUE(plain.history().EquidistantTimes);
  EXPECT_FALSE(plain.history().TrackMaximumTime);
  EXPECT_EQ(plain.run.model.Dimension[2], 3);

  for (const char* text :
       {"tim 3 [0 2 5 10] haz {A} rec 4", "tim 3[0 2 5 10]haz{A}rec 4",
        "tim 3 [ 0 2 5 10 ] haz {A} rec 4", "timepoints 3 [0 2 5 10 ]\n haz {A} rec 4"}) {
    Sections s;
    ASSERT_EQ(s.Parse(text), "") << text;
    EXPECT_TRUE(s.history().RecordFormat) << text;
    EXPECT_FALSE(s.history().EquidistantTimes) << text;
    EXPECT_EQ(s.history().TimeValues, (std::vector<double>{0, 2, 5, 10})) << text;
  }

  // Without tim the single interval grows with the data.
  Sections none;
  ASSERT_EQ(none.Parse("haz {A}"), "");
  EXPECT_TRUE(none.history().TrackMaximumTime);
  EXPECT_EQ(none.history().HazardVarCount, 3);
}

TEST(EventHistory, TimeMessages) {
  Sections labelled(2, {"A", "T"});
  EXPECT_EQ(labelled.Parse("tim 3 haz {A}"), "  Error: label \"T\" reserved for the time variable");
  EXPECT_EQ(Sections().Parse("tim 2 [0 1 2 haz {A}"), "  Error: a \"]\" expected in command tim");
  EXPECT_EQ(Sections().Parse("tim 2 [0 1] haz {A}"),
            "  Error: too few numbers encountered when reading time intervals");
  EXPECT_EQ(Sections().Parse("tim 0 haz {A}"), "  Error: number of time points must be >= 1");
  EXPECT_EQ(Sections().Parse("tim 2.5 haz {A}"),
            "  Error: a real where an integer is expected when reading tim");
  EXPECT_EQ(Sections().Parse("tim 20000000 haz {A}"), "  Error: problem too big to fit in memory");
}

TEST(EventHistory, DefaultRisksInContinuousAndDiscreteTime) {
  Sections continuous;
  ASSERT_EQ(continuous.Parse("haz {A}"), "");
  EXPECT_EQ(continuous.history().TransitionRisk, (Risks{0, 1, 0, 0}));
  EXPECT_EQ(continuous.history().NonSelfTransitions, 0);

  Sections discrete;
  ASSERT_EQ(discrete.Parse("dis haz {A}"), "");
  const EventHistoryState& h = discrete.history();
  EXPECT_EQ(h.TimeKind, TimeModel::kDiscrete);
  EXPECT_EQ(h.StateCount, 2);
  EXPECT_EQ(h.RiskCount, 2);
  EXPECT_EQ(h.NonSelfTransitions, 1);
  EXPECT_EQ(h.TransitionRisk, (Risks{1, 2, 0, 0}));
  EXPECT_DOUBLE_EQ(h.ExposureTime, 1.0);
  // The risk variable follows the time variable.
  EXPECT_EQ(discrete.run.model.VariableLabel[3], "R");
  EXPECT_EQ(discrete.run.model.Dimension[3], 2);
  EXPECT_EQ(h.HazardVarCount, 4);
}

TEST(EventHistory, RisksGivenByPairs) {
  Sections s(1);
  ASSERT_EQ(s.Parse("ris 3 [0 1] [1 2][0 2] haz {A} rec 2"), "");
  const EventHistoryState& h = s.history();
  EXPECT_TRUE(h.RecordFormat);
  EXPECT_EQ(h.StateCount, 3);
  EXPECT_EQ(h.RiskCount, 3);
  EXPECT_EQ(h.TransitionRisk, (Risks{0, 1, 3, 0, 0, 2, 0, 0, 0}));
  EXPECT_EQ(s.run.model.Dimension[2], 3);

  Sections discrete(1);
  ASSERT_EQ(discrete.Parse("dis ris 2 [0 0] [0 1 ] haz {A} rec 2"), "");
  EXPECT_EQ(discrete.history().TransitionRisk, (Risks{1, 2, 0, 0}));
  EXPECT_EQ(discrete.history().NonSelfTransitions, 1);

  // A state without transitions needs no stay risk.
  Sections absorbing(1);
  ASSERT_EQ(absorbing.Parse("dis ris 3 [0 0] [0 1] haz {A} rec 2"), "");
}

TEST(EventHistory, RiskMessages) {
  EXPECT_EQ(Sections().Parse("ris 3 [0 1] [1 2] [0 1] haz {A}"),
            "  Error: the same risk specified twice");
  EXPECT_EQ(Sections().Parse("ris 3 [0 3] haz {A}"),
            "  Error: state specified in command ris greater than number of states-1");
  EXPECT_EQ(Sections().Parse("ris 3 [3 0] haz {A}"),
            "  Error: state specified in command ris greater than number of states-1");
  EXPECT_EQ(Sections().Parse("ris 3 [0 -1] haz {A}"),
            "  Error: negative state specified in command ris");
  EXPECT_EQ(Sections().Parse("ris 3 [0 1 2] haz {A}"), "  Error: a \"]\" expected in command ris");
  EXPECT_EQ(Sections().Parse("ris 3 [0] haz {A}"),
            "  Error: too few numbers encountered when reading risks");
  EXPECT_EQ(Sections().Parse("ris 0 haz {A}"),
            "  Error: number of states must be >= 1 in command ris");
  EXPECT_EQ(Sections().Parse("ris 20000 haz {A}"), "  Error: problem too big to fit in memory");
  EXPECT_EQ(Sections().Parse("dis ris 2 [0 1] haz {A}"),
            "  Error: self-transitions are required in discrete-time logit models");
}

TEST(EventHistory, MultipleRisks) {
  Sections continuous(1);
  ASSERT_EQ(continuous.Parse("mul 2 haz {A} rec 3"), "");
  const EventHistoryState& c = continuous.history();
  EXPECT_TRUE(c.MultipleRisks);
  EXPECT_TRUE(c.RecordFormat);
  EXPECT_EQ(c.StateCount, 3);
  EXPECT_EQ(c.RiskCount, 2);
  EXPECT_EQ(c.TransitionRisk, (Risks{0, 1, 0, 0, 0, 2, 0, 0, 0}));
  EXPECT_EQ(c.EpisodeCount, 2);

  Sections discrete(1);
  ASSERT_EQ(discrete.Parse("dis mul 2 haz {A} rec 3"), "");
  const EventHistoryState& d = discrete.history();
  EXPECT_EQ(d.RiskCount, 4);
  EXPECT_EQ(d.NonSelfTransitions, 2);
  EXPECT_EQ(d.TransitionRisk, (Risks{1, 2, 0, 0, 3, 4, 0, 0, 0}));
  EXPECT_EQ(d.EpisodeCount, 2);
  EXPECT_EQ(discrete.run.model.Dimension[2], 4);

  // The shape form keeps the episodes of the risks numbered in discrete time.
  Sections shape(1);
  ASSERT_EQ(shape.Parse("dis mul 2 haz {A} _we rec 3"), "");
  EXPECT_EQ(shape.history().EpisodeCount, 2);

  EXPECT_EQ(Sections().Parse("mul 0 haz {A}"),
            "  Error: number of risks must be >= 1 in command mul");
  EXPECT_EQ(Sections().Parse("mul 2 haz {A} rec 3 epi 4"),
            "  Error: number of episodes cannot be changed");
}

TEST(EventHistory, HazardEffectsMakeTheirVariablesCovariates) {
  Sections s(3);
  ASSERT_EQ(s.Parse("tim 2 haz {A AT,BT}"), "");
  const Submodel& hazard = s.hazard();
  // A, B and T are covariates now; C stays a dependent variable.
  EXPECT_EQ(hazard.SubmodelVariables[0], 2);
  EXPECT_EQ(hazard.SubmodelVariables[1], 2);
  EXPECT_EQ(hazard.SubmodelVariables[2], 1);
  EXPECT_EQ(hazard.SubmodelVariables[3], 2);
  EXPECT_EQ(hazard.SubmodelVarCount, 4);
  ASSERT_EQ(hazard.MarginCount(), 3);
  EXPECT_EQ(hazard.EffectVariables[0][0], 1);
  EXPECT_EQ(hazard.EffectVariables[0][3], 0);
  EXPECT_EQ(hazard.EffectVariables[1][0], 1);
  EXPECT_EQ(hazard.EffectVariables[1][3], 1);
  EXPECT_EQ(hazard.EffectVariables[2][1], 1);
  EXPECT_EQ(hazard.EffectVariables[2][3], 1);
  EXPECT_EQ(hazard.term, "ABCT");
  EXPECT_TRUE(hazard.random_start);

  // A term of covariates before the braces, written apart or glued to them.
  for (const char* text : {"haz BC {T}", "haz BC{T}", "hazard BC\n{ T }"}) {
    Sections t(3);
    ASSERT_EQ(t.Parse(text), "") << text;
    EXPECT_EQ(t.hazard().SubmodelVariables[0], 1) << text;
    EXPECT_EQ(t.hazard().SubmodelVariables[1], 2) << text;
    EXPECT_EQ(t.hazard().SubmodelVariables[2], 2) << text;
    EXPECT_EQ(t.hazard().MarginCount(), 1) << text;
  }

  // Long labels are separated by points.
  Sections long_labels(2, {"Sex", "Age"});
  ASSERT_EQ(long_labels.Parse("dis haz {Sex.T.R}"), "");
  EXPECT_EQ(long_labels.hazard().term, "Sex.Age.T.R");
  EXPECT_EQ(long_labels.hazard().EffectVariables[0][0], 1);
  EXPECT_EQ(long_labels.hazard().EffectVariables[0][2], 1);
  EXPECT_EQ(long_labels.hazard().EffectVariables[0][3], 1);
}

TEST(EventHistory, RestrictedEffectsAndAssociationsInTheHazardSubmodel) {
  Sections s(3);
  ASSERT_EQ(s.Parse("tim 3 haz {eff(AT 1) B}"), "");
  const Submodel& hazard = s.hazard();
  ASSERT_EQ(hazard.DesignTermCount(), 1);
  EXPECT_EQ(hazard.designs[0].family, DesignFamily::kEffect);
  EXPECT_EQ(hazard.SubmodelVariables[0], 2);
  EXPECT_EQ(hazard.SubmodelVariables[1], 2);
  EXPECT_EQ(hazard.SubmodelVariables[2], 1);
  EXPECT_EQ(hazard.SubmodelVariables[3], 2);
  ASSERT_EQ(hazard.MarginCount(), 1);
  EXPECT_EQ(hazard.EffectVariables[0][1], 1);

  Sections a(3);
  ASSERT_EQ(a.Parse("tim 3 haz {ass(A T 2a)}"), "");
  ASSERT_EQ(a.hazard().AssocCount(), 1);
  EXPECT_EQ(a.hazard().SubmodelVariables[0], 2);
  EXPECT_EQ(a.hazard().SubmodelVariables[1], 1);
  EXPECT_EQ(a.hazard().SubmodelVariables[3], 2);
}

TEST(EventHistory, RandomStartAndEmptyEffect) {
  Sections empty;
  ASSERT_EQ(empty.Parse("haz { } zer"), "");
  ASSERT_EQ(empty.hazard().MarginCount(), 1);
  EXPECT_EQ(empty.hazard().EffectVariables[0], Membership{});
  EXPECT_TRUE(empty.history().ZeroOption);

  Sections nin;
  ASSERT_EQ(nin.Parse("haz{} nra nin"), "");
  EXPECT_EQ(nin.hazard().MarginCount(), 0);
  EXPECT_FALSE(nin.hazard().random_start);
  EXPECT_TRUE(nin.hazard().no_initial);

  Sections ran;
  ASSERT_EQ(ran.Parse("haz {A} random"), "");
  EXPECT_TRUE(ran.hazard().random_start);
  EXPECT_EQ(ran.hazard().MarginCount(), 1);
}

TEST(EventHistory, HazardMessages) {
  EXPECT_EQ(Sections().Parse("tim 3 ite 5"), "  Error: command haz required");
  EXPECT_EQ(Sections().Parse("dis"), "  Error: command haz required");
  EXPECT_EQ(Sections().Parse("haz A T"), "  Error: a \"{\" expected in command haz");
  EXPECT_EQ(Sections().Parse("haz rec 5"), "  Error: a \"{\" expected in command haz");
  EXPECT_EQ(Sections().Parse("haz {A rec 5"), "  Error: a \"}\" expected in command haz");
  EXPECT_EQ(Sections().Parse("haz {A"), "  Error: a \"}\" expected in command haz");
  EXPECT_EQ(Sections().Parse("haz {AQ}"), "  Error: wrong label (Q) in AQ} in command haz");
  EXPECT_EQ(Sections().Parse("haz {R}"), "  Error: wrong label (R) in R} in command haz");
  EXPECT_EQ(Sections(2, {"A", "R"}).Parse("dis haz {A}"),
            "  Error: label \"R\" reserved for the risk variable");
  // With one risk there is no risk variable, and the label is free.
  EXPECT_EQ(Sections(2, {"A", "R"}).Parse("haz {R}"), "");
}

TEST(EventHistory, ShapeZeroAndExposure) {
  Sections weibull;
  ASSERT_EQ(weibull.Parse("tim 3 [0 2 5 10] haz {A} _weibull zer exp 0.25 rec 3"), "");
  const EventHistoryState& h = weibull.history();
  EXPECT_EQ(h.TimeKind, TimeModel::kEstimatedShapes);
  // Given boundaries stay as they are (the last set to the number of time points would run
  // the grid backwards).
  EXPECT_EQ(h.TimeValues, (std::vector<double>{0, 2, 5, 10}));
  EXPECT_FALSE(h.EquidistantTimes);
  EXPECT_TRUE(h.ZeroOption);
  EXPECT_DOUBLE_EQ(h.ExposureTime, 0.25);
  EXPECT_DOUBLE_EQ(h.TimeOffset, 0.25);  // exits lie at t - 1 + the exposure time
  EXPECT_EQ(Sections().Parse("tim 3 [0 5 2 10] haz {A} rec 3"),
            "  Error: the time boundaries must increase in command tim");

  // A number after _we fixes every risk's shape, a bracketed list one per risk.
  Sections fixed;
  ASSERT_EQ(fixed.Parse("ris 3 [0 1] [0 2] haz {A} _we [1.5 0.5] rec 3"), "");
  EXPECT_EQ(fixed.history().TimeKind, TimeModel::kFixedShapes);
  EXPECT_EQ(fixed.history().ShapeValues, (std::vector<double>{1.5, 0.5}));
  Sections one_shape;
  ASSERT_EQ(one_shape.Parse("haz {A} _we 2 zer rec 3"), "");
  EXPECT_EQ(one_shape.history().ShapeValues, (std::vector<double>{2}));
  EXPECT_TRUE(one_shape.history().ZeroOption);
  EXPECT_EQ(Sections().Parse("haz {A} _we 0 rec 3"),
            "  Error: a shape parameter must be >0 and <=100");

  Sections discrete_weibull;
  ASSERT_EQ(discrete_weibull.Parse("dis haz {A} _we"), "");
  EXPECT_DOUBLE_EQ(discrete_weibull.history().ExposureTime, 0.5);

  Sections zero;
  ASSERT_EQ(zero.Parse("dis haz {A} exp 0"), "");
  EXPECT_DOUBLE_EQ(zero.history().ExposureTime, 0);
  EXPECT_DOUBLE_EQ(zero.history().TimeOffset, 1);  // discrete time counts whole units
  Sections one;
  ASSERT_EQ(one.Parse("haz {A} exp 1"), "");
  EXPECT_DOUBLE_EQ(one.history().ExposureTime, 1);
  EXPECT_EQ(Sections().Parse("haz {A} exp 1.5"), "  Error: the exposure time must be >=0 and <=1");
  EXPECT_EQ(Sections().Parse("haz {A} exp -0.5"), "  Error: the exposure time must be >=0 and <=1");
}

TEST(EventHistory, CommandsOutOfOrderEndTheSection) {
  Sections s;
  ASSERT_EQ(s.Parse("haz {A} tim 3"), "");
  EXPECT_EQ(s.history().TimePointCount, 1);
  EXPECT_EQ(s.reader.command, "tim");

  Sections late_dis;
  ASSERT_EQ(late_dis.Parse("haz {A} zer dis"), "");
  EXPECT_EQ(late_dis.history().TimeKind, TimeModel::kPiecewiseConstant);
  EXPECT_EQ(late_dis.reader.command, "dis");
}

TEST(RecordFormat, WithoutRec) {
  Sections table;
  ASSERT_EQ(table.Parse("fre [1 2 3 4]"), "");
  EXPECT_FALSE(table.history().RecordFormat);
  EXPECT_EQ(table.history().RecordCount, 0);
  EXPECT_EQ(table.reader.command, "fre");

  EXPECT_EQ(Sections().Parse("ris 2 [0 1] haz {A} dat x"),
            "  Error: number of records not specified (record format input required)");
  Sections covariate;
  covariate.run.model.CovariateCount = 1;
  EXPECT_EQ(covariate.Parse("dat x"),
            "  Error: number of records not specified (record format input required)");
}

TEST(RecordFormat, NumberOfRecordsAndOptions) {
  Sections s;
  ASSERT_EQ(s.Parse("rec 10.6 dat x"), "");
  const EventHistoryState& h = s.history();
  EXPECT_EQ(h.RecordCount, 11);
  EXPECT_TRUE(h.RecordFormat);
  EXPECT_TRUE(h.PerRecordOutput);
  EXPECT_EQ(h.MissingCode, 0);
  EXPECT_EQ(h.EpisodeCount, 1);
  EXPECT_FALSE(h.EntryTimeGiven);
  EXPECT_FALSE(s.run.history.RecordCountGiven);
  EXPECT_EQ(h.ColumnUsed, AllColumnsUsed());
  EXPECT_EQ(s.reader.command, "dat");

  Sections all;
  ASSERT_EQ(all.Parse("records 5 rt0 epi 3 rco mis -1 ski [2 5] noc ski[201] rt0 ite 4"), "");
  const EventHistoryState& a = all.history();
  EXPECT_TRUE(a.EntryTimeGiven);
  EXPECT_EQ(a.EpisodeCount, 3);
  EXPECT_TRUE(all.run.history.RecordCountGiven);
  EXPECT_EQ(a.MissingCode, -1);
  EXPECT_FALSE(a.PerRecordOutput);
  for (int c = 1; c <= kRecordColumns; ++c) {
    EXPECT_EQ(a.ColumnUsed[c], (c == 2 || c == 5 || c == 201) ? 0 : 1) << c;
  }
  EXPECT_EQ(all.reader.command, "ite");

  // The last of mis and rsu counts.
  Sections subgroups;
  ASSERT_EQ(subgroups.Parse("rec 5 mis 9 rsu"), "");
  EXPECT_EQ(subgroups.history().MissingCode, kNoMissingCode);
}

TEST(RecordFormat, PerRecordOutputOnlyWithoutHazardOrCovariate) {
  Sections hazard;
  ASSERT_EQ(hazard.Parse("haz {A} rec 4"), "");
  EXPECT_FALSE(hazard.history().PerRecordOutput);

  Sections covariate(3);
  covariate.run.model.CovariateCount = 1;
  covariate.run.model.Dimension[2] = 1;
  covariate.run.model.ManifestCellCount = 4;
  ASSERT_EQ(covariate.Parse("rec 6"), "");
  EXPECT_FALSE(covariate.history().PerRecordOutput);
  EXPECT_EQ(covariate.run.model.Dimension[2], 6);
  EXPECT_EQ(covariate.run.model.ManifestCellCount, 24);
}

TEST(RecordFormat, Messages) {
  EXPECT_EQ(Sections().Parse("rec 0"), "  Error: impossible number of records in command rec");
  EXPECT_EQ(Sections().Parse("rec -4"), "  Error: impossible number of records in command rec");
  EXPECT_EQ(Sections().Parse("rec 3000000000"),
            "  Error: impossible number of records in command rec");
  EXPECT_EQ(Sections().Parse("rec 5 epi 0"), "  Error: number of episodes must be >= 1");
  EXPECT_EQ(Sections().Parse("rec 5 ski 3"), "  Error: a \"[\" expected in command ski");
  EXPECT_EQ(Sections().Parse("rec 5 ski [0]"),
            "  Error: a column in command ski must be >=1 and <=201");
  EXPECT_EQ(Sections().Parse("rec 5 ski [3 202]"),
            "  Error: a column in command ski must be >=1 and <=201");
  EXPECT_EQ(Sections().Parse("rec 5 ski [-1]"),
            "  Error: a column in command ski must be >=1 and <=201");
  EXPECT_EQ(Sections().Parse("rec 5 ski [3"),
            "  Error: too few numbers encountered when reading ski");
  EXPECT_EQ(Sections().Parse("rec 5 mis 1.5"),
            "  Error: a real where an integer is expected when reading mis");
}

}  // namespace
}  // namespace tav
