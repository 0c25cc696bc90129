#include "core/elementary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "core/elementary_tables.h"
#include "core/long_real.h"

namespace tav {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Equal as bits: the sign of 0 counts, NaN equals NaN.
::testing::AssertionResult Same(double a, double b) {
  if (std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) ||
      (std::isnan(a) && std::isnan(b))) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << std::hexfloat << a << " is not " << b;
}

TEST(Elementary, SpecialValues) {
  EXPECT_TRUE(Same(Exp(0), 1));
  EXPECT_TRUE(Same(Exp(-0.0), 1));
  EXPECT_TRUE(Same(Exp(kInfinity), kInfinity));
  EXPECT_TRUE(Same(Exp(-kInfinity), 0));
  EXPECT_TRUE(Same(Exp(kNaN), kNaN));
  // The last finite result and the first infinite one; the last of 2^-1074 and the first of 0
  // (e^x on either side of 2^-1075); a subnormal.
  EXPECT_TRUE(Same(Exp(0x1.62e42fefa39efp+9), 0x1.fffffffffff2ap+1023));
  EXPECT_TRUE(Same(Exp(0x1.62e42fefa39fp+9), kInfinity));
  EXPECT_TRUE(Same(Exp(-0x1.74910d52d3051p+9), 0x1p-1074));
  EXPECT_TRUE(Same(Exp(-0x1.74910d52d3052p+9), 0));
  EXPECT_TRUE(Same(Exp(-0x1.625p+9), 0x0.cbb07868c4334p-1022));
  EXPECT_TRUE(Same(Exp(1), 0x1.5bf0a8b145769p+1));
  EXPECT_TRUE(Same(Log(1), 0));
  EXPECT_TRUE(Same(Log(0), -kInfinity));
  EXPECT_TRUE(Same(Log(-0.0), -kInfinity));
  EXPECT_TRUE(Same(Log(-1), kNaN));
  EXPECT_TRUE(Same(Log(kInfinity), kInfinity));
  EXPECT_TRUE(Same(Log(kNaN), kNaN));
  EXPECT_TRUE(Same(Log(0x1p-1074), -0x1.74385446d71c3p+9));
  EXPECT_TRUE(Same(Log(std::numeric_limits<double>::max()), 0x1.62e42fefa39efp+9));
  EXPECT_TRUE(Same(Log(2), 0x1.62e42fefa39efp-1));
  EXPECT_TRUE(Same(Log1p(-1), -kInfinity));
  EXPECT_TRUE(Same(Log1p(-2), kNaN));
  EXPECT_TRUE(Same(Log1p(-0.0), -0.0));
  EXPECT_TRUE(Same(Log1p(0x1p-1074), 0x1p-1074));
  EXPECT_TRUE(Same(Log1p(kInfinity), kInfinity));
  EXPECT_TRUE(Same(Expm1(-kInfinity), -1));
  EXPECT_TRUE(Same(Expm1(-0.0), -0.0));
  EXPECT_TRUE(Same(Expm1(-40), -1));
  EXPECT_TRUE(Same(Expm1(kInfinity), kInfinity));
  EXPECT_TRUE(Same(Expm1(0x1p-1074), 0x1p-1074));
  // C's pow.
  EXPECT_TRUE(Same(Pow(kNaN, 0), 1));
  EXPECT_TRUE(Same(Pow(1, kNaN), 1));
  EXPECT_TRUE(Same(Pow(-1, kInfinity), 1));
  EXPECT_TRUE(Same(Pow(0.5, -kInfinity), kInfinity));
  EXPECT_TRUE(Same(Pow(2, -kInfinity), 0));
  EXPECT_TRUE(Same(Pow(-0.0, -3), -kInfinity));
  EXPECT_TRUE(Same(Pow(-0.0, -2), kInfinity));
  EXPECT_TRUE(Same(Pow(-0.0, 3), -0.0));
  EXPECT_TRUE(Same(Pow(-0.0, 0.5), 0));
  EXPECT_TRUE(Same(Pow(-kInfinity, 3), -kInfinity));
  EXPECT_TRUE(Same(Pow(-kInfinity, -3), -0.0));
  EXPECT_TRUE(Same(Pow(-2, 0.5), kNaN));
  EXPECT_TRUE(Same(Pow(-2, 3), -8));
  EXPECT_TRUE(Same(Pow(-2, 1e300), kInfinity));
  EXPECT_TRUE(Same(Pow(2, 1024), kInfinity));
  EXPECT_TRUE(Same(Pow(2, -1074), 0x1p-1074));
  EXPECT_TRUE(Same(Pow(2, -1075), 0));
  EXPECT_TRUE(Same(Pow(0x1p-1074, 0.5), 0x1p-537));
  EXPECT_TRUE(Same(Pow(10, -2), 0x1.47ae147ae147bp-7));
  EXPECT_TRUE(Same(Pow(4, 0.5), 2));
}

// Arguments whose exact results lie within 1E-14 of a unit in the last place of a midpoint
// between doubles, where the terms to x^2 of the series land on the midpoint; and results the
// GNU C library rounds the wrong way (within 0.005 units of a midpoint). The values are the
// nearest doubles to mpmath's at 400 bits; those of Pow are exact midpoints, which go to the
// even neighbour (worked out in integers).
TEST(Elementary, HardCases) {
  EXPECT_TRUE(Same(Exp(0x1p-53), 0x1.0000000000001p+0));
  EXPECT_TRUE(Same(Exp(-0x1p-54), 1));
  EXPECT_TRUE(Same(Exp(0x1.8p-52), 0x1.0000000000002p+0));
  EXPECT_TRUE(Same(Expm1(0x1p-52), 0x1.0000000000001p-52));
  EXPECT_TRUE(Same(Expm1(-0x1p-53), -0x1p-53));
  EXPECT_TRUE(Same(Expm1(0x1.8p-50), 0x1.8000000000005p-50));
  EXPECT_TRUE(Same(Log(0x1.ffffffffffffep-1), -0x1.0000000000001p-52));
  EXPECT_TRUE(Same(Log(0x1.0000000000006p+0), 0x1.7fffffffffffcp-50));
  EXPECT_TRUE(Same(Log(0x1.ffffffffffff4p-1), -0x1.8000000000005p-50));
  EXPECT_TRUE(Same(Log1p(-0x1p-52), -0x1.0000000000001p-52));
  EXPECT_TRUE(Same(Log1p(0x1.8p-50), 0x1.7fffffffffffcp-50));
  EXPECT_TRUE(Same(Log1p(-0x1.8p-50), -0x1.8000000000005p-50));
  EXPECT_TRUE(Same(Log(0x1.2f5885f1f26aap-1), -0x1.0c01cceb2daaap-1));
  EXPECT_TRUE(Same(Log(0x1.d03718b3f61afp-1), -0x1.914fa43863d9dp-4));
  EXPECT_TRUE(Same(Log(0x1.bc035decfb395p-1), -0x1.23c78af8f580ap-3));
  EXPECT_TRUE(Same(Log(0x1.2d748be62fb4p+0), 0x1.4ebbd0ebce38p-3));
  EXPECT_TRUE(Same(Log(0x1.08cefc7fced23p+0), 0x1.1521e0e353527p-5));
  EXPECT_TRUE(Same(Pow(0x1.88ce9f5b7564ep-1, 2.0 / 3.0), 0x1.ad15a5b5a6d1ap-1));
  EXPECT_TRUE(Same(Pow(0x1.d9p+0, 6), 0x1.3e491f6f63868p+5));
  EXPECT_TRUE(Same(Pow(0x1.8fcp+13, 5), 0x1.2917d3170bfap+68));
  EXPECT_TRUE(Same(Pow(0x1.3a78p+18, 4), 0x1.2372846eafc6p+73));
  const LogAndPower both = LogAndPow(0x1.88ce9f5b7564ep-1, 2.0 / 3.0);
  EXPECT_TRUE(Same(both.log, Log(0x1.88ce9f5b7564ep-1)));
  EXPECT_TRUE(Same(both.power, 0x1.ad15a5b5a6d1ap-1));
}

// The hardest double arguments of e^x and ln x: Lefevre and Muller's worst cases for correct
// rounding (their published table of worst cases in double precision, 2000: exp on [-16, -8],
// [-8, -4] and [-4, -2], ln on [1.648, 2980.957]; their paper of 2001: exp near 0, and ln over
// every double). After the first 53 bits of the exact result come the rounding bit and then 52
// to 64 equal bits: it lies within 2^-52 to 2^-64 of a unit in the last place of a double or of
// a midpoint between two. The expected doubles are mpmath's values at 400 bits rounded to
// nearest (each checked against bc -l at scale 120: the first 60 digits agree); those near a
// midpoint are beyond what quadruple precision can decide.
TEST(Elementary, WorstCasesForCorrectRounding) {
  struct Case {
    double x;
    double rounded;
  };
  // After the 53 bits: 0 and 54 zeros (just above a double); 0 and 52 ones (just below a
  // midpoint); 1 and 53 zeros (just above one); 1 and 57 zeros.
  const Case exp_cases[] = {{-0x1.e8bdbfcd9144ep+3, 0x1.f3e558cf4de54p-23},
                            {-0x1.71e0b869b5e79p+2, 0x1.951c6dc5d24e2p-9},
                            {-0x1.02393d5976769p+1, 0x1.1064b2c103ddbp-3},
                            {0x1.9e9cbbfd6080bp-31, 0x1.000000033d398p+0}};
  // 1 and 60 ones (just below a double); 0 and 64 zeros.
  const Case log_cases[] = {{0x1.ac50b409c8aeep+8, 0x1.83d4bcdebb3f4p+2},
                            {0x1.62a88613629b6p+678, 0x1.d6479eba7c971p+8}};
  for (const Case& c : exp_cases) {
    EXPECT_TRUE(Same(Exp(c.x), c.rounded)) << std::hexfloat << c.x;
    EXPECT_TRUE(Same(elementary_portable::Exp(c.x), c.rounded)) << std::hexfloat << c.x;
  }
  for (const Case& c : log_cases) {
    EXPECT_TRUE(Same(Log(c.x), c.rounded)) << std::hexfloat << c.x;
    EXPECT_TRUE(Same(elementary_portable::Log(c.x), c.rounded)) << std::hexfloat << c.x;
  }
}

// Correctly rounded where the x87's long double functions (64 bits, an implementation of their
// own) decide it: more than 2^-58 of the result from a midpoint. And the same bits with fused
// multiply-adds and without.
TEST(Elementary, CorrectlyRoundedAndTheSameWithoutFusedMultiplyAdds) {
  std::mt19937_64 generator(17);
  std::uniform_real_distribution<double> unit(0, 1);
  int decided = 0;
  auto check = [&](double x, double ours, long double reference) {
    const double nearest = static_cast<double>(reference);
    const double beside = std::nextafter(nearest, reference > nearest ? kInfinity : -kInfinity);
    const long double midpoint = (static_cast<long double>(nearest) + beside) / 2;
    if (std::fabs(reference - midpoint) > std::fabs(reference) * 0x1p-58L) {
      ++decided;
      ASSERT_TRUE(Same(ours, nearest)) << std::hexfloat << x;
    }
  };
  for (int i = 0; i < 100000; ++i) {
    const double x = -745 + 1455 * unit(generator);
    const double e = Exp(x);
    ASSERT_TRUE(Same(e, elementary_portable::Exp(x))) << std::hexfloat << x;
    check(x, e, std::exp(static_cast<long double>(x)));
    const double y =
        std::ldexp(1 + unit(generator), static_cast<int>(2200 * unit(generator)) - 1100);
    const double l = Log(y);
    ASSERT_TRUE(Same(l, elementary_portable::Log(y))) << std::hexfloat << y;
    check(y, l, std::log(static_cast<long double>(y)));
    const double b = 0.01 + 100 * unit(generator);
    const double p = -20 + 40 * unit(generator);
    const double power = Pow(b, p);
    ASSERT_TRUE(Same(power, elementary_portable::Pow(b, p))) << std::hexfloat << b << " " << p;
    check(b, power, std::pow(static_cast<long double>(b), static_cast<long double>(p)));
    const double s =
        (i % 2 ? 1 : -1) * std::ldexp(unit(generator), -static_cast<int>(60 * unit(generator)));
    ASSERT_TRUE(Same(Expm1(s), elementary_portable::Expm1(s))) << std::hexfloat << s;
    check(s, Expm1(s), std::expm1(static_cast<long double>(s)));
    ASSERT_TRUE(Same(Log1p(s), elementary_portable::Log1p(s))) << std::hexfloat << s;
    check(s, Log1p(s), std::log1p(static_cast<long double>(s)));
  }
  EXPECT_GT(decided, 450000);
}

// The weighted sums of logarithms add the same terms as a loop of Log calls, in the same order,
// with and without fused multiply-adds; arguments that take the slow ways (subnormals, near
// 1) included.
TEST(Elementary, WeightedLogSumsAreThoseOfLogCalls) {
  std::mt19937_64 generator(29);
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<double> weights;
  std::vector<double> x;
  for (int i = 0; i < 5000; ++i) {
    weights.push_back(std::floor(1 + 50 * unit(generator)) * (i % 7 == 0 ? 0.5 : 1.0));
    x.push_back(std::ldexp(1 + unit(generator), -static_cast<int>(40 * unit(generator))));
  }
  for (double special : {0x1p-1074, 1.0, std::nextafter(1.0, 2.0), 0x1p-1030}) {
    weights.push_back(3);
    x.push_back(special);
  }
  WeightedLogSums start;
  start.plain = -12.5;
  start.exact = {-12.5, 1e-18};
  double plain = start.plain;
  double_double::Pair exact = start.exact;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double term = weights[i] * Log(x[i]);
    plain += term;
    exact = double_double::Add(exact, term);
  }
  const long n = static_cast<long>(x.size());
  for (const WeightedLogSums sums :
       {AddWeightedLogs(weights.data(), x.data(), n, start),
        elementary_portable::AddWeightedLogs(weights.data(), x.data(), n, start)}) {
    EXPECT_TRUE(Same(sums.plain, plain));
    EXPECT_TRUE(Same(sums.exact.hi, exact.hi));
    EXPECT_TRUE(Same(sums.exact.lo, exact.lo));
  }
  const WeightedLogSums none = AddWeightedLogs(weights.data(), x.data(), 0, start);
  EXPECT_TRUE(Same(none.plain, start.plain));
  EXPECT_TRUE(Same(none.exact.lo, start.exact.lo));
}

#if defined(__GLIBC__) && defined(__x86_64__)
// The GNU C library's exp, log and pow, within 0.52 units in the last place, agree but for
// about one result in a thousand.
TEST(Elementary, NearlyAlwaysTheGnuCLibrarys) {
  std::mt19937_64 generator(3);
  std::uniform_real_distribution<double> unit(0, 1);
  int differ = 0;
  for (int i = 0; i < 100000; ++i) {
    const double x = -700 + 1400 * unit(generator);
    differ += Exp(x) != std::exp(x);
    const double y = 1000 * unit(generator);
    differ += Log(y) != std::log(y);
    const double b = 10 * unit(generator);
    differ += Pow(b, 2.0 / 3.0) != std::pow(b, 2.0 / 3.0);
  }
  EXPECT_LT(differ, 600);
}
#endif

// The tables against LongReal.
TEST(Elementary, TablesHoldWhatTheySay) {
  const LongReal ln2 = LongReal::Ln2();
  for (int j = 0; j < 256; ++j) {
    const LongReal exact = LongExp(ln2.Times(static_cast<std::uint32_t>(j)).Scaled(-8));
    const elementary_tables::ExpEntry& t = elementary_tables::kExp[j];
    ASSERT_EQ(t.hi, exact.Round()) << j;
    ASSERT_EQ(t.lo, (exact - LongReal(t.hi)).Round()) << j;
  }
  for (int i = 0; i < 512; ++i) {
    const elementary_tables::LogEntry& t = elementary_tables::kLog[i];
    // 10 significant bits, and a head on the grid of 2^-42.
    ASSERT_EQ(std::bit_cast<std::uint64_t>(t.c) & ((std::uint64_t{1} << 43) - 1), 0u) << i;
    ASSERT_EQ(std::fmod(t.head, 0x1p-42), 0) << i;
    const LongReal minus_log = -LongLog(LongReal(t.c));
    const LongReal rest = minus_log - LongReal(t.head) - LongReal(t.middle);
    ASSERT_EQ(t.middle, (minus_log - LongReal(t.head)).Round()) << i;
    ASSERT_EQ(elementary_tables::kLogTail[i], rest.Round()) << i;
  }
}

TEST(LongReal, ArithmeticAndFunctions) {
  // ln 2 against its series, the sum of 1 / (k 2^k), whose 330 terms and sums lose 2^-310.
  LongReal series;
  for (std::uint32_t k = 1; k <= 330; ++k) {
    series = series + LongReal(1.0).Scaled(-static_cast<int>(k)).DividedBy(k);
  }
  const LongReal difference = series - LongReal::Ln2();
  EXPECT_TRUE(difference.IsZero() || difference.Exponent() < -308);
  // ln(e^x) = x and e^(ln x) = x to 2^-300 of max(|x|, 1) (e^x near 1 holds x to 2^-318).
  for (const double x : {0x1p-60, 1e-9, 0.3, 1.0, 2.5, 37.0, 700.0}) {
    const int scale = std::max(LongReal(x).Exponent(), 1);
    const LongReal back = LongLog(LongExp(LongReal(x))) - LongReal(x);
    EXPECT_TRUE(back.IsZero() || back.Exponent() < scale - 300) << x;
    const LongReal again = LongExp(LongLog(LongReal(x))) - LongReal(x);
    EXPECT_TRUE(again.IsZero() || again.Exponent() < LongReal(x).Exponent() - 300) << x;
  }
  // e^x - 1 keeps its relative precision: (e^x - 1 - x - x^2/2) / x^3 = 1/6 near 0.
  const LongReal x(0x1p-80);
  const LongReal cubic = LongExpm1(x) - x - (x * x).Scaled(-1);
  EXPECT_EQ((cubic.Scaled(240) * LongReal(6.0)).Round(), 1.0);
  // Rounding: ties to even, subnormals, overflow, and values within 2^-279 of a midpoint.
  const LongReal midpoint = LongReal(1.0) + LongReal(0x1p-53);
  EXPECT_EQ(midpoint.Round(), 1.0);
  EXPECT_EQ((midpoint + LongReal(0x1p-300)).Round(), 0x1.0000000000001p+0);
  EXPECT_EQ((midpoint + LongReal(0x1p-300)).Round(true), 1.0);
  EXPECT_EQ((midpoint + LongReal(0x1p-200)).Round(true), 0x1.0000000000001p+0);
  const LongReal smallest(0x1p-1074);
  EXPECT_EQ((smallest + smallest.Scaled(-2)).Round(), 0x1p-1074);
  EXPECT_EQ((smallest + smallest.Scaled(-1)).Round(), 0x1p-1073);  // 1.5 units: to even
  EXPECT_EQ(smallest.Scaled(-1).Round(), 0);
  EXPECT_EQ((smallest.Scaled(-1) + smallest.Scaled(-100)).Round(), 0x1p-1074);
  EXPECT_EQ((LongReal(std::numeric_limits<double>::max()) + LongReal(0x1p970)).Round(), kInfinity);
  EXPECT_EQ((-LongReal(0.1)).Round(), -0.1);
}

}  // namespace
}  // namespace tav
