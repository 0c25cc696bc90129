#include "core/long_real.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace tav {
namespace {

constexpr int kWideLimbs = LongReal::kLimbs + 2;
using Wide = std::array<std::uint32_t, kWideLimbs>;

// ln 2 * 2^320, truncated, least significant limb first.
constexpr std::array<std::uint32_t, LongReal::kLimbs> kLn2Limbs = {
    0x6debac98, 0xe7b87620, 0x8baafa2b, 0x8a0d175b, 0x7298b62d,
    0x40f34326, 0x03f2f6af, 0xc9e3b398, 0xd1cf79ab, 0xb17217f7};

// w shifted right by n bits; the bits shifted out are lost.
Wide ShiftRight(const Wide& w, int n) {
  Wide out{};
  const int limbs = n / 32;
  const int bits = n % 32;
  for (int i = 0; i + limbs < kWideLimbs; ++i) {
    std::uint64_t v = w[i + limbs] >> bits;
    if (bits > 0 && i + limbs + 1 < kWideLimbs) {
      v |= static_cast<std::uint64_t>(w[i + limbs + 1]) << (32 - bits);
    }
    out[i] = static_cast<std::uint32_t>(v);
  }
  return out;
}

// a < b, as magnitudes of the same length.
template <std::size_t N>
bool Less(const std::array<std::uint32_t, N>& a, const std::array<std::uint32_t, N>& b) {
  for (std::size_t i = N; i-- > 0;) {
    if (a[i] != b[i]) return a[i] < b[i];
  }
  return false;
}

// 2^k for -1022 <= k <= 1023.
double PowerOfTwo(int k) {
  return std::bit_cast<double>(static_cast<std::uint64_t>(k + 1023) << 52);
}

// v * 2^k for an integer v < 2^54, exactly where the product is a double (else rounded once).
double TimesPowerOfTwo(double v, int k) {
  while (k > 1023) {
    v *= PowerOfTwo(1023);
    k -= 1023;
  }
  if (k < -1022) {
    v *= PowerOfTwo(-1022);
    k += 1022;
    if (k < -1022) return v * 0.0;
  }
  return v * PowerOfTwo(k);
}

}  // namespace

LongReal::LongReal(double x) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  std::uint64_t significand = bits & ((std::uint64_t{1} << 52) - 1);
  int exponent = -1074;
  if (biased > 0) {
    significand |= std::uint64_t{1} << 52;
    exponent = biased - 1075;
  }
  if (significand == 0) return;
  Wide w{};
  w[0] = static_cast<std::uint32_t>(significand);
  w[1] = static_cast<std::uint32_t>(significand >> 32);
  *this = LongReal(x < 0, exponent + kBits + 64, w);
}

LongReal::LongReal(bool negative, int exponent, const Wide& wide) {
  // |x| = wide * 2^(exponent - kBits - 64); normalized so that the top limb's top bit is set.
  int top = kWideLimbs - 1;
  while (top >= 0 && wide[top] == 0) --top;
  if (top < 0) return;
  const int high_bit = 32 * top + 31 - std::countl_zero(wide[top]);
  const int shift = 32 * kWideLimbs - 1 - high_bit;
  Wide w{};
  const int limbs = shift / 32;
  const int bits = shift % 32;
  for (int i = kWideLimbs - 1; i >= limbs; --i) {
    std::uint64_t v = static_cast<std::uint64_t>(wide[i - limbs]) << bits;
    if (bits > 0 && i - limbs - 1 >= 0) v |= wide[i - limbs - 1] >> (32 - bits);
    w[i] = static_cast<std::uint32_t>(v);
  }
  negative_ = negative;
  exponent_ = exponent - shift;
  std::copy(w.begin() + 2, w.end(), limbs_.begin());
}

LongReal LongReal::operator-() const {
  LongReal r = *this;
  if (!r.IsZero()) r.negative_ = !r.negative_;
  return r;
}

LongReal operator+(const LongReal& a, const LongReal& b) {
  if (a.IsZero()) return b;
  if (b.IsZero()) return a;
  const bool a_larger =
      a.exponent_ != b.exponent_ ? a.exponent_ > b.exponent_ : !Less(a.limbs_, b.limbs_);
  const LongReal& big = a_larger ? a : b;
  const LongReal& small = a_larger ? b : a;
  Wide x{};
  Wide y{};
  std::copy(big.limbs_.begin(), big.limbs_.end(), x.begin() + 2);
  std::copy(small.limbs_.begin(), small.limbs_.end(), y.begin() + 2);
  const int shift = big.exponent_ - small.exponent_;
  if (shift >= 32 * kWideLimbs) return big;
  y = ShiftRight(y, shift);
  Wide sum{};
  int exponent = big.exponent_;
  if (big.negative_ == small.negative_) {
    std::uint64_t carry = 0;
    for (int i = 0; i < kWideLimbs; ++i) {
      const std::uint64_t t = std::uint64_t{x[i]} + y[i] + carry;
      sum[i] = static_cast<std::uint32_t>(t);
      carry = t >> 32;
    }
    if (carry != 0) {
      sum = ShiftRight(sum, 1);
      sum[kWideLimbs - 1] |= 0x80000000u;
      ++exponent;
    }
  } else {
    std::int64_t borrow = 0;
    for (int i = 0; i < kWideLimbs; ++i) {
      std::int64_t t = std::int64_t{x[i]} - y[i] - borrow;
      borrow = t < 0 ? 1 : 0;
      if (t < 0) t += std::int64_t{1} << 32;
      sum[i] = static_cast<std::uint32_t>(t);
    }
  }
  return LongReal(big.negative_, exponent, sum);
}

LongReal operator*(const LongReal& a, const LongReal& b) {
  if (a.IsZero() || b.IsZero()) return LongReal();
  constexpr int n = LongReal::kLimbs;
  std::array<std::uint32_t, 2 * n> p{};
  for (int i = 0; i < n; ++i) {
    std::uint64_t carry = 0;
    for (int j = 0; j < n; ++j) {
      const std::uint64_t t = std::uint64_t{a.limbs_[i]} * b.limbs_[j] + p[i + j] + carry;
      p[i + j] = static_cast<std::uint32_t>(t);
      carry = t >> 32;
    }
    p[i + n] = static_cast<std::uint32_t>(carry);
  }
  Wide w{};
  std::copy(p.end() - kWideLimbs, p.end(), w.begin());
  return LongReal(a.negative_ != b.negative_, a.exponent_ + b.exponent_, w);
}

LongReal LongReal::Times(std::uint32_t k) const {
  Wide w{};
  std::uint64_t carry = 0;
  for (int i = 0; i < kLimbs; ++i) {
    const std::uint64_t t = std::uint64_t{limbs_[i]} * k + carry;
    w[i + 1] = static_cast<std::uint32_t>(t);
    carry = t >> 32;
  }
  w[kLimbs + 1] = static_cast<std::uint32_t>(carry);
  return LongReal(negative_, exponent_ + 32, w);
}

LongReal LongReal::DividedBy(std::uint32_t k) const {
  Wide w{};
  std::uint64_t remainder = 0;
  for (int i = kWideLimbs - 1; i >= 0; --i) {
    const std::uint64_t t = (remainder << 32) | (i >= 2 ? limbs_[i - 2] : 0u);
    w[i] = static_cast<std::uint32_t>(t / k);
    remainder = t % k;
  }
  return LongReal(negative_, exponent_, w);
}

LongReal LongReal::Scaled(int k) const {
  LongReal r = *this;
  if (!r.IsZero()) r.exponent_ += k;
  return r;
}

double LongReal::Round(bool ties_when_near) const {
  if (IsZero()) return 0.0;
  const double sign = negative_ ? -1.0 : 1.0;
  if (exponent_ > 1024) return sign * std::numeric_limits<double>::infinity();
  // p significant bits are kept: 53, fewer below 2^-1022.
  const int p = std::min(53, exponent_ + 1074);
  if (p < 0) return sign * 0.0;
  auto bit = [&](int i) { return (limbs_[i / 32] >> (i % 32)) & 1u; };
  // The bits kept, then the rest against half a unit of the last bit kept: bit cut - 1 says
  // on which side of the midpoint the value lies, and bits 40 to cut - 2 all 0 above it (all 1
  // below) put it within 2^40 units of the last limb of the midpoint, 2^-279 of it relative.
  const int cut = kBits - p;
  std::uint64_t kept = 0;
  for (int i = kBits - 1; i >= cut; --i) kept = (kept << 1) | bit(i);
  const bool above_half = bit(cut - 1) != 0;
  bool high_zeros = true;
  bool high_ones = true;
  for (int i = 40; i < cut - 1; ++i) {
    if (bit(i) != 0) high_zeros = false;
    if (bit(i) == 0) high_ones = false;
  }
  bool low_zeros = true;
  for (int i = 0; i < 40; ++i) {
    if (bit(i) != 0) low_zeros = false;
  }
  const bool exact_half = above_half && high_zeros && low_zeros;
  const bool near = above_half ? high_zeros : high_ones;
  bool up = above_half;
  if (exact_half || (ties_when_near && near)) up = (kept & 1u) != 0;
  if (up) ++kept;
  return sign * TimesPowerOfTwo(static_cast<double>(kept), exponent_ - p);
}

LongReal LongReal::Ln2() {
  Wide w{};
  std::copy(kLn2Limbs.begin(), kLn2Limbs.end(), w.begin() + 2);
  return LongReal(false, 0, w);
}

namespace {

// e^x - 1 for |x| < 1/2: the series at x / 2^s, small enough that some twenty terms reach the
// precision, then e^2t - 1 = u (u + 2) with u = e^t - 1 s times, which keeps the relative
// precision (e^x - 1 near 0 included).
LongReal Expm1Small(const LongReal& x) {
  if (x.IsZero()) return x;
  const int s = std::max(0, x.Exponent() + 12);
  const LongReal t = x.Scaled(-s);
  LongReal sum = t;
  LongReal term = t;
  for (std::uint32_t n = 2; n < 100; ++n) {
    term = (term * t).DividedBy(n);
    if (term.IsZero() || term.Exponent() < sum.Exponent() - LongReal::kBits - 4) break;
    sum = sum + term;
  }
  const LongReal two(2.0);
  for (int i = 0; i < s; ++i) sum = sum * (sum + two);
  return sum;
}

}  // namespace

LongReal LongExpm1(const LongReal& x) {
  if (x.IsZero() || x.Exponent() <= -1) return Expm1Small(x);
  return LongExp(x) - LongReal(1.0);
}

LongReal LongExp(const LongReal& x) {
  // x = k ln 2 + r with |r| <= ln 2 / 2 (a little more: k comes from a double near x).
  const double k = std::floor(x.Round() * 1.4426950408889634 + 0.5);
  const auto n = static_cast<std::uint32_t>(std::fabs(k));
  const LongReal multiple = LongReal::Ln2().Times(n);
  const LongReal r = x - (k < 0 ? -multiple : multiple);
  return (Expm1Small(r) + LongReal(1.0)).Scaled(static_cast<int>(k));
}

LongReal LongLog(const LongReal& x) {
  // x = 2^e m with 1/sqrt(2) <= m < sqrt(2); ln m = y solves (1 + d) e^-y = 1, d = m - 1 (exact),
  // by Newton's steps y += (1 + d) e^-y - 1, the step written d + E + d E with E = e^-y - 1 so
  // that it keeps its relative precision when m is near 1.
  int e = x.Exponent();
  LongReal m = x.Scaled(-e);
  if (m.Round() < 0.7071067811865476) {
    m = m.Scaled(1);
    --e;
  }
  const LongReal d = m - LongReal(1.0);
  // A start within about 2^-40 of ln m: 2 atanh(s), s = d / (2 + d), to s^13.
  const double dd = d.Round();
  const double s = dd / (2 + dd);
  const double s2 = s * s;
  double series = 1.0 / 13;
  for (int k = 11; k >= 1; k -= 2) series = 1.0 / k + s2 * series;
  LongReal y(2 * s * series);
  for (int step = 0; step < 8 && !d.IsZero(); ++step) {
    const LongReal big_e = LongExpm1(-y);
    const LongReal change = d + big_e + d * big_e;
    y = y + change;
    // The error after a step is about half the square of the step before it.
    if (change.IsZero() || y.IsZero() || change.Exponent() < y.Exponent() - 165) break;
  }
  const LongReal multiple = LongReal::Ln2().Times(static_cast<std::uint32_t>(e < 0 ? -e : e));
  return y + (e < 0 ? -multiple : multiple);
}

}  // namespace tav
