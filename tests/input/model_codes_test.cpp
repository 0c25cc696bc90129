#include "input/model_codes.h"

#include <gtest/gtest.h>

namespace tav {
namespace {

// The letters of or1/or2 name the orders of the ordinal restrictions; others name none.
TEST(ModelCodes, OrdinalLetters) {
  EXPECT_EQ(OrdinalOrderOfLetter('a'), OrdinalOrder::kCumulative);
  EXPECT_EQ(OrdinalOrderOfLetter('b'), OrdinalOrder::kLocalOdds);
  EXPECT_EQ(OrdinalOrderOfLetter('c'), OrdinalOrder::kContinuation);
  EXPECT_EQ(OrdinalOrderOfLetter('d'), OrdinalOrder::kReversedContinuation);
  EXPECT_FALSE(OrdinalOrderOfLetter('e'));
  EXPECT_FALSE(OrdinalOrderOfLetter('A'));
}

// cum a to d: the four links with free thresholds; e to h the same with equidistant ones; i the
// normal model.
TEST(ModelCodes, CumulativeLetters) {
  const CumulativeLink links[] = {CumulativeLink::kLogit, CumulativeLink::kProbit,
                                  CumulativeLink::kComplementaryLogLog, CumulativeLink::kLogLog};
  for (int k = 0; k < 8; ++k) {
    const auto form = CumulativeFormOfLetter(static_cast<char>('a' + k));
    ASSERT_TRUE(form);
    EXPECT_EQ(form->link, links[k % 4]) << k;
    EXPECT_EQ(form->equidistant, k >= 4) << k;
    EXPECT_EQ(form->FreeThresholds(), k < 4) << k;
  }
  const auto normal = CumulativeFormOfLetter('i');
  ASSERT_TRUE(normal);
  EXPECT_TRUE(normal->IsNormal());
  EXPECT_FALSE(normal->FreeThresholds());
  EXPECT_FALSE(CumulativeFormOfLetter('j'));
}

TEST(ModelCodes, CorrespondenceNumbers) {
  for (int number = 1; number <= 4; ++number) {
    const auto kind = CorrespondenceKindOfNumber(number);
    ASSERT_TRUE(kind);
    EXPECT_EQ(CorrespondenceNumber(*kind), number);
    EXPECT_EQ(IsAssociationAnalysis(*kind), number >= 3);
  }
  EXPECT_FALSE(CorrespondenceKindOfNumber(0));
  EXPECT_FALSE(CorrespondenceKindOfNumber(5));
}

// spe names the nine prespecified families by their digit; b gives each a single parameter.
// Only 2a, 3a, 8a and 9a fix their first level.
TEST(ModelCodes, SpecialModels) {
  const SpecialFamily families[] = {
      SpecialFamily::kInteraction,       SpecialFamily::kCategorySum,
      SpecialFamily::kSymmetry,          SpecialFamily::kQuasiSymmetry,
      SpecialFamily::kDiagonal,          SpecialFamily::kVariableRanks,
      SpecialFamily::kCategoryPositions, SpecialFamily::kSignedDistance,
      SpecialFamily::kAbsoluteDistance};
  for (int k = 0; k < 9; ++k) {
    for (char letter : {'a', 'b'}) {
      const auto model = SpecialModelOf(static_cast<char>('1' + k), letter);
      ASSERT_TRUE(model);
      EXPECT_EQ(model->family, families[k]);
      EXPECT_EQ(model->single_parameter, letter == 'b');
      Design design;
      design.family = DesignFamily::kSpecial;
      design.special_model = *model;
      const bool fixes = letter == 'a' && (k == 1 || k == 2 || k == 7 || k == 8);
      EXPECT_EQ(design.FixesFirstLevel(), fixes) << k + 1 << letter;
    }
  }
  EXPECT_FALSE(SpecialModelOf('0', 'a'));
  EXPECT_FALSE(SpecialModelOf('1', 'c'));
}

// The restriction letters: a and c equations, b and d inequalities; c and d against targets.
// mar's form letters a to e.
TEST(ModelCodes, RestrictionLetters) {
  const bool inequality[] = {false, true, false, true};
  const bool targets[] = {false, false, true, true};
  for (int k = 0; k < 4; ++k) {
    const auto sense = RestrictionSenseOfLetter(static_cast<char>('a' + k));
    ASSERT_TRUE(sense);
    const RestrictionCode code{MarginalForm::kMargins, *sense};
    EXPECT_EQ(code.Inequality(), inequality[k]) << k;
    EXPECT_EQ(code.WithTargets(), targets[k]) << k;
  }
  EXPECT_FALSE(RestrictionSenseOfLetter('e'));
  EXPECT_EQ(MarginalFormOfLetter('a'), MarginalForm::kMargins);
  EXPECT_EQ(MarginalFormOfLetter('d'), MarginalForm::kExpLogContrasts);
  EXPECT_EQ(MarginalFormOfLetter('e'), MarginalForm::kSumsOfLogs);
  EXPECT_FALSE(MarginalFormOfLetter('f'));
}

// ass models: the digit says which scores are estimated, the letter what varies over the layers;
// 2c, and d or e beside another digit than 5, name no model.
TEST(ModelCodes, AssociationModels) {
  EXPECT_EQ(AssociationFamilyOfWord("ass"), AssociationFamily::kLogLinear);
  EXPECT_EQ(AssociationFamilyOfWord("ass1("), AssociationFamily::kLogLinear);
  EXPECT_EQ(AssociationFamilyOfWord("ass2("), AssociationFamily::kLogMultiplicative);
  EXPECT_EQ(AssociationFamilyOfWord("ass3"), AssociationFamily::kMixedScores);
  const auto rc = AssociationModelOf('5', 'd');
  ASSERT_TRUE(rc);
  EXPECT_EQ(rc->scores, AssociationScores::kRowColumnEffects);
  EXPECT_EQ(rc->layers, LayerVariation::kRowScores);
  const auto symmetric = AssociationModelOf('6', 'c');
  ASSERT_TRUE(symmetric);
  EXPECT_EQ(symmetric->scores, AssociationScores::kSymmetric);
  EXPECT_EQ(symmetric->layers, LayerVariation::kAll);
  EXPECT_EQ(AssociationModelOf('2', 'b')->scores, AssociationScores::kUniform);
  EXPECT_EQ(AssociationModelOf('4', 'a')->scores, AssociationScores::kColumnEffects);
  EXPECT_FALSE(AssociationModelOf('2', 'c'));
  EXPECT_FALSE(AssociationModelOf('3', 'e'));
  EXPECT_FALSE(AssociationModelOf('7', 'a'));
  EXPECT_EQ(ScoreSymmetryOfLetter('a'), ScoreSymmetry::kEqual);
  EXPECT_EQ(ScoreSymmetryOfLetter('b'), ScoreSymmetry::kMirrored);
  EXPECT_FALSE(ScoreSymmetryOfLetter('d'));
}

}  // namespace
}  // namespace tav
