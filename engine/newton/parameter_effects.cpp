#include "newton/parameter_effects.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/elementary.h"
#include "estimation/free_parameters.h"

namespace tav {
namespace {

// The category (from 0) that a parameter's index q (from 0, over the categories that carry
// parameters) stands for.
int ParameterCategory(int q, int reference) {
  return reference >= 1 && q >= reference - 1 ? q + 1 : q;
}

// Per cell of the effect, the exponent of exp(delta) for the parameter at position: the
// product over the effect's variables of 1 at the parameter's category, -1 at the last
// category under effect coding, 0 elsewhere.
//
// The risk variable of a discrete-time hazard submodel (risk >= 0) is coded against staying: the
// parameter's risk (the move with place q in moves) has 1, every other risk 0.
std::vector<signed char> EffectSigns(const ModelState& model, const std::vector<int>& vars,
                                     const ReferenceVector& reference, int position, int risk,
                                     const std::vector<int>& moves) {
  std::int64_t cells = 1;
  std::vector<int> chosen(vars.size(), 0);
  int rest = position;
  const int move_count =
      static_cast<int>(std::count_if(moves.begin(), moves.end(), [](int q) { return q >= 0; }));
  for (int k = static_cast<int>(vars.size()) - 1; k >= 0; --k) {
    if (vars[k] == risk && move_count > 0) {
      const int q = rest % move_count;
      chosen[k] = static_cast<int>(std::find(moves.begin(), moves.end(), q) - moves.begin());
      rest /= move_count;
      continue;
    }
    const int dim = model.Dimension[vars[k]];
    chosen[k] = ParameterCategory(rest % (dim - 1), reference[vars[k]]);
    rest /= dim - 1;
  }
  for (int v : vars) cells *= model.Dimension[v];
  std::vector<signed char> signs(cells, 0);
  for (std::int64_t e = 0; e < cells; ++e) {
    const std::vector<int> category = CellCategories(model, vars, e);
    int sign = 1;
    for (std::size_t k = 0; k < vars.size() && sign != 0; ++k) {
      const int v = vars[k];
      if (category[k] == chosen[k]) continue;
      if (v != risk && reference[v] < 1 && category[k] == model.Dimension[v] - 1) {
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

void PrepareParameterEffects(RunState& run) {
  NewtonState& newton = run.newton;
  if (newton.effects_ready) return;
  newton.effects_ready = true;
  const ModelState& model = run.model;
  const FreeParameterList& list = run.estimation.free_parameters;
  newton.effect_shapes.clear();
  newton.margin_effect_shapes.clear();
  newton.effect_signs.clear();
  for (std::size_t i = 0; i < list.parameters.size(); ++i) {
    const FreeParameter& parameter = list.parameters[i];
    // The parameters of the model terms come first; the others belong to families that move
    // them themselves.
    if (static_cast<int>(i) >= list.loglinear_count) {
      newton.effect_shapes.emplace_back();
      newton.margin_effect_shapes.emplace_back();
      newton.effect_signs.emplace_back();
      continue;
    }
    const Submodel& submodel = model.submodels[parameter.submodel];
    Submodel margin_table;
    for (int v = 0; v < kVectorSize; ++v) {
      margin_table.SubmodelVariables[v] =
          submodel.SubmodelVariables[v] != 0 && submodel.EffectVariables[parameter.margin][v] != 0;
    }
    std::vector<int> vars;
    for (int v = 0; v < kVectorSize; ++v) {
      if (parameter.effect[v] != 0) vars.push_back(v);
    }
    newton.effect_shapes.emplace_back(model, submodel, parameter.effect);
    newton.margin_effect_shapes.emplace_back(model, margin_table, parameter.effect);
    const int risk = DiscreteRiskVariable(run, parameter.submodel);
    newton.effect_signs.push_back(
        EffectSigns(model, vars, EffectiveReference(run, parameter.submodel), parameter.position,
                    risk, risk >= 0 ? MoveRiskIndex(run) : std::vector<int>()));
  }
}

std::vector<double> EffectFactors(const std::vector<signed char>& signs, double delta) {
  const double up = Exp(delta);
  const double down = Exp(-delta);
  std::vector<double> factor(signs.size());
  for (std::size_t e = 0; e < signs.size(); ++e) {
    factor[e] = signs[e] > 0 ? up : signs[e] < 0 ? down : 1.0;
  }
  return factor;
}

}  // namespace tav
