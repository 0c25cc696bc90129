#include "core/sweep_inverse.h"

#include <cstddef>
#include <vector>

#include "core/parallel.h"
#include "core/wide_vectors.h"

namespace tav::sweep_detail {
namespace {

// Rows a task takes: a constant, like the block.
constexpr int kRowsPerTask = 16;

// Subtract's columns from begin on, eight vectors of kWidth doubles (two, or four with AVX2) at
// a time while that many are left, the eight staying in registers while the pivots pass over
// them; returns the first column it left. Each lane is multiplied and subtracted on its own, as
// the scalar code does, so the lanes give the scalar results bit for bit.
template <int kWidth>
[[gnu::always_inline]] inline int SubtractVectors(double* a, int begin, int end, int m,
                                                  const double* f, const double* const* r) {
  typedef typename DoubleVector<kWidth>::Type V;
  constexpr int kColumns = 8 * kWidth;
  int j = begin;
  for (; j + kColumns <= end; j += kColumns) {
    V x[8];
    for (int b = 0; b < 8; ++b) x[b] = reinterpret_cast<const V*>(a + j)[b];
    for (int q = 0; q < m; ++q) {
      const V fq = V{} + f[q];
      const V* rq = reinterpret_cast<const V*>(r[q] + j);
      for (int b = 0; b < 8; ++b) x[b] -= fq * rq[b];
    }
    for (int b = 0; b < 8; ++b) reinterpret_cast<V*>(a + j)[b] = x[b];
  }
  return j;
}

#ifdef TAV_WIDE_VECTORS
[[gnu::target("avx2")]] int SubtractWide(double* a, int begin, int end, int m, const double* f,
                                         const double* const* r) {
  return SubtractVectors<4>(a, begin, end, m, f, r);
}
#endif

// a[j] -= f[q] * r[q][j] for q = 0 .. m - 1 in turn, j in [begin, end): each entry takes the
// products in the order of q, as one pivot after the other would give them.
void Subtract(double* a, int begin, int end, int m, const double* f, const double* const* r) {
  int j = begin;
#ifdef TAV_WIDE_VECTORS
  if (HasWideVectors()) j = SubtractWide(a, j, end, m, f, r);
#endif
  j = SubtractVectors<2>(a, j, end, m, f, r);
  for (; j < end; ++j) {
    double x = a[j];
    for (int q = 0; q < m; ++q) x -= f[q] * r[q][j];
    a[j] = x;
  }
}

}  // namespace

void SweepOtherRows(double* matrix, int n, int first, int count, const double* swept,
                    const Pivot* what, int threads) {
  const int last = first + count;
  const int others = n - count;
  const int tasks = (others + kRowsPerTask - 1) / kRowsPerTask;
  ParallelFor(tasks, threads, [&](int task, int) {
    std::vector<double> f(count);
    std::vector<const double*> r(count);
    const int begin = task * kRowsPerTask;
    const int end = std::min(others, begin + kRowsPerTask);
    for (int k = begin; k < end; ++k) {
      const int i = k < first ? k : k + count;
      double* const a = matrix + static_cast<std::size_t>(i) * n;
      // The block's own columns pivot by pivot: they give each pivot its multiplier.
      int m = 0;
      for (int t = 0; t < count; ++t) {
        const int s = first + t;
        if (what[t] == Pivot::kSkipped) continue;
        if (what[t] == Pivot::kRejected) {
          a[s] = 0;
          continue;
        }
        const double fs = a[s];
        if (fs == 0) continue;
        a[s] = 0;
        const double* const rs = swept + static_cast<std::size_t>(t) * n;
        for (int j = first; j < last; ++j) a[j] -= fs * rs[j];
        f[m] = fs;
        r[m] = rs;
        ++m;
      }
      // The other columns take the same multipliers in the same order.
      Subtract(a, 0, first, m, f.data(), r.data());
      Subtract(a, last, n, m, f.data(), r.data());
    }
  });
}

}  // namespace tav::sweep_detail
