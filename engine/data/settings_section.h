#ifndef TAV_ENGINE_DATA_SETTINGS_SECTION_H_
#define TAV_ENGINE_DATA_SETTINGS_SECTION_H_

#include <cstdint>
#include <vector>

#include "core/model_state.h"
#include "data/data_run.h"
#include "input/reader.h"

namespace tav {

// Settings, data and output requests until the end of the file; reads the data and the
// designs. The last section of an input file, after those of input/sections.h.
void ParseSettings(Reader& reader, DataRun& run);

// Its parts:

// Gives every setting its default, the model-dependent ones from the model already read, and
// resets the random generator's seed and amplitude and the design stores.
void SetSettingDefaults(DataRun& run);

// True when the Newton-type algorithms cannot handle the model: restricted probabilities of
// `eq2`/`eq3`, `or1` or `or2`, association models, lin/log/mar restrictions, or effects with a
// second set of parameters (interaction letter b).
// With with_mar false, mar restrictions are left out of the conditions: their standard errors
// come from their own step, so that they need only the model to have no latent variables and
// no res. With with_assoc false, association models are left out too: their standard errors
// come from the information matrix over their identified directions.
bool NewtonUnavailable(const ModelState& model, bool with_mar = true, bool with_assoc = true);

// The start values `nor` spreads over m parameters: normal weights at m equidistant points
// over a range (type 1: the densities at the points; another type: the probabilities of the
// intervals between them), scaled to sum to m. A single parameter gets 1. The caller checks m
// against the array limits.
std::vector<double> NormalStartValues(std::int64_t m, int type, double range);

}  // namespace tav

#endif  // TAV_ENGINE_DATA_SETTINGS_SECTION_H_
