#ifndef TAV_ENGINE_ESTIMATION_FAMILIES_FAMILIES_H_
#define TAV_ENGINE_ESTIMATION_FAMILIES_FAMILIES_H_

#include "core/model_state.h"
#include "estimation/model_family.h"

namespace tav {

// Helpers the model families share. Each family is one file of this folder that defines its
// accessor (a function returning the family object); registry.cpp lists them.

// The first design of a submodel that the user specified (a cumulative submodel's first design
// holds its generated threshold columns), or nullptr.
const Design* FirstUserDesign(const Submodel& submodel);

// The submodel r of the model, or nullptr for an index outside model.submodels.
const Submodel* SubmodelAt(const ModelState& model, int r);

// The first user design of submodel r is of family: the submodel's restricted effects are that
// family's.
bool FirstUserDesignIs(const ModelState& model, int r, DesignFamily family);

// Minus the number of restrictions of family (lin and log, or mar) in submodel t: each takes a
// parameter away.
std::int64_t RestrictionParameterCount(const ModelState& model, int t, DesignFamily family);

}  // namespace tav

#endif  // TAV_ENGINE_ESTIMATION_FAMILIES_FAMILIES_H_
