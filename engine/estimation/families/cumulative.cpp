// Cumulative response models (cum): thresholds and effects of a cumulative submodel, fitted by
// the cumulative M-step; not estimated by this version.

#include "estimation/families/families.h"

namespace tav {

const ModelFamily& CumulativeFamily() {
  static const NotBuiltFamily family("cumulative models",
                                     "estimation of cumulative models (cum) is",
                                     [](const EstimationRun& run, int r) {
                                       const Submodel* submodel = SubmodelAt(run.model, r);
                                       return submodel != nullptr && submodel->IsCumulative();
                                     });
  return family;
}

}  // namespace tav
