// Restrictions for all subgroups (all): effects shared by the submodels of every subgroup,
// held in the `all` submodel; not estimated by this version.

#include "estimation/families/families.h"

namespace tav {
namespace {

class AllSubgroups : public ModelFamily {
 public:
  std::string_view Name() const override { return "restrictions for all subgroups"; }

  std::string UnavailableConstruct(const EstimationRun& run, int r) const override {
    if (r >= 0 || !run.model.HasAllSubmodel) return "";
    return "estimation of restrictions for all subgroups (all) is";
  }
};

}  // namespace

const ModelFamily& AllSubgroupsFamily() {
  static const AllSubgroups family;
  return family;
}

}  // namespace tav
