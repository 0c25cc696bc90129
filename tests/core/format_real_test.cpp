#include "core/format_real.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

namespace tav {
namespace {

TEST(FormatRealFixed, PadsOnTheLeftAndNeverCuts) {
  EXPECT_EQ(FormatReal(2, 2, 0.5), "0.50");  // wider than the width: not cut
  EXPECT_EQ(FormatReal(8, 3, -1.5), "  -1.500");
  EXPECT_EQ(FormatReal(3, 0, 7.0), "  7");
  EXPECT_EQ(FormatReal(0, 0, 7.0), "7");
  EXPECT_EQ(FormatReal(6, 1, 123456.0), "123456.0");
  EXPECT_EQ(FormatReal(-4, 2, 1.5), "1.50");
}

TEST(FormatRealFixed, RoundsWithCarries) {
  EXPECT_EQ(FormatReal(0, 4, 9.9996), "9.9996");
  EXPECT_EQ(FormatReal(0, 3, 9.9996), "10.000");
  EXPECT_EQ(FormatReal(0, 4, 9.99996), "10.0000");
  EXPECT_EQ(FormatReal(7, 2, -99.999), "-100.00");
  EXPECT_EQ(FormatReal(0, 0, 2.75), "3");
  EXPECT_EQ(FormatReal(0, 2, 0.125), "0.12");  // exactly halfway: ties to even
}

TEST(FormatRealFixed, SignOfZero) {
  EXPECT_EQ(FormatReal(5, 2, -0.0), " 0.00");
  EXPECT_EQ(FormatReal(5, 2, 0.0), " 0.00");
  // A negative value that rounds to zero has no sign; one that does not keeps it.
  EXPECT_EQ(FormatReal(5, 2, -0.001), " 0.00");
  EXPECT_EQ(FormatReal(12, 8, -1e-13), "  0.00000000");
  EXPECT_EQ(FormatReal(5, 2, -0.005001), "-0.01");
  EXPECT_EQ(FormatReal(0, 0, -0.4), "0");
}

TEST(FormatRealFixed, SwitchesToExponentFormAt1E36) {
  // 2^100 = 1267650600228229401496703205376 is exact in a double and below 1E36.
  EXPECT_EQ(FormatReal(0, 0, std::ldexp(1.0, 100)), "1267650600228229401496703205376");
  // 2^120 = 1.329227995784915872903807060280344576E36.
  EXPECT_EQ(FormatReal(12, 2, std::ldexp(1.0, 120)), " 1.329E+0036");
  EXPECT_EQ(FormatReal(10, 2, -1e36), "-1.0E+0036");
}

TEST(FormatRealExponent, SignificantDigitsFollowTheWidth) {
  EXPECT_EQ(FormatReal(10, -1, 1234.5), " 1.2E+0003");
  EXPECT_EQ(FormatReal(11, -1, 0.0), " 0.00E+0000");
  EXPECT_EQ(FormatReal(12, -1, -0.000123456), "-1.235E-0004");
  // Fewer than two digits are never used: width 5 still gives two, and the text is longer.
  EXPECT_EQ(FormatReal(5, -1, 1234.5), " 1.2E+0003");
  // A carry that moves the exponent.
  EXPECT_EQ(FormatReal(10, -2, 9.96), " 1.0E+0001");
  EXPECT_EQ(FormatReal(10, -1, -0.0), " 0.0E+0000");
  EXPECT_EQ(FormatReal(10, -1, 1e-300), " 1.0E-0300");
}

TEST(FormatRealExponent, AtMostEighteenDigits) {
  // 1/3 in a double is 0.333333333333333314829616256...; 18 digits end in ...315.
  EXPECT_EQ(FormatReal(30, -1, 1.0 / 3.0), "     3.33333333333333315E-0001");
  EXPECT_EQ(FormatReal(26, -1, 2.0), " 2.00000000000000000E+0000");
}

TEST(FormatRealSpecial, InfinityAndNan) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(FormatReal(6, 2, inf), "  +Inf");
  EXPECT_EQ(FormatReal(6, -1, -inf), "  -Inf");
  EXPECT_EQ(FormatReal(2, 2, std::numeric_limits<double>::quiet_NaN()), "Nan");
  EXPECT_EQ(FormatReal(5, 0, std::numeric_limits<double>::quiet_NaN()), "  Nan");
}

TEST(FormatRealWide, KeepsTheNumberWithinEightyCharacters) {
  // A width above 255 counts as 255; the padding is dropped before any digit is.
  EXPECT_EQ(FormatReal(300, 2, 1.5), std::string(76, ' ') + "1.50");
  EXPECT_EQ(FormatReal(100, -1, 1.5), std::string(54, ' ') + " 1.50000000000000000E+0000");
  EXPECT_EQ(FormatReal(80, 1, -2.0), std::string(76, ' ') + "-2.0");
  EXPECT_EQ(FormatReal(0, 100, 1.0).size(), 80u);
}

// The text of printf's conversions, as the report has always been written: %.*f, and %.*E with
// the exponent widened to four digits.
std::string PrintfText(int width, int decimals, double value) {
  char buffer[400];
  std::string text;
  if (decimals >= 0 && std::fabs(value) < 1e36) {
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    text = buffer;
    if (text[0] == '-' && text.find_first_of("123456789") == std::string::npos) text.erase(0, 1);
  } else {
    const int digits = std::clamp(width - 8, 2, 18);
    std::snprintf(buffer, sizeof buffer, "%.*E", digits - 1, std::fabs(value));
    std::string mantissa(buffer);
    const std::size_t e = mantissa.find('E');
    const int exponent = std::atoi(buffer + e + 1);
    std::snprintf(buffer, sizeof buffer, "E%c%04d", exponent < 0 ? '-' : '+', std::abs(exponent));
    text = (value < 0 ? "-" : " ") + mantissa.substr(0, e) + buffer;
  }
  if (static_cast<int>(text.size()) < width) text.insert(0, width - text.size(), ' ');
  return text;
}

// Many values of every magnitude, ties of decimal rounding among them, in fixed and exponent
// form: the same text as printf gives.
TEST(FormatRealFixed, SameTextAsPrintfOverManyValues) {
  std::mt19937_64 random(5);
  std::uniform_real_distribution<double> mantissa(-10, 10);
  std::uniform_int_distribution<int> power(-12, 40);
  for (int k = 0; k < 300000; ++k) {
    double value = mantissa(random) * std::pow(10.0, power(random));
    if (k % 3 == 0) value = std::round(value * 1000) / 1000 + 0.0005;  // near ties
    const int width = static_cast<int>(random() % 24);
    const int decimals = static_cast<int>(random() % 13) - 1;
    const std::string expected = PrintfText(width, decimals, value);
    if (expected.size() > 80) continue;
    ASSERT_EQ(FormatReal(width, decimals, value), expected)
        << width << " " << decimals << " " << value;
  }
}

}  // namespace
}  // namespace tav
