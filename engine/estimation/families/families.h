#ifndef TAV_ENGINE_ESTIMATION_FAMILIES_FAMILIES_H_
#define TAV_ENGINE_ESTIMATION_FAMILIES_FAMILIES_H_

#include <string>

#include "core/model_state.h"
#include "estimation/model_family.h"

namespace tav {

// Helpers the model families share. Each family is one file of this folder that defines its
// accessor (a function returning the family object); registry.cpp lists them.

// The first design of a submodel that the user specified (a cumulative submodel's first design
// holds its generated threshold columns), or nullptr.
const Design* FirstUserDesign(const Submodel& submodel);

// A family this version does not estimate yet: its "not available" construct for every
// submodel r it is used by, or for the model as a whole (r = -1).
class NotBuiltFamily : public ModelFamily {
 public:
  using UsedBy = bool (*)(const EstimationRun& run, int r);
  NotBuiltFamily(std::string_view name, std::string_view construct, UsedBy used_by)
      : name_(name), construct_(construct), used_by_(used_by) {}
  std::string_view Name() const override { return name_; }
  std::string UnavailableConstruct(const EstimationRun& run, int r) const override {
    return used_by_(run, r) ? std::string(construct_) : std::string();
  }

 private:
  std::string_view name_;
  std::string_view construct_;
  UsedBy used_by_;
};

// The submodel r of the model, or nullptr for an index outside model.submodels.
const Submodel* SubmodelAt(const ModelState& model, int r);

// The first user design of submodel r is of family: the submodel's restricted effects are that
// family's.
bool FirstUserDesignIs(const ModelState& model, int r, DesignFamily family);

// Minus the number of restrictions of family (lin and log, or mar) in submodel t: each takes a
// parameter away.
std::int64_t RestrictionParameterCount(const ModelState& model, int t, DesignFamily family);

// The place of parameter k of design d of submodel t in the free-parameter list, or -1.
int FreePosition(const FreeParameterList& list, int t, int d, int k);

}  // namespace tav

#endif  // TAV_ENGINE_ESTIMATION_FAMILIES_FAMILIES_H_
