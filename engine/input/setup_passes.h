#ifndef TAV_ENGINE_INPUT_SETUP_PASSES_H_
#define TAV_ENGINE_INPUT_SETUP_PASSES_H_

#include <cstdint>
#include <vector>

#include "input/input_run.h"
#include "input/reader.h"

namespace tav {

// The set-up passes that size the model's tables from the sections read so far.

// Everything of an input file before its settings section: the model, event-history and
// record-format sections (input/sections.h), then the passes A to C below.
void ParseModelSections(Reader& reader, InputRun& run);

// A: subgroup tables, submodel variables, cells and offsets; the eq1 checks.
void LayOutSubmodels(InputRun& run);
// B: the sizes of the association and probability arrays, with their checks.
void SizeAssociationArrays(InputRun& run);
// C: start values 1.0 for the probability, hazard and association arrays.
void InitialiseParameterArrays(InputRun& run);
// D, E, F, after the settings section: restricted-submodel indexes from the restriction codes
// the design reader read, the final layout with the pattern marks of the variables carried by
// each subgroup (every unobserved variable when carry_all, which a posterior-probability file
// needs), and the cell positions of record-format data.
void IndexRestrictedSubmodels(InputRun& run, const std::vector<std::int32_t>& restriction_codes);
void FinishLayout(InputRun& run, bool carry_all);
void IndexDataRecords(InputRun& run);

}  // namespace tav

#endif  // TAV_ENGINE_INPUT_SETUP_PASSES_H_
