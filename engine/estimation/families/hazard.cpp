// Event-history (hazard) models (haz): the hazard part of the model, fitted in the visit of the
// hazard submodel (estimation/hazard_model.h). Its design effects, association terms and model
// terms are fitted by their families, which also count and list their parameters; this family
// adds the blocks of discrete time, repeats the part's steps until they settle, and fits and
// lists the shapes.

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/elementary.h"
#include "estimation/association_model.h"
#include "estimation/design_effects.h"
#include "estimation/families/families.h"
#include "estimation/hazard_model.h"
#include "estimation/m_steps.h"

namespace tav {
namespace {

// The hazard part's M-step is repeated at most this often, until no fitted number of events
// changes by more than kSettled (relative to it, or absolutely below 1).
constexpr int kInnerPasses = 100;
constexpr double kSettled = 1e-10;

bool IsHazard(const EstimationRun& run, int r) {
  return run.history.HazardModel && r == run.model.SubmodelCount;
}

class Hazard : public ModelFamily {
 public:
  std::string_view Name() const override { return "event history models"; }

  // While the Newton-type iterations estimate the hazard part, they move its shapes too.
  void FitSubmodel(EstimationRun& run, int r) const override {
    if (!IsHazard(run, r)) return;
    const Settings& settings = run.settings;
    const bool em_steps = run.estimation.iteration <= settings.newton_start_iteration ||
                          settings.newton_algorithm == NewtonAlgorithm::kNewtonRaphsonWithEm;
    if (!em_steps && run.estimation.free_parameters.Fits(r)) return;
    FitHazardBlocks(run);
    // The expected events and exposures stay what they are within the M-step, and the hazard
    // part's steps are cheap beside an E-step over the records: they are repeated until its
    // fitted events settle, so that an iteration ends near the maximum of the M-step.
    if (run.estimation.iteration > 0) {
      EstimationState& est = run.estimation;
      const Submodel& hazard = run.model.submodels[r];
      const auto first = est.FittedTable.begin() + hazard.first_cell;
      const auto cells = static_cast<std::int64_t>(hazard.cell_count);
      for (int pass = 0; pass < kInnerPasses; ++pass) {
        const std::vector<double> before(first, first + cells);
        FitDesignEffects(run, r);
        // The first step of the association terms gives them their start (iteration 1).
        if (run.estimation.iteration > 1) FitAssociationTerms(run, r);
        FitModelTerms(run, r);
        FitHazardBlocks(run);
        double change = 0;
        for (std::int64_t c = 0; c < cells; ++c) {
          change = std::max(change, std::fabs(first[c] - before[c]) / std::max(1.0, before[c]));
        }
        if (change < kSettled) break;
      }
    }
    UpdateHazardShape(run);
  }

  // The estimated shapes, one per risk.
  std::int64_t ParameterCount(const EstimationRun& run, int t) const override {
    return IsHazard(run, t) && run.history.TimeKind == TimeModel::kEstimatedShapes
               ? run.history.RiskCount
               : 0;
  }

  // An estimated shape (kind 3) is multiplied by exp(delta); the exposures follow it in the next
  // E-step. Its information stays with the finite differences of the log-likelihood, central
  // ones for the standard errors.
  bool Perturb(EstimationRun& run, const FreeParameter& parameter, double delta) const override {
    EstimationState& est = run.estimation;
    if (delta != 0)
      est.DesignParameters[est.hazard.shape_offset + parameter.position] *= Exp(delta);
    return true;
  }
  bool CentralDifferences(const EstimationRun&, const FreeParameter&) const override {
    return true;
  }
  void AddSubmodelValues(const EstimationRun& run, int r, SubmodelValues& values) const override {
    const HazardWork& hazard = run.estimation.hazard;
    if (r == hazard.table && hazard.shape_offset >= 0) {
      values.ranges.emplace_back(hazard.shape_offset, hazard.risks);
    }
  }

  void ListFreeParameters(const EstimationRun& run, ParameterGroup group,
                          FreeParameterList& list) const override {
    if (group != ParameterGroup::kSpecialEffects || !run.history.HazardModel ||
        run.history.TimeKind != TimeModel::kEstimatedShapes) {
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
