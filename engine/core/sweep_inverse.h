#ifndef TAV_ENGINE_CORE_SWEEP_INVERSE_H_
#define TAV_ENGINE_CORE_SWEEP_INVERSE_H_

#include <algorithm>
#include <cstddef>
#include <vector>

namespace tav {

namespace sweep_detail {

// Pivots are swept kSweepBlock at a time: a constant, so that no number depends on the threads.
constexpr int kSweepBlock = 64;

// What became of a pivot of the block.
enum class Pivot : signed char { kSkipped, kSwept, kRejected };

// Carries the sweeps of the pivots first .. first + count - 1 over every row of the n x n matrix
// outside them. swept holds, for pivot first + t, row first + t as it was right after its
// division by the pivot (count rows of n); what[t] says what became of it. Each row takes the
// pivots in order, with the same products and differences as SweepInverse's unblocked loop,
// so the result does not depend on `threads` (the rows are shared out among them).
void SweepOtherRows(double* matrix, int n, int first, int count, const double* swept,
                    const Pivot* what, int threads);

}  // namespace sweep_detail

// The inverse of a symmetric n x n matrix (row-major), in place, by sweeping its pivots in
// order (Gauss-Jordan without row exchanges). A pivot below tolerance is rejected: its row and
// column become 0, so that the parameter is left out of the inverse, and rejected(s, pivot) is
// called. A pivot s with skip(s) is left alone (its row and column are already what they
// should be in the result). skip and rejected are called in the order of the pivots, on the
// calling thread.
//
// Blocked: the pivots of a block of kSweepBlock are first swept through the block's own rows,
// which decides them; every other row then takes the block's pivots one after the other. Each
// entry is updated by the same operations in the same order as in the plain pivot-by-pivot
// sweep (a_ij -= a_is * (a_sj / p_s) for the pivots s, with a_is as the earlier pivots left
// it), so the two give the same bits, and the same pivots are rejected. The other rows are
// shared among `threads` threads.
template <typename Skip, typename Rejected>
void SweepInverse(std::vector<double>& matrix, int n, double tolerance, Skip skip,
                  Rejected rejected, int threads = 1) {
  using sweep_detail::Pivot;
  auto row = [&](int i) { return matrix.data() + static_cast<std::size_t>(i) * n; };
  const int block = n > sweep_detail::kSweepBlock ? sweep_detail::kSweepBlock : n;
  std::vector<double> swept;
  std::vector<Pivot> what;
  for (int first = 0; first < n; first += block) {
    const int count = std::min(block, n - first);
    const int last = first + count;
    // Rows first .. last - 1 take their own pivots; on a single block (n <= kSweepBlock) they
    // are every row.
    const int top = count == n ? 0 : first;
    const int bottom = count == n ? n : last;
    if (count < n) {
      swept.assign(static_cast<std::size_t>(count) * n, 0.0);
      what.assign(count, Pivot::kSkipped);
    }
    for (int s = first; s < last; ++s) {
      if (skip(s)) continue;
      double* const rs = row(s);
      const double pivot = rs[s];
      rs[s] = 1;
      if (pivot >= tolerance) {
        for (int j = 0; j < n; ++j) rs[j] /= pivot;
        if (count < n) {
          std::copy_n(rs, n, swept.begin() + static_cast<std::ptrdiff_t>(s - first) * n);
          what[s - first] = Pivot::kSwept;
        }
        for (int i = top; i < bottom; ++i) {
          if (i == s) continue;
          double* const ri = row(i);
          const double f = ri[s];
          if (f == 0) continue;
          ri[s] = 0;
          for (int j = 0; j < n; ++j) ri[j] -= f * rs[j];
        }
        continue;
      }
      for (int j = 0; j < n; ++j) rs[j] = 0;
      for (int i = top; i < bottom; ++i) row(i)[s] = 0;
      if (count < n) what[s - first] = Pivot::kRejected;
      rejected(s, pivot);
    }
    if (count < n) {
      sweep_detail::SweepOtherRows(matrix.data(), n, first, count, swept.data(), what.data(),
                                   threads);
    }
  }
}

}  // namespace tav

#endif  // TAV_ENGINE_CORE_SWEEP_INVERSE_H_
