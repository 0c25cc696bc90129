#include "input/model_codes.h"

namespace tav {

std::optional<OrdinalOrder> OrdinalOrderOfLetter(char letter) {
  switch (letter) {
    case 'a':
      return OrdinalOrder::kCumulative;
    case 'b':
      return OrdinalOrder::kLocalOdds;
    case 'c':
      return OrdinalOrder::kContinuation;
    case 'd':
      return OrdinalOrder::kReversedContinuation;
    default:
      return std::nullopt;
  }
}

std::optional<CumulativeForm> CumulativeFormOfLetter(char letter) {
  if (letter == 'i') return CumulativeForm{CumulativeLink::kNormal, false};
  if (letter < 'a' || letter > 'h') return std::nullopt;
  constexpr CumulativeLink kLinks[] = {CumulativeLink::kLogit, CumulativeLink::kProbit,
                                       CumulativeLink::kComplementaryLogLog,
                                       CumulativeLink::kLogLog};
  const int position = letter - 'a';
  return CumulativeForm{kLinks[position % 4], position >= 4};
}

std::optional<CorrespondenceKind> CorrespondenceKindOfNumber(int number) {
  if (number < 1 || number > 4) return std::nullopt;
  return static_cast<CorrespondenceKind>(number);
}

}  // namespace tav
