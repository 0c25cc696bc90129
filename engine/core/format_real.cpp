#include "core/format_real.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace tav {
namespace {

constexpr int kMaxWidth = 255;
constexpr int kMaxDecimals = 255;
constexpr std::size_t kMaxText = 80;

std::string Fixed(int decimals, double value) {
  // Largest text: sign, 36 integer digits, point, kMaxDecimals decimals.
  char buffer[48 + kMaxDecimals];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  std::string text(buffer);
  // A value that rounds to zero is written without a sign: "-0.00" would claim a negative
  // number where the text shows none.
  if (text[0] == '-' && text.find_first_of("123456789") == std::string::npos) text.erase(0, 1);
  return text;
}

std::string Exponent(int width, double value) {
  int digits = std::clamp(width - 8, 2, 18);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*E", digits - 1, std::fabs(value));
  std::string_view text(buffer);
  std::size_t e = text.find('E');
  int exponent = std::atoi(buffer + e + 1);
  std::string result(1, value < 0.0 ? '-' : ' ');
  result.append(text.substr(0, e));
  char tail[16];
  std::snprintf(tail, sizeof tail, "E%c%04d", exponent < 0 ? '-' : '+', std::abs(exponent));
  result.append(tail);
  return result;
}

}  // namespace

std::string FormatReal(int width, int decimals, double value) {
  width = std::clamp(width, 0, kMaxWidth);
  std::string text;
  if (std::isnan(value)) {
    text = "Nan";
  } else if (std::isinf(value)) {
    text = value > 0 ? "+Inf" : "-Inf";
  } else if (decimals >= 0 && std::fabs(value) < 1e36) {
    text = Fixed(std::min(decimals, kMaxDecimals), value);
  } else {
    text = Exponent(width, value);
  }
  std::size_t padded = std::max<std::size_t>(static_cast<std::size_t>(width), text.size());
  std::size_t shown = std::max(text.size(), std::min(padded, kMaxText));
  text.insert(0, shown - text.size(), ' ');
  if (text.size() > kMaxText) text.resize(kMaxText);
  return text;
}

}  // namespace tav
