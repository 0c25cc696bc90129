#include "core/distributions.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tav {
namespace {

// Reference values of the normal distribution function computed as erfc(-x / sqrt 2) / 2.
// Hart's approximation is accurate to about 1e-15 absolutely; far in the tail its relative
// error grows to a few 1e-9.
TEST(NormalCdf, CentralBranch) {
  EXPECT_EQ(NormalCdf(0.0), 0.5);
  EXPECT_NEAR(NormalCdf(1.96), 0.9750021048517795, 1e-14);
  EXPECT_NEAR(NormalCdf(-1.0), 0.15865525393145707, 1e-15);
  EXPECT_NEAR(NormalCdf(5.0), 0.9999997133484281, 1e-15);
  EXPECT_NEAR(NormalCdf(-3.0) / 0.0013498980316300957, 1.0, 1e-13);
  EXPECT_NEAR(NormalCdf(-7.0) / 1.279812543885835e-12, 1.0, 1e-8);
}

TEST(NormalCdf, ContinuedFractionBranch) {
  EXPECT_NEAR(NormalCdf(-7.1) / 6.23784446333164e-13, 1.0, 1e-8);
  EXPECT_NEAR(NormalCdf(-8.0) / 6.220960574271819e-16, 1.0, 1e-8);
  EXPECT_NEAR(NormalCdf(-10.0) / 7.619853024160593e-24, 1.0, 1e-8);
  EXPECT_NEAR(NormalCdf(-30.0) / 4.906713927148764e-198, 1.0, 1e-8);
  EXPECT_EQ(NormalCdf(8.0), 1.0 - NormalCdf(-8.0));
}

TEST(NormalCdf, FarTails) {
  EXPECT_EQ(NormalCdf(-40.0), 0.0);
  EXPECT_EQ(NormalCdf(40.0), 1.0);
  EXPECT_EQ(NormalCdf(-37.5), 0.0);
}

TEST(NormalDensity, ValuesAndCutOff) {
  EXPECT_NEAR(NormalDensity(0.0), 0.3989422804014327, 1e-16);
  EXPECT_NEAR(NormalDensity(1.0), 0.24197072451914337, 1e-16);
  EXPECT_EQ(NormalDensity(-2.0), NormalDensity(2.0));
  EXPECT_EQ(NormalDensity(100.5), 0.0);
}

}  // namespace
}  // namespace tav
