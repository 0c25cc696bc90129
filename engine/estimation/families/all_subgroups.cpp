// Restrictions for all subgroups (all): effects aimed at the submodels that hold their
// variables. Plain effects become effects of those submodels when the model's tables are laid
// out; the designs stay in the `all` submodel, which the cycle visits after the others, and act
// on the tables of the submodels they are aimed at (estimation/design_effects.h), so that the
// design family fits, counts and reports them. Here: what `all` cannot hold yet.

#include "estimation/families/families.h"

namespace tav {
namespace {

class AllSubgroups : public ModelFamily {
 public:
  std::string_view Name() const override { return "restrictions for all subgroups"; }

  std::string UnavailableConstruct(const EstimationRun& run, int r) const override {
    const ModelState& model = run.model;
    if (r != model.SubmodelCount + 1 || !model.HasAllSubmodel) return "";
    const Submodel& all = model.submodels[r];
    if (all.LinLogSubmodel) return "lin() and log() restrictions in all are";
    for (const Design& design : all.designs) {
      if (design.target_submodel < 0 || design.target_submodel >= model.SubmodelCount) continue;
      const Submodel& target = model.submodels[design.target_submodel];
      if (target.LinLogSubmodel || target.MarSubmodel != 0) {
        return "designs in all aimed at a subtable with lin(), log() or mar() restrictions are";
      }
    }
    return "";
  }
};

}  // namespace

const ModelFamily& AllSubgroupsFamily() {
  static const AllSubgroups family;
  return family;
}

}  // namespace tav
