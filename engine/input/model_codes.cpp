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

std::optional<SpecialModel> SpecialModelOf(char digit, char letter) {
  if (digit < '1' || digit > '9' || (letter != 'a' && letter != 'b')) return std::nullopt;
  return SpecialModel{static_cast<SpecialFamily>(digit - '1'), letter == 'b'};
}

std::optional<RestrictionSense> RestrictionSenseOfLetter(char letter) {
  if (letter < 'a' || letter > 'd') return std::nullopt;
  return static_cast<RestrictionSense>(letter - 'a');
}

std::optional<MarginalForm> MarginalFormOfLetter(char letter) {
  if (letter < 'a' || letter > 'e') return std::nullopt;
  return static_cast<MarginalForm>(letter - 'a');
}

AssociationFamily AssociationFamilyOfWord(const std::string& word) {
  if (word.size() > 3 && word[3] >= '1' && word[3] <= '3') {
    return static_cast<AssociationFamily>(word[3] - '0');
  }
  return AssociationFamily::kLogLinear;
}

std::optional<AssociationModel> AssociationModelOf(char digit, char letter) {
  if (digit < '2' || digit > '6' || letter < 'a' || letter > 'e') return std::nullopt;
  if (digit == '2' && letter == 'c') return std::nullopt;
  if ((letter == 'd' || letter == 'e') && digit != '5') return std::nullopt;
  return AssociationModel{static_cast<AssociationScores>(digit - '2'),
                          static_cast<LayerVariation>(letter - 'a')};
}

std::optional<ScoreSymmetry> ScoreSymmetryOfLetter(char letter) {
  if (letter < 'a' || letter > 'c') return std::nullopt;
  return static_cast<ScoreSymmetry>(letter - 'a' + 1);
}

}  // namespace tav
