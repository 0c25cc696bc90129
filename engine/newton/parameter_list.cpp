#include "newton/parameter_list.h"

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

// The category (from 0) that a parameter's index q (from 0, over the categories that carry
// parameters) stands for.
int ParameterCategory(int q, int reference) {
  return reference >= 1 && q >= reference - 1 ? q + 1 : q;
}

// Per cell of the effect, the exponent of exp(delta) for the parameter at position: the
// product over the effect's variables of 1 at the parameter's category, -1 at the last
// category under effect coding, 0 elsewhere.
std::vector<signed char> EffectSigns(const ModelState& model, const std::vector<int>& vars,
                                     const ReferenceVector& reference, int position) {
  std::int64_t cells = 1;
  std::vector<int> chosen(vars.size(), 0);
  int rest = position;
  for (int k = static_cast<int>(vars.size()) - 1; k >= 0; --k) {
    const int dim = model.Dimension[vars[k]];
    chosen[k] = ParameterCategory(rest % (dim - 1), reference[vars[k]]);
    rest /= dim - 1;
  }
  for (int v : vars) cells *= model.Dimension[v];
  std::vector<signed char> signs(cells, 0);
  for (std::int64_t e = 0; e < cells; ++e) {
    const std::vector<int> category = DecodeCell(model, vars, e);
    int sign = 1;
    for (std::size_t k = 0; k < vars.size() && sign != 0; ++k) {
      const int v = vars[k];
      if (category[k] == chosen[k]) continue;
      if (reference[v] < 1 && category[k] == model.Dimension[v] - 1) {
        sign = -sign;
      } else {
        sign = 0;
      }
    }
    signs[e] = static_cast<signed char>(sign);
  }
  return signs;
}

}  // namespace

ReferenceVector EffectiveReference(const RunState& run, int t) {
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

bool NewtonUsable(const NewtonState& newton) {
  return newton.list_built && newton.free_parameter_count > 0 &&
         newton.free_parameter_count <= kMaxFreeParameters;
}

bool NewtonFitsSubmodel(const NewtonState& newton, int r) {
  if (!NewtonUsable(newton)) return false;
  for (const FreeParameter& parameter : newton.free_parameters) {
    if (parameter.submodel == r) return true;
  }
  return false;
}

void BuildParameterList(RunState& run) {
  NewtonState& newton = run.newton;
  if (newton.list_built) return;
  newton.list_built = true;
  newton.free_parameters.clear();
  newton.effect_shapes.clear();
  newton.margin_effect_shapes.clear();
  newton.effect_signs.clear();
  const ModelState& model = run.model;
  int count = 0;
  bool overflow = false;
  auto add = [&](const FreeParameter& parameter) {
    newton.free_parameters.push_back(parameter);
    ++count;
  };

  const bool with_first = run.settings.include_first_submodel && model.CovariateCount == 0;
  for (int r = with_first ? 0 : 1; r < model.SubmodelCount && !overflow; ++r) {
    const Submodel& submodel = model.submodels[r];
    // Submodels tied by eq1 share the parameters of the one they are tied to; the
    // restricted kinds and the saturated fixed margins have no log-linear parameters.
    const int kind = submodel.SubmodelKind;
    if (kind != -1 && kind != -2) continue;
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
    const ReferenceVector reference = EffectiveReference(run, r);
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
      Submodel margin_table;
      for (int v = 0; v < kVectorSize; ++v) {
        margin_table.SubmodelVariables[v] =
            submodel.SubmodelVariables[v] != 0 && submodel.EffectVariables[margin][v] != 0;
      }
      const MarginShape shape(model, submodel, effect);
      const MarginShape margin_shape(model, margin_table, effect);
      for (int position = 0; position < size; ++position) {
        add({r, effect, margin, -1, position, size});
        newton.effect_shapes.push_back(shape);
        newton.margin_effect_shapes.push_back(margin_shape);
        newton.effect_signs.push_back(EffectSigns(model, vars, reference, position));
      }
    }
  }
  newton.loglinear_parameter_count = count;

  // Special effects: their parameters times their multiplier, less one per copy for the
  // models whose first level is fixed.
  for (int r = 0; r < model.SubmodelCount && !overflow; ++r) {
    const Submodel& submodel = model.submodels[r];
    for (int d = 0; d < submodel.DesignTermCount() && !overflow; ++d) {
      const Design& design = submodel.designs[d];
      const int family = design.DesignType / 10;
      if (design.reserved || family == 3 || family == 4 || family == 5) continue;
      int copies = 1;
      if (design.DesignType % 10 == 2) {
        copies = std::abs(design.group_multiplier);
        if (copies == 0) {
          copies = 1;
          for (int v = 0; v < kVectorSize; ++v) {
            if (design.DesignVariables[v] == 255) copies *= model.Dimension[v];
          }
        }
      }
      const int fixed = family == 7 || family == 8 || family == 13 || family == 14 ? 1 : 0;
      const int size = copies * (design.DesignCountParam - fixed);
      if (size <= 0) continue;
      if (count + size > kMaxFreeParameters) {
        overflow = true;
        break;
      }
      Membership effect{};
      for (int v = 0; v < kVectorSize; ++v) effect[v] = design.DesignVariables[v] == 1;
      for (int position = 0; position < size; ++position) {
        add({r, effect, -1, d, position, size});
        newton.effect_shapes.emplace_back();
        newton.margin_effect_shapes.emplace_back();
        newton.effect_signs.emplace_back();
      }
    }
  }

  newton.free_parameter_count = overflow ? kMaxFreeParameters + 1 : count;
  if (!NewtonUsable(newton)) run.settings.show_std_errors = false;
}

int ParameterIndex(const ModelState& model, const NewtonState& newton, const int* reference,
                   int submodel, const Membership& effect, std::int64_t cell) {
  const int size = static_cast<int>(newton.free_parameters.size());
  int first = 0;
  for (; first < size; ++first) {
    const FreeParameter& parameter = newton.free_parameters[first];
    if (parameter.design != -1 || parameter.submodel != submodel) continue;
    bool same = true;
    for (int v = 0; v < kVectorSize && same; ++v) {
      same = (parameter.effect[v] != 0) == (effect[v] != 0);
    }
    if (same) break;
  }
  if (first >= size || newton.free_parameters[first].position != 0) return -1;

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
  if (position >= newton.free_parameters[first].effect_size || first + position >= size) {
    return -1;
  }
  return first + position;
}

}  // namespace tav
