#ifndef TAV_ENGINE_NEWTON_PARAMETER_LIST_H_
#define TAV_ENGINE_NEWTON_PARAMETER_LIST_H_

#include <array>

#include "core/run_state.h"

namespace tav {

using ReferenceVector = std::array<int, kVectorSize>;

// The reference categories the log-linear parameters of submodel t are coded with, by global
// variable number: the `dum` value of the variable (counted from 1), a `dum` value of 0 being
// the last category when t is 0 or the variable is a conditioning variable of t; -1 (or 0
// otherwise) means effect coding.
ReferenceVector EffectiveReference(const RunState& run, int t);

// Builds the free-parameter list once per run: the log-linear parameters submodel by
// submodel (submodel 0 only when include_first_submodel is on and there is no continuous
// covariate), effect by effect in binary order of the submodel's variables (first variable
// most significant), each effect a subset of one of the submodel's model terms (without the
// constant of submodel 0, and in the other submodels only subsets with a variable outside
// the conditioning margin), with (categories - 1) parameters per variable; then the
// parameters of the special effects. A list that would pass 500 parameters stops there and
// counts 501, and show_std_errors is cleared, as it is for an empty list.
void BuildParameterList(RunState& run);

// The list exists and has between 1 and 500 parameters, so Newton steps and standard errors
// can be computed.
bool NewtonUsable(const NewtonState& newton);

// The Newton-type iterations estimate submodel r: the list is usable and holds parameters of
// r. The other submodels keep their EM M-steps while the Newton-type iterations run.
bool NewtonFitsSubmodel(const NewtonState& newton, int r);

}  // namespace tav

#endif  // TAV_ENGINE_NEWTON_PARAMETER_LIST_H_
