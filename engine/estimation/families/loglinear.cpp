// Log-linear submodels: their model terms (margins) are fitted by proportional fitting, and
// their log-linear effects are the first group of free parameters. The count of log-linear
// parameters covers the model terms of every submodel that has them.

#include <cstdint>
#include <set>
#include <vector>

#include "core/stop_run.h"
#include "estimation/estimate.h"
#include "estimation/families/families.h"
#include "estimation/hazard_model.h"
#include "estimation/m_steps.h"
#include "estimation/marginal_restrictions.h"

namespace tav {
namespace {

bool InMargin(const Submodel& submodel, int margin, int v) {
  return margin < submodel.MarginCount() && submodel.EffectVariables[margin][v] != 0;
}

bool Inside(const Membership& subset, const Membership& set) {
  for (int v = 0; v < kVectorSize; ++v) {
    if (subset[v] != 0 && set[v] == 0) return false;
  }
  return true;
}

// The number of log-linear parameters of the model terms of submodel t.
std::int64_t CountLogLinearParameters(const EstimationRun& run, int t) {
  const ModelState& model = run.model;
  const Submodel& submodel = model.submodels[t];
  const bool hazard = run.history.HazardModel && t == model.SubmodelCount;
  const bool conditional = t > 0 && !hazard;
  const std::vector<int> variables = SubmodelVariableList(model, t);
  const bool by_risk = hazard && run.history.TimeKind == TimeModel::kDiscrete && !variables.empty();
  const int risk = by_risk ? variables.back() : -1;
  // What a variable of a counted subset contributes.
  auto factor = [&](int v) -> std::int64_t {
    return v == risk ? run.history.NonSelfTransitions : model.Dimension[v] - 1;
  };

  // A submodel with lin or log restrictions, or with mar restrictions and no model term or
  // design beside them, is saturated but for its restrictions (which the restriction families
  // count); its own flags decide, so that the other submodels of such a model keep the count of
  // their model terms.
  const bool every_subset =
      (submodel.IsLogLinear() || submodel.IsTied()) &&
      (MarginalSaturated(model, t) ||
       (submodel.MarSubmodel != MarRestrictions::kOnly && submodel.LinLogSubmodel));

  std::int64_t count = 0;
  if (every_subset) {
    // The sum over all subsets of the product of (dimension - 1) is the product of the
    // dimensions; the risk variable, when it must be in the subset, contributes its factor.
    std::int64_t all = 1;
    for (int v : variables) all *= v == risk ? factor(v) : factor(v) + 1;
    count += all;
    if (conditional) {
      std::int64_t inside = 1;
      for (int v : variables) {
        if (InMargin(submodel, 0, v)) inside *= factor(v) + 1;
      }
      count -= inside;
    }
    return count;
  }
  const int start = conditional ? 1 : 0;
  for (int i = start; i < submodel.MarginCount(); ++i) {
    // Variables that contribute 0 make the product 0: leave them out of the enumeration.
    std::vector<int> members;
    for (int v : variables) {
      if (InMargin(submodel, i, v) && factor(v) != 0) members.push_back(v);
    }
    if (members.size() > 40) StopRun("  Error: problem too big to fit in memory");
    const std::uint64_t subsets = std::uint64_t{1} << members.size();
    for (std::uint64_t mask = 0; mask < subsets; ++mask) {
      auto inside = [&](int margin) {
        for (std::size_t b = 0; b < members.size(); ++b) {
          if ((mask >> b & 1) != 0 && !InMargin(submodel, margin, members[b])) return false;
        }
        return true;
      };
      // Each subset counts once: for the first margin that holds it.
      bool earlier = false;
      for (int j = start; j < i && !earlier; ++j) earlier = inside(j);
      if (earlier || (conditional && inside(0))) continue;
      std::int64_t product = 1;
      bool has_risk = !by_risk;
      for (std::size_t b = 0; b < members.size(); ++b) {
        if ((mask >> b & 1) == 0) continue;
        product *= factor(members[b]);
        has_risk = has_risk || members[b] == risk;
      }
      if (has_risk) count += product;
    }
  }
  return count;
}

// The log-linear parameters of submodel r, effect by effect in binary order of the submodel's
// variables (first variable most significant): every subset of one of its model terms but the
// constant of submodel 0 and, in the other submodels, the subsets inside the conditioning
// margin; (categories - 1) parameters per variable.
//
// The hazard submodel has no conditioning margin, so its constant is a parameter too; in
// discrete time only the effects that hold the risk variable have parameters, which contrast the
// risks that leave a state with staying in it (NonSelfTransitions for the risk variable).
void ListSubmodelParameters(const EstimationRun& run, int r, FreeParameterList& list) {
  const ModelState& model = run.model;
  const Submodel& submodel = model.submodels[r];
  const bool hazard = run.history.HazardModel && r == model.SubmodelCount;
  const bool conditional = r > 0 && !hazard;
  const int start = conditional ? 1 : 0;
  const std::vector<int> variables = SubmodelVariableList(model, r);
  const int risk = hazard && run.history.TimeKind == TimeModel::kDiscrete && !variables.empty()
                       ? variables.back()
                       : -1;
  // Variables of one category add no parameters: effects holding them are left out.
  auto counted = [&](int v) {
    return submodel.SubmodelVariables[v] != 0 && model.Dimension[v] > 1;
  };
  std::set<Membership> effects;  // lexicographic order is the binary order
  for (int i = start; i < submodel.MarginCount(); ++i) {
    std::vector<int> members;
    for (int v = 0; v < kVectorSize; ++v) {
      if (counted(v) && submodel.EffectVariables[i][v] != 0) members.push_back(v);
    }
    // A term of ten or more variables has at least 2^9 effects outside any smaller term,
    // each with a parameter: more than the list can hold.
    if (members.size() >= 10) {
      list.full = true;
      return;
    }
    for (std::uint32_t mask = 0; mask < (1u << members.size()); ++mask) {
      Membership effect{};
      for (std::size_t b = 0; b < members.size(); ++b) {
        if ((mask >> (members.size() - 1 - b) & 1u) != 0) effect[members[b]] = 1;
      }
      if (r == 0 && mask == 0) continue;
      if (conditional && Inside(effect, submodel.EffectVariables[0])) continue;
      if (risk >= 0 && effect[risk] == 0) continue;
      effects.insert(effect);
    }
  }
  for (const Membership& effect : effects) {
    int size = 1;
    for (int v = 0; v < kVectorSize; ++v) {
      if (effect[v] != 0)
        size *= v == risk ? run.history.NonSelfTransitions : model.Dimension[v] - 1;
    }
    int margin = start;
    while (margin < submodel.MarginCount() && !Inside(effect, submodel.EffectVariables[margin])) {
      ++margin;
    }
    FreeParameter parameter;
    parameter.submodel = r;
    parameter.effect = effect;
    parameter.margin = margin;
    if (!list.AddEffect(parameter, size)) return;
  }
}

class LogLinear : public ModelFamily {
 public:
  std::string_view Name() const override { return "log-linear"; }

  void StartValues(EstimationRun& run, int r) const override {
    const Submodel& submodel = run.model.submodels[r];
    if (Owns(submodel)) StartFromMargins(run, r, submodel.LinLogSubmodel);
  }

  // Submodels with lin, log or mar restrictions have M-steps of their own instead.
  void FitSubmodel(EstimationRun& run, int r) const override {
    const Submodel* submodel = SubmodelAt(run.model, r);
    if (submodel != nullptr && Owns(*submodel) && !submodel->LinLogSubmodel &&
        submodel->MarSubmodel == MarRestrictions::kNone) {
      FitModelTerms(run, r);
    }
  }

  std::int64_t ParameterCount(const EstimationRun& run, int t) const override {
    const Submodel* submodel = SubmodelAt(run.model, t);
    // Submodels of restricted probabilities (eq2, eq3, or1, or2) are counted whole, the
    // total of the first submodel included, with the restricted parameters of the set-up.
    if (submodel == nullptr || submodel->IsSaturatedFixed() || submodel->HasRestrictedCells()) {
      return 0;
    }
    return CountLogLinearParameters(run, t);
  }

  // Submodel 0 only when include_first_submodel is on and there is no continuous covariate;
  // submodels tied by eq1 share the parameters of the one they are tied to, and the other
  // kinds have no log-linear parameters of their own.
  // A model term's parameter moves its submodel along its effect's coding, which the Newton code
  // forms (newton/parameter_effects.h); in the hazard part its entries of the information
  // matrix take central differences (the rates enter through exponentials of exposures).
  ParameterDirection DirectionOf(const EstimationRun&,
                                 const FreeParameter& parameter) const override {
    ParameterDirection direction;
    direction.kind = ParameterDirection::Kind::kModelTerm;
    direction.table = parameter.submodel;
    return direction;
  }
  bool CentralDifferences(const EstimationRun& run, const FreeParameter& parameter) const override {
    return parameter.submodel == HazardWorkOf(run).table;
  }
  // The submodels' tables but the cumulative ones take the log-linear form.
  TableForm FormOfTable(const EstimationRun& run, int t, ParameterDirection::Kind) const override {
    const bool cumulative =
        t >= 0 && t < run.model.SubmodelCount && run.model.submodels[t].IsCumulative();
    return t >= 0 && t < run.model.SubmodelCount && !cumulative ? TableForm::kLogLinear
                                                                : TableForm::kNotOwned;
  }

  void ListFreeParameters(const EstimationRun& run, ParameterGroup group,
                          FreeParameterList& list) const override {
    if (group != ParameterGroup::kLogLinear) return;
    const ModelState& model = run.model;
    const bool with_first = run.settings.include_first_submodel && model.CovariateCount == 0;
    for (int r = with_first ? 0 : 1; r < model.SubmodelCount && !list.full; ++r) {
      if (model.submodels[r].IsLogLinear()) ListSubmodelParameters(run, r, list);
    }
    if (run.history.HazardModel && static_cast<int>(model.submodels.size()) > model.SubmodelCount &&
        !list.full) {
      ListSubmodelParameters(run, model.SubmodelCount, list);
    }
  }

 private:
  // The kinds of submodel this family models.
  static bool Owns(const Submodel& submodel) { return submodel.IsLogLinear() || submodel.IsTied(); }
};

}  // namespace

const ModelFamily& LogLinearFamily() {
  static const LogLinear family;
  return family;
}

}  // namespace tav
