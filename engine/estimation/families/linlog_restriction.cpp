// Linear and log-linear restrictions on the probabilities of a submodel (lin, log), fitted by
// the restricted M-step in place of the submodel's other M-steps; not estimated by this
// version. Each restriction takes a parameter away.

#include "estimation/families/families.h"

namespace tav {
namespace {

class LinLogRestriction : public ModelFamily {
 public:
  std::string_view Name() const override { return "lin and log restrictions"; }

  std::string UnavailableConstruct(const EstimationRun& run, int r) const override {
    const Submodel* submodel = SubmodelAt(run.model, r);
    const Design* design = submodel != nullptr ? FirstUserDesign(*submodel) : nullptr;
    if (design == nullptr || design->family != DesignFamily::kLinLog) return "";
    return "estimation of lin() and log() effects is";
  }

  std::int64_t ParameterCount(const EstimationRun& run, int t) const override {
    const Submodel* submodel = SubmodelAt(run.model, t);
    if (submodel == nullptr || submodel->IsSaturatedFixed()) return 0;
    std::int64_t count = 0;
    for (const Design& design : submodel->designs) {
      if (!design.reserved && design.family == DesignFamily::kLinLog) {
        count -= design.DesignCountParam;
      }
    }
    return count;
  }
};

}  // namespace

const ModelFamily& LinLogRestrictionFamily() {
  static const LinLogRestriction family;
  return family;
}

}  // namespace tav
