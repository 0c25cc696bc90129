#include "core/distributions.h"

#include <cmath>
#include <numbers>

#include "core/elementary.h"

namespace tav {

double NormalDensity(double x) {
  if (std::fabs(x) > 100.0) return 0.0;
  return Exp(-x * x / 2.0) / std::sqrt(2.0 * std::numbers::pi);
}

double NormalCdf(double x) {
  const double a = std::fabs(x);
  double tail;
  if (a > 37.0) {
    tail = 0.0;
  } else if (a < 7.071) {
    const double p =
        ((((((0.03526249659989109 * a + 0.7003830644436881) * a + 6.37396220353165) * a +
            33.912866078383) *
               a +
           112.0792914978709) *
              a +
          221.2135961699311) *
             a +
         220.2068679123761);
    const double q =
        (((((((0.08838834764831844 * a + 1.755667163182642) * a + 16.06417757920695) * a +
             86.78073220294608) *
                a +
            296.5642487796737) *
               a +
           637.3336333788311) *
              a +
          793.8265125199484) *
             a +
         440.4137358247522);
    tail = Exp(-a * a / 2.0) * p / q;
  } else {
    tail = Exp(-a * a / 2.0) * 0.3989422804014327 /
           (a + 1.0 / (a + 2.0 / (a + 3.0 / (a + 4.0 / (a + 0.65)))));
  }
  return x > 0.0 ? 1.0 - tail : tail;
}

}  // namespace tav
