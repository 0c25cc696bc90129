#include "core/hypot.h"

#include <cmath>
#include <limits>
#include <utility>

namespace tav {

double Hypot(double x, double y) {
  double large = std::fabs(x);
  double small = std::fabs(y);
  if (std::isinf(large) || std::isinf(small)) return std::numeric_limits<double>::infinity();
  if (std::isnan(large) || std::isnan(small)) return large + small;
  if (large < small) std::swap(large, small);
  if (small == 0) return large;
  // Powers of two scale exactly: the squares below neither overflow nor lose digits to
  // underflow.
  double scale = 1;
  if (large > 0x1p+500) {
    large *= 0x1p-600;
    small *= 0x1p-600;
    scale = 0x1p+600;
  } else if (small < 0x1p-500) {
    large *= 0x1p+600;
    small *= 0x1p+600;
    scale = 0x1p-600;
  }
  double h = std::sqrt(large * large + small * small);
  // h * h - large * large - small * small, with the rounding errors of the squares accounted
  // for, written in differences that are exact; h moves by that error over its derivative.
  double first;
  double second;
  if (h <= 2 * small) {
    const double delta = h - small;
    first = large * (2 * delta - large);
    second = (delta - 2 * (large - small)) * delta;
  } else {
    const double delta = h - large;
    first = 2 * delta * (large - 2 * small);
    second = (4 * delta - small) * small + delta * delta;
  }
  h -= (first + second) / (2 * h);
  return h * scale;
}

}  // namespace tav
