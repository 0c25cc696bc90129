#ifndef TAV_ENGINE_CORE_HYPOT_H_
#define TAV_ENGINE_CORE_HYPOT_H_

namespace tav {

// sqrt(x * x + y * y) without overflow or underflow on the way, computed with the basic
// operations and sqrt only, which every IEEE machine rounds alike: the result does not depend
// on the system's math library (whose hypot differs in the last bit from one system to
// another). A first square root is corrected by the rounding error of the squares (C. F.
// Borges' correction); the result is within one unit in the last place, and bit for bit what
// the GNU C library's hypot gives on x86-64.
double Hypot(double x, double y);

}  // namespace tav

#endif  // TAV_ENGINE_CORE_HYPOT_H_
