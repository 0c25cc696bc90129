#include "estimation/free_parameters.h"

#include <vector>

#include "estimation/model_family.h"

namespace tav {
namespace {

std::vector<int> MembersOf(const Membership& set) {
  std::vector<int> vars;
  for (int v = 0; v < kVectorSize; ++v) {
    if (set[v] != 0) vars.push_back(v);
  }
  return vars;
}

}  // namespace

ReferenceVector EffectiveReference(const EstimationRun& run, int t) {
  const ModelState& model = run.model;
  ReferenceVector reference;
  reference.fill(-1);
  const bool own = t >= 0 && t < static_cast<int>(model.submodels.size());
  for (int v = 0; v < model.VariableCount && v < kVectorSize; ++v) {
    reference[v] = run.settings.dummy_reference[v];
    // The hazard submodel's variables are all covariates.
    const bool conditioning = own && t > 0 && model.submodels[t].MarginCount() > 0 &&
                              (model.submodels[t].EffectVariables[0][v] != 0 ||
                               (run.history.HazardModel && t == model.SubmodelCount));
    if (reference[v] == 0 && (t == 0 || conditioning)) reference[v] = model.Dimension[v];
  }
  return reference;
}

bool FreeParameterList::Fits(int r) const {
  if (!Usable()) return false;
  for (const FreeParameter& parameter : parameters) {
    if (parameter.submodel == r) return true;
  }
  return false;
}

bool FreeParameterList::AddEffect(const FreeParameter& prototype, int size) {
  if (full) return false;
  if (static_cast<int>(parameters.size()) + size > kMaxFreeParameters) {
    full = true;
    return false;
  }
  FreeParameter parameter = prototype;
  parameter.effect_size = size;
  for (int position = 0; position < size; ++position) {
    parameter.position = position;
    parameters.push_back(parameter);
  }
  return true;
}

void BuildParameterList(EstimationRun& run) {
  FreeParameterList& list = run.estimation.free_parameters;
  if (list.built) return;
  list = FreeParameterList{};
  list.built = true;
  const FamilyList& families = FamiliesOf(run);
  for (const ParameterGroup group : {ParameterGroup::kLogLinear, ParameterGroup::kSpecialEffects}) {
    for (std::size_t place = 0; place < families.size(); ++place) {
      if (list.full) continue;
      const std::size_t first = list.parameters.size();
      families[place]->ListFreeParameters(run, group, list);
      for (std::size_t i = first; i < list.parameters.size(); ++i) {
        list.parameters[i].family = static_cast<int>(place);
      }
    }
    if (group == ParameterGroup::kLogLinear) {
      list.loglinear_count = static_cast<int>(list.parameters.size());
    }
  }
}

int DiscreteRiskVariable(const EstimationRun& run, int submodel) {
  const ModelState& model = run.model;
  if (!run.history.HazardModel || run.history.TimeKind != TimeModel::kDiscrete ||
      submodel != model.SubmodelCount) {
    return -1;
  }
  const std::vector<int> variables = SubmodelVariableList(model, submodel);
  return variables.empty() ? -1 : variables.back();
}

std::vector<int> MoveRiskIndex(const EstimationRun& run) {
  const EventHistoryState& history = run.history;
  std::vector<int> index(std::max(history.RiskCount, 0), -1);
  int next = 0;
  for (int k = 1; k <= history.RiskCount; ++k) {
    bool stay = false;
    for (int a = 0; a < history.StateCount; ++a) stay = stay || history.RiskOf(a, a) == k;
    if (!stay) index[k - 1] = next++;
  }
  return index;
}

int ParameterIndex(const EstimationRun& run, const int* reference, int submodel,
                   const Membership& effect, std::int64_t cell) {
  const ModelState& model = run.model;
  const FreeParameterList& list = run.estimation.free_parameters;
  const int risk = DiscreteRiskVariable(run, submodel);
  const std::vector<int> moves = risk >= 0 ? MoveRiskIndex(run) : std::vector<int>();
  const int size = static_cast<int>(list.parameters.size());
  int first = 0;
  for (; first < size; ++first) {
    const FreeParameter& parameter = list.parameters[first];
    if (!parameter.IsLogLinear() || parameter.submodel != submodel) continue;
    bool same = true;
    for (int v = 0; v < kVectorSize && same; ++v) {
      same = (parameter.effect[v] != 0) == (effect[v] != 0);
    }
    if (same) break;
  }
  if (first >= size || list.parameters[first].position != 0) return -1;

  const std::vector<int> vars = MembersOf(effect);
  const std::vector<int> category = CellCategories(model, vars, cell);
  int position = 0;
  for (std::size_t k = 0; k < vars.size(); ++k) {
    const int v = vars[k];
    const int dim = model.Dimension[v];
    const int ref = reference != nullptr ? reference[v] : -1;
    int q = category[k];
    if (v == risk) {
      if (q < 0 || q >= static_cast<int>(moves.size()) || moves[q] < 0) return -1;
      position = position * run.history.NonSelfTransitions + moves[q];
      continue;
    }
    if (ref >= 1) {
      if (q == ref - 1) return -1;
      if (q > ref - 1) --q;
    } else if (q == dim - 1) {
      return -1;
    }
    position = position * (dim - 1) + q;
  }
  if (position >= list.parameters[first].effect_size || first + position >= size) {
    return -1;
  }
  return first + position;
}

}  // namespace tav
