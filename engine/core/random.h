#ifndef TAV_ENGINE_CORE_RANDOM_H_
#define TAV_ENGINE_CORE_RANDOM_H_

#include "core/run_context.h"

namespace tav {

// One step of the multiplicative congruential generator x <- 125 x mod 2796203, done in
// floating point on run.RandomSeed; returns the new state divided by 2796203, in (0, 1).
double NextRandom(RunContext& run);

// A random start value for a parameter of submodel index: 0 when the submodel has no random
// start values, else (x / 2796203 - 0.5) * 0.5 * random_amplitude for the next state x.
double RandomStart(RunContext& run, int submodel);

// The local time of day in seconds (hours * 3600 + minutes * 60 + seconds + ms / 1000).
// When the integer part of RandomSeed is a multiple of 1000 (no seed given counts as 0), the
// seed is replaced by seconds * 100 + milliseconds + 1 of the same reading (1 to 6900).
// SeedUsed becomes RandomSeed rounded.
double TimeOfDaySeconds(RunContext& run);

}  // namespace tav

#endif  // TAV_ENGINE_CORE_RANDOM_H_
