#ifndef TAV_ENGINE_CORE_RANDOM_H_
#define TAV_ENGINE_CORE_RANDOM_H_

#include <cstdint>
#include <vector>

#include "core/model_state.h"
#include "core/run_context.h"

namespace tav {

// The state of a fit's random generator.
struct RandomGenerator {
  // The state x of the generator: the seed `see` gave (reduced modulo 2796203), then the
  // states it stepped through.
  double state = 0;
  // The seed the fit started from as the report gives it (SeedFromClock), and the random
  // amplitude of the seed given (SeedAmplitude).
  std::int32_t seed_used = 0;
  std::int32_t amplitude = 1;
};

// One step of the multiplicative congruential generator x <- 125 x mod 2796203, done in
// floating point on random.state; returns the new state divided by 2796203, in (0, 1).
double NextRandom(RandomGenerator& random);

// Uniform numbers of NextRandom for draws that take several numbers at a time (one record of
// simulated data: its cell, then the times of its events). Consecutive states of the generator
// lie on 125 lines in the unit square, so that a draw made right after a small one is far from
// uniform; the shuffle of Bays and Durham breaks that up: a table of kShuffleSize numbers of the
// generator, and every draw returns the entry that the previous draw points at (its value times
// kShuffleSize) and puts the generator's next number in its place. The stream is the run's:
// reproducible by the seed, and it continues the generator's state. draws() counts the numbers
// taken from the generator.
class ShuffledRandom {
 public:
  static constexpr int kShuffleSize = 97;
  explicit ShuffledRandom(RandomGenerator& random);
  double Next();
  std::int64_t draws() const { return draws_; }

 private:
  RandomGenerator& random_;
  double table_[kShuffleSize];
  double last_ = 0;
  std::int64_t draws_ = 0;
};

// The period of the generator: a stream of more numbers repeats itself.
inline constexpr std::int64_t kRandomPeriod = 2796202;

// A random start value for a parameter of submodel index of model: 0 when the submodel has no
// random start values, else (x / 2796203 - 0.5) * 0.5 * amplitude for the next state x.
double RandomStart(RandomGenerator& random, const ModelState& model, int submodel);

// The random amplitude that seed s gives (`see`): 1 below 10000 and one more for every further
// 10000, at most the largest 32-bit integer.
std::int32_t SeedAmplitude(double seed);

// The smallest amplitude of the seeds of random starts (`rst`): start values within
// +-kRandomStartAmplitude / 4 on the log scale.
inline constexpr std::int32_t kRandomStartAmplitude = 10;

// The seeds of `count` random starts (count at most 9990), derived from the run's seed: all of
// amplitude A = max(run_amplitude, kRandomStartAmplitude), that is (A - 1) * 10000 + r with r in
// 1 .. 9999 and no multiple of 1000 (which `see` would replace by the clock), r running through
// 1 + (h + i * 7919) mod 9999 for i = 0, 1, ... with h = run_seed mod 9999 (A is at most
// 214748, the largest whose seeds are 32-bit integers). 7919 and 9999 have
// no common divisor, so the seeds are distinct, and their first random values spread evenly.
std::vector<std::int32_t> RandomStartSeeds(std::int32_t run_seed, std::int32_t run_amplitude,
                                           int count);

// The generator a fit starts from, for the seed and amplitude of `see` read at the clock's
// reading now: when the integer part of the seed is a multiple of 1000 (no seed given counts as
// 0), it is replaced by seconds * 100 + milliseconds + 1 of the reading (1 to 6900). seed_used
// is the seed rounded.
RandomGenerator StartingGenerator(double seed, std::int32_t amplitude, const ClockReading& now);

// The time of day of a reading in seconds (hours * 3600 + minutes * 60 + seconds + ms / 1000).
double SecondsOfDay(const ClockReading& now);

}  // namespace tav

#endif  // TAV_ENGINE_CORE_RANDOM_H_
