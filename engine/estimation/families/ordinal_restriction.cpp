// Ordinal restrictions on conditional probabilities (or1, or2): stochastic orderings of the
// response across the columns, fitted after the visits of the submodels by the ordinal M-step
// (estimation/ordinal_restrictions.h). Their parameters are counted with the restricted
// parameters of the set-up, less the active restrictions.

#include "estimation/estimate.h"
#include "estimation/families/families.h"
#include "estimation/ordinal_restrictions.h"

namespace tav {
namespace {

class OrdinalRestriction : public ModelFamily {
 public:
  std::string_view Name() const override { return "ordinal restrictions"; }

  // Cumulative orderings (type a) of more than two categories are not estimated yet.
  std::string UnavailableConstruct(const EstimationRun& run, int r) const override {
    const Submodel* submodel = SubmodelAt(run.model, r);
    if (submodel == nullptr || !submodel->IsOrdinal() || OrdinalTypeEstimated(*submodel)) {
      return "";
    }
    const double categories = submodel->cell_count / std::max(submodel->condition_cells, 1.0);
    if (categories <= 2) return "";
    return "estimation of cumulative ordinal restrictions (or1, or2 of type a) is";
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

}  // namespace tav
