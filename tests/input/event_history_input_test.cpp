// Whole input files with event-history and record-format sections.

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace tav {
namespace {

using testing::ParseText;
using testing::TempDir;

struct Input {
  explicit Input(const std::string& text) { message = ParseText(run, text, dir); }
  TempDir dir;
  RunState run;
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
