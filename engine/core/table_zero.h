#ifndef TAV_ENGINE_CORE_TABLE_ZERO_H_
#define TAV_ENGINE_CORE_TABLE_ZERO_H_

namespace tav {

// A table value at or below this counts as zero: dividing by it gives 0 throughout the
// estimation and the report, so an empty margin never produces infinities.
inline constexpr double kTableZero = 1e-300;

// a / b, or 0 when b is a table zero.
inline double TableRatio(double a, double b) { return b <= kTableZero ? 0.0 : a / b; }

}  // namespace tav

#endif  // TAV_ENGINE_CORE_TABLE_ZERO_H_
