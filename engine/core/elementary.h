#ifndef TAV_ENGINE_CORE_ELEMENTARY_H_
#define TAV_ENGINE_CORE_ELEMENTARY_H_

#include "core/double_double.h"

namespace tav {

// The engine's exponential, logarithm and power functions. Each result is the double nearest
// the exact value (round to nearest; Pow's exact midpoints go to the even neighbour), so that
// the results do not depend on the system's math library, whose last bit differs from one
// system to another: they are computed from +, -, *, / and integer operations alone,
// which every IEEE machine rounds alike. Where the processor has fused multiply-adds, the fast
// ways use them (chosen at run time); as every result is returned only once its rounding is
// certain, the bits are the same with them and without.
//
// Special values are those of C's functions: Exp(-inf) = 0, Exp(+inf) = +inf, overflow to
// +inf and underflow through the subnormals to 0; Log(0) = -inf, Log(x < 0) = NaN,
// Log(+inf) = +inf, Log(1) = 0; Log1p(-1) = -inf, Log1p(x < -1) = NaN; Expm1(-inf) = -1;
// Pow(x, 0) = Pow(1, y) = 1 even for NaN, Pow(-x, y) = NaN for a finite y that is not an
// integer, and the signs and infinities of C's pow at 0 and infinity. A NaN argument gives NaN
// otherwise.
//
// Method. The result is first computed as a double-double hi + lo with an error bound of about
// 2^-65 of it (a table of 2^(j/256) and one of 512 reciprocals with their logarithms reduce the
// argument, short polynomials do the rest). When every value within that bound rounds to the
// same double, that is the result (Ziv's test); this settles all but one argument in 1,000
// (pow of large results) to 20,000 (log). The others are computed again in double-double
// arithmetic throughout, to about 2^-100; arguments near 0 and 1 (e^x and ln(1 + x) for
// |x| < 2^-27), whose first terms may sum to a midpoint between doubles, have those summed
// exactly; what that leaves (and Pow's exact midpoints) is computed with 320-bit numbers
// (core/long_real.h), far beyond the precision that the hardest double arguments of exp and
// log are known to need (Lefevre and Muller's search of the worst cases). The fast way takes 5
// to 21 nanoseconds, 0.6 to 1.7 times what the GNU C library's functions take (whose exp, log
// and pow are within 0.52 units in the last place, and so differ from these on one argument in
// some thousands); the slower ways up to microseconds (tav_elementary_bench, bench/README.md).
//
// The functions are declared const (results that depend on the arguments alone), so that the
// compiler computes a repeated call once.
[[gnu::const]] double Exp(double x);
[[gnu::const]] double Expm1(double x);  // e^x - 1, accurate near x = 0
[[gnu::const]] double Log(double x);    // natural logarithm
[[gnu::const]] double Log1p(double x);  // ln(1 + x), accurate near x = 0
[[gnu::const]] double Pow(double x, double y);

// Sums of weighted logarithms, the terms w Log(x) added one by one in their order: plainly, and
// as a double-double (double_double::Add).
struct WeightedLogSums {
  double plain = 0;
  double_double::Pair exact{0, 0};
};

// `sums` with the terms weight[i] * Log(x[i]), i < n, added in order: the same bits as a loop
// of Log calls, faster, as the logarithms and the additions overlap.
WeightedLogSums AddWeightedLogs(const double* weight, const double* x, long n,
                                WeightedLogSums sums);

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
WeightedLogSums AddWeightedLogs(const double* weight, const double* x, long n,
                                WeightedLogSums sums);
double Log1p(double x);
double Pow(double x, double y);
LogAndPower LogAndPow(double x, double y);
}  // namespace elementary_portable

}  // namespace tav

#endif  // TAV_ENGINE_CORE_ELEMENTARY_H_
