#include "core/symmetric_eigensystem.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace tav {
namespace {

void ExpectVector(const std::vector<double>& actual, const std::vector<double>& expected,
                  double tolerance) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_NEAR(actual[i], expected[i], tolerance) << i;
  }
}

TEST(SymmetricEigensystem, TiedEigenvaluesGetTheEchelonBasisOfTheirSpace) {
  // J + I, J the 4 x 4 matrix of ones: 5 on (1, 1, 1, 1), 1 three times on the rest.
  std::vector<double> m(16, 1.0);
  for (int i = 0; i < 4; ++i) m[i * 4 + i] = 2;
  const Eigensystem system = DecomposeSymmetric(m, 4);
  ExpectVector(system.values, {5, 1, 1, 1}, 1e-14);
  ExpectVector(system.vectors[0], {-0.5, -0.5, -0.5, -0.5}, 1e-15);
  const double a = 1 / std::sqrt(12.0);
  const double b = 1 / std::sqrt(6.0);
  const double c = 1 / std::sqrt(2.0);
  ExpectVector(system.vectors[1], {-3 * a, a, a, a}, 1e-15);
  ExpectVector(system.vectors[2], {0, -2 * b, b, b}, 1e-15);
  ExpectVector(system.vectors[3], {0, 0, -c, c}, 1e-15);
}

TEST(SymmetricEigensystem, NearlyTiedEigenvaluesAreToldApart) {
  // Q D Q, Q = I - 2 v v' / v'v with v = (1, 2, 3, 4), D = diag(3, 1 + 1e-9, 1, -2): the
  // vectors are Q's columns, to about the rounding unit over the gap of 1e-9.
  const double v[] = {1, 2, 3, 4};
  const double d[] = {3, 1 + 1e-9, 1, -2};
  std::vector<double> m(16, 0.0);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      for (int k = 0; k < 4; ++k) {
        m[i * 4 + j] += ((i == k) - v[i] * v[k] / 15) * d[k] * ((k == j) - v[k] * v[j] / 15);
      }
    }
  }
  const Eigensystem system = DecomposeSymmetric(m, 4);
  ExpectVector(system.values, {3, 1 + 1e-9, 1, -2}, 1e-15);
  for (int k = 0; k < 4; ++k) {
    const double sign = k == 0 ? -1 : 1;  // column 0 starts positive, the others negative
    std::vector<double> q(4);
    for (int i = 0; i < 4; ++i) q[i] = sign * ((i == k) - v[i] * v[k] / 15);
    ExpectVector(system.vectors[k], q, 1e-6);
  }
  const Eigensystem nan = DecomposeSymmetric({1, std::numeric_limits<double>::infinity(), 0, 1}, 2);
  EXPECT_TRUE(std::isnan(nan.values[0]) && std::isnan(nan.values[1]));
}

}  // namespace
}  // namespace tav
