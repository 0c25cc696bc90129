#include <gtest/gtest.h>

#include "core/model_state.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::Parsed;

using testing::ParseModelText;
using testing::TempDir;

// Parses an input text; the result holds the run and the stop message ("" when it parsed).

using Strings = std::vector<std::string>;

std::string Error(const std::string& text) { return Parsed(text).message; }

TEST(Declarations, VariablesDimensionsAndDefaultLabels) {
  Parsed p("res 1 lat 1 man 3 dim 2 3 2 3 4");
  ASSERT_EQ(p.message, "");
  const ModelState& m = p.model();
  EXPECT_EQ(m.VariableCount, 5);
  EXPECT_EQ(m.ResCount, 1);
  EXPECT_EQ(m.LatentCount, 1);
  EXPECT_EQ(m.ManifestCount, 3);
  EXPECT_EQ((Strings{m.VariableLabel[0], m.VariableLabel[1], m.VariableLabel[2], m.VariableLabel[3],
                     m.VariableLabel[4]}),
            (Strings{"K", "X", "A", "B", "C"}));
  EXPECT_EQ(m.SubgroupCount, 2);
  EXPECT_EQ(m.LatentStateCount, 3);
  EXPECT_EQ(m.ManifestCellCount, 2 * 3 * 4);
  EXPECT_FALSE(m.LongLabels);
}

TEST(Declarations, RepeatedCountsAndLongWords) {
  Parsed p("manifest 5 var 2 latent 1 dimensions 2 3 3");
  ASSERT_EQ(p.message, "");
  EXPECT_EQ(p.model().ManifestCount, 2);
  EXPECT_EQ(p.model().Dimension[2], 3);
}

TEST(Declarations, CovariateAddsAVariableOfOneCategory) {
  Parsed p("con 3 man 2 dim 2 2 lab A B x rec 4");
  ASSERT_EQ(p.message, "");
  const ModelState& m = p.model();
  EXPECT_EQ(m.VariableCount, 3);
  EXPECT_EQ(m.ManifestCount, 3);
  EXPECT_EQ(m.CovariateCount, 3);
  EXPECT_EQ(m.Dimension[2], 4);  // one category per record
  EXPECT_EQ(m.VariableLabel[2], "x");
  // The covariate's submodel comes first; the other variables join it.
  EXPECT_EQ(p.submodel(0).SubmodelKind, SubmodelKindCode::kSaturatedFixed);
  EXPECT_EQ(p.Term(p.submodel(0).SubmodelVariables), "ABx");
  Parsed defaults("con 1 man 1 dim 2 rec 4");
  ASSERT_EQ(defaults.message, "");
  EXPECT_EQ(defaults.model().VariableLabel[1], "x");
}

TEST(Declarations, Messages) {
  EXPECT_EQ(Error("man 2 lab A B"), "  Error: command dim required");
  EXPECT_EQ(Error("man 2 dim 2 0"), "  Error: dimensions must be >= 1");
  EXPECT_EQ(Error("man 2 dim 2 2 2"), "  Error: more numbers in dim than variables");
  EXPECT_EQ(Error("man 2 dim 2"), "  Error: too few numbers encountered when reading dim");
  EXPECT_EQ(Error("man 2 dim 2 2.5"),
            "  Error: a real where an integer is expected when reading dim");
  EXPECT_EQ(Error("man"), "  Error: too few numbers encountered when reading man");
  EXPECT_EQ(Error("man -2"), "  Error: negative number of variables in command man");
  EXPECT_EQ(Error("man 501"), "  Error: more than the maximum number of variables");
  EXPECT_EQ(Error("lat 250 man 251"), "  Error: more than the maximum number of variables");
  EXPECT_EQ(Error("res 1 lat 1 man 499"), "  Error: more than the maximum number of variables");
  EXPECT_EQ(Error("con 1 man 500"), "  Error: more than the maximum number of variables");
  EXPECT_EQ(Error("man 2 dim 2 2 lab A"), "  Error: too few variable labels");
  EXPECT_EQ(Error("man 2 dim 2 2 lab A mod"), "  Error: too few variable labels");
  EXPECT_EQ(Error("man 2 dim 2 2 lab Abcd B"), "  Error: variable label Abcd is too long");
  EXPECT_EQ(Error("man 2 dim 2 2 lab A A"), "  Error: same label \"A\" for two variables");
  EXPECT_EQ(Error("man 2 dim 2 2 foo"), "  Error: command foo does not exist");
  EXPECT_EQ(Error("res 9 man 1 dim 2 2 2 2 2 2 2 2 2 2"),
            "  Error: too many subgroups (or nonresponse patterns)");
}

TEST(Declarations, HundredVariablesFit) {
  std::string text = "man 100 dim";
  for (int i = 0; i < 100; ++i) text += " 1";
  Parsed p(text);
  ASSERT_EQ(p.message, "");
  EXPECT_EQ(p.model().VariableCount, 100);
  Parsed with_covariate("con 1 man 99 dim" + text.substr(11, 99 * 2) + " rec 1");
  EXPECT_EQ(with_covariate.message, "");
}

TEST(Labels, LongLabelsSwitchTermsToDots) {
  Parsed p("man 3 dim 2 2 2 lab Sex Age E mod Sex.Age|E");
  ASSERT_EQ(p.message, "");
  EXPECT_TRUE(p.model().LongLabels);
  EXPECT_EQ(p.submodel(0).term, "Sex.Age|E");
  EXPECT_EQ(p.Term(p.submodel(0).SubmodelVariables), "Sex.Age.E");
}

TEST(Subgroups, WithoutResThereIsOneObservingEverything) {
  Parsed p("man 2 dim 2 2");
  ASSERT_EQ(p.message, "");
  EXPECT_EQ(p.model().SubgroupCount, 1);
  EXPECT_EQ(p.model().SubgroupPattern[0][0], 1);
  EXPECT_EQ(p.model().SubgroupPattern[0][1], 1);
  EXPECT_FALSE(p.model().SubgroupsWithoutSub);
}

TEST(Subgroups, SubTermsGiveThePatterns) {
  Parsed p("res 1 man 3 dim 3 2 2 2 sub ABC AB C");
  ASSERT_EQ(p.message, "");
  const auto& patterns = p.model().SubgroupPattern;
  ASSERT_EQ(patterns.size(), 3u);
  EXPECT_EQ((std::vector<int>{patterns[0][0], patterns[0][1], patterns[0][2]}),
            (std::vector<int>{1, 1, 1}));
  // Unobserved variables of the saturated margin are carried (2) in estimation.
  EXPECT_EQ((std::vector<int>{patterns[1][0], patterns[1][1], patterns[1][2]}),
            (std::vector<int>{1, 1, 2}));
  EXPECT_EQ((std::vector<int>{patterns[2][0], patterns[2][1], patterns[2][2]}),
            (std::vector<int>{2, 2, 1}));
  EXPECT_EQ(Error("res 1 man 3 dim 3 2 2 2 sub ABC AB"), "  Error: too few subgroups");
  EXPECT_EQ(Error("res 1 man 2 dim 2 2 2 sub AB AD"),
            "  Error: wrong label (D) in AD in command sub");
}

TEST(Subgroups, WithoutSubTheFirstTwoObserveAll) {
  Parsed p("res 2 man 2 dim 2 2 2 2");
  ASSERT_EQ(p.message, "");
  const auto& patterns = p.model().SubgroupPattern;
  ASSERT_EQ(patterns.size(), 4u);
  EXPECT_TRUE(p.model().SubgroupsWithoutSub);
  EXPECT_EQ(patterns[1][1], 1);
  EXPECT_EQ(patterns[2][0], 2);  // unobserved, carried for the saturated margin
  EXPECT_EQ(patterns[3][1], 2);
}

TEST(Indicators, MarkManifestVariables) {
  Parsed p("lat 1 man 3 dim 2 2 2 2 ind A BC");
  ASSERT_EQ(p.message, "");
  EXPECT_EQ(p.model().IndicatorCount, 3);
  EXPECT_EQ(Error("man 2 dim 2 2 ind A"), "  Error: indicators without a latent variable");
  EXPECT_EQ(Error("lat 1 man 2 dim 2 2 2 ind XA"),
            "  Error: only manifest variables can be indicators");
  EXPECT_EQ(Error("lat 1 man 2 dim 2 2 2 ind A A"),
            "  Error: double label (A) in A in command ind");
}

TEST(Model, TermsConditionOnEarlierSubmodels) {
  Parsed p("man 3 dim 2 2 2 mod A B|A C|AB");
  ASSERT_EQ(p.message, "");
  ASSERT_EQ(p.model().SubmodelCount, 3);
  EXPECT_EQ(p.Effects(0), (Strings{"A"}));
  EXPECT_EQ(p.Effects(1), (Strings{"A", "AB"}));  // conditioning margin, then saturated
  EXPECT_EQ(p.Effects(2), (Strings{"AB", "ABC"}));
  for (int s = 0; s < 3; ++s) EXPECT_EQ(p.submodel(s).SubmodelKind, SubmodelKindCode::kLogLinear);
  EXPECT_EQ(p.submodel(2).SubmodelVarCount, 3);
  EXPECT_EQ(p.submodel(2).SubmodelVariables[0], 1);  // marks are 1 after the section
}

TEST(Model, BothWholeTableForms) {
  for (const char* text : {"man 3 dim 2 2 2 mod {AB,BC}", "man 3 dim 2 2 2 mod{AB,BC}",
                           "man 3 dim 2 2 2 model { AB BC }"}) {
    Parsed p(text);
    ASSERT_EQ(p.message, "") << text;
    ASSERT_EQ(p.model().SubmodelCount, 1) << text;
    EXPECT_EQ(p.Effects(0), (Strings{"AB", "BC"})) << text;
    EXPECT_EQ(p.Term(p.submodel(0).SubmodelVariables), "ABC");
  }
  Parsed term_list("man 3 dim 2 2 2 mod ABC {AB,BC}");
  ASSERT_EQ(term_list.message, "");
  EXPECT_EQ(term_list.Effects(0), (Strings{"AB", "BC"}));
  Parsed glued("man 3 dim 2 2 2 mod ABC{AB AC}");
  ASSERT_EQ(glued.message, "");
  EXPECT_EQ(glued.Effects(0), (Strings{"AB", "AC"}));
}

TEST(Model, DefaultsAndCompletion) {
  Parsed none("man 2 dim 2 2");
  ASSERT_EQ(none.message, "");
  ASSERT_EQ(none.model().SubmodelCount, 1);
  EXPECT_EQ(none.submodel(0).SubmodelKind, SubmodelKindCode::kSaturatedFixed);
  EXPECT_EQ(none.Effects(0), (Strings{"AB"}));

  // Variables in no submodel get a saturated margin of their own.
  Parsed partial("man 3 dim 2 2 2 mod A");
  ASSERT_EQ(partial.message, "");
  ASSERT_EQ(partial.model().SubmodelCount, 2);
  EXPECT_EQ(partial.submodel(1).SubmodelKind, SubmodelKindCode::kSaturatedFixed);
  EXPECT_EQ(partial.Effects(1), (Strings{"", "BC"}));

  // A conditioning variable explained nowhere joins the first submodel.
  Parsed conditioning("man 2 dim 2 2 mod A|B");
  ASSERT_EQ(conditioning.message, "");
  ASSERT_EQ(conditioning.model().SubmodelCount, 1);
  EXPECT_EQ(conditioning.Term(conditioning.submodel(0).SubmodelVariables), "AB");

  // A saturated margin with a latent variable, or with unobserved variables, is estimated.
  Parsed latent("lat 1 man 2 dim 2 2 2 mod AB");
  ASSERT_EQ(latent.message, "");
  EXPECT_EQ(latent.submodel(1).SubmodelKind, SubmodelKindCode::kLogLinear);
  EXPECT_EQ(latent.Term(latent.submodel(1).SubmodelVariables), "X");
  Parsed unobserved("res 1 man 2 dim 2 2 2 sub AB A mod K");
  ASSERT_EQ(unobserved.message, "");
  EXPECT_EQ(unobserved.submodel(1).SubmodelKind, SubmodelKindCode::kLogLinear);
  Parsed observed("res 1 man 2 dim 2 2 2 sub AB AB mod K");
  ASSERT_EQ(observed.message, "");
  EXPECT_EQ(observed.submodel(1).SubmodelKind, SubmodelKindCode::kSaturatedFixed);

  // Without a model, a conditioning latent variable joins the first submodel.
  Parsed joined("lat 1 man 2 dim 2 2 2 mod AB|X");
  ASSERT_EQ(joined.message, "");
  ASSERT_EQ(joined.model().SubmodelCount, 1);
  EXPECT_EQ(joined.Term(joined.submodel(0).SubmodelVariables), "XAB");
}

TEST(Model, FirstSubmodelWithoutEffectsGetsAnEmptyOne) {
  Parsed p("man 2 dim 2 2 mod AB {eff(AB 1)}");
  ASSERT_EQ(p.message, "");
  EXPECT_EQ(p.Effects(0), (Strings{""}));
  Parsed nin("man 2 dim 2 2 mod AB {eff(AB 1)} nin");
  ASSERT_EQ(nin.message, "");
  EXPECT_TRUE(nin.Effects(0).empty());
  Parsed lin("man 2 dim 2 2 mod AB {lin(AB 1)}");
  ASSERT_EQ(lin.message, "");
  EXPECT_TRUE(lin.Effects(0).empty());
  EXPECT_TRUE(lin.model().AnyLinLog);
}

TEST(Model, Messages) {
  EXPECT_EQ(Error("man 2 dim 2 2 mod A|B B|A"),
            "  Error: non-recursief model as a result of subtable B|A");
  EXPECT_EQ(Error("man 3 dim 2 2 2 mod A|C B|A C|B"),
            "  Error: non-recursief model as a result of subtable C|B");
  EXPECT_EQ(Error("man 2 dim 2 2 mod A AB"),
            "  Error: variable A used for the second time as dependent in subtable AB");
  EXPECT_EQ(Error("lat 1 man 2 dim 2 2 2 ind A mod AX"), "  Error: indicators not allowed in mod");
  EXPECT_EQ(Error("man 2 dim 2 2 mod A|B {AC}"), "  Error: wrong label (C) in AC} in command mod");
  EXPECT_EQ(Error("man 3 dim 2 2 2 mod A|B {AC}"), "  Error: variable C not in table A|B");
  EXPECT_EQ(Error("man 2 dim 2 2 mod {AB dat [1 2 3 4]"),
            "  Error: a \"}\" expected in command mod");
  EXPECT_EQ(Error("man 2 dim 2 2 mod {AB"), "  Error: a \"}\" expected in command mod");
}

TEST(Model, RecursivenessBringsInConditioningVariables) {
  // B|A where A depends on X: X becomes a conditioning variable of B's submodel.
  Parsed p("lat 1 man 2 dim 2 2 2 mod X A|X B|A");
  ASSERT_EQ(p.message, "");
  EXPECT_EQ(p.Term(p.submodel(2).SubmodelVariables), "XAB");
  EXPECT_EQ(p.Effects(2), (Strings{"XA", "XAB"}));
}

TEST(Restrictions, Eq1TiesToTheEndOfTheChain) {
  Parsed p("man 4 dim 2 2 2 2 mod A B|A C|A eq1 B|A D|A eq1 C|A");
  ASSERT_EQ(p.message, "");
  EXPECT_EQ(p.submodel(1).SubmodelKind, SubmodelKindCode::kLogLinearShared);
  EXPECT_EQ(p.submodel(2).SubmodelKind, SubmodelKindCode::kTied);
  EXPECT_EQ(p.submodel(2).tied_to, 1);
  EXPECT_EQ(p.submodel(3).tied_to, 1);
  EXPECT_EQ(Error("man 3 dim 2 2 2 mod A B|A C|A eq1 C|B"),
            "  Error: subtable C|B specified in eq1 not found");
  // The first submodel cannot be named.
  EXPECT_EQ(Error("man 2 dim 2 2 mod A B eq1 A"), "  Error: subtable A specified in eq1 not found");
}

TEST(Restrictions, EqualityAndOrdinalKinds) {
  Parsed p("man 4 dim 2 3 3 3 mod A B|A eq3 C|A eq2 D|A or1(c)");
  ASSERT_EQ(p.message, "");
  EXPECT_EQ(p.submodel(1).SubmodelKind, SubmodelKindCode::kEqualityRestricted);
  EXPECT_EQ(p.submodel(2).SubmodelKind, SubmodelKindCode::kEqualityRestricted);
  EXPECT_TRUE(p.model().UseEq2);
  EXPECT_EQ(p.submodel(3).SubmodelKind, SubmodelKindCode::kOrdinal1);
  EXPECT_EQ(p.submodel(3).OrdinalType, OrdinalOrder::kContinuation);
  Parsed defaults("man 3 dim 2 3 3 mod A B|A or2 C|A or1 ( d )");
  ASSERT_EQ(defaults.message, "");
  EXPECT_EQ(defaults.submodel(1).SubmodelKind, SubmodelKindCode::kOrdinal2);
  EXPECT_EQ(defaults.submodel(1).OrdinalType, OrdinalOrder::kCumulative);
  EXPECT_EQ(defaults.submodel(2).OrdinalType, OrdinalOrder::kReversedContinuation);
  EXPECT_FALSE(defaults.model().UseEq2);
  EXPECT_EQ(Error("man 2 dim 2 3 mod A B|A or1(e)"), "  Error: unknown to of ordinal restriction");
  EXPECT_EQ(Error("man 2 dim 2 3 mod A B|A or1(b dat"), "  Error: a \")\" expected in command mod");
}

TEST(Restrictions, CumulativeModels) {
  Parsed p("man 2 dim 3 4 mod A B|A cum(c) {eff(AB 1)}");
  ASSERT_EQ(p.message, "");
  EXPECT_EQ(p.submodel(1).SubmodelKind, SubmodelKindCode::kCumulative);
  EXPECT_EQ(p.submodel(1).CumulativeModel,
            (CumulativeForm{CumulativeLink::kComplementaryLogLog, false}));
  EXPECT_EQ(p.submodel(1).DesignTermCount(), 2);  // the reserved design and eff()
  EXPECT_FALSE(p.model().CumulativeI);
  Parsed spaced("man 2 dim 3 4 mod A B|A cum ( i ) { }");
  ASSERT_EQ(spaced.message, "");
  EXPECT_TRUE(spaced.model().CumulativeI);
  EXPECT_EQ(Error("man 2 dim 3 4 mod A B|A cum b {}"), "  Error: a \"(\" expected in command cum");
  EXPECT_EQ(Error("man 2 dim 3 4 mod A B|A cum(j) {}"),
            "  Error: cumulative model \"j)\" does not exist");
  EXPECT_EQ(Error("man 2 dim 3 4 mod A B|A cum(b) AB"), "  Error: a \"{\" expected in command mod");
  EXPECT_EQ(Error("man 2 dim 3 4 mod A B|A cum(b) {AB}"),
            "  Error: unknown or impossible effect \"AB}\" in table B|A");
}

TEST(Restrictions, RandomStartFlags) {
  Parsed p("man 3 dim 2 2 2 mod A nra B|A ran C|A");
  ASSERT_EQ(p.message, "");
  EXPECT_FALSE(p.submodel(0).random_start);
  EXPECT_TRUE(p.submodel(1).random_start);
  EXPECT_TRUE(p.submodel(2).random_start);
  Parsed last("man 2 dim 2 2 mod A B|A nra");
  ASSERT_EQ(last.message, "");
  EXPECT_FALSE(last.submodel(1).random_start);
}

TEST(Correspondence, TypeAndDimensions) {
  Parsed two("man 2 dim 3 4 mod cor");
  ASSERT_EQ(two.message, "");
  EXPECT_EQ(two.model().CorrespondenceType, CorrespondenceKind::kSimple);
  EXPECT_EQ(two.model().CorrespondenceDim1, 2);
  EXPECT_EQ(two.model().SubmodelCount, 1);
  Parsed three("man 3 dim 3 4 2 mod {ABC} cor(3 1 4)");
  ASSERT_EQ(three.message, "");
  EXPECT_EQ(three.model().CorrespondenceType, CorrespondenceKind::kAssociation);
  EXPECT_EQ(three.model().CorrespondenceDim1, 1);
  EXPECT_EQ(three.model().CorrespondenceDim2, 4);
  Parsed default_type("man 3 dim 3 4 2 cor");
  ASSERT_EQ(default_type.message, "");
  EXPECT_EQ(default_type.model().CorrespondenceType, CorrespondenceKind::kMultiple);
  EXPECT_EQ(Error("man 2 dim 3 4 mod cor(5)"),
            "  Error: impossible type of correspondence analysis");
  EXPECT_EQ(Error("man 2 dim 3 4 mod cor(2 1 1 dat"), "  Error: a \")\" expected in command mod");
}

TEST(Measurement, DefaultEffectsPerLatentVariable) {
  Parsed p("lat 2 man 2 dim 2 3 2 2 ind AB");
  ASSERT_EQ(p.message, "");
  ASSERT_EQ(p.model().SubmodelCount, 3);
  EXPECT_EQ(p.Term(p.submodel(0).SubmodelVariables), "XY");
  EXPECT_EQ(p.submodel(0).SubmodelKind, SubmodelKindCode::kLogLinear);
  EXPECT_EQ(p.Effects(1), (Strings{"XY", "XA", "YA"}));
  EXPECT_EQ(p.Effects(2), (Strings{"XY", "XB", "YB"}));
}

TEST(Measurement, MeaGivesTheEffects) {
  Parsed p("lat 2 man 2 dim 2 3 2 2 ind AB mod XY mea {XA XYB}");
  ASSERT_EQ(p.message, "");
  // Y is in the conditioning margin of A's submodel only, and leaves it.
  EXPECT_EQ(p.Effects(1), (Strings{"X", "XA"}));
  EXPECT_EQ(p.Term(p.submodel(1).SubmodelVariables), "XA");
  EXPECT_EQ(p.Effects(2), (Strings{"XY", "XYB"}));
  const std::string base = "res 1 lat 1 man 3 dim 2 2 2 2 2 ind AB mod KX ";
  EXPECT_EQ(Error(base + "mea XA"), "  Error: a \"{\" expected in command mea");
  EXPECT_EQ(Error(base + "mea {XA"), "  Error: a \"}\" expected in command mea");
  EXPECT_EQ(Error(base + "mea {KA}"), "  Error: response-indicator in mea");
  EXPECT_EQ(Error(base + "mea {XC}"), "  Error: non-indicator in mea");
  EXPECT_EQ(Error(base + "mea {X}"), "  Error: interaction without indicator in mea");
  EXPECT_EQ(Error(base + "mea {XAB}"), "  Error: interaction between indicators in mea");
}

TEST(AllSubgroups, EffectsFindTheirSubmodel) {
  Parsed p("man 3 dim 2 2 2 mod A B|A C|B all {AB BC}");
  ASSERT_EQ(p.message, "");
  EXPECT_TRUE(p.model().HasAllSubmodel);
  // The plain effects of `all` become effects of the submodels they were found in.
  EXPECT_EQ(p.submodel(p.model().SubmodelCount + 1).MarginCount(), 0);
  EXPECT_EQ(p.Effects(1).back(), "AB");
  EXPECT_EQ(p.Effects(2).back(), "BC");
  const std::string base = "man 3 dim 2 2 2 mod A B|A C|B eq3 ";
  EXPECT_EQ(Error(base + "all AB"), "  Error: a \"{\" expected in command all");
  EXPECT_EQ(Error(base + "all {AB"), "  Error: a \"}\" expected in command all");
  EXPECT_EQ(Error("man 3 dim 2 2 2 mod A B C|B eq3 all {AC}"),
            "  Error: subtable of effect AC specified in \"all\" not found");
  EXPECT_EQ(Error(base + "all {BC}"),
            "  Error: effect BC specified in \"all\" conflicts with other restrictions");
}

}  // namespace
}  // namespace tav
