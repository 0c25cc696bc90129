// Ordinal restrictions on conditional probabilities (or1, or2): stochastic orderings fitted by
// the ordinal M-step; not estimated by this version.

#include "estimation/families/families.h"

namespace tav {

const ModelFamily& OrdinalRestrictionFamily() {
  static const NotBuiltFamily family("ordinal restrictions",
                                     "estimation of ordinal restrictions (or1, or2) is",
                                     [](const EstimationRun& run, int r) {
                                       const Submodel* submodel = SubmodelAt(run.model, r);
                                       return submodel != nullptr && submodel->IsOrdinal();
                                     });
  return family;
}

}  // namespace tav
