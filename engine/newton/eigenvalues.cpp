#include "newton/eigenvalues.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "core/hypot.h"
#include "core/parallel.h"
#include "core/wide_vectors.h"

namespace tav {
namespace {

constexpr double kTiny = 1e-7;
constexpr double kOffDiagonalTolerance = 1e-5;
constexpr int kMaxIterations = 30;

// Columns of a task of the product with the reflection's vector, rows of a task of the update.
constexpr int kProductColumns = 16;
constexpr int kUpdateRows = 32;
// Below this many rows a reflection is applied by the calling thread alone.
constexpr int kParallelRows = 192;

// The vector kernels, for vectors of kWidth doubles (two, or four with AVX2): each lane
// multiplies, adds and compares on its own, as the scalar code does, so the lanes give the
// scalar results bit for bit.

// UpdateRow's entries k from 0 on, a vector at a time, while a whole vector is left; returns
// the first entry it left.
template <int kWidth>
[[gnu::always_inline]] inline int UpdateRowVectors(double* rj, int j, const double* u,
                                                   const double* q) {
  typedef typename DoubleVector<kWidth>::Type V;
  const V up = V{} + u[j];
  const V qp = V{} + q[j];
  const V tiny = V{} + kTiny;
  int k = 0;
  for (; k + kWidth <= j + 1; k += kWidth) {
    V x = *reinterpret_cast<const V*>(rj + k);
    x -= up * *reinterpret_cast<const V*>(q + k) + qp * *reinterpret_cast<const V*>(u + k);
    *reinterpret_cast<V*>(rj + k) = ((x < tiny) & (x > -tiny)) ? V{} : x;
  }
  return k;
}

// p[j0 .. j0 + kProductColumns) += the sums over rows first .. l of a_kc u_k, each in the order
// of k.
template <int kWidth>
[[gnu::always_inline]] inline void ColumnSumsVectors(const double* a, int n, const double* u,
                                                     int first, int l, int j0, double* p) {
  typedef typename DoubleVector<kWidth>::Type V;
  constexpr int kVectors = kProductColumns / kWidth;
  V x[kVectors];
  for (int c = 0; c < kVectors; ++c) x[c] = reinterpret_cast<const V*>(p + j0)[c];
  for (int k = first; k <= l; ++k) {
    const V* rk = reinterpret_cast<const V*>(a + static_cast<std::size_t>(k) * n + j0);
    const V uk = V{} + u[k];
    for (int c = 0; c < kVectors; ++c) x[c] += rk[c] * uk;
  }
  for (int c = 0; c < kVectors; ++c) reinterpret_cast<V*>(p + j0)[c] = x[c];
}

#ifdef TAV_WIDE_VECTORS
[[gnu::target("avx2")]] int UpdateRowWide(double* rj, int j, const double* u, const double* q) {
  return UpdateRowVectors<4>(rj, j, u, q);
}

[[gnu::target("avx2")]] void ColumnSumsWide(const double* a, int n, const double* u, int first,
                                            int l, int j0, double* p) {
  ColumnSumsVectors<4>(a, n, u, first, l, j0, p);
}
#endif

// The kernels with the widest vectors the processor has.
int UpdateRowBlocks(double* rj, int j, const double* u, const double* q) {
#ifdef TAV_WIDE_VECTORS
  if (HasWideVectors()) return UpdateRowWide(rj, j, u, q);
#endif
  return UpdateRowVectors<2>(rj, j, u, q);
}

void ColumnSums(const double* a, int n, const double* u, int first, int l, int j0, double* p) {
#ifdef TAV_WIDE_VECTORS
  if (HasWideVectors()) {
    ColumnSumsWide(a, n, u, first, l, j0, p);
    return;
  }
#endif
  ColumnSumsVectors<2>(a, n, u, first, l, j0, p);
}

// p[j] = sum over k <= l of a_jk u_k for j in [j0, j1) (A symmetric, its lower triangle in the
// rows of a): the terms of row j first (k <= j), then those of column j (k > j), each in the
// order of k, as the plain reduction adds them. Four rows' sums run side by side.
void ProductColumns(const double* a, int n, const double* u, int l, int j0, int j1, double* p) {
  auto row = [&](int k) { return a + static_cast<std::size_t>(k) * n; };
  int j = j0;
  for (; j + 4 <= j1; j += 4) {
    const double* r0 = row(j);
    const double* r1 = row(j + 1);
    const double* r2 = row(j + 2);
    const double* r3 = row(j + 3);
    double g0 = 0, g1 = 0, g2 = 0, g3 = 0;
    for (int k = 0; k <= j; ++k) {
      g0 += r0[k] * u[k];
      g1 += r1[k] * u[k];
      g2 += r2[k] * u[k];
      g3 += r3[k] * u[k];
    }
    g1 += r1[j + 1] * u[j + 1];
    g2 += r2[j + 1] * u[j + 1];
    g3 += r3[j + 1] * u[j + 1];
    g2 += r2[j + 2] * u[j + 2];
    g3 += r3[j + 2] * u[j + 2];
    g3 += r3[j + 3] * u[j + 3];
    p[j] = g0;
    p[j + 1] = g1;
    p[j + 2] = g2;
    p[j + 3] = g3;
  }
  for (; j < j1; ++j) {
    const double* rj = row(j);
    double g = 0;
    for (int k = 0; k <= j; ++k) g += rj[k] * u[k];
    p[j] = g;
  }
  // Column j below the diagonal, row by row: within the task's own rows, then below them.
  for (int k = j0 + 1; k < j1 && k <= l; ++k) {
    const double* rk = row(k);
    for (int c = j0; c < k; ++c) p[c] += rk[c] * u[k];
  }
  if (j1 - j0 == kProductColumns) {
    ColumnSums(a, n, u, j1, l, j0, p);
    return;
  }
  for (int k = j1; k <= l; ++k) {
    const double* rk = row(k);
    for (int c = j0; c < j1; ++c) p[c] += rk[c] * u[k];
  }
}

// Row j of the lower triangle less the reflection's rank-2 change, a_jk -= u_j q_k + q_j u_k
// for k <= j, and what is left below kTiny in magnitude cleared.
void UpdateRow(double* rj, int j, const double* u, const double* q) {
  const double uj = u[j];
  const double qj = q[j];
  for (int k = UpdateRowBlocks(rj, j, u, q); k <= j; ++k) {
    double x = rj[k];
    x -= uj * q[k] + qj * u[k];
    rj[k] = std::fabs(x) < kTiny ? 0.0 : x;
  }
}

// Householder reduction of the symmetric matrix a (n x n, row by row; its lower triangle is
// read) to tridiagonal form: d receives the diagonal, e the subdiagonal (e[i] couples d[i - 1]
// and d[i], e[0] = 0). Rows are reduced from the last up, each by one reflection applied at
// once; the product with the reflection's vector and the update are shared among `threads`
// threads by columns and by rows, every entry computed as by one thread.
void Tridiagonalise(std::vector<double>& a, int n, std::vector<double>& d, std::vector<double>& e,
                    const std::function<void()>& poll, int threads) {
  auto at = [&](int i, int j) -> double& { return a[static_cast<std::size_t>(i) * n + j]; };
  std::vector<double> q(n, 0.0);
  for (int i = n - 1; i >= 1; --i) {
    if (poll) poll();
    const int l = i - 1;
    double h = 0;
    if (l > 0) {
      double* const u = &at(i, 0);
      double scale = 0;
      for (int k = 0; k <= l; ++k) scale += std::fabs(u[k]);
      if (scale == 0) {
        e[i] = u[l];
      } else {
        for (int k = 0; k <= l; ++k) {
          u[k] /= scale;
          h += u[k] * u[k];
        }
        double f = u[l];
        double g = f >= 0 ? -std::sqrt(h) : std::sqrt(h);
        e[i] = scale * g;
        h -= f * g;
        u[l] = f - g;
        // p = A u / h, with A the leading (l + 1) x (l + 1) block.
        const int rows = l + 1;
        const int workers = rows < kParallelRows ? 1 : threads;
        const int column_tasks = (rows + kProductColumns - 1) / kProductColumns;
        ParallelFor(column_tasks, workers, [&](int t, int) {
          const int j0 = t * kProductColumns;
          ProductColumns(a.data(), n, u, l, j0, std::min(rows, j0 + kProductColumns), q.data());
        });
        f = 0;
        for (int j = 0; j <= l; ++j) {
          q[j] /= h;
          f += q[j] * u[j];
        }
        const double hh = f / (h + h);
        for (int j = 0; j <= l; ++j) q[j] -= hh * u[j];
        const int row_tasks = (rows + kUpdateRows - 1) / kUpdateRows;
        ParallelFor(row_tasks, workers, [&](int t, int) {
          const int end = std::min(rows, (t + 1) * kUpdateRows);
          for (int j = t * kUpdateRows; j < end; ++j) UpdateRow(&at(j, 0), j, u, q.data());
        });
      }
    } else {
      e[i] = at(i, l);
    }
    d[i] = h;
  }
  e[0] = 0;
  for (int i = 0; i < n; ++i) d[i] = at(i, i);
}

// Implicit QL with shifts on the tridiagonal matrix (d, e as Tridiagonalise leaves them).
// Returns false when an eigenvalue needed more than 30 iterations.
bool TridiagonalQl(std::vector<double>& d, std::vector<double>& e, int n,
                   const std::function<void()>& poll) {
  for (int i = 1; i < n; ++i) e[i - 1] = e[i];
  e[n - 1] = 0;
  double largest = 0;
  for (int l = 0; l < n; ++l) {
    if (poll) poll();
    int iterations = 0;
    largest = std::max(largest, std::fabs(d[l]) + std::fabs(e[l]));
    for (;;) {
      int m = l;
      for (; m < n - 1; ++m) {
        largest = std::max(largest, std::fabs(d[m]) + std::fabs(e[m]));
        if (std::fabs(e[m]) <= kOffDiagonalTolerance * largest) break;
      }
      if (m == l) break;
      if (iterations++ == kMaxIterations) return false;
      double g = (d[l + 1] - d[l]) / (2.0 * e[l]);
      double r = Hypot(g, 1.0);
      g = d[m] - d[l] + e[l] / (g + (g >= 0 ? std::fabs(r) : -std::fabs(r)));
      double s = 1;
      double c = 1;
      double p = 0;
      int i = m - 1;
      bool underflow = false;
      for (; i >= l; --i) {
        double f = s * e[i];
        const double b = c * e[i];
        r = Hypot(f, g);
        e[i + 1] = r;
        if (r == 0) {
          d[i + 1] -= p;
          e[m] = 0;
          underflow = true;
          break;
        }
        s = f / r;
        c = g / r;
        g = d[i + 1] - p;
        r = (d[i] - g) * s + 2.0 * c * b;
        p = s * r;
        d[i + 1] = g + p;
        g = c * r - b;
      }
      if (underflow) continue;
      d[l] -= p;
      e[l] = g;
      e[m] = 0;
    }
  }
  return true;
}

}  // namespace

std::vector<double> compute_eigenvalues(const std::vector<double>& matrix, int n,
                                        const std::function<void()>& poll, int threads) {
  if (n <= 0) return {};
  std::vector<double> a(matrix.begin(), matrix.begin() + static_cast<std::ptrdiff_t>(n) * n);
  std::vector<double> d(n, 0.0);
  std::vector<double> e(n, 0.0);
  Tridiagonalise(a, n, d, e, poll, threads);
  if (!TridiagonalQl(d, e, n, poll)) return d;
  // Selection sort, largest first.
  for (int i = 0; i < n - 1; ++i) {
    int best = i;
    for (int j = i + 1; j < n; ++j) {
      if (d[j] > d[best]) best = j;
    }
    std::swap(d[i], d[best]);
  }
  return d;
}

void null_vector(std::vector<double>& matrix, int n) {
  if (n <= 0) return;
  const int width = n + 1;
  std::vector<double> a;
  int free_index = 0;
  for (;;) {
    a.assign(static_cast<std::size_t>(n) * n, 0.0);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) a[i * n + j] = matrix[static_cast<std::size_t>(i) * width + j];
    }
    bool restart = false;
    for (int j = 0; j < n && !restart; ++j) {
      if (j == free_index) continue;
      const double pivot = a[j * n + j];
      if (std::fabs(pivot) <= 1e-10) {
        // The free index was badly chosen: the next one is tried, the last one goes on.
        if (free_index < n - 1) {
          ++free_index;
          restart = true;
        }
        continue;
      }
      for (int k = 0; k < n; ++k) a[j * n + k] /= pivot;
      for (int i = 0; i < n; ++i) {
        if (i == j) continue;
        const double factor = a[i * n + j];
        if (factor == 0) continue;
        for (int k = 0; k < n; ++k) a[i * n + k] -= factor * a[j * n + k];
      }
    }
    if (!restart) break;
  }
  a[free_index * n + free_index] = -1;
  double length = 0;
  for (int i = 0; i < n; ++i) length += a[i * n + free_index] * a[i * n + free_index];
  length = std::sqrt(length);
  for (int i = 0; i < n; ++i) {
    matrix[static_cast<std::size_t>(i) * width + n] =
        length > 0 && std::isfinite(length) ? a[i * n + free_index] / length : 0.0;
  }
}

}  // namespace tav
