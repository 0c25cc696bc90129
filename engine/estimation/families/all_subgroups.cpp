// Restrictions for all subgroups (all): effects aimed at the submodels that hold their
// variables. Plain effects become effects of those submodels when the model's tables are laid
// out; lin() and log() items make their submodel one with lin or log restrictions, fitted by
// the restricted M-step with its own items; the designs stay in the `all` submodel, which the
// cycle visits after the others, and act on the tables of the submodels they are aimed at
// (estimation/design_effects.h), so that the design family fits, counts and reports them (the
// marginal step fits those aimed at a submodel with mar() restrictions beside its own). Here:
// what `all` cannot hold.

#include "estimation/families/families.h"

namespace tav {
namespace {

class AllSubgroups : public ModelFamily {
 public:
  std::string_view Name() const override { return "restrictions for all subgroups"; }

  // A submodel with lin() or log() restrictions is saturated but for them: a design aimed at
  // it has nothing left to estimate.
  std::string Refusal(const EstimationRun& run, int r) const override {
    const ModelState& model = run.model;
    if (r != model.SubmodelCount + 1 || !model.HasAllSubmodel) return "";
    for (const Design& design : model.submodels[r].designs) {
      const Submodel* target = design.target_submodel < model.SubmodelCount
                                   ? SubmodelAt(model, design.target_submodel)
                                   : nullptr;
      if (design.IsRestriction() || target == nullptr || !target->LinLogSubmodel) continue;
      return "design effects in all are not possible aimed at subtable " + target->term +
             " with lin() or log() restrictions: it is saturated but for its restrictions, so a "
             "design effect has nothing left to estimate";
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
