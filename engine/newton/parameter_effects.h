#ifndef TAV_ENGINE_NEWTON_PARAMETER_EFFECTS_H_
#define TAV_ENGINE_NEWTON_PARAMETER_EFFECTS_H_

#include <vector>

#include "newton/run_state.h"

namespace tav {

// Sets up, once per run, how each log-linear parameter of the free-parameter list acts on the
// tables (run.newton.effect_shapes, margin_effect_shapes and effect_signs); special-effect
// parameters get empty entries. The list must be built.
void PrepareParameterEffects(RunState& run);

// Per cell of a parameter's effect, the factor by which moving the parameter by delta
// multiplies the cells under it: exp(delta) raised to the cell's sign (-1, 0 or 1).
std::vector<double> EffectFactors(const std::vector<signed char>& signs, double delta);

}  // namespace tav

#endif  // TAV_ENGINE_NEWTON_PARAMETER_EFFECTS_H_
