// Restrictions for all subgroups (all): effects shared by the submodels of every subgroup,
// held in the `all` submodel; not estimated by this version.

#include "estimation/families/families.h"

namespace tav {

const ModelFamily& AllSubgroupsFamily() {
  static const NotBuiltFamily family(
      "restrictions for all subgroups", "estimation of restrictions for all subgroups (all) is",
      [](const EstimationRun& run, int r) { return r < 0 && run.model.HasAllSubmodel; });
  return family;
}

}  // namespace tav
