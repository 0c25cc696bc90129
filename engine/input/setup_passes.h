#ifndef TAV_ENGINE_INPUT_SETUP_PASSES_H_
#define TAV_ENGINE_INPUT_SETUP_PASSES_H_

#include "core/run_state.h"

namespace tav {

// The set-up passes that size the model's tables from the sections read so far.

// A: subgroup tables, submodel variables, cells and offsets; the eq1 checks.
void LayOutSubmodels(RunState& run);
// B: the sizes of the association and probability arrays, with their checks.
void SizeAssociationArrays(RunState& run);
// C: start values 1.0 for the probability, hazard and association arrays.
void InitialiseParameterArrays(RunState& run);
// D, E, F: restricted-submodel indexes, the final layout with the pattern marks of the
// variables carried by each subgroup, and the cell positions of record-format data.
void IndexRestrictedSubmodels(RunState& run);
void FinishLayout(RunState& run);
void IndexDataRecords(RunState& run);

}  // namespace tav

#endif  // TAV_ENGINE_INPUT_SETUP_PASSES_H_
