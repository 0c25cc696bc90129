#include "core/elementary.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "core/double_double.h"
#include "core/elementary_tables.h"
#include "core/long_real.h"

// The processor's fused multiply-add is used where it is there (x86-64 with GCC or Clang): the
// fast paths are compiled twice, with and without it, and the machine chooses at run time.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TAV_ELEMENTARY_FUSED 1
#else
#define TAV_ELEMENTARY_FUSED 0
#endif

namespace tav {
namespace {

using double_double::FastTwoSum;
using double_double::Pair;
using double_double::TwoProduct;
using double_double::TwoSum;
namespace tables = elementary_tables;

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// ---------------------------------------------------------------------------------------------
// The operations of the fast ways, without and with fused multiply-adds. Product, Square and
// ProductMinusOne are exact either way; MulAdd rounds once or twice, and the error bounds
// allow for twice. The two ways may reach different pairs, but a result is returned only once
// its rounding is certain, so the results are the same.

struct PortableProducts {
  // a b + c, rounded twice; the error bounds below are those of this, which also bound the
  // fused multiply-add's single rounding.
  static double MulAdd(double a, double b, double c) { return a * b + c; }
  static Pair Product(double a, double b) { return TwoProduct(a, b); }
  static Pair Square(double a) { return double_double::TwoSquare(a); }
  // m c - 1, exact for the logarithm's m and c (core/elementary_tables.h): with m0 the start of
  // m's interval (m with its last 43 bits cleared), m - m0 has at most 43 significant bits and
  // c 10, so (m - m0) c is exact, as m0 c - 1 is, and so is their sum, which is m c - 1.
  static double ProductMinusOne(double m, double c) {
    const double m0 =
        std::bit_cast<double>(std::bit_cast<std::uint64_t>(m) & ~((std::uint64_t{1} << 43) - 1));
    return (m - m0) * c + (m0 * c - 1);
  }
};

#if TAV_ELEMENTARY_FUSED
struct FusedProducts {
  [[gnu::always_inline]] static double MulAdd(double a, double b, double c) {
    return __builtin_fma(a, b, c);
  }
  [[gnu::always_inline]] static Pair Product(double a, double b) {
    const double p = a * b;
    return {p, __builtin_fma(a, b, -p)};
  }
  [[gnu::always_inline]] static Pair Square(double a) { return Product(a, a); }
  [[gnu::always_inline]] static double ProductMinusOne(double m, double c) {
    return __builtin_fma(m, c, -1.0);
  }
};
#endif

// ---------------------------------------------------------------------------------------------
// Rounding.

// 2^k for -1022 <= k <= 1023.
double PowerOfTwo(int k) {
  return std::bit_cast<double>(static_cast<std::uint64_t>(k + 1023) << 52);
}

// The nearest double to hi + lo, whose error is at most err (hi + lo a normal number, not near
// the overflow threshold), or false when that interval holds a rounding boundary. The rounded
// sum is monotone in lo, so the bounds of the interval rounding alike settle every value in it;
// the bounds are widened by what rounding lo +- d may lose.
bool RoundPair(double hi, double lo, double err, double& result) {
  const double d = err * (1 + 0x1p-50) + std::fabs(lo) * 0x1p-52;
  const double up = hi + (lo + d);
  if (up != hi + (lo - d)) return false;
  result = up;
  return true;
}

// The nearest double to (hi + lo) 2^e, whose error is at most err 2^e (|lo| <= |hi|, hi not
// 0), or false when that interval holds a rounding boundary; overflows to infinity and rounds
// results below 2^-1022 to the subnormals' grid.
bool RoundScaled(double hi, double lo, double err, int e, double& result) {
  const Pair s = FastTwoSum(hi, lo);
  hi = s.hi;
  lo = s.lo;
  const bool negative = hi < 0;
  if (negative) {
    hi = -hi;
    lo = -lo;
  }
  // hi into [1, 2), exactly.
  const int k = static_cast<int>((std::bit_cast<std::uint64_t>(hi) >> 52) & 0x7ff) - 1023;
  if (k != 0) {
    const double f = PowerOfTwo(-k);
    hi *= f;
    lo *= f;
    err *= f;
    e += k;
  }
  const double d = err * (1 + 0x1p-50) + 0x1p-104;
  double y;
  if (e >= -1022) {
    const double up = hi + (lo + d);
    const double down = hi + (lo - d);
    // With e = -1022, values below 1 (below 2^-1022) lie on the grid of the subnormals, not
    // on the finer one of the doubles below 1: left to the next stage.
    if (up != down || (e == -1022 && down < 1)) return false;
    y = e <= 1023 ? up * PowerOfTwo(e) : up * PowerOfTwo(1023) * PowerOfTwo(e - 1023);
  } else if (e < -1080) {
    y = 0;  // below 2^-1079
  } else {
    // Below 2^-1022 the grid is that of the subnormals, 2^-1074: c + hi + lo with
    // c = 2^(-1022 - e) >= 2 lies in [c, 2c), where the doubles are spaced 2^(-1074 - e), which
    // is that grid; the sum is rounded, c taken away again (exactly) and the rest scaled.
    const double c = PowerOfTwo(-1022 - e);
    const double g = PowerOfTwo(-1074 - e);
    const Pair b = TwoSum(c, hi);
    const double w = b.lo + lo;
    const double dd = d + 0x1p-50 * g;
    const double up = b.hi + (w + dd);
    if (up != b.hi + (w - dd)) return false;
    y = (up - c) * PowerOfTwo(e + 100) * PowerOfTwo(-100);
  }
  result = negative ? -y : y;
  return true;
}

// The nearest double to hi + lo + t: hi + lo exact (|lo| at most half a unit in the last place
// of hi, as FastTwoSum leaves it, hi normal and not 0), t known within err, |t| below a quarter
// of that unit. Or false when a midpoint lies within err. The sum lies between hi's neighbours,
// and its distance to the midpoints on either side of hi is taken exactly: the last bits of the
// arguments near 1 decide these roundings.
bool RoundExpansion(double hi, double lo, double t, double err, double& result) {
  const bool negative = hi < 0;
  if (negative) {
    hi = -hi;
    lo = -lo;
    t = -t;
  }
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(hi);
  const double up = std::bit_cast<double>(bits + 1);
  const double down = std::bit_cast<double>(bits - 1);
  // hi + lo + t - (hi + up) / 2 and hi + lo + t - (hi + down) / 2; the first difference is
  // exact wherever it is small, and the rounded sum with t has its sign.
  const double above_upper = t - ((up - hi) * 0.5 - lo);
  const double above_lower = t + (lo - (down - hi) * 0.5);
  const double margin = err * (1 + 0x1p-50);
  double y;
  if (above_upper > margin) {
    y = up;
  } else if (above_lower < -margin) {
    y = down;
  } else if (above_upper < -margin && above_lower > margin) {
    y = hi;
  } else {
    return false;
  }
  result = negative ? -y : y;
  return true;
}

// For 2^-54 <= |x| < 2^-27, where the terms to x^2 of the series decide the rounding and may
// sum to a midpoint (x = k 2^-53 with a small k): they are summed exactly, the rest
// (|x|^3 / 6 and beyond, known within 2^-50 of it) compared with the distance to the midpoint.
bool ExpTiny(double x, double& result) {
  const Pair one_x = TwoSum(1, x);
  const Pair square = double_double::TwoSquare(x);
  const Pair low = TwoSum(one_x.lo, 0.5 * square.hi);
  const Pair head = FastTwoSum(one_x.hi, low.hi);
  const double cube = (x * square.hi) * (0x1.5555555555555p-3 + x * 0x1.5555555555555p-5);
  const double t = low.lo + (0.5 * square.lo + cube);
  return RoundExpansion(head.hi, head.lo, t, std::fabs(cube) * 0x1p-50 + std::fabs(t) * 0x1p-52,
                        result);
}

bool Expm1Tiny(double x, double& result) {
  const Pair square = double_double::TwoSquare(x);
  const Pair head = FastTwoSum(x, 0.5 * square.hi);
  const double cube = (x * square.hi) * (0x1.5555555555555p-3 +
                                         x * (0x1.5555555555555p-5 + x * 0x1.1111111111111p-7));
  const double t = 0.5 * square.lo + cube;
  return RoundExpansion(head.hi, head.lo, t, std::fabs(cube) * 0x1p-50 + std::fabs(t) * 0x1p-52,
                        result);
}

// ln(1 + z), likewise.
bool Log1pTiny(double z, double& result) {
  const Pair square = double_double::TwoSquare(z);
  const Pair head = FastTwoSum(z, -0.5 * square.hi);
  const double cube =
      (z * square.hi) * (0x1.5555555555555p-2 + z * (-0.25 + z * 0x1.999999999999ap-3));
  const double t = cube - 0.5 * square.lo;
  return RoundExpansion(head.hi, head.lo, t, std::fabs(cube) * 0x1p-50 + std::fabs(t) * 0x1p-52,
                        result);
}

// ---------------------------------------------------------------------------------------------
// The exponential: x = (256 e + j) ln 2 / 256 + r with |r| <= ln 2 / 512, e^x = 2^e 2^(j/256) e^r.

constexpr double kExpInverseStep = 0x1.71547652b82fep+8;  // 256 / ln 2
// ln 2 / 256 as head + middle + tail: the head has 29 significant bits, so k head is exact for
// |k| < 2^24, and x - k head too (x and k head are within a factor 2 of each other).
constexpr double kExpStepHead = 0x1.62e42ffp-9;
constexpr double kExpStepMiddle = -0x1.718432a1b0e26p-43;
constexpr double kExpStepTail = -0x1.9ff0342542fc3p-98;
constexpr double kShift = 0x1.8p52;  // adding it rounds to an integer

struct ScaledPair {
  double hi;
  double lo;
  int e;  // the value is (hi + lo) 2^e, hi in [0.99, 2.01]
};

// e^(x + x_low), for |x| <= 746 and |x_low| <= 2^-40, within 2^-66.2 of it, relative.
//
// Error: r = x + x_low - k ln 2 / 256 is held as r + r_low within 2^-75; the Taylor polynomial
// to r^5 leaves out r^6 / 720 < 2^-66.7; the rounding errors of the polynomial (< 2^-71) and of
// the low sum (< 2^-70) add little. 2^(j/256) (1 + r) is exact as hi + product.
template <class Products, bool kLowPart>
[[gnu::always_inline]] inline ScaledPair ExpFast(double x, double x_low) {
  const double shifted = Products::MulAdd(x, kExpInverseStep, kShift);
  const double kd = shifted - kShift;
  const std::int64_t k = std::bit_cast<std::int64_t>(shifted) - std::bit_cast<std::int64_t>(kShift);
  const double r0 = Products::MulAdd(-kd, kExpStepHead, x);  // exact
  const double p = kd * kExpStepMiddle;
  const double r = r0 - p;
  double r_low = (r0 - r) - p;
  if constexpr (kLowPart) r_low += x_low;
  // r^2/2 + r^3/6 + r^4/24 + r^5/120
  const double r2 = r * r;
  const double q2 = Products::MulAdd(r, 0x1.5555555555555p-3, 0.5);
  const double q4 = Products::MulAdd(r, 0x1.1111111111111p-7, 0x1.5555555555555p-5);
  double q = Products::MulAdd(r2 * r2, q4, r2 * q2);
  if constexpr (kLowPart) q = Products::MulAdd(r_low, r, q);
  const tables::ExpEntry& t = tables::kExp[k & 255];
  const Pair product = Products::Product(t.hi, r);
  const double hi = t.hi + product.hi;
  const double small = Products::MulAdd(t.hi, r_low + q, Products::MulAdd(t.lo, r, t.lo));
  const double lo = (product.hi - (hi - t.hi)) + (product.lo + small);
  return {hi, lo, static_cast<int>(k >> 8)};
}

// e^r - 1 for |r| <= 2^-9.5 (r a normalized pair), within 2^-102 of it, relative: the Taylor
// series to r^10, the terms from r^6 on in doubles, the others in pairs.
Pair ExpMinusOneAccurate(Pair r) {
  using double_double::Add;
  using double_double::Multiply;
  double h = 0x1.27e4fb7789f5cp-22;      // 1/10!
  h = 0x1.71de3a556c734p-19 + r.hi * h;  // 1/9!
  h = 0x1.a01a01a01a01ap-16 + r.hi * h;  // 1/8!
  h = 0x1.a01a01a01a01ap-13 + r.hi * h;  // 1/7!
  h = 0x1.6c16c16c16c17p-10 + r.hi * h;  // 1/6!
  Pair p{h, 0};
  p = Add(Multiply(p, r), Pair{0x1.1111111111111p-7, 0x1.1111111111111p-63});  // 1/5!
  p = Add(Multiply(p, r), Pair{0x1.5555555555555p-5, 0x1.5555555555555p-59});  // 1/4!
  p = Add(Multiply(p, r), Pair{0x1.5555555555555p-3, 0x1.5555555555555p-57});  // 1/3!
  p = Add(Multiply(p, r), 0.5);
  p = Add(Multiply(p, r), 1.0);
  return Multiply(p, r);
}

// e^(x + x_low) within 2^-101 of it, relative, for |x| <= 746 and |x_low| <= 2^-40.
ScaledPair ExpAccurate(double x, double x_low) {
  const double shifted = x * kExpInverseStep + kShift;
  const double kd = shifted - kShift;
  const std::int64_t k = std::bit_cast<std::int64_t>(shifted) - std::bit_cast<std::int64_t>(kShift);
  const double r0 = x - kd * kExpStepHead;
  const Pair p = TwoProduct(kd, kExpStepMiddle);
  Pair r = TwoSum(r0, -p.hi);
  r = TwoSum(r.hi, r.lo + (x_low - (p.lo + kd * kExpStepTail)));
  const Pair e = ExpMinusOneAccurate(r);
  const tables::ExpEntry& t = tables::kExp[k & 255];
  const Pair result =
      double_double::Add(Pair{t.hi, t.lo}, double_double::Multiply(Pair{t.hi, t.lo}, e));
  return {result.hi, result.lo, static_cast<int>(k >> 8)};
}

[[gnu::noinline]] double ExpSlow(double x) {
  if (std::isnan(x)) return x + x;
  if (x > 709.8) return kInfinity;
  if (x < -745.2) return 0;
  double result;
  if (std::fabs(x) < 0x1p-27 && ExpTiny(x, result)) return result;
  if (std::fabs(x) > 708) {
    const ScaledPair s = ExpFast<PortableProducts, false>(x, 0);
    if (RoundScaled(s.hi, s.lo, s.hi * 0x1p-65, s.e, result)) return result;
  }
  const ScaledPair s = ExpAccurate(x, 0);
  if (RoundScaled(s.hi, s.lo, 0x1p-100, s.e, result)) return result;
  return LongExp(LongReal(x)).Round();
}

template <class Products>
[[gnu::always_inline]] inline double ExpWith(double x) {
  const double ax = std::fabs(x);
  // Beyond 708 the result may overflow or be subnormal; a NaN fails the test too.
  if (!(ax <= 708)) return ExpSlow(x);
  if (ax < 0x1p-54) return 1 + x;  // e^x - 1 - x < 2^-109: 1 + x rounds as e^x does
  const ScaledPair s = ExpFast<Products, false>(x, 0);
  const double d = s.hi * 0x1p-65;
  const double up = s.hi + (s.lo + d);
  if (up != s.hi + (s.lo - d)) return ExpSlow(x);
  return up * PowerOfTwo(s.e);  // e^x between 2^-1021.4 and 2^1021.4: exact
}

// ---------------------------------------------------------------------------------------------
// e^x - 1.

constexpr double kExpm1Small = 0x1.6p-10;  // below ln 2 / 512

[[gnu::noinline]] double Expm1Slow(double x) {
  if (std::isnan(x)) return x + x;
  if (x > 709.8) return kInfinity;
  if (x < -38) return -1;  // e^x < 2^-54.8: -1 + e^x rounds to -1
  double result;
  if (std::fabs(x) < 0x1p-27 && Expm1Tiny(x, result)) return result;
  if (std::fabs(x) <= kExpm1Small) {
    const Pair e = ExpMinusOneAccurate(Pair{x, 0});
    if (RoundPair(e.hi, e.lo, std::fabs(e.hi) * 0x1p-99, result)) return result;
  } else {
    // 2^e (hi + lo) - 1, from the accurate exponential; the -1 does not count beyond 2^150.
    const ScaledPair s = ExpAccurate(x, 0);
    Pair f{s.hi, s.lo};
    double err = 0x1p-100;
    if (s.e < 150) {
      f = double_double::Add(f, -PowerOfTwo(-s.e));
    } else {
      err += 0x1p-140;
    }
    if (RoundScaled(f.hi, f.lo, err + std::fabs(f.hi) * 0x1p-103, s.e, result)) return result;
  }
  return LongExpm1(LongReal(x)).Round();
}

template <class Products>
[[gnu::always_inline]] inline double Expm1With(double x) {
  const double ax = std::fabs(x);
  if (!(ax <= 708)) return Expm1Slow(x);  // and NaN
  if (ax < 0x1p-54) return x;             // (e^x - 1 - x) / x < 2^-55: rounds to x
  double hi;
  double lo;
  double err;
  if (ax <= 0x1p-6) {
    // x + x^2/2 (exact as a pair) + x^3 (1/6 + x/24 + ... + x^7/10!): what the series leaves
    // out is below 2^-70 of the result, the rounding of the cubic part below 2^-66.6.
    const Pair square = Products::Square(x);
    const double half = 0.5 * square.hi;
    hi = x + half;
    const double c8 = Products::MulAdd(x, 0x1.27e4fb7789f5cp-22, 0x1.71de3a556c734p-19);
    const double c6 = Products::MulAdd(x, 0x1.a01a01a01a01ap-16, 0x1.a01a01a01a01ap-13);
    const double c4 = Products::MulAdd(x, 0x1.6c16c16c16c17p-10, 0x1.1111111111111p-7);
    const double c2 = Products::MulAdd(x, 0x1.5555555555555p-5, 0x1.5555555555555p-3);
    const double w = square.hi;
    const double poly =
        Products::MulAdd(w * w, Products::MulAdd(w, c8, c6), Products::MulAdd(w, c4, c2));
    lo = ((x - hi) + half) + Products::MulAdd(x * w, poly, 0.5 * square.lo);
    err = std::fabs(hi) * 0x1p-65;
  } else {
    // 2^e (h + l) - 1 from the fast exponential, whose error bound (2^-66.2 e^x) carries over
    // as it is; relative to e^x - 1 it is at most 2^-59.6 (at |x| = 2^-6), and far less
    // beyond.
    if (x < -38) return -1;  // e^x < 2^-54.8: -1 + e^x rounds to -1
    const ScaledPair s = ExpFast<Products, false>(x, 0);
    const Pair f = TwoSum(s.hi, -PowerOfTwo(-s.e));
    const double scale = PowerOfTwo(s.e);
    const double low = f.lo + s.lo;
    hi = f.hi * scale;
    lo = low * scale;
    err = (s.hi * 0x1.6a09e667f3bcdp-66 + std::fabs(low) * 0x1p-52) * scale;  // 2^-65.5
  }
  const Pair n = FastTwoSum(hi, lo);
  const double d = err * (1 + 0x1p-50) + std::fabs(n.lo) * 0x1p-52;
  const double up = n.hi + (n.lo + d);
  if (up != n.hi + (n.lo - d)) return Expm1Slow(x);
  return up;
}

// ---------------------------------------------------------------------------------------------
// The logarithm: x = 2^e m with m between 0x1.6ap-1 and 0x1.6ap+0, c from m's interval,
// ln x = e ln 2 - ln c + ln(1 + z) with z = m c - 1 exact and |z| < 2^-9.

constexpr std::uint64_t kLogOffset = 0x3fe6a00000000000;
// ln 2 as head + middle + tail: the head a multiple of 2^-42, so e head + (-ln c)'s head is
// exact for |e| < 2^11.
constexpr double kLn2Head = 0x1.62e42fefa38p-1;
constexpr double kLn2Middle = 0x1.ef35793c7673p-45;
constexpr double kLn2Tail = 0x1.f97b57a079a19p-103;

// The intervals on either side of 1, where c = 1 and z = m - 1.
constexpr int kBelowOne = 299;
constexpr int kAboveOne = 300;

struct LogReduction {
  int e;
  int i;     // the interval of m (tables::kLog)
  double z;  // m c - 1, exact
};

// For x positive and normal.
template <class Products>
[[gnu::always_inline]] inline LogReduction ReduceLog(double x) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
  const std::uint64_t offset = bits - kLogOffset;
  const int i = static_cast<int>((offset >> 43) & 511);
  const std::int64_t e = static_cast<std::int64_t>(offset) >> 52;
  const double m = std::bit_cast<double>(bits - (static_cast<std::uint64_t>(e) << 52));
  return {static_cast<int>(e), i, Products::ProductMinusOne(m, tables::kLog[i].c)};
}

// ln x as hi + lo, within 2^-70 |ln x| of it, |lo| < 2^-18 |hi|.
//
// Error: ln(1 + z) = z - z^2/2 + z^3 (1/3 - z/4 + z^2/5 - z^3/6 + z^4/7 - z^5/8), the square
// exact as a pair; what the series leaves out is below 2^-75 |z| where |z| < 2^-9 and below
// 2^-88 on the other intervals (|z| < 2^-9.43), where the result is at least 2^-10; the
// rounding of the cubic part costs less than 2^-71.5 |z|, the constants' tails 2^-86.
template <class Products>
[[gnu::always_inline]] inline Pair LogFast(const LogReduction& r) {
  const double z = r.z;
  const Pair square = Products::Square(z);
  const double half = 0.5 * square.hi;
  const double th = z - half;  // |z| > z^2/2: exact as th + tl
  const double tl = (z - th) - half;
  const double w = square.hi;
  const double a = Products::MulAdd(z, -0.25, 0x1.5555555555555p-2);
  const double b = Products::MulAdd(z, -0x1.5555555555555p-3, 0x1.999999999999ap-3);
  const double c = Products::MulAdd(z, -0.125, 0x1.2492492492492p-3);
  const double cubic = (z * w) * Products::MulAdd(w, Products::MulAdd(w, c, b), a);
  const tables::LogEntry& t = tables::kLog[r.i];
  const double e = r.e;
  const double head = Products::MulAdd(e, kLn2Head, t.head);  // exact
  const double middle = Products::MulAdd(e, kLn2Middle, t.middle);
  // |head| >= |th| (or head = 0): head + th is exact as hi + the first part of lo.
  const double hi = head + th;
  const double lo = (th - (hi - head)) + (tl + (middle + Products::MulAdd(-0.5, square.lo, cubic)));
  return {hi, lo};
}

// ln(m 2^e) as a pair within 2^-101 of it, relative, with ln(1 + z + z_low) in place of
// ln(1 + z) (|z_low| <= 2^-51): the series to z^12, the terms from z^8 on in doubles.
Pair LogAccurate(const LogReduction& r, double z_low) {
  using double_double::Add;
  using double_double::Multiply;
  const double z = r.z;
  double h = -0x1.5555555555555p-4;   // -1/12
  h = 0x1.745d1745d1746p-4 + z * h;   // 1/11
  h = -0x1.999999999999ap-4 + z * h;  // -1/10
  h = 0x1.c71c71c71c71cp-4 + z * h;   // 1/9
  h = -0.125 + z * h;
  const Pair zz = TwoSum(z, z_low);
  Pair p{h, 0};
  p = Add(Multiply(p, zz), Pair{0x1.2492492492492p-3, 0x1.2492492492492p-57});    // 1/7
  p = Add(Multiply(p, zz), Pair{-0x1.5555555555555p-3, -0x1.5555555555555p-57});  // -1/6
  p = Add(Multiply(p, zz), Pair{0x1.999999999999ap-3, -0x1.999999999999ap-57});   // 1/5
  p = Add(Multiply(p, zz), -0.25);
  p = Add(Multiply(p, zz), Pair{0x1.5555555555555p-2, 0x1.5555555555555p-56});  // 1/3
  p = Add(Multiply(p, zz), -0.5);
  p = Add(Multiply(p, zz), 1.0);
  const Pair series = Multiply(p, zz);
  const tables::LogEntry& t = tables::kLog[r.i];
  const double e = r.e;
  Pair constant = TwoSum(e * kLn2Head + t.head, t.middle);
  constant = Add(constant, TwoProduct(e, kLn2Middle));
  constant = FastTwoSum(constant.hi, constant.lo + (e * kLn2Tail + tables::kLogTail[r.i]));
  return Add(constant, series);
}

// The reduction of any positive finite x, subnormals scaled by 2^54 first.
LogReduction ReduceAnyLog(double x) {
  if (x >= 0x1p-1022) return ReduceLog<PortableProducts>(x);
  LogReduction r = ReduceLog<PortableProducts>(x * 0x1p54);
  r.e -= 54;
  return r;
}

[[gnu::noinline]] double LogSlow(double x) {
  if (std::isnan(x)) return x + x;
  if (x < 0) return std::numeric_limits<double>::quiet_NaN();
  if (x == 0) return -kInfinity;
  if (x == kInfinity) return x;
  const LogReduction r = ReduceAnyLog(x);
  double result;
  if (r.e == 0 && (r.i == kBelowOne || r.i == kAboveOne) && std::fabs(r.z) < 0x1p-27 &&
      Log1pTiny(r.z, result)) {
    return result;  // x = 1 + z exactly
  }
  if (x < 0x1p-1022) {  // the fast way has not been tried
    const Pair l = LogFast<PortableProducts>(r);
    if (RoundPair(l.hi, l.lo, std::fabs(l.hi) * 0x1p-68, result)) return result;
  }
  const Pair l = LogAccurate(r, 0);
  if (RoundPair(l.hi, l.lo, std::fabs(l.hi) * 0x1p-99, result)) return result;
  return LongLog(LongReal(x)).Round();
}

template <class Products>
[[gnu::always_inline]] inline double LogWith(double x) {
  // Zero, subnormals, negatives, infinity and NaN go the slow way.
  if (!(x >= 0x1p-1022 && x < kInfinity)) return LogSlow(x);
  const Pair l = LogFast<Products>(ReduceLog<Products>(x));
  const double d = std::fabs(l.hi) * 0x1p-68;  // x = 1 gives 0 + 0
  const double up = l.hi + (l.lo + d);
  if (up != l.hi + (l.lo - d)) return LogSlow(x);
  return up;
}

template <class Products>
[[gnu::always_inline]] inline WeightedLogSums AddWeightedLogsWith(const double* weight,
                                                                  const double* x, long n,
                                                                  WeightedLogSums sums) {
  double plain = sums.plain;
  Pair exact = sums.exact;
  for (long i = 0; i < n; ++i) {
    const double term = weight[i] * LogWith<Products>(x[i]);
    plain += term;
    exact = double_double::Add(exact, term);
  }
  return {plain, exact};
}

// ---------------------------------------------------------------------------------------------
// ln(1 + x): for -2^-10 <= x < 2^-9, z = x on the intervals beside 1; else 1 + x = u + u_low
// exactly, and ln(1 + x) = ln u + ln(1 + u_low / u), the last within 2^-79 of z_low / (1 + z),
// z_low = u_low c 2^-e.

struct Log1pReduction {
  LogReduction r;
  double z_low;
};

template <class Products>
[[gnu::always_inline]] inline Log1pReduction ReduceLog1p(double x) {
  if (x >= -0x1p-10 && x < 0x1p-9) return {{0, x < 0 ? kBelowOne : kAboveOne, x}, 0};
  const Pair u = TwoSum(1, x);
  const LogReduction r = ReduceLog<Products>(u.hi);
  // Beyond 2^1000 the low part (below 2^-1000) does not count.
  const double z_low = r.e < 1000 ? u.lo * PowerOfTwo(-r.e) * tables::kLog[r.i].c : 0;
  return {r, z_low};
}

[[gnu::noinline]] double Log1pSlow(double x) {
  if (std::isnan(x)) return x + x;
  if (x < -1) return std::numeric_limits<double>::quiet_NaN();
  if (x == -1) return -kInfinity;
  if (x == kInfinity) return x;
  double result;
  if (std::fabs(x) < 0x1p-27 && Log1pTiny(x, result)) return result;
  const Log1pReduction r = ReduceLog1p<PortableProducts>(x);
  const Pair l = LogAccurate(r.r, r.z_low);
  if (RoundPair(l.hi, l.lo, std::fabs(l.hi) * 0x1p-99, result)) return result;
  return LongLog(LongReal(1.0) + LongReal(x)).Round();
}

template <class Products>
[[gnu::always_inline]] inline double Log1pWith(double x) {
  if (!(x > -1 && x < kInfinity)) return Log1pSlow(x);
  if (std::fabs(x) < 0x1p-54) return x;  // |ln(1 + x) - x| < x^2/2: rounds to x
  const Log1pReduction r = ReduceLog1p<Products>(x);
  const Pair l = LogFast<Products>(r.r);
  const double lo = l.lo + r.z_low * (1 - r.r.z * (1 - r.r.z));
  const double d = std::fabs(l.hi) * 0x1p-67;
  const double up = l.hi + (lo + d);
  if (up != l.hi + (lo - d)) return Log1pSlow(x);
  return up;
}

// ---------------------------------------------------------------------------------------------
// x^y = e^(y ln x) for x > 0.

// 0 when y is not an integer, 1 when it is odd, 2 when it is even (y finite, not 0).
int IntegerParity(double y) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(y);
  const int exponent = static_cast<int>((bits >> 52) & 0x7ff) - 1023;
  if (exponent < 0) return 0;
  if (exponent > 52) return 2;
  const std::uint64_t significand =
      (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
  const int fraction_bits = 52 - exponent;
  if ((significand & ((std::uint64_t{1} << fraction_bits) - 1)) != 0) return 0;
  return ((significand >> fraction_bits) & 1) != 0 ? 1 : 2;
}

[[gnu::noinline]] double PowSlow(double x, double y) {
  const Pair l = LogAccurate(ReduceAnyLog(x), 0);
  const double z0 = y * l.hi;
  if (z0 > 709.8) return kInfinity;
  if (z0 < -745.2) return 0;
  if (std::fabs(z0) < 0x1p-55) return 1;  // |z| < 2^-54: e^z rounds to 1
  const Pair p = TwoProduct(y, l.hi);
  const Pair z = FastTwoSum(p.hi, p.lo + y * l.lo);
  const ScaledPair s = ExpAccurate(z.hi, z.lo);
  double result;
  if (RoundScaled(s.hi, s.lo, 0x1p-100 + std::fabs(z.hi) * 0x1p-97, s.e, result)) return result;
  return LongExp(LongLog(LongReal(x)) * LongReal(y)).Round(true);
}

// x^y for the cases of C's pow, infinities, zeros, NaNs, negative or subnormal x, and |y|
// below 2^-60 or from 2^68 on.
[[gnu::noinline]] double PowSpecial(double x, double y) {
  if (y == 0 || x == 1) return 1;
  if (std::isnan(x) || std::isnan(y)) return x + y;
  const double ax = std::fabs(x);
  if (std::isinf(y)) {
    if (ax == 1) return 1;
    return (ax > 1) == (y > 0) ? kInfinity : 0;
  }
  const int parity = IntegerParity(y);
  const bool negative = std::signbit(x) && parity == 1;
  if (ax == 0 || ax == kInfinity) {
    const double r = (ax == 0) == (y < 0) ? kInfinity : 0;
    return negative ? -r : r;
  }
  if (x < 0 && parity == 0) return std::numeric_limits<double>::quiet_NaN();
  const double r = y == 1 ? ax : y == 2 ? ax * ax : PowSlow(ax, y);
  return negative ? -r : r;
}

// Whether Pow's fast way applies: x positive, normal and finite, 2^-60 <= |y| < 2^68.
inline bool PowIsOrdinary(double x, double y) {
  const std::uint64_t ix = std::bit_cast<std::uint64_t>(x);
  const std::uint64_t iy = std::bit_cast<std::uint64_t>(y) & ~(std::uint64_t{1} << 63);
  return ix - 0x0010000000000000 < 0x7fe0000000000000 &&
         iy - 0x3c30000000000000 < 0x0800000000000000;
}

// x^y for an ordinary x and y (not 1 or 2), from l0 = LogFast of x.
template <class Products>
[[gnu::always_inline]] inline double PowFromLog(double x, double y, Pair l0) {
  const Pair l = FastTwoSum(l0.hi, l0.lo);
  const double z0 = y * l.hi;
  // Results near overflow or underflow go the slow way.
  if (!(std::fabs(z0) <= 708)) return PowSlow(x, y);
  if (std::fabs(z0) < 0x1p-55) return 1;  // |z| < 2^-54: e^z rounds to 1
  // z = y ln x within 2^-69.9 |z| (ln x's error): e^z within 2^-66.2 + 2^-69.9 |z|.
  const Pair p = Products::Product(y, l.hi);
  const double z_low = Products::MulAdd(y, l.lo, p.lo);
  const ScaledPair s = ExpFast<Products, true>(p.hi, z_low);
  const double d = s.hi * (0x1p-65 + std::fabs(p.hi) * 0x1p-68);
  const double up = s.hi + (s.lo + d);
  if (up != s.hi + (s.lo - d)) return PowSlow(x, y);
  return up * PowerOfTwo(s.e);
}

template <class Products>
[[gnu::always_inline]] inline double PowWith(double x, double y) {
  if (!PowIsOrdinary(x, y)) return PowSpecial(x, y);
  if (y == 1) return x;
  if (y == 2) return x * x;  // correctly rounded
  return PowFromLog<Products>(x, y, LogFast<Products>(ReduceLog<Products>(x)));
}

template <class Products>
[[gnu::always_inline]] inline LogAndPower LogAndPowWith(double x, double y) {
  if (!PowIsOrdinary(x, y) || y == 1 || y == 2) {
    return {LogWith<Products>(x), PowWith<Products>(x, y)};
  }
  const Pair l0 = LogFast<Products>(ReduceLog<Products>(x));
  const double d = std::fabs(l0.hi) * 0x1p-68;
  double log_x = l0.hi + (l0.lo + d);
  if (log_x != l0.hi + (l0.lo - d)) log_x = LogSlow(x);
  return {log_x, PowFromLog<Products>(x, y, l0)};
}

// ---------------------------------------------------------------------------------------------
// The choice between the two compilations.

#if TAV_ELEMENTARY_FUSED
[[gnu::target("fma")]] double ExpFused(double x) { return ExpWith<FusedProducts>(x); }
[[gnu::target("fma")]] double Expm1Fused(double x) { return Expm1With<FusedProducts>(x); }
[[gnu::target("fma")]] double LogFused(double x) { return LogWith<FusedProducts>(x); }
[[gnu::target("fma")]] WeightedLogSums AddWeightedLogsFused(const double* weight, const double* x,
                                                            long n, WeightedLogSums sums) {
  return AddWeightedLogsWith<FusedProducts>(weight, x, n, sums);
}
[[gnu::target("fma")]] double Log1pFused(double x) { return Log1pWith<FusedProducts>(x); }
[[gnu::target("fma")]] double PowFused(double x, double y) { return PowWith<FusedProducts>(x, y); }
[[gnu::target("fma")]] LogAndPower LogAndPowFused(double x, double y) {
  return LogAndPowWith<FusedProducts>(x, y);
}

bool HasFusedMultiplyAdd() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("fma") != 0;
  }();
  return has;
}
#endif

}  // namespace

namespace elementary_portable {
double Exp(double x) { return ExpWith<PortableProducts>(x); }
double Expm1(double x) { return Expm1With<PortableProducts>(x); }
double Log(double x) { return LogWith<PortableProducts>(x); }
WeightedLogSums AddWeightedLogs(const double* weight, const double* x, long n,
                                WeightedLogSums sums) {
  return AddWeightedLogsWith<PortableProducts>(weight, x, n, sums);
}
double Log1p(double x) { return Log1pWith<PortableProducts>(x); }
double Pow(double x, double y) { return PowWith<PortableProducts>(x, y); }
LogAndPower LogAndPow(double x, double y) { return LogAndPowWith<PortableProducts>(x, y); }
}  // namespace elementary_portable

#if TAV_ELEMENTARY_FUSED
double Exp(double x) { return HasFusedMultiplyAdd() ? ExpFused(x) : elementary_portable::Exp(x); }
double Expm1(double x) {
  return HasFusedMultiplyAdd() ? Expm1Fused(x) : elementary_portable::Expm1(x);
}
double Log(double x) { return HasFusedMultiplyAdd() ? LogFused(x) : elementary_portable::Log(x); }
WeightedLogSums AddWeightedLogs(const double* weight, const double* x, long n,
                                WeightedLogSums sums) {
  return HasFusedMultiplyAdd() ? AddWeightedLogsFused(weight, x, n, sums)
                               : elementary_portable::AddWeightedLogs(weight, x, n, sums);
}
double Log1p(double x) {
  return HasFusedMultiplyAdd() ? Log1pFused(x) : elementary_portable::Log1p(x);
}
double Pow(double x, double y) {
  return HasFusedMultiplyAdd() ? PowFused(x, y) : elementary_portable::Pow(x, y);
}
LogAndPower LogAndPow(double x, double y) {
  return HasFusedMultiplyAdd() ? LogAndPowFused(x, y) : elementary_portable::LogAndPow(x, y);
}
#else
double Exp(double x) { return elementary_portable::Exp(x); }
double Expm1(double x) { return elementary_portable::Expm1(x); }
double Log(double x) { return elementary_portable::Log(x); }
WeightedLogSums AddWeightedLogs(const double* weight, const double* x, long n,
                                WeightedLogSums sums) {
  return elementary_portable::AddWeightedLogs(weight, x, n, sums);
}
double Log1p(double x) { return elementary_portable::Log1p(x); }
double Pow(double x, double y) { return elementary_portable::Pow(x, y); }
LogAndPower LogAndPow(double x, double y) { return elementary_portable::LogAndPow(x, y); }
#endif

}  // namespace tav
