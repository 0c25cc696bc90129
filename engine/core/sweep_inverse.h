#ifndef TAV_ENGINE_CORE_SWEEP_INVERSE_H_
#define TAV_ENGINE_CORE_SWEEP_INVERSE_H_

#include <cstddef>
#include <vector>

namespace tav {

// The inverse of a symmetric n x n matrix (row-major), in place, by sweeping its pivots in
// order (Gauss-Jordan without row exchanges). A pivot below tolerance is rejected: its row and
// column become 0, so that the parameter is left out of the inverse, and rejected(s, pivot) is
// called. A pivot s with skip(s) is left alone (its row and column are already what they
// should be in the result).
template <typename Skip, typename Rejected>
void SweepInverse(std::vector<double>& matrix, int n, double tolerance, Skip skip,
                  Rejected rejected) {
  auto at = [&](int i, int j) -> double& { return matrix[static_cast<std::size_t>(i) * n + j]; };
  for (int s = 0; s < n; ++s) {
    if (skip(s)) continue;
    const double pivot = at(s, s);
    at(s, s) = 1;
    if (pivot >= tolerance) {
      for (int j = 0; j < n; ++j) at(s, j) /= pivot;
      for (int i = 0; i < n; ++i) {
        if (i == s) continue;
        const double f = at(i, s);
        if (f == 0) continue;
        at(i, s) = 0;
        for (int j = 0; j < n; ++j) at(i, j) -= f * at(s, j);
      }
      continue;
    }
    for (int j = 0; j < n; ++j) {
      at(s, j) = 0;
      at(j, s) = 0;
    }
    rejected(s, pivot);
  }
}

}  // namespace tav

#endif  // TAV_ENGINE_CORE_SWEEP_INVERSE_H_
