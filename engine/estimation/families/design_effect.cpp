// Design effects (cov, eff, fac, fix, wei, spe) of log-linear and cumulative submodels, and the
// thresholds of cumulative submodels: fitted by the design M-step (estimation/design_effects.h)
// before the submodel's model terms. Their parameters are counted and form the second group of
// free parameters; the report shows them after the submodel's table.

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "data/design_reader.h"
#include "estimation/design_effects.h"
#include "estimation/families/families.h"
#include "estimation/hazard_model.h"

namespace tav {
namespace {

// Design d of submodel opens a written effect whose parameters are estimated: not reserved, not
// a restriction, not fixed (fix, wei).
bool Estimated(const Submodel& submodel, int d) {
  const Design& design = submodel.designs[d];
  return !design.reserved && !design.IsRestriction() &&
         design.family != DesignFamily::kFixedWeights && IsFreeDesign(submodel, d);
}

// The parameters of one block of design parameters: per parameter k its label, tau, the place
// in the free-parameter list of a free parameter and the scale of its column.
std::vector<BlockParameter> DesignParameters(const EstimationRun& run, int t,
                                             const DesignWork& work,
                                             const std::vector<std::string>& labels) {
  const double* tau = run.estimation.Multipliers.data() + work.offset;
  std::vector<BlockParameter> parameters;
  for (int k = 0; k < work.parameters; ++k) {
    int position = -1;
    const auto at = std::find(work.free.begin(), work.free.end(), k);
    if (at != work.free.end()) {
      position = FreePosition(run.estimation.free_parameters, t, work.design,
                              static_cast<int>(at - work.free.begin()));
    }
    parameters.push_back({labels[k], tau[k], position, ColumnScale(work, k)});
  }
  return parameters;
}

class DesignEffect : public MultiplierFamily {
 public:
  std::string_view Name() const override { return "design effects"; }

  std::unique_ptr<FamilyState> NewState() const override { return std::make_unique<DesignState>(); }

  void SetUp(EstimationRun& run) const override { SetUpDesignEffects(run); }

  void AddSubmodelValues(const EstimationRun& run, int r, SubmodelValues& values) const override {
    AddDesignValues(run, r, values);
  }

  // In the visit of a log-linear or cumulative submodel: its design effects, unless the
  // Newton-type iterations fit them.
  void FitSubmodel(EstimationRun& run, int r) const override {
    if (r < 0 || r >= static_cast<int>(DesignWorks(run).size())) return;
    // Beside mar() restrictions the marginal step fits them.
    if (r < run.model.SubmodelCount && run.model.submodels[r].MarSubmodel != MarRestrictions::kNone)
      return;
    const Settings& settings = run.settings;
    const bool em_steps = run.estimation.iteration <= settings.newton_start_iteration ||
                          settings.newton_algorithm == NewtonAlgorithm::kNewtonRaphsonWithEm;
    if (!em_steps && run.estimation.free_parameters.Fits(r)) return;
    FitDesignEffects(run, r);
  }

  // Per written effect (its first design; the designs of its further terms share its
  // parameters): its parameters, times the groups for interaction c, plus a shift per group
  // less one for interaction b; one fewer per copy for the models whose first level is fixed.
  std::int64_t ParameterCount(const EstimationRun& run, int t) const override {
    const Submodel* submodel = SubmodelAt(run.model, t);
    if (submodel == nullptr || submodel->IsSaturatedFixed()) return 0;
    std::int64_t count = 0;
    for (int d = 0; d < submodel->DesignTermCount(); ++d) {
      const Design& design = submodel->designs[d];
      // Fixed effects (fix, wei) are not estimated.
      if (!Estimated(*submodel, d)) continue;
      const std::int64_t e = design.DesignCountParam;
      const std::int64_t k = design.FixesFirstLevel() ? 1 : 0;
      const std::int64_t l = GroupCount(run.model, design);
      if (design.interaction == DesignInteraction::kC) {
        count += l * (e - k);
      } else if (design.interaction == DesignInteraction::kB) {
        count += e + l - k - 1;
      } else {
        count += e - k;
      }
    }
    return count;
  }

  // The estimated special effects (fix and wei have none): their parameters times their
  // multiplier for interaction c, less one per copy for the models whose first level is fixed.
  void ListFreeParameters(const EstimationRun& run, ParameterGroup group,
                          FreeParameterList& list) const override {
    if (group != ParameterGroup::kSpecialEffects) return;
    const ModelState& model = run.model;
    // The model's submodels, then the designs of `all`.
    std::vector<int> sources;
    for (int r = 0; r < model.SubmodelCount; ++r) sources.push_back(r);
    if (HazardWorkOf(run).table >= 0) sources.push_back(HazardWorkOf(run).table);
    if (model.HasAllSubmodel &&
        model.SubmodelCount + 1 < static_cast<int>(model.submodels.size())) {
      sources.push_back(model.SubmodelCount + 1);
    }
    for (int r : sources) {
      if (list.full) break;
      const Submodel& submodel = model.submodels[r];
      for (int d = 0; d < submodel.DesignTermCount() && !list.full; ++d) {
        const Design& design = submodel.designs[d];
        if (!Estimated(submodel, d)) continue;
        // Interaction c: parameters of their own per group; b: a shift per group but the
        // first after the shared parameters.
        const int groups = design.Grouped() ? GroupCount(model, design) : 1;
        const int fixed = design.FixesFirstLevel() ? 1 : 0;
        int size = design.DesignCountParam - fixed;
        if (design.interaction == DesignInteraction::kC) size *= groups;
        if (design.interaction == DesignInteraction::kB) size += groups - 1;
        if (size <= 0) continue;
        FreeParameter parameter;
        parameter.submodel = r;
        parameter.effect = design.Term();
        parameter.design = d;
        list.AddEffect(parameter, size);
      }
    }
  }

  // After the table of submodel t: the thresholds of a cumulative submodel, then a block per
  // estimated design, headed by the labels of its variables. After the tables of all submodels
  // the designs of `all`, under a heading of their own.
  std::vector<ParameterBlock> ParameterBlocks(const EstimationRun& run, BlockPlace place,
                                              int t) const override {
    const ModelState& model = run.model;
    std::vector<ParameterBlock> blocks;
    if (place == BlockPlace::kAfterSubmodels && model.HasAllSubmodel) {
      const int all = model.SubmodelCount + 1;
      ParameterBlock heading;
      heading.kind = ParameterBlock::Kind::kTableHeading;
      heading.table = all;
      blocks.push_back(std::move(heading));
      for (ParameterBlock& block : ParameterBlocks(run, BlockPlace::kAfterTable, all)) {
        blocks.push_back(std::move(block));
      }
      return blocks;
    }
    if (place != BlockPlace::kAfterTable || t < 0 ||
        t >= static_cast<int>(DesignWorks(run).size())) {
      return blocks;
    }
    const Submodel& submodel = model.submodels[t];
    for (const DesignWork& work : DesignWorks(run)[t]) {
      if (work.fixed) continue;
      ParameterBlock block;
      block.table = t;
      std::vector<std::string> labels;
      for (int k = 0; k < work.parameters; ++k) labels.push_back(" " + std::to_string(k + 1));
      if (work.thresholds && submodel.CumulativeModel.IsNormal()) {
        // The intercept of a normal cumulative model: no heading line, no exp(beta).
        block.heading = "intercept";
        block.heading_line = false;
        block.table = -1;
        labels.assign(work.parameters, "intercept");
      } else if (work.thresholds) {
        const bool free = submodel.CumulativeModel.FreeThresholds();
        block.heading = std::string("thresholds") + (free ? " (free)" : " (equidistant)");
      } else {
        block.heading = TermText(model, submodel.designs[work.design].Term());
      }
      block.parameters = DesignParameters(run, t, work, labels);
      blocks.push_back(std::move(block));
    }
    return blocks;
  }
};

}  // namespace

const ModelFamily& DesignEffectFamily() {
  static const DesignEffect family;
  return family;
}

std::vector<std::vector<DesignWork>>& DesignWorks(EstimationRun& run) {
  return StateOf<DesignState>(run, DesignEffectFamily()).works;
}

const std::vector<std::vector<DesignWork>>& DesignWorks(const EstimationRun& run) {
  return StateOf<DesignState>(run, DesignEffectFamily()).works;
}

}  // namespace tav
