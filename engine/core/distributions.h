#ifndef TAV_ENGINE_CORE_DISTRIBUTIONS_H_
#define TAV_ENGINE_CORE_DISTRIBUTIONS_H_

namespace tav {

// The standard normal density: exp(-x^2 / 2) / sqrt(2 pi), and 0 for |x| > 100.
double NormalDensity(double x);

// The standard normal distribution function by Hart's rational approximation (as published by
// West): for a = |x| below 7.071 the tail is exp(-a^2/2) P(a) / Q(a) with polynomials of
// degree 6 and 7; up to 37 a continued fraction; beyond that 0. Accurate to double precision.
double NormalCdf(double x);

}  // namespace tav

#endif  // TAV_ENGINE_CORE_DISTRIBUTIONS_H_
