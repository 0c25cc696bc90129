#include "newton/eigenvalues.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "core/wide_vectors.h"

namespace tav {
namespace {

TEST(Eigenvalues, SmallMatricesHaveTheirClosedForms) {
  EXPECT_EQ(compute_eigenvalues({7}, 1), (std::vector<double>{7}));
  const std::vector<double> two = compute_eigenvalues({2, 1, 1, 2}, 2);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_NEAR(two[0], 3, 1e-12);
  EXPECT_NEAR(two[1], 1, 1e-12);
  // The second-difference matrix: 2 - 2 cos(k pi / 4).
  const std::vector<double> three = compute_eigenvalues({2, -1, 0, -1, 2, -1, 0, -1, 2}, 3);
  ASSERT_EQ(three.size(), 3u);
  EXPECT_NEAR(three[0], 2 + std::sqrt(2.0), 1e-12);
  EXPECT_NEAR(three[1], 2, 1e-12);
  EXPECT_NEAR(three[2], 2 - std::sqrt(2.0), 1e-12);
}

TEST(Eigenvalues, AreSortedLargestFirstWithNegativeOnesLast) {
  const std::vector<double> values = compute_eigenvalues({1, 0, 0, 0, -4, 0, 0, 0, 9}, 3);
  EXPECT_EQ(values, (std::vector<double>{9, 1, -4}));
}

TEST(Eigenvalues, ReflectedDiagonalMatrixKeepsItsEigenvalues) {
  // Q D Q with Q = I - 2 v v' / v'v, v = (1, 2, 3, 4), D = diag(10, 5, -2, 0.5).
  const double v[] = {1, 2, 3, 4};
  const double d[] = {10, 5, -2, 0.5};
  double q[4][4];
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) q[i][j] = (i == j ? 1 : 0) - 2 * v[i] * v[j] / 30;
  }
  std::vector<double> m(16, 0);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      for (int k = 0; k < 4; ++k) m[i * 4 + j] += q[i][k] * d[k] * q[k][j];
    }
  }
  const std::vector<double> values = compute_eigenvalues(m, 4);
  ASSERT_EQ(values.size(), 4u);
  EXPECT_NEAR(values[0], 10, 1e-9);
  EXPECT_NEAR(values[1], 5, 1e-9);
  EXPECT_NEAR(values[2], 0.5, 1e-9);
  EXPECT_NEAR(values[3], -2, 1e-9);
}

TEST(NullVector, SpansTheNullSpaceOfASingularMatrix) {
  // n rows of n + 1 values; the result goes to the last column.
  std::vector<double> m{1, 1, 9, 1, 1, 9};
  null_vector(m, 2);
  EXPECT_NEAR(std::fabs(m[2]), std::sqrt(0.5), 1e-12);
  EXPECT_NEAR(m[2] + m[5], 0, 1e-12);
  EXPECT_EQ(m[0], 1);
  EXPECT_EQ(m[4], 1);
}

TEST(NullVector, TurnsAnEigenvalueIntoItsEigenvector) {
  // The second-difference matrix minus 2 + sqrt(2): eigenvector (1, -sqrt(2), 1) / 2.
  const double lambda = 2 + std::sqrt(2.0);
  std::vector<double> m{2 - lambda, -1, 0, 0, -1, 2 - lambda, -1, 0, 0, -1, 2 - lambda, 0};
  null_vector(m, 3);
  const double sign = m[3] > 0 ? 1 : -1;
  EXPECT_NEAR(sign * m[3], 0.5, 1e-9);
  EXPECT_NEAR(sign * m[7], -std::sqrt(0.5), 1e-9);
  EXPECT_NEAR(sign * m[11], 0.5, 1e-9);
}

TEST(NullVector, MovesTheFreeIndexWhenTheFirstCannotBeFree) {
  // The null space is (0, 1): the first index cannot be the free one.
  std::vector<double> m{1, 0, 0, 0, 0, 0};
  null_vector(m, 2);
  EXPECT_NEAR(m[2], 0, 1e-15);
  EXPECT_NEAR(std::fabs(m[5]), 1, 1e-15);
}

TEST(Eigenvalues, AgreeWithAnIndependentSolverOnAnEightByEightMatrix) {
  // m[i][j] = ((7i + 3j) mod 11) - 5 for j <= i, plus 10i on the diagonal, symmetric.
  // Reference: R 4 eigen(m)$values, computed once.
  const int n = 8;
  std::vector<double> m(n * n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j <= i; ++j) {
      const double v = ((i * 7 + j * 3) % 11) - 5 + (i == j ? 10 * i : 0);
      m[i * n + j] = m[j * n + i] = v;
    }
  }
  const double reference[] = {72.672804175484, 61.193317356766, 51.154992185196, 42.030930492145,
                              31.894509579589, 22.804646534958, 13.625022502683, -6.376222826822};
  const std::vector<double> values = compute_eigenvalues(m, n);
  ASSERT_EQ(values.size(), 8u);
  // The QL method counts an off-diagonal element below 1e-5 times the matrix's scale as zero:
  // the values agree to about 1e-9 here.
  for (int i = 0; i < n; ++i) EXPECT_NEAR(values[i], reference[i], 1e-7) << i;
}

// Q D Q with Q = I - 2 v v' / v'v, v_i = 1 + (i mod 7), D = diag(d): d's values, in any order.
std::vector<double> Reflected(const std::vector<double>& d, double scale) {
  const int n = static_cast<int>(d.size());
  std::vector<double> v(n);
  double vv = 0;
  for (int i = 0; i < n; ++i) vv += (v[i] = 1 + i % 7) * v[i];
  // Q D Q = D - 2 (D v) v' / vv - 2 v (D v)' / vv + 4 (v' D v) v v' / vv^2.
  double vdv = 0;
  for (int i = 0; i < n; ++i) vdv += v[i] * d[i] * v[i];
  std::vector<double> m(static_cast<std::size_t>(n) * n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const double x = (i == j ? d[i] : 0.0) - 2 * d[i] * v[i] * v[j] / vv -
                       2 * v[i] * d[j] * v[j] / vv + 4 * vdv * v[i] * v[j] / (vv * vv);
      m[static_cast<std::size_t>(i) * n + j] = scale * x;
    }
  }
  return m;
}

TEST(Eigenvalues, LargeReflectedDiagonalsKeepTheirValuesWhateverTheThreads) {
  // Around the reduction's sizes: one row, and past the size from which rows are shared out.
  for (int n : {1, 63, 64, 65, 197, 261}) {
    std::vector<double> d(n);
    for (int k = 0; k < n; ++k) d[k] = (k * 37) % n - n / 3.0;
    const std::vector<double> m = Reflected(d, 1);
    const std::vector<double> values = compute_eigenvalues(m, n, {}, 1);
    std::sort(d.begin(), d.end(), std::greater<>());
    ASSERT_EQ(values.size(), d.size());
    // The QL method's deflation (1e-5 of the scale) leaves errors of some 1e-6 here.
    for (int k = 0; k < n; ++k) EXPECT_NEAR(values[k], d[k], 1e-5) << n << " " << k;
    EXPECT_EQ(compute_eigenvalues(m, n, {}, 2), values) << n;
    // Entries near the clearing threshold of the reduction: the same with two threads too.
    const std::vector<double> small = Reflected(d, 3e-7);
    EXPECT_EQ(compute_eigenvalues(small, n, {}, 2), compute_eigenvalues(small, n, {}, 1)) << n;
#ifdef TAV_WIDE_VECTORS
    // The kernels of two doubles a vector, as on a processor without AVX2: the same bits.
    const std::vector<double> small_values = compute_eigenvalues(small, n, {}, 1);
    WideVectorsOff() = true;
    const std::vector<double> narrow = compute_eigenvalues(m, n, {}, 1);
    const std::vector<double> narrow_small = compute_eigenvalues(small, n, {}, 2);
    WideVectorsOff() = false;
    EXPECT_EQ(narrow, values) << n;
    EXPECT_EQ(narrow_small, small_values) << n;
#endif
  }
}

}  // namespace
}  // namespace tav
