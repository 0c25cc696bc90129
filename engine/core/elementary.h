#ifndef TAV_ENGINE_CORE_ELEMENTARY_H_
#define TAV_ENGINE_CORE_ELEMENTARY_H_

namespace tav {

// The engine's exponential, logarithm and power functions. Each result is the double nearest
// the exact value (round to nearest; Pow's exact midpoints go to the even neighbour), so that
// the results do not depend on the system's math library, whose last bit differs from one
// system to another: they are computed from +, -, *, /, sqrt and integer operations alone,
// which every IEEE machine rounds alike. Where the processor has fused multiply-adds they serve
// only for products whose rounding error is taken exactly, so the bits are the same with them
// and without (core/double_double.h).
//
// Special values are those of C's functions: Exp(-inf) = 0, Exp(+inf) = +inf, overflow to
// +inf and underflow through the subnormals to 0; Log(0) = -inf, Log(x < 0) = NaN,
// Log(+inf) = +inf, Log(1) = 0; Log1p(-1) = -inf, Log1p(x < -1) = NaN; Expm1(-inf) = -1;
// Pow(x, 0) = Pow(1, y) = 1 even for NaN, Pow(-x, y) = NaN for a finite y that is not an
// integer, and the signs and infinities of C's pow at 0 and infinity. A NaN argument gives NaN
// otherwise.
//
// Method. The result is first computed as a double-double hi + lo with a proven error bound
// of about 2^-65 of it (tables of 256 values of 2^(j/256) and of 512 reciprocals with their
// logarithms reduce the argument, short polynomials do the rest); when the whole interval of
// that bound rounds to one double, that is the result (Ziv's test), which settles all but one
// argument in some thousands. The others are computed again with double-double arithmetic
// throughout to about 2^-100, and in the rare case that does not settle it either, with
// 320-bit numbers (core/long_real.h). The worst cases of exp and log over the doubles are
// known to need less than 2^-120 (Lefevre and Muller), so every result is the correctly
// rounded one. Such arguments take microseconds; the others some nanoseconds, a little more
// than the GNU C library's functions, which are accurate to about 0.51 units in the last
// place and so agree with these but for about one argument in a thousand.
//
// The functions are declared const (results that depend on the arguments alone), so that the
// compiler computes a repeated call once.
[[gnu::const]] double Exp(double x);
[[gnu::const]] double Expm1(double x);  // e^x - 1, accurate near x = 0
[[gnu::const]] double Log(double x);    // natural logarithm
[[gnu::const]] double Log1p(double x);  // ln(1 + x), accurate near x = 0
[[gnu::const]] double Pow(double x, double y);

// ln x and x^y together, each exactly as Log and Pow give it, in little more than the time of
// Pow alone: the logarithm the power is computed from is rounded for the first.
struct LogAndPower {
  double log;
  double power;
};
[[gnu::const]] LogAndPower LogAndPow(double x, double y);

// The same functions computed without fused multiply-adds, as on machines that have none: for
// the tests, which check that both ways give the same bits.
namespace elementary_portable {
double Exp(double x);
double Expm1(double x);
double Log(double x);
double Log1p(double x);
double Pow(double x, double y);
LogAndPower LogAndPow(double x, double y);
}  // namespace elementary_portable

}  // namespace tav

#endif  // TAV_ENGINE_CORE_ELEMENTARY_H_
