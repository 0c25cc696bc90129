// The association M-step against independent fits. The references are R 4.2.2 fits: glm
// (poisson) for the models whose terms are linear in their parameters (uniform association,
// row and column effects of family 1) and gnm 1.1.2 (Mult terms, the best of five starts,
// tolerance 1e-10) for the multiplicative ones; L-squared is the deviance, df the residual
// degrees of freedom. Scores of the RC model were centred and scaled to unit sums of squares
// (phi taking up the scale) and their sign chosen so that phi is positive and the first row
// score negative. The standard errors of the layered uniform association model (example jobsat)
// are those of glm with sum-to-zero contrasts.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace tav {
namespace {

using testing::EngineRun;

// Mental health (4) by parents' socioeconomic status (6), gnm's mentalHealth.
const char* const kMental =
    "man 2\ndim 4 6\nlab M S\n"
    "dat [ 64 57 57 72 36 21\n94 94 105 141 97 71\n58 54 65 77 54 54\n46 40 60 94 78 71 ]\n";

// Class origin (9) by destination (9) in three countries, gnm's erikson, with the country as
// the layer (first variable).
const char* const kMobility =
    "man 3\ndim 3 9 9\nlab C O D\ndat [\n"
    "311 130 79 24 22 7 70 44 1\n"
    "161 128 66 22 11 6 112 47 1\n"
    "128 109 89 26 25 3 197 113 4\n"
    "88 83 43 72 41 5 112 64 4\n"
    "36 45 38 27 47 3 110 80 4\n"
    "43 23 25 16 14 99 86 81 40\n"
    "356 375 325 108 140 5 1506 839 22\n"
    "150 180 187 48 74 9 802 685 15\n"
    "12 14 18 5 18 10 96 114 56\n"
    "105 72 19 9 8 3 26 11 1\n"
    "59 113 37 9 14 0 54 34 2\n"
    "40 86 64 10 20 4 103 61 4\n"
    "38 37 17 38 23 2 36 22 1\n"
    "40 68 55 38 95 10 92 74 7\n"
    "27 74 77 27 52 461 156 286 73\n"
    "36 138 93 22 38 5 339 189 9\n"
    "22 88 79 18 24 8 235 209 11\n"
    "4 18 26 9 14 19 68 107 47\n"
    "52 15 13 3 2 0 11 7 0\n"
    "30 27 14 3 4 0 27 12 2\n"
    "10 19 10 2 4 0 16 11 1\n"
    "26 24 5 20 8 1 33 22 0\n"
    "8 13 6 3 9 4 31 20 1\n"
    "24 47 44 17 22 92 132 144 21\n"
    "33 89 40 13 18 5 188 104 5\n"
    "32 49 28 14 17 5 159 109 4\n"
    "5 10 3 0 6 3 33 42 8\n"
    "]\n";

struct Case {
  const char* data;
  const char* model;
  double lsquared;
  int df;
};

// The model line put before the data.
std::string Input(const Case& c, const std::string& extra = "") {
  std::string data = c.data;
  const std::size_t at = data.find("dat [");
  return data.substr(0, at) + "mod {" + c.model + "}\n" + extra + data.substr(at);
}

TEST(AssociationModel, LSquaredAndDegreesOfFreedomOfEveryModelAgreeWithIndependentFits) {
  const Case cases[] = {
      // Uniform association, row effects of M, column effects of S, row and column effects.
      {kMental, "M,S,ass(M S 2a)", 9.895124, 14},
      {kMental, "M,S,ass2(M S 2a)", 9.895124, 14},
      {kMental, "M,S,ass3(M S 2a)", 9.895124, 14},
      {kMental, "M,S,ass1(M S 3a)", 6.280761, 12},
      {kMental, "M,S,ass2(M S 3a)", 6.280761, 12},
      {kMental, "M,S,ass3(M S 3a)", 6.280761, 12},
      {kMental, "M,S,ass(M S 4a)", 6.829334, 10},
      {kMental, "M,S,ass2(M S 4a)", 6.829334, 10},
      {kMental, "M,S,ass(M S 5a)", 3.045069, 8},
      {kMental, "M,S,ass3(M S 5a)", 3.045069, 8},
      {kMental, "M,S,ass2(M S 5a)", 3.570562, 8},
      // The same term given for all subgroups: it acts on the submodel of its variables.
      {kMental, "M,S} all {ass2(M S 5a)", 3.570562, 8},
      // Layers: what varies over the countries (b: phi, c: everything, d: the row scores,
      // e: the column scores).
      {kMobility, "CO,CD,ass(O D C 2a)", 3212.712236, 191},
      {kMobility, "CO,CD,ass2(O D C 2b)", 3199.330979, 189},
      {kMobility, "CO,CD,ass(O D C 3a)", 2891.565278, 184},
      {kMobility, "CO,CD,ass(O D C 3b)", 2882.638507, 182},
      {kMobility, "CO,CD,ass2(O D C 3c)", 2857.212932, 168},
      {kMobility, "CO,CD,ass(O D C 5a)", 2795.676385, 177},
      {kMobility, "CO,CD,ass(O D C 5b)", 2784.161357, 175},
      {kMobility, "CO,CD,ass(O D C 5c)", 2715.472187, 147},
      {kMobility, "CO,CD,ass(O D C 5d)", 2757.378716, 161},
      {kMobility, "CO,CD,ass(O D C 5e)", 2738.851147, 161},
      {kMobility, "CO,CD,ass2(O D C 5a)", 1397.832612, 177},
      {kMobility, "CO,CD,ass2(O D C 5b)", 1376.087345, 175},
      {kMobility, "CO,CD,ass2(O D C 5c)", 1267.340709, 147},
      {kMobility, "CO,CD,ass2(O D C 5d)", 1342.646185, 161},
      {kMobility, "CO,CD,ass2(O D C 5e)", 1302.844400, 161},
  };
  for (const Case& c : cases) {
    const EngineRun run(Input(c));
    ASSERT_EQ(run.status, 0) << c.model;
    EXPECT_NEAR(run.Statistic("L-squared"), c.lsquared, 0.6e-4) << c.model;
    EXPECT_EQ(run.Statistic("Degrees of freedom"), c.df) << c.model;
  }
}

TEST(AssociationModel, MappingsDesignsLayerGroupsAndSymmetryAgreeWithIndependentFits) {
  // The two layer designs: groups of countries sharing phi (1 1 2), and phi_k = gamma z_k with
  // z = 1 2 3 (glm: Cg:I(u v) and I(z u v)); equal row and column scores of the first country
  // (gnm's MultHomog); mental health with the scores of M grouped 1 2 2 3 (gnm: Mult(Mg, S)),
  // and fixed scores 1 2 4 7 for M (glm: I(x v)).
  const Case cases[] = {
      {kMobility, "CO,CD,ass2(O D C 2b 0 0 2)", 3209.868040, 190},
      {kMobility, "CO,CD,ass2(O D C 2b 0 0 -1)", 3515.028328, 191},
      {kMental, "M,S,ass2(M S 5a 3)", 4.021338, 9},
      {kMental, "M,S,ass2(M S 2a -1)", 12.421753, 14},
      // Row scores estimated within the span of design columns: one column leaves only their
      // scale (uniform association), two columns one direction more (glm: I(x v) and
      // I(x^2 v) with x = 1 2 3 4).
      {kMental, "M,S,ass(M S 3a -1)", 9.895124, 14},
      {kMental, "M,S,ass(M S 3a -2)", 9.827301, 13},
  };
  const char* const designs[] = {"des [1 1 2]\n",   "des [1 2 3]\n",   "des [1 2 2 3]\n",
                                 "des [1 2 4 7]\n", "des [1 2 3 4]\n", "des [1 2 3 4 1 4 9 16]\n"};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const EngineRun run(Input(cases[i], designs[i]));
    ASSERT_EQ(run.status, 0) << cases[i].model;
    EXPECT_NEAR(run.Statistic("L-squared"), cases[i].lsquared, 0.6e-4) << cases[i].model;
    EXPECT_EQ(run.Statistic("Degrees of freedom"), cases[i].df) << cases[i].model;
  }
  // Fixed scores: phi of the normalised scores and its standard error (glm's coefficient and
  // standard error times the lengths of the centred scores).
  const EngineRun fixed(Input(cases[3], designs[3]));
  const std::vector<std::string> block = fixed.Block("  type 2 association (row=M column=S)");
  ASSERT_GE(block.size(), 3u);
  EXPECT_EQ(block[1], "  association    0.7927");
  EXPECT_EQ(block[2], "  s.e.           0.1358");
  // Symmetric association in one country: mobility table of England and Wales.
  std::string table = "man 2\ndim 9 9\nlab O D\nmod {O,D,ass2(O D 5a a)}\ndat [\n";
  const std::string mobility = kMobility;
  const std::size_t start = mobility.find("dat [\n") + 6;
  std::size_t end = start;
  for (int line = 0; line < 9; ++line) end = mobility.find('\n', end) + 1;
  table += mobility.substr(start, end - start) + "]\n";
  for (const std::string model : {"5a a", "6a"}) {
    std::string input = table;
    input.replace(input.find("5a a"), 4, model);
    const EngineRun run(input);
    ASSERT_EQ(run.status, 0) << model;
    EXPECT_NEAR(run.Statistic("L-squared"), 744.259025, 0.6e-4) << model;
    EXPECT_EQ(run.Statistic("Degrees of freedom"), 56) << model;
  }
}

// The numbers after the 14-character head of the line that begins with head, in the block of
// the association term.
std::vector<double> Values(const EngineRun& run, const std::string& head) {
  for (const std::string& line : run.report) {
    if (line.rfind(head, 0) != 0 || line.size() < 14) continue;
    std::istringstream in(line.substr(14));
    std::vector<double> values;
    for (double x; in >> x;) values.push_back(x);
    return values;
  }
  ADD_FAILURE() << "no line " << head;
  return {};
}

void ExpectValues(const std::vector<double>& got, const std::vector<double>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(got[i], want[i], 0.51e-4) << i;
}

TEST(AssociationModel, ScoresAndParametersAgreeWithIndependentFits) {
  // RC model (gnm, Mult(M, S)).
  const EngineRun rc(Input({kMental, "M,S,ass2(M S 5a)", 0, 0}));
  ExpectValues(Values(rc, "  association"), {0.964896});
  ExpectValues(Values(rc, "  row "), {-0.732654, -0.033474, 0.092702, 0.673427});
  ExpectValues(Values(rc, "  column "),
               {-0.437797, -0.441251, -0.156615, -0.005602, 0.367407, 0.673858});
  // Standard errors: of the scores, gnm's getContrasts (ref = "mean", scaleRef = "mean",
  // scaleWeights = "unit"); of phi, the delta method over vcov(rc).
  const std::vector<std::string> block = rc.Block("  type 2 association (row=M column=S)");
  ASSERT_GE(block.size(), 7u);
  auto numbers = [](const std::string& line) {
    std::istringstream in(line.substr(14));
    std::vector<double> values;
    for (double x; in >> x;) values.push_back(x);
    return values;
  };
  ExpectValues(numbers(block[2]), {0.153193});
  ExpectValues(numbers(block[4]), {0.064656, 0.108312, 0.122509, 0.078623});
  ExpectValues(numbers(block[6]), {0.112734, 0.114177, 0.122410, 0.112657, 0.124071, 0.093237});
  // Uniform association: the glm coefficient of u v, 0.090687, times the lengths of the
  // centred integer scores, sqrt(5) sqrt(17.5).
  const EngineRun uniform(Input({kMental, "M,S,ass2(M S 2a)", 0, 0}));
  ExpectValues(Values(uniform, "  association"), {0.848296});
  // Row effects of M: the glm coefficients of M:v, centred and scaled.
  const EngineRun rows(Input({kMental, "M,S,ass2(M S 3a)", 0, 0}));
  ExpectValues(Values(rows, "  association"), {0.909209});
  ExpectValues(Values(rows, "  row "), {-0.707799, -0.040242, 0.044158, 0.703883});
  // Every scaling of the scores fits the same model; type 2 gives sums of squares n, type 6
  // pins the end scores at -(n - 1) / 2 and (n - 1) / 2.
  for (int s = 2; s <= 6; ++s) {
    const EngineRun run(
        Input({kMental, "M,S,ass2(M S 5a)", 0, 0}, "sca " + std::to_string(s) + "\n"));
    EXPECT_NEAR(run.Statistic("L-squared"), 3.570562, 0.6e-4) << s;
  }
  const EngineRun pinned(Input({kMental, "M,S,ass2(M S 5a)", 0, 0}, "sca 6\n"));
  const std::vector<double> row = Values(pinned, "  row ");
  ASSERT_EQ(row.size(), 4u);
  EXPECT_EQ(row.front(), -1.5);
  EXPECT_EQ(row.back(), 1.5);
}

}  // namespace
}  // namespace tav
