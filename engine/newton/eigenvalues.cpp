#include "newton/eigenvalues.h"

#include <cmath>
#include <utility>

#include "core/hypot.h"

namespace tav {
namespace {

constexpr double kTiny = 1e-7;
constexpr double kOffDiagonalTolerance = 1e-5;
constexpr int kMaxIterations = 30;

// Householder reduction of the symmetric matrix a (n x n, row by row) to tridiagonal form:
// d receives the diagonal, e the subdiagonal (e[i] couples d[i - 1] and d[i], e[0] = 0).
void Tridiagonalise(std::vector<double>& a, int n, std::vector<double>& d, std::vector<double>& e,
                    const std::function<void()>& poll) {
  auto at = [&](int i, int j) -> double& { return a[static_cast<std::size_t>(i) * n + j]; };
  for (int i = n - 1; i >= 1; --i) {
    if (poll) poll();
    const int l = i - 1;
    double h = 0;
    if (l > 0) {
      double scale = 0;
      for (int k = 0; k <= l; ++k) scale += std::fabs(at(i, k));
      if (scale == 0) {
        e[i] = at(i, l);
      } else {
        for (int k = 0; k <= l; ++k) {
          at(i, k) /= scale;
          h += at(i, k) * at(i, k);
        }
        double f = at(i, l);
        double g = f >= 0 ? -std::sqrt(h) : std::sqrt(h);
        e[i] = scale * g;
        h -= f * g;
        at(i, l) = f - g;
        f = 0;
        for (int j = 0; j <= l; ++j) {
          g = 0;
          for (int k = 0; k <= j; ++k) g += at(j, k) * at(i, k);
          for (int k = j + 1; k <= l; ++k) g += at(k, j) * at(i, k);
          e[j] = g / h;
          f += e[j] * at(i, j);
        }
        const double hh = f / (h + h);
        for (int j = 0; j <= l; ++j) {
          f = at(i, j);
          g = e[j] - hh * f;
          e[j] = g;
          for (int k = 0; k <= j; ++k) at(j, k) -= f * e[k] + g * at(i, k);
        }
        // Rounding leftovers of the reflection are cleared.
        for (int j = 0; j <= l; ++j) {
          for (int k = 0; k <= j; ++k) {
            if (std::fabs(at(j, k)) < kTiny) at(j, k) = 0;
          }
        }
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
                                        const std::function<void()>& poll) {
  if (n <= 0) return {};
  std::vector<double> a(matrix.begin(), matrix.begin() + static_cast<std::ptrdiff_t>(n) * n);
  std::vector<double> d(n, 0.0);
  std::vector<double> e(n, 0.0);
  Tridiagonalise(a, n, d, e, poll);
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
