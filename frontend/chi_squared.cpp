#include "chi_squared.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace tavwin {
namespace {

// Above this many factors the log-gamma product is replaced by the library's log-gamma,
// which gives the same value without millions of logarithms.
constexpr long double kLargestProduct = 1.0e6L;

// ln Gamma(k + 1) for k a multiple of one half, as the product k (k - 1) ... down to 1 or 1/2.
long double LogGammaPlusOne(long double k) {
  if (k > kLargestProduct) return std::lgamma(k + 1.0L);
  long double s = 0.0L;
  long double f = k;
  while (f > 0.0L) {
    s += std::log(f);
    f -= 1.0L;
  }
  if (f != 0.0L) s += 0.57236494L;  // ln of the square root of pi
  return s;
}

}  // namespace

double ChiSquaredUpperTail(std::int32_t df, double x) {
  if (df < 1 || !(x > 0.0)) return 1.0;
  const long double n = df;
  if (df > 100) {
    const long double band = 4.0L * std::sqrt(2.0L * n);
    if (x < n - band) return 1.0;
    if (x > n + band) return 0.0;
  }
  const long double y = static_cast<long double>(x) / 2.0L;
  const long double k = n / 2.0L;
  const long double s = LogGammaPlusOne(k);
  const long double h = k * std::log(y) - s - y;
  if (h > -25.0L) {
    const long double r = std::exp(h);
    long double term = 1.0L;
    long double sum = 1.0L;
    long double a = k;
    while (term / sum > 1.0e-6L) {
      a += 1.0L;
      term = term * y / a;
      sum += term;
    }
    const long double u = r * sum;
    if (u > 1.0L) return 0.0;
    return static_cast<double>(1.0L - u);
  }
  return n > x ? 1.0 : 0.0;
}

std::optional<double> ParseDecimalReal(const QString& text) {
  const QString trimmed = text.trimmed();
  // Checked by hand so that no locale, hexadecimal form, "inf" or "nan" slips through.
  int i = 0;
  const int size = trimmed.size();
  if (i < size && (trimmed[i] == '+' || trimmed[i] == '-')) ++i;
  int digits = 0;
  while (i < size && trimmed[i].isDigit() && trimmed[i].unicode() < 128) ++i, ++digits;
  if (i < size && trimmed[i] == '.') {
    ++i;
    while (i < size && trimmed[i].isDigit() && trimmed[i].unicode() < 128) ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < size && (trimmed[i] == 'e' || trimmed[i] == 'E')) {
    ++i;
    if (i < size && (trimmed[i] == '+' || trimmed[i] == '-')) ++i;
    int exponent_digits = 0;
    while (i < size && trimmed[i].isDigit() && trimmed[i].unicode() < 128) ++i, ++exponent_digits;
    if (exponent_digits == 0) return std::nullopt;
  }
  if (i != size) return std::nullopt;
  const std::string ascii = trimmed.toStdString();
  errno = 0;
  const double value = std::strtod(ascii.c_str(), nullptr);
  if (std::isinf(value)) return std::nullopt;
  return value;
}

std::optional<std::int32_t> ParseDecimalInteger(const QString& text) {
  const QString trimmed = text.trimmed();
  int i = 0;
  if (i < trimmed.size() && (trimmed[i] == '+' || trimmed[i] == '-')) ++i;
  if (i == trimmed.size()) return std::nullopt;
  for (int j = i; j < trimmed.size(); ++j) {
    if (trimmed[j] < '0' || trimmed[j] > '9') return std::nullopt;
  }
  bool ok = false;
  const qlonglong value = trimmed.toLongLong(&ok, 10);
  if (!ok || value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(value);
}

QString FormatFixed(int width, int decimals, double value) {
  QString text = QString::number(value, 'f', decimals);
  if (text.startsWith('-') && QString::number(-value, 'f', decimals).toDouble() == 0.0) {
    text.remove(0, 1);  // no "-0.0000"
  }
  return text.rightJustified(width, ' ');
}

ChiSquaredAnswer EvaluateChiSquared(const QString& value_text, const QString& df_text) {
  ChiSquaredAnswer answer;
  const std::optional<double> value = ParseDecimalReal(value_text);
  if (!value) {
    answer.text = "Impossible chi-squared value";
    answer.focus = ChiSquaredAnswer::Focus::kValue;
    return answer;
  }
  const std::optional<std::int32_t> df = ParseDecimalInteger(df_text);
  if (!df) {
    answer.text = "Impossible degrees of freedom";
    answer.focus = ChiSquaredAnswer::Focus::kDegreesOfFreedom;
    return answer;
  }
  answer.text = "The P value is " + FormatFixed(6, 4, ChiSquaredUpperTail(*df, *value));
  return answer;
}

}  // namespace tavwin
