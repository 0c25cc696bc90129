// Whole input files with event-history and record-format sections.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace tav {
namespace {

using testing::ParseText;
using testing::TempDir;

struct Input {
  explicit Input(const std::string& text, const std::string& file = "",
                 const std::string& contents = "") {
    if (!file.empty()) dir.Write(file, contents);
    message = ParseText(run, text, dir);
  }
  TempDir dir;
  ProgramRun run;
  std::string message;
};

std::string Error(const std::string& text) { return Input(text).message; }

TEST(EventHistoryInput, HazardSubmodelFollowsTheModel) {
  Input p(
      "man 2 dim 2 3 mod AB\n"
      "tim 3 ris 2 [0 1] haz A {A,T} rec 2\n"
      "dat [1 1 2 1\n 2 3 3 0]\n");
  ASSERT_EQ(p.message, "");
  const ModelState& model = p.run.model;
  ASSERT_EQ(model.SubmodelCount, 1);
  const Submodel& hazard = model.submodels[1];
  // Only the covariates and the time variable stay in the hazard submodel.
  EXPECT_EQ(hazard.SubmodelVariables[0], 1);
  EXPECT_EQ(hazard.SubmodelVariables[1], 0);
  EXPECT_EQ(hazard.SubmodelVariables[2], 1);
  EXPECT_EQ(model.Dimension[2], 3);
  EXPECT_EQ(model.VariableLabel[2], "T");
  EXPECT_TRUE(p.run.history.HazardModel);
  EXPECT_EQ(p.run.history.RecordCount, 2);
  EXPECT_EQ(p.run.history.HazardVarCount, 3);
}

TEST(EventHistoryInput, RecordFormatOptions) {
  Input p(
      "res 1 man 2 dim 2 2 3 sub AB B mod AB rec 3 rco mis -1 ski [3] noc\n"
      "dat [1 1 9 2\n2 3 9 1\n-1 2 9 1]");
  ASSERT_EQ(p.message, "");
  EXPECT_EQ(p.run.history.MissingCode, -1);
  EXPECT_EQ(p.run.history.ColumnUsed[3], 0);
  EXPECT_FALSE(p.run.history.PerRecordOutput);
  EXPECT_TRUE(p.run.data.entry_count_given);
}

TEST(EventHistoryInput, DataInlineAndFromAFile) {
  Input table("man 2 dim 2 2 mod AB dat [10 0 5 3] cas 18");
  ASSERT_EQ(table.message, "");
  EXPECT_EQ(table.run.data.entry_count, (std::vector<double>{10, 5, 3}));
  EXPECT_EQ(table.run.data.entry_cell, (std::vector<double>{0, 2, 3}));

  // Records from a file beside the input, aggregated; the scratch file for posterior
  // probabilities lies there too.
  Input records("man 2 dim 2 3 mod AB rec 4 rco wpo post.txt dat records.txt cas 6.5",
                "records.txt", "2 3 1.5\n1 1 2\n2 3 3 * last\n1 2 0\n");
  ASSERT_EQ(records.message, "");
  EXPECT_FALSE(records.run.history.RecordFormat);
  EXPECT_EQ(records.run.data.entry_count, (std::vector<double>{2, 4.5}));
  EXPECT_EQ(records.run.data.entry_cell, (std::vector<double>{0, 5}));
  EXPECT_EQ(testing::ReadLines(records.run.context.scratch.File("latent.lat")),
            (std::vector<std::string>{"0 5", "0 0", "0 5", "0 1"}));
}

TEST(EventHistoryInput, EpisodesOfHazardRecords) {
  Input p(
      "man 1 dim 2 mod A\n"
      "tim 4 ris 3 [0 1] [1 2] haz A {A,T} rec 2 epi 2 rt0\n"
      "dat [1 0 0 2 1 3 2\n"
      "     2 1 0 4 0]\n");
  ASSERT_EQ(p.message, "");
  const std::vector<Episode>& e = p.run.data.episodes;
  ASSERT_EQ(e.size(), 4u);
  // In continuous time an exit in unit t lies in its middle, t - 0.5; entries are not moved.
  EXPECT_DOUBLE_EQ(e[0].end_time, 1.5);
  EXPECT_EQ(e[0].event, 1);
  EXPECT_DOUBLE_EQ(e[1].start_time, 1.5);
  EXPECT_DOUBLE_EQ(e[1].end_time, 2.5);
  EXPECT_EQ(e[1].event, 2);
  EXPECT_DOUBLE_EQ(e[2].start_time, 1);
  EXPECT_DOUBLE_EQ(e[2].end_time, 3.5);
  EXPECT_EQ(e[2].event, 0);
  EXPECT_EQ(e[3].event, -1);
  EXPECT_TRUE(p.run.history.RecordFormat);
}

TEST(EventHistoryInput, Messages) {
  const std::string model = "man 2 dim 2 2 mod AB ";
  EXPECT_EQ(Error(model + "tim 3 dat [1 2 3 4]"), "  Error: command haz required");
  EXPECT_EQ(Error("man 2 dim 2 2 lab A T mod AT tim 3 haz {A}"),
            "  Error: label \"T\" reserved for the time variable");
  EXPECT_EQ(Error("man 2 dim 2 2 lab A R mod AR dis haz {A}"),
            "  Error: label \"R\" reserved for the risk variable");
  EXPECT_EQ(Error(model + "ris 3 [0 1] [1 2] [0 1] haz {A}"),
            "  Error: the same risk specified twice");
  EXPECT_EQ(Error(model + "tim 2 haz {A} exp 1.5"),
            "  Error: the exposure time must be >=0 and <=1");
  EXPECT_EQ(Error(model + "ris 2 [0 1] haz {A} dat [1 1 2 1]"),
            "  Error: number of records not specified (record format input required)");
  EXPECT_EQ(Error(model + "rec 2 ski [0] dat [1 1\n2 2]"),
            "  Error: a column in command ski must be >=1 and <=201");
  EXPECT_EQ(Error(model + "haz {AQ}"), "  Error: wrong label (Q) in AQ} in command haz");
}

}  // namespace
}  // namespace tav
