#include "core/symmetric_eigensystem.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numeric>

#include "core/hypot.h"

namespace tav {
namespace {

constexpr double kRoundingUnit = 0x1p-53;
constexpr int kMostSweeps = 100;
constexpr double kTie = 1e-11;
constexpr double kReached = 1e-6;

// Cyclic Jacobi on the symmetric matrix a (n x n, both triangles), which ends up (nearly)
// diagonal; v, the identity on entry, gathers the rotations: its column k is the eigenvector of
// the final a_kk.
void Jacobi(std::vector<double>& a, std::vector<double>& v, int n) {
  auto at = [n](std::vector<double>& m, int i, int j) -> double& {
    return m[static_cast<std::size_t>(i) * n + j];
  };
  double norm = 0;
  for (double x : a) norm += x * x;
  const double floor = kRoundingUnit * kRoundingUnit * std::sqrt(norm);
  for (int sweep = 0; sweep < kMostSweeps; ++sweep) {
    bool rotated = false;
    for (int p = 0; p < n - 1; ++p) {
      for (int q = p + 1; q < n; ++q) {
        const double apq = at(a, p, q);
        const double app = at(a, p, p);
        const double aqq = at(a, q, q);
        if (!(std::fabs(apq) > floor) || std::fabs(apq) <= kRoundingUnit *
                                                               std::sqrt(std::fabs(app)) *
                                                               std::sqrt(std::fabs(aqq))) {
          continue;
        }
        rotated = true;
        const double theta = (aqq - app) / (2 * apq);
        double t = 1 / (std::fabs(theta) + Hypot(theta, 1.0));
        if (theta < 0) t = -t;
        const double c = 1 / std::sqrt(1 + t * t);
        const double s = t * c;
        at(a, p, p) = app - t * apq;
        at(a, q, q) = aqq + t * apq;
        at(a, p, q) = at(a, q, p) = 0;
        for (int r = 0; r < n; ++r) {
          if (r == p || r == q) continue;
          const double arp = at(a, r, p);
          const double arq = at(a, r, q);
          at(a, r, p) = at(a, p, r) = c * arp - s * arq;
          at(a, r, q) = at(a, q, r) = s * arp + c * arq;
        }
        for (int r = 0; r < n; ++r) {
          const double vrp = at(v, r, p);
          const double vrq = at(v, r, q);
          at(v, r, p) = c * vrp - s * vrq;
          at(v, r, q) = s * vrp + c * vrq;
        }
      }
    }
    if (!rotated) return;
  }
}

// Puts the orthonormal basis w of a cluster's eigenspace in echelon form with its signs (see
// the header).
void Canonicalise(std::vector<std::vector<double>>& w, int n) {
  const int m = static_cast<int>(w.size());
  std::vector<double> u(m);
  int row = 0;
  for (int j = 0; j < m; ++j) {
    // The first coordinate that the space still to be spanned, that of w[j .. m - 1], reaches.
    double r = 0;
    for (; row < n; ++row) {
      double square = 0;
      for (int k = j; k < m; ++k) square += w[k][row] * w[k][row];
      r = std::sqrt(square);
      if (r > kReached) break;
    }
    if (row == n) return;  // not for orthonormal vectors, whose rows hold m - j in all
    if (j < m - 1) {
      // The reflection H = I - u u' / (r (r + |c_j|)) of the coefficients j .. m - 1, u = c -
      // alpha e_j, takes c, the row's coefficients, to alpha e_j: in W H the row is alpha in
      // column j and 0 in the others. alpha = -sign(c_j) r avoids cancellation in u_j.
      const double cj = w[j][row];
      const double alpha = cj >= 0 ? -r : r;
      for (int k = j; k < m; ++k) u[k] = w[k][row];
      u[j] = cj - alpha;
      const double beta = r * (r + std::fabs(cj));
      for (int i = 0; i < n; ++i) {
        double dot = 0;
        for (int k = j; k < m; ++k) dot += w[k][i] * u[k];
        const double factor = dot / beta;
        for (int k = j; k < m; ++k) w[k][i] -= factor * u[k];
      }
      for (int k = j + 1; k < m; ++k) w[k][row] = 0;
    }
    if (w[j][row] > 0) {
      for (double& x : w[j]) x = -x;
    }
    ++row;
  }
}

}  // namespace

Eigensystem DecomposeSymmetric(const std::vector<double>& matrix, int n) {
  Eigensystem result;
  if (n <= 0) return result;
  const auto size = static_cast<std::size_t>(n);
  std::vector<double> a(size * size);
  std::vector<double> v(size * size, 0.0);
  bool finite = true;
  for (std::size_t i = 0; i < size; ++i) {
    v[i * size + i] = 1;
    for (std::size_t j = i; j < size; ++j) {
      a[i * size + j] = a[j * size + i] = matrix[i * size + j];
      finite = finite && std::isfinite(matrix[i * size + j]);
    }
  }
  if (finite) {
    Jacobi(a, v, n);
  } else {
    for (std::size_t i = 0; i < size; ++i)
      a[i * size + i] = std::numeric_limits<double>::quiet_NaN();
  }
  // Largest first; equal values keep the order of their columns.
  std::vector<int> order(size);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int x, int y) {
    return a[static_cast<std::size_t>(x) * size + x] > a[static_cast<std::size_t>(y) * size + y];
  });
  double largest = 0;
  for (int k : order) {
    const double value = a[static_cast<std::size_t>(k) * size + k];
    result.values.push_back(value);
    largest = std::max(largest, std::fabs(value));
    std::vector<double> vector(size);
    for (std::size_t i = 0; i < size; ++i) vector[i] = v[i * size + k];
    result.vectors.push_back(std::move(vector));
  }
  if (!finite) return result;
  // The clusters of tied values, each put in its unique form.
  for (int first = 0; first < n;) {
    int end = first + 1;
    while (end < n && result.values[end - 1] - result.values[end] <= kTie * largest) ++end;
    std::vector<std::vector<double>> cluster(result.vectors.begin() + first,
                                             result.vectors.begin() + end);
    Canonicalise(cluster, n);
    std::move(cluster.begin(), cluster.end(), result.vectors.begin() + first);
    first = end;
  }
  return result;
}

}  // namespace tav
