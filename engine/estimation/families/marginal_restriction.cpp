// Marginal restrictions (mar): equations on marginal distributions of a submodel, fitted by
// the Newton projection of the marginal-restriction step (its Newton-type step belongs to
// newton/); not estimated by this version. Each restriction takes a parameter away.

#include "estimation/families/families.h"

namespace tav {
namespace {

class MarginalRestriction : public ModelFamily {
 public:
  std::string_view Name() const override { return "marginal restrictions"; }

  std::string UnavailableConstruct(const EstimationRun& run, int r) const override {
    const Submodel* submodel = SubmodelAt(run.model, r);
    const Design* design = submodel != nullptr ? FirstUserDesign(*submodel) : nullptr;
    if (design == nullptr || design->family != DesignFamily::kMarginal) return "";
    return "estimation of mar() effects is";
  }

  std::int64_t ParameterCount(const EstimationRun& run, int t) const override {
    const Submodel* submodel = SubmodelAt(run.model, t);
    if (submodel == nullptr || submodel->IsSaturatedFixed()) return 0;
    std::int64_t count = 0;
    for (const Design& design : submodel->designs) {
      if (!design.reserved && design.family == DesignFamily::kMarginal) {
        count -= design.DesignCountParam;
      }
    }
    return count;
  }
};

}  // namespace

const ModelFamily& MarginalRestrictionFamily() {
  static const MarginalRestriction family;
  return family;
}

}  // namespace tav
