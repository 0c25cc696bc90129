#include "core/sweep_inverse.h"

#include <cstddef>
#include <vector>

#include "core/parallel.h"
#include "core/wide_vectors.h"

namespace tav::sweep_detail {
namespace {

// Rows a task takes: a constant, like the block.
constexpr int kRowsPerTask = 16;

// Two doubles side by side: each lane is multiplied and subtracted on its own, as the scalar
// code does, so the lanes give the scalar results bit for bit.
typedef double Pair __attribute__((vector_size(16), aligned(8)));

#ifdef TAV_WIDE_VECTORS
// Subtract's columns from begin on, 32 at a time, while 32 are left; returns the first column
// it left.
[[gnu::target("avx2")]] int SubtractWide(double* a, int begin, int end, int m, const double* f,
                                         const double* const* r) {
  int j = begin;
  for (; j + 32 <= end; j += 32) {
    Quad x[8];
    for (int b = 0; b < 8; ++b) x[b] = *reinterpret_cast<const Quad*>(a + j + 4 * b);
    for (int q = 0; q < m; ++q) {
      const Quad fq = {f[q], f[q], f[q], f[q]};
      const double* rq = r[q] + j;
      for (int b = 0; b < 8; ++b) x[b] -= fq * *reinterpret_cast<const Quad*>(rq + 4 * b);
    }
    for (int b = 0; b < 8; ++b) *reinterpret_cast<Quad*>(a + j + 4 * b) = x[b];
  }
  return j;
}
#endif

// a[j] -= f[q] * r[q][j] for q = 0 .. m - 1 in turn, j in [begin, end): each entry takes the
// products in the order of q, as one pivot after the other would give them. Sixteen columns
// stay in registers while the pivots pass over them.
void Subtract(double* a, int begin, int end, int m, const double* f, const double* const* r) {
  int j = begin;
#ifdef TAV_WIDE_VECTORS
  if (HasWideVectors()) j = SubtractWide(a, begin, end, m, f, r);
#endif
  for (; j + 16 <= end; j += 16) {
    Pair x0 = *reinterpret_cast<const Pair*>(a + j);
    Pair x1 = *reinterpret_cast<const Pair*>(a + j + 2);
    Pair x2 = *reinterpret_cast<const Pair*>(a + j + 4);
    Pair x3 = *reinterpret_cast<const Pair*>(a + j + 6);
    Pair x4 = *reinterpret_cast<const Pair*>(a + j + 8);
    Pair x5 = *reinterpret_cast<const Pair*>(a + j + 10);
    Pair x6 = *reinterpret_cast<const Pair*>(a + j + 12);
    Pair x7 = *reinterpret_cast<const Pair*>(a + j + 14);
    for (int q = 0; q < m; ++q) {
      const Pair fq = {f[q], f[q]};
      const double* rq = r[q] + j;
      x0 -= fq * *reinterpret_cast<const Pair*>(rq);
      x1 -= fq * *reinterpret_cast<const Pair*>(rq + 2);
      x2 -= fq * *reinterpret_cast<const Pair*>(rq + 4);
      x3 -= fq * *reinterpret_cast<const Pair*>(rq + 6);
      x4 -= fq * *reinterpret_cast<const Pair*>(rq + 8);
      x5 -= fq * *reinterpret_cast<const Pair*>(rq + 10);
      x6 -= fq * *reinterpret_cast<const Pair*>(rq + 12);
      x7 -= fq * *reinterpret_cast<const Pair*>(rq + 14);
    }
    *reinterpret_cast<Pair*>(a + j) = x0;
    *reinterpret_cast<Pair*>(a + j + 2) = x1;
    *reinterpret_cast<Pair*>(a + j + 4) = x2;
    *reinterpret_cast<Pair*>(a + j + 6) = x3;
    *reinterpret_cast<Pair*>(a + j + 8) = x4;
    *reinterpret_cast<Pair*>(a + j + 10) = x5;
    *reinterpret_cast<Pair*>(a + j + 12) = x6;
    *reinterpret_cast<Pair*>(a + j + 14) = x7;
  }
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
