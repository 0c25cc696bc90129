#ifndef TAV_ENGINE_NEWTON_PARAMETER_EFFECTS_H_
#define TAV_ENGINE_NEWTON_PARAMETER_EFFECTS_H_

#include "newton/run_state.h"

namespace tav {

// Sets up, once per run, how each log-linear parameter of the free-parameter list acts on the
// tables (run.newton.effect_shapes, margin_effect_shapes and effect_signs); special-effect
// parameters get empty entries. The list must be built.
void PrepareParameterEffects(RunState& run);

}  // namespace tav

#endif  // TAV_ENGINE_NEWTON_PARAMETER_EFFECTS_H_
