#ifndef TAV_ENGINE_REPORT_LOGLINEAR_EFFECTS_H_
#define TAV_ENGINE_REPORT_LOGLINEAR_EFFECTS_H_

#include <array>
#include <cstdint>
#include <vector>

#include "newton/run_state.h"

namespace tav {

// The log-linear parameters of a submodel's table, peeled from the multiplicative parameters of
// its fitted margins: per effect (every subset of the variables of a margin) and effect cell the
// mean log margin parameter over the margin cells of that effect cell, divided out of the
// margins before the larger effects are taken.

// Per variable (global variable number) the reference category of a table, counted from 1;
// 0 or -1 for a variable without one (effect coding).
using ReferenceCategories = std::array<int, kVectorSize>;

// One log-linear effect of a submodel with its parameters (beta), one per effect cell in mixed
// radix over the effect's variables (variable order, the last fastest).
struct LogLinearEffect {
  Membership variables{};       // by global variable number
  std::vector<int> members;     // the effect's variables, in variable order
  std::vector<double> beta;     // per effect cell
  std::vector<bool> estimated;  // false where no fitted margin cell gave a value
};

// The reference categories of submodel t's table: `dummy_reference`, with a value of 0 taken
// as the last category for the first submodel and for conditioning variables (the codings of
// the free parameters).
ReferenceCategories TableReferences(const RunState& run, int t);

// The effects of submodel t in report order (by number of variables, then by position code)
// with their parameters, peeled from the multiplicative margin parameters: every subset of the
// submodel's variables inside one of its fitted margins (from the second on when conditional).
// Effect coding for variables without a reference category, dummy coding for the others.
std::vector<LogLinearEffect> LogLinearParameters(const RunState& run, int t, bool conditional,
                                                 const ReferenceCategories& reference);

// The number of margin parameters of submodel t that are exactly 0 (fitted zero margins),
// over its fitted margins from the second on when conditional.
std::int64_t FittedZeroMargins(const RunState& run, int t, bool conditional);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_LOGLINEAR_EFFECTS_H_
