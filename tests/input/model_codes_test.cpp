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

}  // namespace
}  // namespace tav
