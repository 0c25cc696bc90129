// Cumulative response models (cum): thresholds and effects of a cumulative submodel, fitted by
// the cumulative M-step; not estimated by this version.

#include "estimation/families/families.h"

namespace tav {
namespace {

class Cumulative : public ModelFamily {
 public:
  std::string_view Name() const override { return "cumulative models"; }

  std::string UnavailableConstruct(const EstimationRun& run, int r) const override {
    const Submodel* submodel = SubmodelAt(run.model, r);
    if (submodel == nullptr || !submodel->IsCumulative()) return "";
    return "estimation of cumulative models (cum) is";
  }
};

}  // namespace

const ModelFamily& CumulativeFamily() {
  static const Cumulative family;
  return family;
}

}  // namespace tav
