#include "core/random.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tav {
namespace {
constexpr double kModulus = 2796203.0;
}

double NextRandom(RunContext& run) {
  const double x = run.RandomSeed * 125.0;
  run.RandomSeed = x - kModulus * std::floor(x / kModulus);
  return run.RandomSeed / kModulus;
}

double RandomStart(RunContext& run, int submodel) {
  const auto& submodels = run.model.submodels;
  if (submodel < 0 || submodel >= static_cast<int>(submodels.size()) ||
      !submodels[submodel].random_start) {
    return 0.0;
  }
  return (NextRandom(run) - 0.5) * 0.5 * run.random_amplitude;
}

double TimeOfDaySeconds(RunContext& run) {
  const ClockReading now = run.clock();
  if (std::fmod(std::trunc(run.RandomSeed), 1000.0) == 0.0) {
    run.RandomSeed = now.seconds * 100 + now.milliseconds + 1;
  }
  const double rounded = std::round(run.RandomSeed);
  constexpr double kMax = std::numeric_limits<std::int32_t>::max();
  run.SeedUsed = static_cast<std::int32_t>(std::clamp(rounded, -kMax, kMax));
  return now.hours * 3600.0 + now.minutes * 60.0 + now.seconds + now.milliseconds * 0.001;
}

}  // namespace tav
