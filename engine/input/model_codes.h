#ifndef TAV_ENGINE_INPUT_MODEL_CODES_H_
#define TAV_ENGINE_INPUT_MODEL_CODES_H_

#include <optional>
#include <string>

#include "core/model_state.h"

namespace tav {

// The letters and digits by which the input language names its models, decoded once where
// they are read. Each returns nothing for a character that names no model; the caller gives
// the message.

// or1, or2: the letter a to d of the ordinal restriction.
std::optional<OrdinalOrder> OrdinalOrderOfLetter(char letter);

// cum: the letter a to i of the cumulative model.
std::optional<CumulativeForm> CumulativeFormOfLetter(char letter);

// cor: the type number 1 to 4 of the analysis.
std::optional<CorrespondenceKind> CorrespondenceKindOfNumber(int number);

// spe: the model written as a digit 1 to 9 and the letter a or b.
std::optional<SpecialModel> SpecialModelOf(char digit, char letter);

// lin, log and mar: the restriction letter a to d.
std::optional<RestrictionSense> RestrictionSenseOfLetter(char letter);

// mar: the form letter a to e.
std::optional<MarginalForm> MarginalFormOfLetter(char letter);

// ass, ass1, ass2, ass3: the family by the command word's fourth character (1 without one).
AssociationFamily AssociationFamilyOfWord(const std::string& word);

// The model type of an association term, its digit 2 to 6 and letter a to e: 2 does not go
// with c, and d and e go only with 5.
struct AssociationModel {
  AssociationScores scores = AssociationScores::kUniform;
  LayerVariation layers = LayerVariation::kNone;
};
std::optional<AssociationModel> AssociationModelOf(char digit, char letter);

// The symmetry letter a to c of an association term.
std::optional<ScoreSymmetry> ScoreSymmetryOfLetter(char letter);

}  // namespace tav

#endif  // TAV_ENGINE_INPUT_MODEL_CODES_H_
