#include "input/effect_terms.h"

#include <gtest/gtest.h>

#include "input/model_codes.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::Parsed;

using testing::ParseModelText;
using testing::TempDir;

std::string Error(const std::string& text) { return Parsed(text).message; }

bool Is(const Design& design, DesignFamily family,
        DesignInteraction interaction = DesignInteraction::kA) {
  return design.family == family && design.interaction == interaction;
}

// Two variables A (3 categories) and B (3), C (2), D (4) in one submodel.
const std::string kModel = "man 4 dim 3 3 2 4 mod ABCD ";

TEST(RestrictedEffect, TypesAndCounts) {
  Parsed p(kModel + "{eff(AB 2) cov(A 1) fac(C 4) fix(D 1) wei(B 1)}");
  ASSERT_EQ(p.message, "");
  ASSERT_EQ(p.submodel(0).DesignTermCount(), 5);
  const Design& eff = p.design(0, 0);
  EXPECT_TRUE(Is(eff, DesignFamily::kEffect));
  EXPECT_EQ(eff.DesignCountParam, 2);
  EXPECT_EQ(p.Term(eff.DesignVariables), "AB");
  EXPECT_EQ(eff.cells, 9);
  EXPECT_TRUE(Is(p.design(0, 1), DesignFamily::kCovariate));
  EXPECT_TRUE(Is(p.design(0, 2), DesignFamily::kFactor));
  EXPECT_EQ(p.design(0, 2).DesignCountParam, 4);
  EXPECT_TRUE(Is(p.design(0, 3), DesignFamily::kFixedWeights));
  EXPECT_TRUE(Is(p.design(0, 4), DesignFamily::kFixedWeights));
  EXPECT_EQ(p.submodel(0).MarginCount(), 1);  // the empty effect of the first submodel
}

TEST(RestrictedEffect, SeveralTermsShareTheCodes) {
  Parsed p(kModel + "{eff(A B C 3)}");
  ASSERT_EQ(p.message, "");
  ASSERT_EQ(p.submodel(0).DesignTermCount(), 3);
  for (int d = 0; d < 3; ++d) {
    EXPECT_TRUE(Is(p.design(0, d), DesignFamily::kEffect));
    EXPECT_EQ(p.design(0, d).DesignCountParam, 3);
    EXPECT_EQ(p.design(0, d).DesignSpecTerms, 3);
  }
  EXPECT_EQ(p.design(0, 2).cells, 2);
}

TEST(RestrictedEffect, GroupingAndInteraction) {
  Parsed p(kModel + "{fac(A 2 C b 3) eff ( AB 1 D c -2 ) cov(A 1 D)}");
  ASSERT_EQ(p.message, "");
  const Design& fac = p.design(0, 0);
  EXPECT_TRUE(Is(fac, DesignFamily::kFactor, DesignInteraction::kB));
  EXPECT_EQ(fac.group_multiplier, 3);
  EXPECT_EQ(p.Term(fac.DesignVariables, 1), "A");
  EXPECT_EQ(p.Term(fac.DesignVariables, 255), "C");
  EXPECT_TRUE(Is(p.design(0, 1), DesignFamily::kEffect, DesignInteraction::kC));
  EXPECT_EQ(p.design(0, 1).group_multiplier, -2);
  EXPECT_TRUE(Is(p.design(0, 2), DesignFamily::kCovariate));  // a group term, no letter
  EXPECT_EQ(p.Term(p.design(0, 2).DesignVariables, 255), "D");
}

TEST(RestrictedEffect, LinLogAndMar) {
  Parsed p(kModel + "{lin(AB 2) log(AB c 3) mar(CD d b 2 5 6 -1)}");
  ASSERT_EQ(p.message, "");
  EXPECT_TRUE(Is(p.design(0, 0), DesignFamily::kLinLog));
  EXPECT_EQ(p.design(0, 0).DesignRestriction.sense,
            RestrictionSense::kEquality);  // a number instead of a letter counts as a
  EXPECT_EQ(p.design(0, 0).DesignCountParam, 2);
  EXPECT_EQ(p.design(0, 1).DesignRestriction.sense, RestrictionSense::kEqualityToTarget);
  EXPECT_TRUE(p.design(0, 1).loglinear);
  EXPECT_TRUE(p.design(0, 2).reserved);  // letter c reserves one more design per term
  const Design& mar = p.design(0, 3);
  EXPECT_TRUE(Is(mar, DesignFamily::kMarginal));
  EXPECT_EQ(mar.DesignRestriction,
            (RestrictionCode{MarginalForm::kExpLogContrasts, RestrictionSense::kInequality}));
  EXPECT_EQ(mar.mar_restrictions, 2);
  EXPECT_EQ(mar.mar_c_elements, 5);
  EXPECT_EQ(mar.mar_b_elements, 6);
  EXPECT_EQ(mar.mar_extra, -1);
  EXPECT_TRUE(p.run.model.AnyLinLog);
  EXPECT_TRUE(p.run.model.AnyMar);
  EXPECT_EQ(p.submodel(0).MarSubmodel,
            MarRestrictions::kWithOtherDesigns);  // not every design is of type 50
  Parsed only_mar(kModel + "{mar(AB a 1 2)}");
  ASSERT_EQ(only_mar.message, "");
  EXPECT_EQ(only_mar.submodel(0).MarSubmodel, MarRestrictions::kOnly);
}

TEST(RestrictedEffect, Messages) {
  EXPECT_EQ(Error(kModel + "{eff AB 2)}"), "  Error: a \"(\" expected in command eff()");
  EXPECT_EQ(Error(kModel + "{eff(AB)}"), "  Error: a number is missing in command eff()");
  EXPECT_EQ(Error(kModel + "{eff(AB 2 C b 3 x}"), "  Error: a \")\" expected in command eff()");
  EXPECT_EQ(Error("man 3 dim 2 2 2 mod A B|A {eff(BC 1)}"),
            "  Error: variable C used in eff() not in subtable B|A");
  EXPECT_EQ(Error("man 3 dim 2 2 2 mod A B|A {eff(B 1 C a)}"),
            "  Error: group variable C used in eff() not in subtable B|A");
  EXPECT_EQ(Error(kModel + "{eff(AB 1 B a)}"),
            "  Error: group margin in eff() contains an effect variable");
  EXPECT_EQ(Error(kModel + "{lin(AB 1 C)}"),
            "  Error: grouping variable not available in command lin()");
  EXPECT_EQ(Error(kModel + "{eff(AB 1 C d)}"),
            "  Error: interaction type \"d\" used in eff() does not exist");
  EXPECT_EQ(Error(kModel + "{lin(AB e 1)}"),
            "  Error: restriction type \"e\" used in lin() does not exist");
  EXPECT_EQ(Error(kModel + "{lin(AB a x)}"),
            "  Error: number of restrictions not specified in command lin()");
  // The terms of lin and mar end at a number or a letter a to e; a number where the first
  // letter of mar belongs is refused.
  EXPECT_EQ(Error(kModel + "{mar(AB 1 2)}"),
            "  Error: restriction type \"1\" used in mar() does not exist");
  EXPECT_EQ(Error(kModel + "{mar(AB d a 1)}"),
            "  Error: number of elements C matrix not specified in command mar()");
  EXPECT_EQ(Error(kModel + "{mar(AB c a 1 x)}"),
            "  Error: number of elements B matrix not specified in command mar()");
}

TEST(RestrictedEffect, ContinuousCovariateMessages) {
  // The covariate x (con 1) is an effect variable only in the first term of cov().
  const std::string covariate = "con 1 man 2 dim 2 2 mod ";
  EXPECT_EQ(Error(covariate + "{A,B,eff(x 1)}"), "  Error: incorrect use of continuous covariate");
  EXPECT_EQ(Error(covariate + "{AB,cov(A 1 xB)}"),
            "  Error: incorrect use of continuous covariate as grouping variable");
  EXPECT_EQ(Error(covariate + "{AB,cov(A 1 x a)}"),
            "  Error: impossible number for continuous covariate as grouping variable");
  EXPECT_EQ(Error(covariate + "{AB,cov(x 5)}"),
            "  Error: impossible number for the continuous covariate");
}

TEST(Association, InAllItsRowsAndColumnsNeedSubmodelsFreeOfOtherRestrictions) {
  // The columns B lie only in B|A, whose probabilities eq3 restricts.
  EXPECT_EQ(Error("man 2 dim 3 3 mod A B|A eq3 all {ass(A B 2a)}"),
            "  Error: subtable of association model A,B specified in \"all\" not found");
}

TEST(SpecialEffect, ParameterCounts) {
  // Code 2 (model 3a) on two variables of d = 3 categories: C(4, 2) = 6 = d(d + 1) / 2.
  Parsed p(kModel +
           "{spe(AB 3a) spe(AB 1a) spe(ABC 2a) spe(AB 4a) spe(AB 5a) spe(AB 6a)"
           " spe(AB 7a) spe(AD 8a) spe(AD 9a) spe(AD 1b)}");
  ASSERT_EQ(p.message, "");
  const int expected_counts[] = {6, 4, 1 + 2 + 2 + 1, 6 - 3, 3, 2 - 1, 3 - 1, 3 + 4 - 1, 4, 1};
  const char* const expected_models[] = {"3a", "1a", "2a", "4a", "5a",
                                         "6a", "7a", "8a", "9a", "1b"};
  for (int d = 0; d < 10; ++d) {
    EXPECT_EQ(p.design(0, d).DesignCountParam, expected_counts[d]) << "design " << d;
    EXPECT_TRUE(Is(p.design(0, d), DesignFamily::kSpecial)) << "design " << d;
    EXPECT_EQ(p.design(0, d).special_model,
              SpecialModelOf(expected_models[d][0], expected_models[d][1]))
        << "design " << d;
  }
  EXPECT_EQ(Error(kModel + "{spe(AD 3a)}"),
            "  Error: a \"square\" interaction term expected in spe()");
  EXPECT_EQ(Error(kModel + "{spe(ABC 8a)}"),
            "  Error: a two-variable interaction term expected in spe()");
  EXPECT_EQ(Error(kModel + "{spe(AB 3c)}"),
            "  Error: model \"3c)\" specified in spe() does not exist");
  EXPECT_EQ(Error(kModel + "{spe(AB 0a)}"),
            "  Error: model \"0a)\" specified in spe() does not exist");
}

TEST(SpecialEffect, CountsOfThreeEqualVariables) {
  DataRun run;
  run.model.VariableCount = 3;
  for (int v = 0; v < 3; ++v) run.model.Dimension[v] = 4;
  Membership all{};
  all[0] = all[1] = all[2] = 1;
  // Multisets of size 3 from 4 categories: C(6, 3) = 20.
  EXPECT_EQ(SpecialParamCount(run, SpecialModelOf('3', 'a').value(), all), 20);
  EXPECT_EQ(SpecialParamCount(run, SpecialModelOf('4', 'a').value(), all), 16);
  EXPECT_EQ(SpecialParamCount(run, SpecialModelOf('1', 'a').value(), all), 27);
  EXPECT_EQ(SpecialParamCount(run, SpecialModelOf('6', 'a').value(), all), 2);
  EXPECT_EQ(SpecialParamCount(run, SpecialModelOf('3', 'b').value(), all), 1);
}

TEST(Association, RowsColumnsGroupsAndType) {
  Parsed p(kModel + "{ass(A B 2a) ass2(AB C D 3b 1 2 1)}");
  ASSERT_EQ(p.message, "");
  ASSERT_EQ(p.submodel(0).AssocCount(), 2);
  const AssocEffect& first = p.submodel(0).assoc[0];
  EXPECT_EQ(first.family, AssociationFamily::kLogLinear);
  EXPECT_EQ(first.scores, AssociationScores::kUniform);
  EXPECT_EQ(first.layers, LayerVariation::kNone);
  EXPECT_EQ(first.rows, 3);
  EXPECT_EQ(first.columns, 3);
  EXPECT_EQ(p.Term(first.AssocVariables, 1), "A");
  EXPECT_EQ(p.Term(first.AssocVariables, 2), "B");
  const AssocEffect& second = p.submodel(0).assoc[1];
  EXPECT_EQ(second.family, AssociationFamily::kLogMultiplicative);
  EXPECT_EQ(second.scores, AssociationScores::kRowEffects);
  EXPECT_EQ(second.layers, LayerVariation::kParameter);
  EXPECT_EQ(second.rows, 9);
  EXPECT_EQ(second.columns, 2);
  EXPECT_EQ(second.groups, 4);
  EXPECT_EQ(p.Term(second.AssocVariables, 3), "D");
  EXPECT_EQ(second.AssocDimensions, (std::array<int, 3>{1, 2, 1}));
  EXPECT_EQ(second.symmetry, ScoreSymmetry::kNone);
  Parsed symmetric(kModel + "{ass(A B 3b c)}");
  ASSERT_EQ(symmetric.message, "");
  EXPECT_EQ(symmetric.submodel(0).assoc[0].symmetry, ScoreSymmetry::kEqualAndMirrored);
}

TEST(Association, ExchangesAndPairs) {
  Parsed p(kModel + "{ass(A C 4a) ass(A B 5d)}");
  ASSERT_EQ(p.message, "");
  ASSERT_EQ(p.submodel(0).AssocCount(), 3);
  const AssocEffect& exchanged = p.submodel(0).assoc[0];
  EXPECT_EQ(p.Term(exchanged.AssocVariables, 1), "C");
  EXPECT_EQ(exchanged.rows, 2);
  EXPECT_EQ(exchanged.columns, 3);
  EXPECT_TRUE(p.submodel(0).assoc[2].pair_second);
  EXPECT_EQ(p.Term(p.submodel(0).assoc[2].AssocVariables, 1), "B");
}

TEST(Association, Messages) {
  EXPECT_EQ(Error(kModel + "{ass A B 2a)}"), "  Error: a \"(\" expected command ass()");
  EXPECT_EQ(Error(kModel + "{ass(A B 2c)}"), "  Error: association model 2c does not exist");
  EXPECT_EQ(Error(kModel + "{ass(A B 3d)}"), "  Error: association model 3d does not exist");
  EXPECT_EQ(Error(kModel + "{ass(A B 7a)}"), "  Error: association model 7a does not exist");
  EXPECT_EQ(Error(kModel + "{ass(A D 6a)}"),
            "  Error: unequal number of rows and columns in association model 6a");
  EXPECT_EQ(Error("man 3 dim 2 2 2 mod A B|A {ass(B C 2a)}"),
            "  Error: column variable C used in ass() not in subtable B|A");
  EXPECT_EQ(Error("man 3 dim 2 2 2 mod A B|A {ass(C B 2a)}"),
            "  Error: row variable C used in ass() not in subtable B|A");
  EXPECT_EQ(Error("man 3 dim 2 2 2 mod A B|A {ass(A B C 2a)}"),
            "  Error: group variable C used in ass() not in subtable B|A");
  EXPECT_EQ(Error(kModel + "{ass(A B 2a 1 1 1 1)}"), "  Error: a \")\" expected in command ass()");
  EXPECT_EQ(Error(kModel + "{ass(A B 2a 1 xy)}"),
            "  Error: number of rows, columns, or groups expected in ass(ociation_model)");
  EXPECT_EQ(Error(kModel + "{ass(A B C 2a b)}"),
            "  Error: symmetry not allowed in heterogeneous association models");
}

}  // namespace
}  // namespace tav
