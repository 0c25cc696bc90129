// Event-history (hazard) models (haz): the hazard part of the model, fitted in the visit of
// the hazard submodel; not estimated by this version.

#include "estimation/families/families.h"

namespace tav {
namespace {

class Hazard : public ModelFamily {
 public:
  std::string_view Name() const override { return "event history models"; }

  std::string UnavailableConstruct(const EstimationRun& run, int r) const override {
    if (r >= 0 || !run.history.HazardModel) return "";
    return "estimation of event history models (haz) is";
  }
};

}  // namespace

const ModelFamily& HazardFamily() {
  static const Hazard family;
  return family;
}

}  // namespace tav
