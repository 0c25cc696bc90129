// Event-history (hazard) models (haz): the hazard part of the model, fitted in the visit of the
// hazard submodel (estimation/hazard_model.h). Its model terms are fitted by proportional
// fitting with the log-linear family, which also counts and lists their parameters; this family
// adds the blocks of discrete time and the shapes of the rates.

#include "estimation/families/families.h"
#include "estimation/hazard_model.h"

namespace tav {
namespace {

bool IsHazard(const EstimationRun& run, int r) {
  return run.history.HazardModel && r == run.model.SubmodelCount;
}

class Hazard : public ModelFamily {
 public:
  std::string_view Name() const override { return "event history models"; }

  std::string UnavailableConstruct(const EstimationRun& run, int r) const override {
    const Submodel* submodel = SubmodelAt(run.model, r);
    if (!IsHazard(run, r) || submodel == nullptr) return "";
    if (!submodel->designs.empty()) {
      return "restricted effects (cov, eff, fac, fix, wei, spe) in haz are";
    }
    return "";
  }

  void SetUp(EstimationRun& run) const override { SetUpHazardPart(run); }

  // While the Newton-type iterations estimate the hazard part, they move its shapes too.
  void FitSubmodel(EstimationRun& run, int r) const override {
    if (!IsHazard(run, r)) return;
    const Settings& settings = run.settings;
    const bool em_steps = run.IterationCount <= settings.newton_start_iteration ||
                          settings.newton_algorithm == NewtonAlgorithm::kNewtonRaphsonWithEm;
    if (!em_steps && run.estimation.free_parameters.Fits(r)) return;
    FitHazardBlocks(run);
    UpdateHazardShape(run);
  }

  // The estimated shapes, one per risk.
  std::int64_t ParameterCount(const EstimationRun& run, int t) const override {
    return IsHazard(run, t) && run.history.TimeKind == 3 ? run.history.RiskCount : 0;
  }

  void ListFreeParameters(const EstimationRun& run, ParameterGroup group,
                          FreeParameterList& list) const override {
    if (group != ParameterGroup::kSpecialEffects || !run.history.HazardModel ||
        run.history.TimeKind != 3) {
      return;
    }
    FreeParameter shape;
    shape.submodel = run.model.SubmodelCount;
    shape.shape = true;
    list.AddEffect(shape, run.history.RiskCount);
  }
};

}  // namespace

const ModelFamily& HazardFamily() {
  static const Hazard family;
  return family;
}

}  // namespace tav
