// Equality and fixed-value restrictions on conditional probabilities (eq2, eq3): the
// restricted probabilities are fitted after the visits of the submodels, in closed form (eq3)
// or by Newton passes on one multiplier per column (eq2). Their parameters are counted with the
// restricted parameters of the set-up.

#include "estimation/estimate.h"
#include "estimation/families/families.h"
#include "estimation/m_steps.h"

namespace tav {
namespace {

class EqualityRestriction : public ModelFamily {
 public:
  std::string_view Name() const override { return "equality restrictions"; }

  void StartValues(EstimationRun& run, int r) const override {
    const Submodel& submodel = run.model.submodels[r];
    if (submodel.SubmodelKind == SubmodelKindCode::kEqualityRestricted) {
      StartFromMargins(run, r, true);
    }
  }

  void FitAfterVisits(EstimationRun& run) const override {
    if (run.model.UseEq2) {
      FitEqualityRestrictionsEq2(run);
    } else {
      FitEqualityRestrictions(run);
    }
  }
};

}  // namespace

const ModelFamily& EqualityRestrictionFamily() {
  static const EqualityRestriction family;
  return family;
}

}  // namespace tav
