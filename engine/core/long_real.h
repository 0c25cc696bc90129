#ifndef TAV_ENGINE_CORE_LONG_REAL_H_
#define TAV_ENGINE_CORE_LONG_REAL_H_

#include <array>
#include <cstdint>

namespace tav {

// A binary floating-point number of 320 significant bits, with the exponential and the
// logarithm to nearly that precision: the last resort of Exp, Log and the others
// (core/elementary.h) for the arguments whose double-double results lie too near a rounding
// boundary to be rounded with certainty. Integer arithmetic only, so the same on every machine;
// slow (microseconds a call) and meant for those rare arguments.
//
// The operations truncate: each loses at most 2^-318 of its result, relative, besides what the
// truncation of the smaller operand of a sum costs (2^-350 of the larger).
class LongReal {
 public:
  static constexpr int kLimbs = 10;
  static constexpr int kBits = 32 * kLimbs;

  LongReal() = default;         // 0
  explicit LongReal(double x);  // exactly x, which must be finite

  bool IsZero() const { return limbs_[kLimbs - 1] == 0; }
  bool IsNegative() const { return negative_; }
  // The e with 2^(e - 1) <= |x| < 2^e (not for 0).
  int Exponent() const { return exponent_; }

  LongReal operator-() const;
  friend LongReal operator+(const LongReal& a, const LongReal& b);
  friend LongReal operator-(const LongReal& a, const LongReal& b) { return a + (-b); }
  friend LongReal operator*(const LongReal& a, const LongReal& b);
  LongReal Times(std::uint32_t k) const;
  LongReal DividedBy(std::uint32_t k) const;  // k > 0
  LongReal Scaled(int k) const;               // times 2^k

  // ln 2 to 320 bits.
  static LongReal Ln2();

  // The nearest double (ties to even; overflow to infinity, underflow through the subnormals to
  // 0). With ties_when_near, a value within 2^-280 of a midpoint between two doubles, relative,
  // counts as that midpoint: pow has exact midpoints, which no approximation can tell apart
  // from values just beside them.
  double Round(bool ties_when_near = false) const;

 private:
  LongReal(bool negative, int exponent, const std::array<std::uint32_t, kLimbs + 2>& wide);

  bool negative_ = false;
  int exponent_ = 0;
  // The significand, least significant limb first: |x| = significand * 2^(exponent - kBits),
  // with the top bit of the last limb set unless x is 0.
  std::array<std::uint32_t, kLimbs> limbs_{};
};

// e^x - 1, for |x| < 1000.
LongReal LongExpm1(const LongReal& x);

// e^x, for |x| < 1000.
LongReal LongExp(const LongReal& x);

// ln x, for x > 0, to within 2^-300 of it, relative.
LongReal LongLog(const LongReal& x);

}  // namespace tav

#endif  // TAV_ENGINE_CORE_LONG_REAL_H_
