// The E-step's shares on a latent class model with fitted tables set by hand: two classes X,
// three dichotomous items A, B and C, and a second subgroup that does not observe C. The
// expected frequency of a complete cell is n(pattern) P(completion | pattern), worked out here
// by Bayes' rule from the class sizes and item probabilities below.
//
// Two models: in X A|X B|X C|X the unobserved C drops out of the second subgroup (its
// probabilities sum to 1 there), so that its patterns are shared over the classes only and add
// nothing to the table of C|X; in X A|X C|X B|XC the subgroup carries C, on which B depends,
// and its patterns are shared over the classes and the categories of C.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "estimation/e_step.h"
#include "estimation/estimate.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::FittedModel;

constexpr double kClass[] = {0.55, 0.45};                         // P(X = x)
constexpr double kItemA[2][2] = {{0.85, 0.15}, {0.25, 0.75}};     // P(A = a | X = x)
constexpr double kItemC[2][2] = {{0.9, 0.1}, {0.35, 0.65}};       // P(C = c | X = x)
constexpr double kItemB[2][2][2] = {{{0.7, 0.3}, {0.4, 0.6}},     // P(B = b | X = x, C = c)
                                    {{0.2, 0.8}, {0.45, 0.55}}};  // (x outer, then c)
// Subgroup K = 1 observes A, B and C (C fastest), K = 2 only A and B.
constexpr double kComplete[2][2][2] = {{{30, 8}, {10, 6}}, {{9, 7}, {5, 25}}};
constexpr double kPartial[2][2] = {{12, 5}, {6, 17}};
constexpr double kGroupTotal[] = {100, 40};
constexpr double kTotal = 140;

// The two models; in the first, B does not depend on C (the rows c = 0 of kItemB).
struct Shape {
  bool carries_c;
  const char* model;
};
constexpr Shape kDropped{false, "X A|X B|X C|X K"};
constexpr Shape kCarried{true, "X A|X C|X B|XC K"};

double ItemB(const Shape& shape, int x, int c, int b) {
  return kItemB[x][shape.carries_c ? c : 0][b];
}
double Joint(const Shape& shape, int x, int a, int b, int c) {
  return kClass[x] * kItemA[x][a] * kItemC[x][c] * ItemB(shape, x, c, b);
}

std::string Input(const Shape& shape, int threads) {
  return std::string("res 1 lat 1 man 3 dim 2 2 2 2 2 lab K X A B C sub ABC AB mod ") +
         shape.model + " thr " + std::to_string(threads) +
         " see 5 cri 0.000000001 dat [ 30 8 10 6 9 7 5 25  12 5 6 17 ]";
}

// The model with its tables laid out and the fitted tables of the parameters above: submodel 0
// (X) in frequency form, the others as conditional probabilities; P(K) is the share of each
// subgroup, so that M / T_s of a pattern is its probability. Cells run in the order of the
// variables K X A B C, the last fastest.
struct SharesModel {
  SharesModel(const Shape& shape, int threads) : shape(shape), model(Input(shape, threads)) {
    if (!model.message.empty()) return;
    SetUpEstimationTables(model.run);
    BuildIndexMaps(model.run);
    std::vector<double> fitted = model.run.estimation.FittedTable;
    for (int k = 0; k < 2; ++k) fitted[First(4) + k] = kGroupTotal[k] / kTotal;
    for (int x = 0; x < 2; ++x) {
      fitted[First(0) + x] = kTotal * kClass[x];
      for (int y = 0; y < 2; ++y) {
        fitted[First(1) + 2 * x + y] = kItemA[x][y];
        fitted[First(ItemCSubmodel()) + 2 * x + y] = kItemC[x][y];
        for (int c = 0; c < (shape.carries_c ? 2 : 1); ++c) {
          const int cell = shape.carries_c ? 4 * x + 2 * y + c : 2 * x + y;
          fitted[First(ItemBSubmodel()) + cell] = ItemB(shape, x, c, y);
        }
      }
    }
    model.SetFitted(fitted);
    model.run.estimation.iteration = 0;
  }
  std::int64_t First(int r) const { return model.run.model.submodels[r].first_cell; }
  int ItemBSubmodel() const { return shape.carries_c ? 3 : 2; }
  int ItemCSubmodel() const { return shape.carries_c ? 2 : 3; }

  // Adds share to the cells of the complete cell (x, a, b, c) of subgroup k; without c (-1)
  // the submodel of C and the dependence of B on it are left out.
  void Add(std::map<std::int64_t, double>& table, int k, int x, int a, int b, int c,
           double share) const {
    table[First(0) + x] += share;
    table[First(1) + 2 * x + a] += share;
    if (c >= 0) table[First(ItemCSubmodel()) + 2 * x + c] += share;
    table[First(ItemBSubmodel()) + (shape.carries_c ? 4 * x + 2 * b + c : 2 * x + b)] += share;
    table[First(4) + k] += share;
  }

  Shape shape;
  FittedModel model;
};

TEST(EStepShares, CompleteAndPartialPatternsShareTheirCountsByBayesRule) {
  for (const Shape& shape : {kDropped, kCarried}) {
    SharesModel t(shape, 1);
    ASSERT_EQ(t.model.message, "") << shape.model;
    ASSERT_EQ(t.model.run.model.SubmodelCount, 5);
    EStep(t.model.run);
    const EstimationState& est = t.model.run.estimation;
    std::map<std::int64_t, double> want;
    double log_likelihood = 0;
    for (int a = 0; a < 2; ++a) {
      for (int b = 0; b < 2; ++b) {
        for (int c = 0; c < 2; ++c) {
          const double n = kComplete[a][b][c];
          const double pattern = Joint(shape, 0, a, b, c) + Joint(shape, 1, a, b, c);
          log_likelihood += n * std::log(pattern);
          for (int x = 0; x < 2; ++x)
            t.Add(want, 0, x, a, b, c, n * Joint(shape, x, a, b, c) / pattern);
        }
        const double n = kPartial[a][b];
        double pattern = 0;
        for (int x = 0; x < 2; ++x) pattern += Joint(shape, x, a, b, 0) + Joint(shape, x, a, b, 1);
        log_likelihood += n * std::log(pattern);
        for (int x = 0; x < 2; ++x) {
          if (shape.carries_c) {
            for (int c = 0; c < 2; ++c)
              t.Add(want, 1, x, a, b, c, n * Joint(shape, x, a, b, c) / pattern);
          } else {
            const double joint = Joint(shape, x, a, b, 0) + Joint(shape, x, a, b, 1);
            t.Add(want, 1, x, a, b, -1, n * joint / pattern);
          }
        }
      }
    }
    ASSERT_EQ(want.size(), est.ExpectedTable.size()) << shape.model;
    for (const auto& [cell, value] : want) {
      EXPECT_NEAR(est.ExpectedTable[cell], value, 1e-12) << shape.model << " cell " << cell;
    }
    EXPECT_NEAR(est.LogLikelihood, log_likelihood, 1e-10) << shape.model;
    ComputeFitSums(t.model.run);
    EXPECT_NEAR(est.ExpectedTotal, kTotal, 1e-10) << shape.model;
  }
}

TEST(EStepShares, PosteriorsOfAPartialPatternSpreadOverTheCarriedItem) {
  for (const Shape& shape : {kDropped, kCarried}) {
    SharesModel t(shape, 1);
    ASSERT_EQ(t.model.message, "") << shape.model;
    std::vector<std::vector<double>> posteriors;
    ForEachPosterior(t.model.run,
                     [&](std::int64_t, const std::vector<double>& p) { posteriors.push_back(p); });
    // The 8 complete patterns, then the 4 partial ones; a partial pattern's completions run
    // with the class outermost and C inside.
    ASSERT_EQ(posteriors.size(), 12u) << shape.model;
    for (int a = 0; a < 2; ++a) {
      for (int b = 0; b < 2; ++b) {
        for (int c = 0; c < 2; ++c) {
          const std::vector<double>& p = posteriors[4 * a + 2 * b + c];
          ASSERT_EQ(p.size(), 2u);
          const double pattern = Joint(shape, 0, a, b, c) + Joint(shape, 1, a, b, c);
          for (int x = 0; x < 2; ++x) {
            EXPECT_NEAR(p[x], Joint(shape, x, a, b, c) / pattern, 1e-14)
                << shape.model << a << b << c;
          }
        }
        const std::vector<double>& p = posteriors[8 + 2 * a + b];
        double pattern = 0;
        for (int x = 0; x < 2; ++x) pattern += Joint(shape, x, a, b, 0) + Joint(shape, x, a, b, 1);
        ASSERT_EQ(p.size(), shape.carries_c ? 4u : 2u) << shape.model;
        for (int x = 0; x < 2; ++x) {
          if (shape.carries_c) {
            for (int c = 0; c < 2; ++c) {
              EXPECT_NEAR(p[2 * x + c], Joint(shape, x, a, b, c) / pattern, 1e-14) << a << b << x;
            }
          } else {
            EXPECT_NEAR(p[x], (Joint(shape, x, a, b, 0) + Joint(shape, x, a, b, 1)) / pattern,
                        1e-14)
                << a << b << x;
          }
        }
      }
    }
  }
}

TEST(EStepShares, TwoThreadsGiveTheBitsOfOne) {
  for (const Shape& shape : {kDropped, kCarried}) {
    SharesModel one(shape, 1);
    SharesModel two(shape, 2);
    ASSERT_EQ(one.model.message, "");
    ASSERT_EQ(two.model.message, "");
    EStep(one.model.run);
    EStep(two.model.run);
    const EstimationState& a = one.model.run.estimation;
    const EstimationState& b = two.model.run.estimation;
    EXPECT_EQ(a.ExpectedTable, b.ExpectedTable) << shape.model;
    EXPECT_EQ(a.LogLikelihood, b.LogLikelihood) << shape.model;
    EXPECT_EQ(a.HalfLSquared, b.HalfLSquared) << shape.model;
    EXPECT_EQ(a.PearsonSum, b.PearsonSum) << shape.model;
    EXPECT_EQ(a.AbsResidualSum, b.AbsResidualSum) << shape.model;
    // And the whole fit from the same seed.
    const testing::Fitted fit_one(Input(shape, 1));
    const testing::Fitted fit_two(Input(shape, 2));
    ASSERT_EQ(fit_one.message, "");
    ASSERT_EQ(fit_two.message, "");
    EXPECT_EQ(fit_one.est().FittedTable, fit_two.est().FittedTable) << shape.model;
    EXPECT_EQ(fit_one.LogLikelihood(), fit_two.LogLikelihood()) << shape.model;
  }
}

// Enough patterns for the E-step to run in shares: 20,000 records of 16 items under two classes,
// the first three items missing one time in ten (eight subgroups), fitted tables filled with
// pseudo-random values. One, two and three threads give the same bits.
TEST(EStepShares, ManyPatternsWithMissingAnswersGiveTheSameBitsOnAnyThreads) {
  std::uint32_t state = 3;
  auto uniform = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / (1 << 24);
  };
  std::string records;
  for (int r = 0; r < 20000; ++r) {
    const bool first_class = uniform() < 0.4;
    for (int v = 0; v < 16; ++v) {
      int answer = uniform() < (first_class ? 0.2 + 0.04 * v : 0.8 - 0.03 * v) ? 1 : 2;
      if (v < 3 && uniform() < 0.1) answer = 0;
      records += std::to_string(answer) + " ";
    }
    records += "\n";
  }
  std::vector<double> expected[3];
  double log_likelihood[3] = {};
  for (int threads = 1; threads <= 3; ++threads) {
    FittedModel t(
        "res 1 lat 1 man 16 dim 8 2 2 2 2 2 2 2 2 2 2 2 2 2 2 2 2 2\n"
        "lab K X A B C D E F G H I J L M N O P Q\n"
        "mod K X A|X B|X C|X D|X E|X F|X G|X H|X I|X J|X L|X M|X N|X O|X P|X Q|X\n"
        "rec 20000 thr " +
        std::to_string(threads) + "\ndat [\n" + records + "]\n");
    ASSERT_EQ(t.message, "");
    SetUpEstimationTables(t.run);
    BuildIndexMaps(t.run);
    ASSERT_GT(t.run.data.EntryCount(), 8192);
    std::uint32_t cells = 17;
    std::vector<double> fitted = t.run.estimation.FittedTable;
    for (double& x : fitted) {
      cells = cells * 1664525u + 1013904223u;
      x = 0.05 + static_cast<double>(cells >> 8) / (1 << 24);
    }
    t.SetFitted(fitted);
    t.run.estimation.iteration = 1;
    EStep(t.run);
    expected[threads - 1] = t.run.estimation.ExpectedTable;
    log_likelihood[threads - 1] = t.run.estimation.LogLikelihood;
  }
  EXPECT_EQ(expected[1], expected[0]);
  EXPECT_EQ(expected[2], expected[0]);
  EXPECT_EQ(log_likelihood[1], log_likelihood[0]);
  EXPECT_EQ(log_likelihood[2], log_likelihood[0]);
}

}  // namespace
}  // namespace tav
