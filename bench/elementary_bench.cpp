// The engine's elementary functions (core/elementary.h) beside the C library's, on random
// arguments over the ranges the engine uses: how often the two differ, whether each result is
// the correctly rounded one, and their speed. The correctly rounded value is decided by the
// function in quadruple precision (libquadmath, 113 bits, within a unit or so of its last
// place) wherever that lies more than 2^-106 of it, relative, from a midpoint between doubles;
// arguments nearer a midpoint are counted as undecided. The fused and the portable ways of the
// engine's functions must agree everywhere.
//
// Usage: tav_elementary_bench [--check] [millions of arguments per range (default 2)] [seed]
// Speed: the best of 20 passes over 65,536 arguments of the range, nanoseconds a call, and
// the ratio of the engine's to the library's. --check leaves the speed out: the test command
// runs a short sample so (bench/CMakeLists.txt). The exit status is 1 when a result is not
// correctly rounded or the two ways differ, and with --check also when libquadmath is missing.

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/elementary.h"

#if __has_include(<quadmath.h>)
#include <quadmath.h>
#define TAV_HAVE_QUADMATH 1
#else
#define TAV_HAVE_QUADMATH 0
#endif

namespace {

using Arguments = std::pair<double, double>;

#if TAV_HAVE_QUADMATH
using Quad = __float128;
#else
using Quad = double;  // unused
#endif

// A function of one or two arguments as a function of two: the engine's, its portable way, the
// C library's and libquadmath's.
struct Function {
  const char* name;
  double (*ours)(double, double);
  double (*portable)(double, double);
  double (*library)(double, double);
  Quad (*quad)(Quad, Quad);
};

template <typename T, T (*f)(T)>
T Unary(T x, T) {
  return f(x);
}

double LibraryExp(double x) { return std::exp(x); }
double LibraryLog(double x) { return std::log(x); }
double LibraryPow(double x, double y) { return std::pow(x, y); }
double LibraryExpm1(double x) { return std::expm1(x); }
double LibraryLog1p(double x) { return std::log1p(x); }

#if TAV_HAVE_QUADMATH
Quad QuadExp(Quad x) { return expq(x); }
Quad QuadLog(Quad x) { return logq(x); }
Quad QuadPow(Quad x, Quad y) { return powq(x, y); }
Quad QuadExpm1(Quad x) { return expm1q(x); }
Quad QuadLog1p(Quad x) { return log1pq(x); }
#else
Quad QuadExp(Quad x) { return x; }
Quad QuadLog(Quad x) { return x; }
Quad QuadPow(Quad x, Quad) { return x; }
Quad QuadExpm1(Quad x) { return x; }
Quad QuadLog1p(Quad x) { return x; }
#endif

namespace portable = tav::elementary_portable;

const Function kFunctions[] = {
    {"exp", Unary<double, tav::Exp>, Unary<double, portable::Exp>, Unary<double, LibraryExp>,
     Unary<Quad, QuadExp>},
    {"log", Unary<double, tav::Log>, Unary<double, portable::Log>, Unary<double, LibraryLog>,
     Unary<Quad, QuadLog>},
    {"pow", tav::Pow, portable::Pow, LibraryPow, QuadPow},
    {"expm1", Unary<double, tav::Expm1>, Unary<double, portable::Expm1>,
     Unary<double, LibraryExpm1>, Unary<Quad, QuadExpm1>},
    {"log1p", Unary<double, tav::Log1p>, Unary<double, portable::Log1p>,
     Unary<double, LibraryLog1p>, Unary<Quad, QuadLog1p>},
};

// How an argument is drawn: from lo to hi uniformly; log-uniformly (2^u, u uniform, times a
// significand in [1, 2)), with either sign or as 1 +- that; every positive double with its
// exponent field uniform; an integer; the constant lo; 1 + a multiple of 2^-26 (27 bits).
enum class Draw {
  kUniform,
  kLogUniform,
  kSignedLogUniform,
  kOnePlus,
  kAnyPositive,
  kInteger,
  kConstant,
  kFewBits
};

struct Distribution {
  Draw draw;
  double lo = 0;
  double hi = 0;
};

struct Range {
  const char* function;
  const char* description;
  Distribution x;
  Distribution y;
};

double Uniform(std::mt19937_64& g, double lo, double hi) {
  return std::uniform_real_distribution<double>(lo, hi)(g);
}

// 2^u with u uniform in [lo, hi], times a random significand: log-uniform.
double LogUniform(std::mt19937_64& g, double lo, double hi) {
  return std::ldexp(Uniform(g, 1, 2), static_cast<int>(std::floor(Uniform(g, lo, hi))));
}

// A positive double with a uniformly drawn exponent field, subnormals included, infinity not.
double AnyPositive(std::mt19937_64& g) {
  for (;;) {
    const std::uint64_t bits = g() & 0x7fffffffffffffff;
    if ((bits >> 52) != 0x7ff && bits != 0) {
      double x;
      std::memcpy(&x, &bits, sizeof x);
      return x;
    }
  }
}

double Sample(const Distribution& d, std::mt19937_64& g) {
  switch (d.draw) {
    case Draw::kUniform:
      return Uniform(g, d.lo, d.hi);
    case Draw::kLogUniform:
      return LogUniform(g, d.lo, d.hi);
    case Draw::kSignedLogUniform:
      return (g() & 1 ? 1 : -1) * LogUniform(g, d.lo, d.hi);
    case Draw::kOnePlus:
      return 1 + (g() & 1 ? 1 : -1) * LogUniform(g, d.lo, d.hi);
    case Draw::kAnyPositive:
      return AnyPositive(g);
    case Draw::kInteger:
      return std::floor(Uniform(g, d.lo, d.hi + 1));
    case Draw::kConstant:
      return d.lo;
    case Draw::kFewBits:
      return 1 + std::ldexp(static_cast<double>(g() >> 38), -26);
  }
  return 0;
}

#if TAV_HAVE_QUADMATH
// The correctly rounded double of q, or false when q lies too near a midpoint to tell.
bool Decide(__float128 q, double& rounded) {
  rounded = static_cast<double>(q);
  if (!std::isfinite(rounded)) return true;
  const __float128 near = rounded;
  if (near == q) return true;
  const double beside =
      std::nextafter(rounded, q > near ? std::numeric_limits<double>::infinity()
                                       : -std::numeric_limits<double>::infinity());
  const __float128 midpoint = (near + static_cast<__float128>(beside)) / 2;
  return fabsq(q - midpoint) > fabsq(q) * static_cast<__float128>(0x1p-106);
}
#endif

struct Tally {
  std::int64_t arguments = 0;
  std::int64_t differ = 0;           // ours != library
  std::int64_t ours_wrong = 0;       // ours not the correctly rounded value
  std::int64_t library_wrong = 0;    // the library's not
  std::int64_t undecided = 0;        // quadruple precision could not tell
  std::int64_t portable_differ = 0;  // fused != portable
};

bool Same(double a, double b) {
  return a == b ? std::signbit(a) == std::signbit(b) : a != a && b != b;
}

double NanosecondsPerCall(const std::vector<Arguments>& args, double (*f)(double, double)) {
  double best = 1e300;
  volatile double sink = 0;
  for (int pass = 0; pass < 20; ++pass) {
    const auto start = std::chrono::steady_clock::now();
    double sum = 0;
    for (const Arguments& a : args) sum += f(a.first, a.second);
    const auto end = std::chrono::steady_clock::now();
    sink = sink + sum;
    best = std::min(best, std::chrono::duration<double, std::nano>(end - start).count());
  }
  return best / static_cast<double>(args.size());
}

}  // namespace

int main(int argc, char** argv) {
  const bool check = argc > 1 && std::strcmp(argv[1], "--check") == 0;
  if (check) {
    --argc;
    ++argv;
  }
  const double millions = argc > 1 ? std::atof(argv[1]) : 2;
  const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20240611;
  const auto count = static_cast<std::int64_t>(millions * 1e6);

  auto find = [&](const std::string& name) -> const Function& {
    for (const Function& f : kFunctions) {
      if (name == f.name) return f;
    }
    std::abort();
  };

  const Distribution none{Draw::kConstant};
  const std::vector<Range> ranges = {
      {"exp", "uniform on [-745.2, 709.8]", {Draw::kUniform, -745.2, 709.8}, none},
      {"exp", "|x| log-uniform on [2^-60, 2^4]", {Draw::kSignedLogUniform, -60, 4}, none},
      {"exp", "subnormal results, [-745.2, -708.4]", {Draw::kUniform, -745.2, -708.4}, none},
      {"log", "every positive double (exponent uniform)", {Draw::kAnyPositive}, none},
      {"log", "1 + d, |d| log-uniform on [2^-53, 2^-2]", {Draw::kOnePlus, -53, -2}, none},
      {"log", "uniform on [0.001, 1000]", {Draw::kUniform, 0.001, 1000}, none},
      {"pow",
       "x log-uniform on [2^-20, 2^20], y uniform on [-30, 30]",
       {Draw::kLogUniform, -20, 20},
       {Draw::kUniform, -30, 30}},
      {"pow",
       "x^(2/3), x uniform on [0.25, 4]",
       {Draw::kUniform, 0.25, 4},
       {Draw::kConstant, 2.0 / 3.0}},
      {"pow",
       "x uniform on [0.5, 2], y an integer in [-40, 40]",
       {Draw::kUniform, 0.5, 2},
       {Draw::kInteger, -40, 40}},
      {"pow",
       "x with up to 27 bits on [1, 2], y = 2 to 5 (exact and midway results)",
       {Draw::kFewBits},
       {Draw::kInteger, 2, 5}},
      {"expm1", "uniform on [-40, 40]", {Draw::kUniform, -40, 40}, none},
      {"expm1", "|x| log-uniform on [2^-60, 1]", {Draw::kSignedLogUniform, -60, 0}, none},
      {"log1p", "uniform on (-1, 1]", {Draw::kUniform, -0.9999999, 1}, none},
      {"log1p", "|x| log-uniform on [2^-60, 2^-1]", {Draw::kSignedLogUniform, -60, -1}, none},
      {"log1p", "x log-uniform on [1, 2^1000]", {Draw::kLogUniform, 0, 1000}, none},
  };

  std::printf("%" PRId64 " arguments per range, seed %" PRIu64 "%s\n\n", count, seed,
              TAV_HAVE_QUADMATH ? "" : " (no libquadmath: correct rounding not checked)");
  std::printf("%-6s %-58s %8s %8s %8s %8s %6s", "", "range", "differ", "ours!cr", "libm!cr",
              "undecid", "fused");
  if (!check) std::printf(" %6s %7s %7s %6s", "", "ns ours", "ns libm", "ratio");
  std::printf("\n");
  int failures = 0;
  for (const Range& range : ranges) {
    const Function& f = find(range.function);
    std::mt19937_64 generator(seed);
    Tally t;
    for (std::int64_t i = 0; i < count; ++i) {
      const Arguments a{Sample(range.x, generator), Sample(range.y, generator)};
      const double ours = f.ours(a.first, a.second);
      const double library = f.library(a.first, a.second);
      ++t.arguments;
      if (!Same(ours, library)) ++t.differ;
      if (!Same(ours, f.portable(a.first, a.second))) ++t.portable_differ;
#if TAV_HAVE_QUADMATH
      double rounded;
      if (!Decide(f.quad(a.first, a.second), rounded)) {
        ++t.undecided;
      } else {
        if (!Same(ours, rounded)) {
          ++t.ours_wrong;
          if (t.ours_wrong <= 5) {
            std::printf("  not correctly rounded: %s(%a, %a) = %a, not %a\n", f.name, a.first,
                        a.second, ours, rounded);
          }
        }
        if (!Same(library, rounded)) ++t.library_wrong;
      }
#endif
    }
    std::printf("%-6s %-58s %8" PRId64 " %8" PRId64 " %8" PRId64 " %8" PRId64 " %6" PRId64, f.name,
                range.description, t.differ, t.ours_wrong, t.library_wrong, t.undecided,
                t.portable_differ);
    if (!check) {
      std::vector<Arguments> sample(65536);
      std::mt19937_64 timing(seed + 1);
      for (Arguments& a : sample) a = {Sample(range.x, timing), Sample(range.y, timing)};
      const double ns_ours = NanosecondsPerCall(sample, f.ours);
      const double ns_library = NanosecondsPerCall(sample, f.library);
      std::printf(" %6s %7.2f %7.2f %6.2f", "", ns_ours, ns_library, ns_ours / ns_library);
    }
    std::printf("\n");
    if (t.ours_wrong > 0 || t.portable_differ > 0) ++failures;
  }
  std::printf(
      "\ndiffer: our result is not the C library's; ours!cr, libm!cr: not the correctly rounded "
      "value;\nundecided: too near a midpoint for quadruple precision; fused: the fused and the "
      "portable ways differ.\n");
  if (check && !TAV_HAVE_QUADMATH) ++failures;
  return failures == 0 ? 0 : 1;
}
