// Ordinal restrictions on conditional probabilities (or1, or2): stochastic orderings of the
// response across the columns, fitted after the visits of the submodels by the ordinal M-step
// (estimation/ordinal_restrictions.h). Their parameters are counted with the restricted
// parameters of the set-up, less the active restrictions.

#include <memory>

#include "estimation/estimate.h"
#include "estimation/families/families.h"
#include "estimation/ordinal_restrictions.h"

namespace tav {
namespace {

class OrdinalRestriction : public ModelFamily {
 public:
  std::string_view Name() const override { return "ordinal restrictions"; }

  std::unique_ptr<FamilyState> NewState() const override {
    return std::make_unique<OrdinalState>();
  }

  void StartValues(EstimationRun& run, int r) const override {
    if (run.model.submodels[r].IsOrdinal()) StartFromMargins(run, r, true);
  }

  void FitAfterVisits(EstimationRun& run) const override { FitOrdinalRestrictions(run); }
};

}  // namespace

const ModelFamily& OrdinalRestrictionFamily() {
  static const OrdinalRestriction family;
  return family;
}

OrdinalState& OrdinalStateOf(EstimationRun& run) {
  return StateOf<OrdinalState>(run, OrdinalRestrictionFamily());
}

}  // namespace tav
