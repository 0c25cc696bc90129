#ifndef TAV_BENCH_GENERATOR_H_
#define TAV_BENCH_GENERATOR_H_

#include <cmath>
#include <cstdint>

namespace tav::bench {

// SplitMix64: small, fast and the same on every platform (the standard library's distributions
// are not), so that a seed gives the same data everywhere.
class Generator {
 public:
  explicit Generator(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // Uniform in (0, 1).
  double Uniform() { return (static_cast<double>(Next() >> 11) + 0.5) / 9007199254740992.0; }
  // Poisson with the given mean, by multiplying uniforms (for means up to some hundreds).
  int Poisson(double mean) {
    const double limit = std::exp(-mean);
    int count = 0;
    for (double product = Uniform(); product > limit; product *= Uniform()) ++count;
    return count;
  }

 private:
  std::uint64_t state_;
};

}  // namespace tav::bench

#endif  // TAV_BENCH_GENERATOR_H_
