#include "core/hypot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

namespace tav {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

TEST(Hypot, ExactCasesAndSpecialValues) {
  EXPECT_EQ(Hypot(3, 4), 5);
  EXPECT_EQ(Hypot(-5, 12), 13);
  EXPECT_EQ(Hypot(0, -2.5), 2.5);
  EXPECT_EQ(Hypot(0, 0), 0);
  EXPECT_EQ(Hypot(1e300, 1e300), 1e300 * std::sqrt(2.0));
  EXPECT_EQ(Hypot(3e-320, 4e-320), 5e-320);
  EXPECT_EQ(Hypot(0x1p+1000, 1), 0x1p+1000);
  EXPECT_EQ(Hypot(kInfinity, std::nan("")), kInfinity);
  EXPECT_TRUE(std::isnan(Hypot(std::nan(""), 1)));
}

// Pairs where a correctly rounded result, the GNU C library's and the MinGW runtime's are not
// all the same: the values are the engine's on every system.
TEST(Hypot, SameLastBitOnEverySystem) {
  EXPECT_EQ(Hypot(-0x1.4a7cbbe5a8f9dp+1, -0x1.4030511a37c4p+2), 0x1.68506bb3a3545p+2);
  EXPECT_EQ(Hypot(-0x1.e432da1adaecdp+1, 0x1.226fc91f5c6acp-1), 0x1.e99ccdc11cf8bp+1);
  EXPECT_EQ(Hypot(-0x1.b938e1a7493b4p-1, -0x1.8c1c17f64d83dp-24), 0x1.b938e1a7493ep-1);
  EXPECT_EQ(Hypot(0x1.8edecf836a394p+6, 0x1.6fdea22c557b8p-3), 0x1.8edef9ec50794p+6);
  EXPECT_EQ(Hypot(-0x1.94033f1169c8p-8, 0x1.9b4d81b9e0894p-11), 0x1.974554f763a1dp-8);
}

// Within one unit in the last place of the exact value, over every ratio of the two.
TEST(Hypot, WithinOneUnitInTheLastPlace) {
  std::mt19937_64 generator(11);
  std::uniform_real_distribution<double> mantissa(-1, 1);
  std::uniform_int_distribution<int> exponent(-40, 40);
  for (int i = 0; i < 200000; ++i) {
    const double x = std::ldexp(mantissa(generator), exponent(generator));
    const double y = std::ldexp(mantissa(generator), exponent(generator));
    const long double exact =
        std::sqrt(static_cast<long double>(x) * x + static_cast<long double>(y) * y);
    const double h = Hypot(x, y);
    const long double unit = std::nextafter(h, kInfinity) - h;
    ASSERT_LE(std::fabs(h - exact), unit) << std::hexfloat << x << " " << y;
  }
}

#if defined(__GLIBC__) && defined(__x86_64__)
// The engine's results from before Hypot replaced the library's stay as they were.
TEST(Hypot, SameAsTheGnuCLibrary) {
  std::mt19937_64 generator(5);
  std::uniform_real_distribution<double> mantissa(-1, 1);
  std::uniform_int_distribution<int> exponent(-60, 60);
  for (int i = 0; i < 1000000; ++i) {
    const double x = std::ldexp(mantissa(generator), exponent(generator));
    const double y =
        i % 3 == 0 ? mantissa(generator) : std::ldexp(mantissa(generator), exponent(generator));
    ASSERT_EQ(Hypot(x, y), std::hypot(x, y)) << std::hexfloat << x << " " << y;
  }
}
#endif

}  // namespace
}  // namespace tav
