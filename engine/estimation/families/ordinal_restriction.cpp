// Ordinal restrictions on conditional probabilities (or1, or2): stochastic orderings fitted by
// the ordinal M-step; not estimated by this version.

#include "estimation/families/families.h"

namespace tav {
namespace {

class OrdinalRestriction : public ModelFamily {
 public:
  std::string_view Name() const override { return "ordinal restrictions"; }

  std::string UnavailableConstruct(const EstimationRun& run, int r) const override {
    const Submodel* submodel = SubmodelAt(run.model, r);
    if (submodel == nullptr || !submodel->IsOrdinal()) return "";
    return "estimation of ordinal restrictions (or1, or2) is";
  }
};

}  // namespace

const ModelFamily& OrdinalRestrictionFamily() {
  static const OrdinalRestriction family;
  return family;
}

}  // namespace tav
