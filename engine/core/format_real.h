#ifndef TAV_ENGINE_CORE_FORMAT_REAL_H_
#define TAV_ENGINE_CORE_FORMAT_REAL_H_

#include <string>

namespace tav {

// The text of a number as the report and the log print it.
//
// decimals >= 0, fixed form: value rounded to `decimals` places (no point for 0), "-" right
// before the first digit of a negative value, blanks on the left up to `width`; a longer text
// is not cut to the width. A value that rounds to zero (negative zero included) has no sign.
// Magnitudes of 1E36 and more switch to the exponent form.
//
// decimals < 0, exponent form with s = width - 8 significant digits (at least 2, at most 18):
// blanks up to `width`, a sign character ("-" or a blank), d.ddd, "E", the exponent's sign and
// the exponent in four digits. FormatReal(10, -1, 1234.5) is " 1.2E+0003".
//
// Infinities and NaN give "+Inf", "-Inf" and "Nan", padded to `width`.
//
// A width above 255 counts as 255. The result holds at most 80 characters: padding beyond
// that is dropped first, so a very wide field never loses the number itself.
std::string FormatReal(int width, int decimals, double value);

}  // namespace tav

#endif  // TAV_ENGINE_CORE_FORMAT_REAL_H_
