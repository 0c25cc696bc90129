// Saturated margins fixed at the data (the margin of the variables no submodel explains, or of
// the continuous covariate): the fitted table is the expected one. Their parameters are counted
// with the restricted parameters of the set-up.

#include "estimation/estimate.h"
#include "estimation/families/families.h"
#include "estimation/m_steps.h"

namespace tav {
namespace {

class SaturatedMargin : public ModelFamily {
 public:
  std::string_view Name() const override { return "saturated margin"; }

  void StartValues(EstimationRun& run, int r) const override {
    if (run.model.submodels[r].IsSaturatedFixed()) StartFromMargins(run, r, true);
  }

  void FitSubmodel(EstimationRun& run, int r) const override {
    const Submodel* submodel = SubmodelAt(run.model, r);
    if (submodel != nullptr && submodel->IsSaturatedFixed()) FitModelTerms(run, r);
  }

  void FitAfterVisits(EstimationRun& run) const override { CopyObservedSaturated(run); }
};

}  // namespace

const ModelFamily& SaturatedMarginFamily() {
  static const SaturatedMargin family;
  return family;
}

}  // namespace tav
