#include "core/format_real.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>

namespace tav {
namespace {

constexpr int kMaxWidth = 255;
constexpr int kMaxDecimals = 255;
constexpr std::size_t kMaxText = 80;

std::string Fixed(int decimals, double value) {
  // Largest text: sign, 36 integer digits, point, kMaxDecimals decimals.
  char buffer[48 + kMaxDecimals];
  // The digits of printf's %.*f: to_chars rounds the exact binary value the same way.
  const std::to_chars_result end =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  std::string text(buffer, end.ptr);
  // A value that rounds to zero is written without a sign: "-0.00" would claim a negative
  // number where the text shows none.
  if (text[0] == '-' && text.find_first_of("123456789") == std::string::npos) text.erase(0, 1);
  return text;
}

std::string Exponent(int width, double value) {
  int digits = std::clamp(width - 8, 2, 18);
  char buffer[64];
  const std::to_chars_result end = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                                 std::chars_format::scientific, digits - 1);
  const std::string_view text(buffer, static_cast<std::size_t>(end.ptr - buffer));
  const std::size_t e = text.find('e');
  const int exponent = std::atoi(std::string(text.substr(e + 1)).c_str());
  std::string result(1, value < 0.0 ? '-' : ' ');
  result.append(text.substr(0, e));
  result += 'E';
  result += exponent < 0 ? '-' : '+';
  const std::string digits_text = std::to_string(std::abs(exponent));
  result.append(4 - std::min<std::size_t>(4, digits_text.size()), '0');
  result += digits_text;
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
