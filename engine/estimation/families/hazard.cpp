// Event-history (hazard) models (haz): the hazard part of the model, fitted in the visit of
// the hazard submodel; not estimated by this version.

#include "estimation/families/families.h"

namespace tav {

const ModelFamily& HazardFamily() {
  static const NotBuiltFamily family(
      "event history models", "estimation of event history models (haz) is",
      [](const EstimationRun& run, int r) { return r < 0 && run.history.HazardModel; });
  return family;
}

}  // namespace tav
