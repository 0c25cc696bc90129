#include "estimation/free_parameters.h"

#include <gtest/gtest.h>

#include <string>

#include "newton/newton_iteration.h"
#include "newton/parameter_effects.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::ParseText;
using testing::TempDir;

struct Listed {
  explicit Listed(const std::string& text) {
    message = ParseText(run, text, dir);
    if (!message.empty()) return;
    BuildParameterList(run);
    if (run.estimation.free_parameters.Usable()) PrepareParameterEffects(run);
  }
  // The effect of each parameter written as its variables' global numbers.
  std::string Effects() const {
    std::string text;
    for (const FreeParameter& p : run.estimation.free_parameters.parameters) {
      text += std::to_string(p.submodel) + ":";
      for (int v = 0; v < run.model.VariableCount; ++v) {
        if (p.effect[v] != 0) text += std::to_string(v);
      }
      text += "/" + std::to_string(p.position) + " ";
    }
    return text;
  }
  TempDir dir;
  ProgramRun run;
  std::string message;
};

// An input with a table of cells counts of 1.
std::string WithData(const std::string& model, int cells) {
  std::string text = model + " dat [";
  for (int c = 0; c < cells; ++c) text += " 1";
  return text + " ]";
}

Membership Effect(std::initializer_list<int> vars) {
  Membership m{};
  for (int v : vars) m[v] = 1;
  return m;
}

TEST(ParameterList, EffectsFollowTheBinaryOrderOfTheSubmodelsVariables) {
  // Variables A (2), B (3), C (2); terms AB and BC. Binary order with A most significant:
  // C, B, BC, A, AB; the constant is left out.
  Listed p("man 3 dim 2 3 2 mod {AB,BC} dat [ 1 2 3 4 5 6 7 8 9 10 11 12 ]");
  ASSERT_EQ(p.message, "");
  EXPECT_EQ(p.Effects(), "0:2/0 0:1/0 0:1/1 0:12/0 0:12/1 0:0/0 0:01/0 0:01/1 ");
  EXPECT_EQ(p.run.estimation.free_parameters.Count(), 8);
  EXPECT_EQ(p.run.estimation.free_parameters.loglinear_count, 8);
  EXPECT_TRUE(StandardErrorsWanted(p.run));
  // The margin that holds each effect: AB is margin 0, BC margin 1.
  EXPECT_EQ(p.run.estimation.free_parameters.parameters[0].margin, 1);
  EXPECT_EQ(p.run.estimation.free_parameters.parameters[1].margin, 0);
  EXPECT_EQ(p.run.estimation.free_parameters.parameters[6].effect_size, 2);
}

TEST(ParameterList, ConditionalSubmodelsTakeOnlyEffectsOutsideTheirConditioningMargin) {
  // X, then A|X and B|X: per conditional submodel the effects A and XA (X alone is inside
  // the conditioning margin).
  Listed p("lat 1 man 2 dim 2 2 2 mod X A|X B|X dat [ 1 2 3 4 ]");
  ASSERT_EQ(p.message, "");
  EXPECT_EQ(p.Effects(), "0:0/0 1:1/0 1:01/0 2:2/0 2:02/0 ");
}

TEST(ParameterList, NfiLeavesTheFirstSubmodelOut) {
  Listed p("lat 1 man 2 dim 2 2 2 mod X A|X B|X nfi dat [ 1 2 3 4 ]");
  ASSERT_EQ(p.message, "");
  EXPECT_EQ(p.Effects(), "1:1/0 1:01/0 2:2/0 2:02/0 ");
}

TEST(ParameterList, MoreThanTwoThousandParametersCountAs2001AndAreNotUsable) {
  // A saturated model of 2 x 3 x 400 cells has 2399 parameters besides the constant.
  Listed p(WithData("man 3 dim 2 3 400 mod {ABC}", 2400));
  ASSERT_EQ(p.message, "");
  EXPECT_EQ(p.run.estimation.free_parameters.Count(), 2001);
  EXPECT_FALSE(p.run.estimation.free_parameters.Usable());
  EXPECT_FALSE(StandardErrorsWanted(p.run));
}

TEST(ParameterList, TwoThousandParametersAreStillUsable) {
  // A (2) x B (1000): 1 + 999 + 999 = 1999 parameters with the interaction, plus C (2): 2000.
  Listed p(WithData("man 3 dim 2 1000 2 mod {AB,C}", 4000));
  ASSERT_EQ(p.message, "");
  EXPECT_EQ(p.run.estimation.free_parameters.Count(), 2000);
  EXPECT_TRUE(p.run.estimation.free_parameters.Usable());
}

TEST(ParameterIndex, EffectCodingLeavesTheLastCategoryOut) {
  Listed p("man 3 dim 2 3 2 mod {AB,BC} dat [ 1 2 3 4 5 6 7 8 9 10 11 12 ]");
  ASSERT_EQ(p.message, "");
  const ReferenceVector reference = EffectiveReference(p.run, 0);
  const Membership ab = Effect({0, 1});
  // AB starts at index 6; its cells run over (a, b), b fastest.
  EXPECT_EQ(ParameterIndex(p.run, reference.data(), 0, ab, 0), 6);
  EXPECT_EQ(ParameterIndex(p.run, reference.data(), 0, ab, 1), 7);
  EXPECT_EQ(ParameterIndex(p.run, reference.data(), 0, ab, 2), -1);
  EXPECT_EQ(ParameterIndex(p.run, reference.data(), 0, ab, 3), -1);
  EXPECT_EQ(ParameterIndex(p.run, reference.data(), 0, Effect({2}), 0), 0);
  EXPECT_EQ(ParameterIndex(p.run, reference.data(), 0, Effect({}), 0), -1);
}

TEST(ParameterIndex, DummyCodingLeavesTheReferenceCategoryOut) {
  Listed p("man 3 dim 2 3 2 mod {AB,BC} dum 1 2 0 dat [ 1 2 3 4 5 6 7 8 9 10 11 12 ]");
  ASSERT_EQ(p.message, "");
  const ReferenceVector reference = EffectiveReference(p.run, 0);
  EXPECT_EQ(reference[0], 1);
  EXPECT_EQ(reference[1], 2);
  EXPECT_EQ(reference[2], 2);  // 0 is the last category in the first submodel
  const Membership b = Effect({1});
  EXPECT_EQ(ParameterIndex(p.run, reference.data(), 0, b, 0), 1);
  EXPECT_EQ(ParameterIndex(p.run, reference.data(), 0, b, 1), -1);
  EXPECT_EQ(ParameterIndex(p.run, reference.data(), 0, b, 2), 2);
  const Membership a = Effect({0});
  EXPECT_EQ(ParameterIndex(p.run, reference.data(), 0, a, 0), -1);
  EXPECT_EQ(ParameterIndex(p.run, reference.data(), 0, a, 1), 5);
  // The coding of the perturbation: dummy coding changes only the parameter's category.
  EXPECT_EQ(p.run.newton.effect_signs[1], (std::vector<signed char>{1, 0, 0}));
  EXPECT_EQ(p.run.newton.effect_signs[2], (std::vector<signed char>{0, 0, 1}));
}

TEST(ParameterList, EffectCodingPerturbsTheLastCategoryTheOtherWay) {
  Listed p("man 2 dim 3 2 mod {AB} dat [ 1 2 3 4 5 6 ]");
  ASSERT_EQ(p.message, "");
  // Parameters: B, A (2), AB (2). AB at (a=1, b=0): +1 at (1,0), -1 at (1,1), -1 at (2,0),
  // +1 at (2,1).
  ASSERT_EQ(p.run.estimation.free_parameters.Count(), 5);
  EXPECT_EQ(p.run.newton.effect_signs[0], (std::vector<signed char>{1, -1}));
  EXPECT_EQ(p.run.newton.effect_signs[2], (std::vector<signed char>{0, 1, -1}));
  EXPECT_EQ(p.run.newton.effect_signs[4], (std::vector<signed char>{0, 0, 1, -1, -1, 1}));
}

}  // namespace
}  // namespace tav
