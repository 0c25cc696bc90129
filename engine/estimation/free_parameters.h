#ifndef TAV_ENGINE_ESTIMATION_FREE_PARAMETERS_H_
#define TAV_ENGINE_ESTIMATION_FREE_PARAMETERS_H_

#include <array>
#include <cstdint>
#include <vector>

#include "core/model_state.h"
#include "estimation/estimation_state.h"

namespace tav {

using ReferenceVector = std::array<int, kVectorSize>;

// The reference categories the log-linear parameters of submodel t are coded with, by global
// variable number: the `dum` value of the variable (counted from 1), a `dum` value of 0 being
// the last category when t is 0 or the variable is a conditioning variable of t; -1 (or 0
// otherwise) means effect coding.
ReferenceVector EffectiveReference(const EstimationRun& run, int t);

// Builds run.estimation.free_parameters once per run, from the families: the log-linear
// parameters (their order is the log-linear family's), then the parameters of the special
// effects. A list that would pass 500 parameters stops there and counts 501.
void BuildParameterList(EstimationRun& run);

// The index in the list of the log-linear parameter of submodel `submodel`, effect `effect`, at
// effect cell `cell` (mixed radix over the effect's variables with all their categories, last
// fastest), or -1 when that cell carries no free parameter. reference[v] (by global variable
// number) >= 1 makes category reference[v] (counted from 1) the reference category of variable
// v (dummy coding); any other value means effect coding, under which the last category carries
// no parameter. EffectiveReference gives the references the free parameters were coded with.
//
// In discrete time the hazard submodel's effects hold parameters only at the risks that leave
// their state (MoveRiskIndex), the risk variable being coded against staying.
int ParameterIndex(const EstimationRun& run, const int* reference, int submodel,
                   const Membership& effect, std::int64_t cell);

// The risk variable of a discrete-time hazard submodel, or -1; and per category of it (a risk,
// from 0) its place among the risks that leave their state, -1 for a stay.
int DiscreteRiskVariable(const EstimationRun& run, int submodel);
std::vector<int> MoveRiskIndex(const EstimationRun& run);

}  // namespace tav

#endif  // TAV_ENGINE_ESTIMATION_FREE_PARAMETERS_H_
