#ifndef TAV_ENGINE_INPUT_MODEL_CODES_H_
#define TAV_ENGINE_INPUT_MODEL_CODES_H_

#include <optional>

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

}  // namespace tav

#endif  // TAV_ENGINE_INPUT_MODEL_CODES_H_
