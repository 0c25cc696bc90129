// The model families of this version. Their order is the order of the M-steps in the visit of
// a submodel (marginal or lin/log restrictions instead of the rest, else design effects,
// association terms, proportional fitting of the model terms), then of the M-steps after the
// visits (fixed margins, equality, ordinal restrictions), and of the "not available" checks.
//
// A family is one file of this folder that defines its accessor, and one entry here: the
// accessor's declaration and its place in the list.

#include <string>

#include "data/design_reader.h"
#include "estimation/families/families.h"

namespace tav {

const ModelFamily& MarginalRestrictionFamily();  // mar
const ModelFamily& LinLogRestrictionFamily();    // lin, log
const ModelFamily& DesignEffectFamily();         // cov, eff, fac, fix, wei, spe
const ModelFamily& AssociationFamily();          // ass
const ModelFamily& LogLinearFamily();            // model terms fitted by proportional fitting
const ModelFamily& SaturatedMarginFamily();      // saturated margins fixed at the data
const ModelFamily& EqualityRestrictionFamily();  // eq2, eq3
const ModelFamily& OrdinalRestrictionFamily();   // or1, or2
const ModelFamily& CumulativeFamily();           // cum
const ModelFamily& AllSubgroupsFamily();         // all
const ModelFamily& HazardFamily();               // haz

const FamilyList& ModelFamilies() {
  static const FamilyList families = {
      &MarginalRestrictionFamily(),
      &LinLogRestrictionFamily(),
      &DesignEffectFamily(),
      &AssociationFamily(),
      &LogLinearFamily(),
      &SaturatedMarginFamily(),
      &EqualityRestrictionFamily(),
      &OrdinalRestrictionFamily(),
      &CumulativeFamily(),
      &AllSubgroupsFamily(),
      &HazardFamily(),
  };
  return families;
}

const Design* FirstUserDesign(const Submodel& submodel) {
  const int first = submodel.IsCumulative() ? 1 : 0;
  return submodel.DesignTermCount() > first ? &submodel.designs[first] : nullptr;
}

const Submodel* SubmodelAt(const ModelState& model, int r) {
  return r >= 0 && r < static_cast<int>(model.submodels.size()) ? &model.submodels[r] : nullptr;
}

bool FirstUserDesignIs(const ModelState& model, int r, DesignFamily family) {
  const Submodel* submodel = SubmodelAt(model, r);
  const Design* design = submodel != nullptr ? FirstUserDesign(*submodel) : nullptr;
  return design != nullptr && design->family == family;
}

std::int64_t RestrictionParameterCount(const ModelState& model, int t, DesignFamily family) {
  const Submodel* submodel = SubmodelAt(model, t);
  if (submodel == nullptr || submodel->IsSaturatedFixed()) return 0;
  std::int64_t count = 0;
  for (int d = 0; d < submodel->DesignTermCount(); ++d) {
    const Design& design = submodel->designs[d];
    // The designs of an item's further terms share its restrictions.
    if (!design.reserved && design.family == family && IsFreeDesign(*submodel, d)) {
      count -= design.DesignCountParam;
    }
  }
  return count;
}

int FreePosition(const FreeParameterList& list, int t, int d, int k) {
  for (std::size_t i = 0; i < list.parameters.size(); ++i) {
    const FreeParameter& parameter = list.parameters[i];
    if (parameter.submodel == t && parameter.design == d && parameter.position == k) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

}  // namespace tav
