// Ordinal restrictions (or1, or2 of types a to d), run through the program and checked against
// closed forms and independent constrained fits computed once in R 4.2.2: for the continuation
// ratios (types c and d) the likelihood splits into one binomial per cut, whose constrained
// maximum is the weighted isotonic regression of the shares (a pool-adjacent-violators routine
// written for the purpose); for the local odds ratios (type b) constrOptim on the row-wise
// logits, whose restrictions are linear, log odds ratio >= 0; for the cumulative orderings
// (type a) constrOptim on the probabilities, whose restrictions are linear.

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace tav {
namespace {

using testing::EngineRun;

// L-squared to every printed digit, and the degrees of freedom: a parameter less for every
// active restriction.
void ExpectFit(const std::string& dims, const std::string& kind, const std::string& data,
               double lsquared, int df) {
  const EngineRun run("man 2 dim " + dims + " lab A B mod A B|A " + kind + " see 3 dat [ " + data +
                      " ]");
  ASSERT_EQ(run.status, 0) << kind;
  EXPECT_NEAR(run.Statistic("L-squared"), lsquared, 0.6e-4) << kind << " " << data;
  EXPECT_EQ(run.Statistic("Degrees of freedom"), df) << kind << " " << data;
}

// Data that satisfy the ordering keep the unrestricted (saturated) fit; rows whose order is
// violated at every cut pool into independence: L-squared of independence, 2 df.
TEST(OrdinalRestrictions, ClosedForms) {
  ExpectFit("2 3", "or1(c)", "20 20 20 10 20 30", 0, 0);
  ExpectFit("2 3", "or1(c)", "10 20 30 20 20 20", 5.411532091, 2);
  ExpectFit("2 3", "or1(b)", "10 20 30 20 20 20", 5.411532091, 2);
  ExpectFit("2 3", "or1", "10 20 30 20 20 20", 5.411532091, 2);
  // Two categories: the continuation ratio of the first category, whatever the type.
  ExpectFit("2 2", "or1(b)", "30 10 20 20", 0, 0);
  // One column: nothing to order.
  const EngineRun one("man 1 dim 3 lab B mod B or1 see 3 dat [ 1 2 3 ]");
  EXPECT_NE(one.status, 0);
}

TEST(OrdinalRestrictions, FourByFourTablesAgreeWithConstrainedFits) {
  const std::string data = "20 10 8 2 12 15 10 3 14 9 12 5 6 10 14 10";
  ExpectFit("4 4", "or1(c)", data, 0.2877106605, 2);
  ExpectFit("4 4", "or2(c)", data, 18.95937865, 9);
  ExpectFit("4 4", "or1(d)", data, 1.349685261, 1);
  ExpectFit("4 4", "or1(b)", data, 1.35308942, 2);
  ExpectFit("4 4", "or2(b)", data, 18.95937865, 9);
  ExpectFit("4 4", "or1(a)", data, 0.2280892546, 1);
  ExpectFit("4 4", "or2(a)", data, 18.95937865, 9);
  // The mental health example: cumulative orderings across six status levels.
  ExpectFit("6 4", "or1(a)",
            "64 94 58 46 57 94 54 40 57 105 65 60 72 141 77 94 36 97 54 78 21 71 54 71",
            0.1502954685, 2);
}

}  // namespace
}  // namespace tav
