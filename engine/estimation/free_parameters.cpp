#include "estimation/free_parameters.h"

#include <cstdlib>
#include <set>
#include <vector>

namespace tav {
namespace {

// The categories of the variables marked in vars (variable order, last fastest) of cell.
std::vector<int> DecodeCell(const ModelState& model, const std::vector<int>& vars,
                            std::int64_t cell) {
  std::vector<int> category(vars.size(), 0);
  for (int k = static_cast<int>(vars.size()) - 1; k >= 0; --k) {
    const int dim = std::max(model.Dimension[vars[k]], 1);
    category[k] = static_cast<int>(cell % dim);
    cell /= dim;
  }
  return category;
}

std::vector<int> MembersOf(const Membership& set) {
  std::vector<int> vars;
  for (int v = 0; v < kVectorSize; ++v) {
    if (set[v] != 0) vars.push_back(v);
  }
  return vars;
}

bool Inside(const Membership& subset, const Membership& set) {
  for (int v = 0; v < kVectorSize; ++v) {
    if (subset[v] != 0 && set[v] == 0) return false;
  }
  return true;
}

}  // namespace

ReferenceVector EffectiveReference(const EstimationRun& run, int t) {
  const ModelState& model = run.model;
  ReferenceVector reference;
  reference.fill(-1);
  const bool own = t >= 0 && t < static_cast<int>(model.submodels.size());
  for (int v = 0; v < model.VariableCount && v < kVectorSize; ++v) {
    reference[v] = run.settings.dummy_reference[v];
    const bool conditioning = own && t > 0 && model.submodels[t].MarginCount() > 0 &&
                              model.submodels[t].EffectVariables[0][v] != 0;
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

void BuildParameterList(EstimationRun& run) {
  FreeParameterList& list = run.estimation.free_parameters;
  if (list.built) return;
  list.built = true;
  list.parameters.clear();
  const ModelState& model = run.model;
  int count = 0;
  bool overflow = false;
  auto add = [&](const FreeParameter& parameter) {
    list.parameters.push_back(parameter);
    ++count;
  };

  const bool with_first = run.settings.include_first_submodel && model.CovariateCount == 0;
  for (int r = with_first ? 0 : 1; r < model.SubmodelCount && !overflow; ++r) {
    const Submodel& submodel = model.submodels[r];
    // Submodels tied by eq1 share the parameters of the one they are tied to; the
    // restricted kinds and the saturated fixed margins have no log-linear parameters.
    if (!submodel.IsLogLinear()) continue;
    const int start = r > 0 ? 1 : 0;
    // Variables of one category add no parameters: effects holding them are left out.
    auto counted = [&](int v) {
      return submodel.SubmodelVariables[v] != 0 && model.Dimension[v] > 1;
    };
    std::set<Membership> effects;  // lexicographic order is the binary order, first variable
                                   // most significant
    for (int i = start; i < submodel.MarginCount() && !overflow; ++i) {
      std::vector<int> members;
      for (int v = 0; v < kVectorSize; ++v) {
        if (counted(v) && submodel.EffectVariables[i][v] != 0) members.push_back(v);
      }
      // A term of ten or more variables has at least 2^9 effects outside any smaller term,
      // each with a parameter: more than the list can hold.
      if (members.size() >= 10) {
        overflow = true;
        break;
      }
      for (std::uint32_t mask = 0; mask < (1u << members.size()); ++mask) {
        Membership effect{};
        for (std::size_t b = 0; b < members.size(); ++b) {
          if ((mask >> (members.size() - 1 - b) & 1u) != 0) effect[members[b]] = 1;
        }
        if (r == 0 && mask == 0) continue;
        if (r > 0 && Inside(effect, submodel.EffectVariables[0])) continue;
        effects.insert(effect);
      }
    }
    if (overflow) break;
    for (const Membership& effect : effects) {
      const std::vector<int> vars = MembersOf(effect);
      int size = 1;
      for (int v : vars) size *= model.Dimension[v] - 1;
      if (count + size > kMaxFreeParameters) {
        overflow = true;
        break;
      }
      int margin = start;
      while (margin < submodel.MarginCount() && !Inside(effect, submodel.EffectVariables[margin])) {
        ++margin;
      }
      for (int position = 0; position < size; ++position) {
        add({r, effect, margin, -1, position, size});
      }
    }
  }
  list.loglinear_count = count;

  // Special effects: their parameters times their multiplier, less one per copy for the
  // models whose first level is fixed.
  for (int r = 0; r < model.SubmodelCount && !overflow; ++r) {
    const Submodel& submodel = model.submodels[r];
    for (int d = 0; d < submodel.DesignTermCount() && !overflow; ++d) {
      const Design& design = submodel.designs[d];
      const DesignFamily family = design.family;
      if (design.reserved || family == DesignFamily::kFixedWeights ||
          family == DesignFamily::kLinLog || family == DesignFamily::kMarginal) {
        continue;
      }
      int copies = 1;
      if (design.interaction == DesignInteraction::kC) {
        copies = std::abs(design.group_multiplier);
        if (copies == 0) {
          copies = 1;
          for (int v = 0; v < kVectorSize; ++v) {
            if (design.DesignVariables[v] == 255) copies *= model.Dimension[v];
          }
        }
      }
      const int fixed = design.FixesFirstLevel() ? 1 : 0;
      const int size = copies * (design.DesignCountParam - fixed);
      if (size <= 0) continue;
      if (count + size > kMaxFreeParameters) {
        overflow = true;
        break;
      }
      Membership effect{};
      for (int v = 0; v < kVectorSize; ++v) effect[v] = design.DesignVariables[v] == 1;
      for (int position = 0; position < size; ++position) add({r, effect, -1, d, position, size});
    }
  }

  list.count = overflow ? kMaxFreeParameters + 1 : count;
}

int ParameterIndex(const ModelState& model, const FreeParameterList& list, const int* reference,
                   int submodel, const Membership& effect, std::int64_t cell) {
  const int size = static_cast<int>(list.parameters.size());
  int first = 0;
  for (; first < size; ++first) {
    const FreeParameter& parameter = list.parameters[first];
    if (parameter.design != -1 || parameter.submodel != submodel) continue;
    bool same = true;
    for (int v = 0; v < kVectorSize && same; ++v) {
      same = (parameter.effect[v] != 0) == (effect[v] != 0);
    }
    if (same) break;
  }
  if (first >= size || list.parameters[first].position != 0) return -1;

  const std::vector<int> vars = MembersOf(effect);
  const std::vector<int> category = DecodeCell(model, vars, cell);
  int position = 0;
  for (std::size_t k = 0; k < vars.size(); ++k) {
    const int v = vars[k];
    const int dim = model.Dimension[v];
    const int ref = reference != nullptr ? reference[v] : -1;
    int q = category[k];
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
