#include "core/random.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tav {
namespace {
constexpr double kModulus = 2796203.0;
}

double NextRandom(RandomGenerator& random) {
  const double x = random.state * 125.0;
  random.state = x - kModulus * std::floor(x / kModulus);
  return random.state / kModulus;
}

ShuffledRandom::ShuffledRandom(RandomGenerator& random) : random_(random) {
  for (double& value : table_) value = NextRandom(random_);
  last_ = NextRandom(random_);
  draws_ = kShuffleSize + 1;
}

double ShuffledRandom::Next() {
  const int j = std::clamp(static_cast<int>(last_ * kShuffleSize), 0, kShuffleSize - 1);
  last_ = table_[j];
  table_[j] = NextRandom(random_);
  ++draws_;
  return last_;
}

double RandomStart(RandomGenerator& random, const ModelState& model, int submodel) {
  const auto& submodels = model.submodels;
  if (submodel < 0 || submodel >= static_cast<int>(submodels.size()) ||
      !submodels[submodel].random_start) {
    return 0.0;
  }
  return (NextRandom(random) - 0.5) * 0.5 * random.amplitude;
}

std::int32_t SeedAmplitude(double seed) {
  constexpr double kMax = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(std::min(std::trunc(seed * 0.0001) + 1, kMax));
}

std::vector<std::int32_t> RandomStartSeeds(std::int32_t run_seed, std::int32_t run_amplitude,
                                           int count) {
  constexpr std::int64_t kBand = 9999;
  constexpr std::int64_t kStride = 7919;
  // The largest amplitude whose seeds are all 32-bit integers.
  constexpr std::int32_t kLargest = 214748;
  const std::int64_t amplitude =
      std::clamp(run_amplitude, kRandomStartAmplitude, std::max(kLargest, kRandomStartAmplitude));
  const std::int64_t base = (amplitude - 1) * 10000;
  const std::int64_t h = (static_cast<std::int64_t>(run_seed) % kBand + kBand) % kBand;
  std::vector<std::int32_t> seeds;
  for (std::int64_t i = 0; static_cast<int>(seeds.size()) < count && i < kBand; ++i) {
    const std::int64_t r = 1 + (h + i * kStride) % kBand;
    if (r % 1000 == 0) continue;
    seeds.push_back(static_cast<std::int32_t>(base + r));
  }
  return seeds;
}

RandomGenerator StartingGenerator(double seed, std::int32_t amplitude, const ClockReading& now) {
  RandomGenerator random;
  random.state = seed;
  random.amplitude = amplitude;
  if (std::fmod(std::trunc(random.state), 1000.0) == 0.0) {
    random.state = now.seconds * 100 + now.milliseconds + 1;
  }
  const double rounded = std::round(random.state);
  constexpr double kMax = std::numeric_limits<std::int32_t>::max();
  random.seed_used = static_cast<std::int32_t>(std::clamp(rounded, -kMax, kMax));
  return random;
}

double SecondsOfDay(const ClockReading& now) {
  return now.hours * 3600.0 + now.minutes * 60.0 + now.seconds + now.milliseconds * 0.001;
}

}  // namespace tav
