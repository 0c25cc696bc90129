#include "core/sweep_inverse.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/wide_vectors.h"

namespace tav {
namespace {

// The sweep one pivot at a time over the whole matrix, as the blocked one must reproduce it.
template <typename Skip, typename Rejected>
void PlainSweep(std::vector<double>& a, int n, double tolerance, Skip skip, Rejected rejected) {
  auto at = [&](int i, int j) -> double& { return a[static_cast<std::size_t>(i) * n + j]; };
  for (int s = 0; s < n; ++s) {
    if (skip(s)) continue;
    const double pivot = at(s, s);
    at(s, s) = 1;
    if (pivot >= tolerance) {
      for (int j = 0; j < n; ++j) at(s, j) /= pivot;
      for (int i = 0; i < n; ++i) {
        const double f = at(i, s);
        if (i == s || f == 0) continue;
        at(i, s) = 0;
        for (int j = 0; j < n; ++j) at(i, j) -= f * at(s, j);
      }
      continue;
    }
    for (int j = 0; j < n; ++j) at(s, j) = at(j, s) = 0;
    rejected(s, pivot);
  }
}

// A cross-product matrix X'X of n columns of small integers from a fixed linear congruential
// sequence: positive definite, except that column 5 repeats column 2 (a pivot that is rejected)
// and row and column 7 are 0 but the diagonal (a pivot left alone).
std::vector<double> CrossProducts(int n) {
  const int rows = n + 7;
  std::uint64_t state = 12345;
  std::vector<double> x(static_cast<std::size_t>(rows) * n);
  for (double& v : x) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    v = static_cast<double>(state >> 59) - 15.5;
  }
  if (n > 5) {
    for (int r = 0; r < rows; ++r) x[r * n + 5] = x[r * n + 2];
  }
  std::vector<double> a(static_cast<std::size_t>(n) * n, 0.0);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      for (int r = 0; r < rows; ++r) a[i * n + j] += x[r * n + i] * x[r * n + j];
    }
  }
  if (n > 7) {
    for (int j = 0; j < n; ++j) a[7 * n + j] = a[j * n + 7] = j == 7 ? 0.25 : 0.0;
  }
  return a;
}

TEST(SweepInverse, BlocksGiveThePlainSweepBitForBitWhateverTheThreads) {
  // Around the block of 64 pivots: one, a block less one, a block, one more, three and a bit.
  for (int n : {1, 63, 64, 65, 197}) {
    const std::vector<double> a = CrossProducts(n);
    auto skip = [](int s) { return s == 7; };
    std::vector<double> plain = a;
    std::vector<int> plain_rejected;
    PlainSweep(plain, n, 1e-8, skip, [&](int s, double) { plain_rejected.push_back(s); });
    for (int threads : {1, 2}) {
      std::vector<double> blocked = a;
      std::vector<int> rejected;
      SweepInverse(
          blocked, n, 1e-8, skip, [&](int s, double) { rejected.push_back(s); }, threads);
      EXPECT_EQ(blocked, plain) << n << " with " << threads << " threads";
      EXPECT_EQ(rejected, plain_rejected) << n;
    }
#ifdef TAV_WIDE_VECTORS
    // Two doubles a vector, as on a processor without AVX2.
    WideVectorsOff() = true;
    std::vector<double> narrow = a;
    SweepInverse(
        narrow, n, 1e-8, skip, [](int, double) {}, 2);
    WideVectorsOff() = false;
    EXPECT_EQ(narrow, plain) << n;
#endif
    EXPECT_EQ(plain_rejected, n > 5 ? std::vector<int>{5} : std::vector<int>{});
  }
}

TEST(SweepInverse, InvertsTheSecondDifferenceMatrix) {
  // K = tridiag(-1, 2, -1) of order n has the inverse min(i, j) (n + 1 - max(i, j)) / (n + 1),
  // i and j from 1.
  const int n = 150;
  std::vector<double> k(n * n, 0.0);
  for (int i = 0; i < n; ++i) {
    k[i * n + i] = 2;
    if (i > 0) k[i * n + i - 1] = k[(i - 1) * n + i] = -1;
  }
  SweepInverse(
      k, n, 1e-10, [](int) { return false; }, [](int, double) { FAIL(); }, 2);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      const double expected =
          static_cast<double>(std::min(i, j) * (n + 1 - std::max(i, j))) / (n + 1);
      EXPECT_NEAR(k[(i - 1) * n + j - 1], expected, 1e-9 * n) << i << "," << j;
    }
  }
}

}  // namespace
}  // namespace tav
