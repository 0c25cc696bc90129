#include "input/setup_passes.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace tav {
namespace {

using testing::Parsed;

TEST(SubmodelLayout, Eq1SharesTheCellsOfItsSubmodel) {
  Parsed p("man 3 dim 2 3 3 mod A B|A C|A eq1 B|A");
  ASSERT_EQ(p.message, "");
  EXPECT_EQ(p.submodel(2).first_cell, p.submodel(1).first_cell);
  EXPECT_EQ(p.model().submodel_cell_total, 2 + 6);
  Parsed mismatch("man 3 dim 2 3 4 mod A B|A C|A eq1 B|A");
  EXPECT_EQ(mismatch.message, "  Error: subtables restricted with \"eq1\" do not completely match");
}

TEST(SubmodelLayout, UnusedConditioningVariablesAreDropped) {
  // C|AB with only the effect BC: A is in the conditioning margin alone and leaves.
  Parsed p("man 3 dim 2 3 4 mod AB C|AB {BC}");
  ASSERT_EQ(p.message, "");
  EXPECT_EQ(p.submodel(1).SubmodelVarCount, 2);
  EXPECT_EQ(p.submodel(1).cell_count, 12);
  EXPECT_EQ(p.submodel(1).condition_cells, 3);
  EXPECT_EQ(p.submodel(1).EffectVariables[0][0], 0);
}

TEST(AssociationSizes, MoreDimensionsThanRowsColumnsOrGroups) {
  const std::string model = "man 3 dim 3 3 2 mod ABC ";
  EXPECT_EQ(Parsed(model + "{ass(A B 2a 2 2)}").message, "");
  EXPECT_EQ(Parsed(model + "{ass(A B 2a 4)}").message,
            "  Error: more effects/scores than rows/columns in association model");
  EXPECT_EQ(Parsed(model + "{ass(A B C 2a 1 1 3)}").message,
            "  Error: more effects/scores than groups in association model");
}

TEST(RestrictedCount, EqualityRestrictionsLowerTheCount) {
  Parsed p("man 2 dim 2 3 mod A B|A eq3");
  // The pass runs again on the parsed model, with other restriction codes.
  DataRun run;
  run.model = p.model();
  // B|A has 6 cells in 2 columns: (6 / 2 - 1) * 2 = 4 free probabilities.
  auto count = [&run](const std::vector<std::int32_t>& codes) {
    IndexRestrictedSubmodels(run, codes);
    return run.model.RestrictedParamCount;
  };
  EXPECT_EQ(count({0, 0, 0, 0, 0, 0}), 4);
  EXPECT_EQ(count({1, 0, 0, 1, 0, 0}), 3);  // P(B=1|A=1) = P(B=1|A=2)
  EXPECT_EQ(count({-1, 0, 0, 0, 0, 0}), 3);
  EXPECT_EQ(run.model.RestrictionColumn, (std::vector<std::int32_t>{0, 0, 0, 1, 1, 1}));
  // Every cell in a set: four cells repeat a set, and both columns lack a free cell.
  EXPECT_EQ(count({1, 1, 1, 2, 2, 2}), 4 - 4 + 2);
  EXPECT_EQ(run.model.RestrictionSetCount, 2);
}

TEST(RestrictedCount, AFixedMarginOfTwoToTheSixtyThreeCellsKeepsAFiniteCount) {
  // 64 dichotomous variables, A explained and the other 63 in a saturated fixed margin of
  // 2^63 cells: more parameters than a count holds.
  std::string model = "man 64 dim";
  for (int v = 0; v < 64; ++v) model += " 2";
  Parsed p(model + " mod A");
  ASSERT_EQ(p.message, "");
  EXPECT_GT(p.model().RestrictedParamCount, 0);
}

TEST(RestrictedCount, FirstSubmodelAndOrdinalColumns) {
  Parsed p("man 2 dim 2 3 mod A eq3 B|A or1");
  // Submodel 0: (2 / 1 - 1) * 1 + 1 = 2; submodel 1: (6 / 2 - 1) * 2 = 4.
  EXPECT_EQ(p.model().RestrictedParamCount, 6);
  EXPECT_EQ(p.model().OrdinalColumn, (std::vector<std::int32_t>{0, 0, 0, 1, 1, 1}));
  EXPECT_EQ(p.model().RestrictionColumn, (std::vector<std::int32_t>{0, 0}));
}

TEST(CarriedVariables, UnobservedVariablesOfExplainedSubmodels) {
  // Subgroup 1 does not observe B. B|A has the observed A as conditioning variable only, so
  // B is carried because of the first submodel rule... only when B's submodel is reached.
  Parsed p("res 1 man 2 dim 2 2 2 sub AB A mod K A|K B|A");
  ASSERT_EQ(p.message, "");
  const auto& patterns = p.model().SubgroupPattern;
  EXPECT_EQ(patterns[0][1], 1);
  // B is dependent in B|A and unobserved in subgroup 1: nothing makes it carried.
  EXPECT_EQ(patterns[1][1], 0);
  EXPECT_EQ(p.model().complete_cell_count, (std::vector<double>{1, 1}));

  // With a latent variable explaining B, B must be carried to fit X.
  Parsed latent("res 1 lat 1 man 2 dim 2 2 2 2 sub AB A mod K X A|X B|X");
  ASSERT_EQ(latent.message, "");
  EXPECT_EQ(latent.model().SubgroupPattern[1][1], 0);
  EXPECT_EQ(latent.model().complete_cell_count, (std::vector<double>{2, 2}));
}

TEST(CarriedVariables, PosteriorRequestsCarryEverything) {
  Parsed p("res 1 man 2 dim 2 2 2 sub AB A mod K A|K B|A");
  ASSERT_EQ(p.message, "");
  DataRun run;
  run.model = p.model();
  FinishLayout(run, true);
  EXPECT_EQ(run.model.SubgroupPattern[1][1], 2);
  EXPECT_EQ(run.model.complete_cell_count, (std::vector<double>{1, 2}));
}

}  // namespace
}  // namespace tav
