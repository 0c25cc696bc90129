#ifndef TAV_ENGINE_CORE_DOUBLE_DOUBLE_H_
#define TAV_ENGINE_CORE_DOUBLE_DOUBLE_H_

// Error-free transformations of doubles, for the elementary functions: a sum or a product of
// two doubles written exactly as a rounded result plus its rounding error, with the basic
// operations alone (no fused multiply-add), so that every IEEE machine gives the same bits.
// The source file that uses them must be compiled without contraction of a * b + c into a
// fused multiply-add (the project's CMakeLists.txt sets -ffp-contract=off for every source).

namespace tav::double_double {

// hi + lo, with |lo| at most half a unit in the last place of hi.
struct Pair {
  double hi;
  double lo;
};

// a + b exactly, when a is 0 or its exponent is at least that of b (so when |a| >= |b|).
inline Pair FastTwoSum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

// a + b exactly, whatever their magnitudes (barring overflow).
inline Pair TwoSum(double a, double b) {
  const double s = a + b;
  const double a_part = s - b;
  const double b_part = s - a_part;
  return {s, (a - a_part) + (b - b_part)};
}

// a as two halves of at most 26 significant bits each (Veltkamp), for |a| < 2^995.
inline Pair Split(double a) {
  const double t = 134217729.0 * a;  // 2^27 + 1
  const double hi = t - (t - a);
  return {hi, a - hi};
}

// a * b exactly (Dekker), for |a|, |b| < 2^995 and a product whose rounding error is a
// normal number (|a * b| > 2^-969, or 0).
inline Pair TwoProduct(double a, double b) {
  const double p = a * b;
  const Pair x = Split(a);
  const Pair y = Split(b);
  const double error = ((x.hi * y.hi - p) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo;
  return {p, error};
}

// a * a exactly, under the conditions of TwoProduct.
inline Pair TwoSquare(double a) {
  const double p = a * a;
  const Pair x = Split(a);
  const double error = ((x.hi * x.hi - p) + 2 * x.hi * x.lo) + x.lo * x.lo;
  return {p, error};
}

// The sum of two pairs, within about 2^-105 of it relative to the larger.
inline Pair Add(Pair a, Pair b) {
  const Pair s = TwoSum(a.hi, b.hi);
  const Pair t = TwoSum(a.lo, b.lo);
  Pair u = FastTwoSum(s.hi, s.lo + t.hi);
  return FastTwoSum(u.hi, u.lo + t.lo);
}

// A pair plus a double.
inline Pair Add(Pair a, double b) {
  const Pair s = TwoSum(a.hi, b);
  return FastTwoSum(s.hi, s.lo + a.lo);
}

// The product of two pairs, within about 2^-104 of it relative.
inline Pair Multiply(Pair a, Pair b) {
  const Pair p = TwoProduct(a.hi, b.hi);
  return FastTwoSum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

// A pair times a double.
inline Pair Multiply(Pair a, double b) {
  const Pair p = TwoProduct(a.hi, b);
  return FastTwoSum(p.hi, p.lo + a.lo * b);
}

}  // namespace tav::double_double

#endif  // TAV_ENGINE_CORE_DOUBLE_DOUBLE_H_
