// Design effects (cov, eff, fac, fix, wei, spe): parameters of user or prespecified designs,
// fitted by the design M-step; not estimated by this version. Their parameters are counted
// and form the second group of free parameters.

#include <cstdlib>

#include "estimation/families/families.h"

namespace tav {
namespace {

bool IsDesignEffect(DesignFamily family) {
  return family != DesignFamily::kLinLog && family != DesignFamily::kMarginal;
}

const char* CommandName(DesignFamily family) {
  switch (family) {
    case DesignFamily::kCovariate:
      return "cov()";
    case DesignFamily::kEffect:
      return "eff()";
    case DesignFamily::kFactor:
      return "fac()";
    case DesignFamily::kFixedWeights:
      return "fix() and wei()";
    default:
      return "spe()";
  }
}

// The number of groups a grouped design's parameters vary over: the number after the
// interaction letter, or the product of the categories of its grouping variables.
std::int64_t GroupCount(const ModelState& model, const Design& design) {
  std::int64_t groups = std::abs(design.group_multiplier);
  if (groups != 0) return groups;
  groups = 1;
  for (int v = 0; v < model.VariableCount; ++v) {
    if (design.DesignVariables[v] == 255) groups *= model.Dimension[v];
  }
  return groups;
}

class DesignEffect : public ModelFamily {
 public:
  std::string_view Name() const override { return "design effects"; }

  std::string UnavailableConstruct(const EstimationRun& run, int r) const override {
    const Submodel* submodel = SubmodelAt(run.model, r);
    const Design* design = submodel != nullptr ? FirstUserDesign(*submodel) : nullptr;
    if (design == nullptr || !IsDesignEffect(design->family)) return "";
    return std::string("estimation of ") + CommandName(design->family) + " effects is";
  }

  // Per design (not reserved): its parameters, times the groups for interaction c, plus a
  // shift per group less one for interaction b; one fewer per copy for the models whose first
  // level is fixed.
  std::int64_t ParameterCount(const EstimationRun& run, int t) const override {
    const Submodel* submodel = SubmodelAt(run.model, t);
    if (submodel == nullptr || submodel->IsSaturatedFixed()) return 0;
    std::int64_t count = 0;
    for (const Design& design : submodel->designs) {
      if (design.reserved || !IsDesignEffect(design.family)) continue;
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
    for (int r = 0; r < model.SubmodelCount && !list.full; ++r) {
      const Submodel& submodel = model.submodels[r];
      for (int d = 0; d < submodel.DesignTermCount() && !list.full; ++d) {
        const Design& design = submodel.designs[d];
        if (design.reserved || design.family == DesignFamily::kFixedWeights ||
            !IsDesignEffect(design.family)) {
          continue;
        }
        int copies = 1;
        if (design.interaction == DesignInteraction::kC) {
          copies = static_cast<int>(GroupCount(model, design));
        }
        const int fixed = design.FixesFirstLevel() ? 1 : 0;
        const int size = copies * (design.DesignCountParam - fixed);
        if (size <= 0) continue;
        FreeParameter parameter;
        parameter.submodel = r;
        for (int v = 0; v < kVectorSize; ++v) parameter.effect[v] = design.DesignVariables[v] == 1;
        parameter.design = d;
        list.AddEffect(parameter, size);
      }
    }
  }
};

}  // namespace

const ModelFamily& DesignEffectFamily() {
  static const DesignEffect family;
  return family;
}

}  // namespace tav
