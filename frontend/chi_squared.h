#ifndef TAV_FRONTEND_CHI_SQUARED_H_
#define TAV_FRONTEND_CHI_SQUARED_H_

#include <QString>
#include <cstdint>
#include <optional>

namespace tavwin {

// The upper-tail probability of a chi-squared value x with df degrees of freedom,
// 1 - P(df/2, x/2) of the regularised lower incomplete gamma function, computed in extended
// precision by its power series. Gives 1 for df < 1 or x <= 0; above 100 degrees of freedom a
// value more than four standard deviations from the mean gives 1 or 0 at once.
double ChiSquaredUpperTail(std::int32_t df, double x);

// A decimal real: optional sign, digits with an optional "." and an optional exponent,
// blanks around allowed. A comma is never a decimal separator. Values too large for a double
// do not convert.
std::optional<double> ParseDecimalReal(const QString& text);

// A decimal integer in the 32-bit range: optional sign and digits, blanks around allowed.
std::optional<std::int32_t> ParseDecimalInteger(const QString& text);

// value rounded to decimals places, padded on the left with blanks to width characters.
QString FormatFixed(int width, int decimals, double value);

// What the "OK" button of the chi-squared tool shows, and which field gets the focus.
struct ChiSquaredAnswer {
  enum class Focus { kNone, kValue, kDegreesOfFreedom };
  QString text;
  Focus focus = Focus::kNone;
};

ChiSquaredAnswer EvaluateChiSquared(const QString& value_text, const QString& df_text);

}  // namespace tavwin

#endif  // TAV_FRONTEND_CHI_SQUARED_H_
