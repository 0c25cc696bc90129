#include "report/parameter_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>

#include "estimation/free_parameters.h"
#include "tav95/run_driver.h"
#include "test_support.h"

namespace tav {
namespace {

using testing::EngineRun;
using testing::FittedModel;
using testing::ReadLines;
using testing::RecordingPresentation;
using testing::TempDir;

// A model parsed from text and estimated.
struct EstimatedModel : FittedModel {
  explicit EstimatedModel(const std::string& text) : FittedModel(text) {
    if (!message.empty()) return;
    run.context.presentation = &window;
    run.context.arguments = {"in", "out"};
    message = testing::StopMessageOrEmpty([this] { FitModel(run); });
  }
  std::vector<std::string> Tables(int first) {
    return Report([first](RunState& r) { WriteParameterResults(r, ComputeParameters(r, first)); });
  }
  // The parameters of submodel t by effect text ("" for the constant).
  std::map<std::string, std::vector<double>> Betas(int t) {
    std::map<std::string, std::vector<double>> betas;
    for (const LogLinearEffect& e : LogLinearParameters(run, t, t > 0, TableReferences(run, t))) {
      betas[TermText(run.model, e.variables)] = e.beta;
    }
    return betas;
  }
  RecordingPresentation window;
};

// Gender (A, 2) by sex (S, 2) by department (D, 6) admissions; model {AD,SD}.
constexpr const char* kAdmissions =
    "man 3 dim 2 2 6 lab A S D mod {AD,SD} cri 0.0000000001 nse\n"
    "dat [ 512 353 120 138 53 22 89 17 202 131 94 24\n"
    "      313 207 205 279 138 351 19 8 391 244 299 317 ]\n";

// Reference values (printed figures rounded from them in R): R 4.x, glm(n ~ A*D + S*D, family =
// poisson) on the same table (D running fastest), glm.control(epsilon = 1e-14).
//  Effect coding, contrasts contr.sum for A, S and D:
//   (Intercept) 4.8056695651688761  A1 -0.3257818040182588  S1 0.3346053213141271
//   D1..D5 0.1565474924390742 -0.7618045912190724 0.5390389411792409 0.4269215887346823
//          -0.0273461371019977
//   A1:D1..A1:D5 0.6225117868276165 0.5972142927735622 0.0179372432577885
//                -0.0066532382132829 -0.2189685001401680
//   D1:S1..D5:S1 0.6820207582911021 1.2199251581163701 -0.6352899296481211
//                -0.2815252233999316 -0.6953734132254427
//  Dummy coding, contr.treatment with base 1 for A, 2 for S and 3 for D:
//   (Intercept) 5.3375485539216445  A2 0.6156891215209415  S1 -0.6013692166679870
//   D1 D2 D4 D5 D6 -1.0952275931095576 -2.5767815706470283 -0.4904725401638185
//                  -0.7432073381018736 -2.2479076424886157
//   A2:D1 A2:D2 A2:D4 A2:D5 A2:D6 -1.2091490871396631 -1.1585540990315482 0.0491809629421421
//                                 0.4738114867959126 2.0599576555266088
//   D1:S1 D2:S1 D4:S1 D5:S1 D6:S1 2.6346213758784480 3.7104301755289808 0.7075294124963771
//                                 -0.1201669671546433 0.6910651590282864

// Completes effect-coded parameters: the last category is minus the sum of the others.
std::vector<double> WithLast(std::vector<double> v) {
  double sum = 0;
  for (double x : v) sum += x;
  v.push_back(-sum);
  return v;
}

void ExpectNear(const std::vector<double>& actual, const std::vector<double>& expected,
                double tolerance, const std::string& what) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  for (std::size_t i = 0; i < actual.size(); ++i) {
    EXPECT_NEAR(actual[i], expected[i], tolerance) << what << " cell " << i;
  }
}

TEST(ParameterTables, EffectCodingAgreesWithAPoissonGlm) {
  EstimatedModel f(kAdmissions);
  ASSERT_EQ(f.message, "");
  auto b = f.Betas(0);
  ASSERT_EQ(b.size(), 6u);
  const double tol = 1e-8;
  ExpectNear(b[""], {4.8056695651688761}, tol, "main");
  ExpectNear(b["A"], WithLast({-0.3257818040182588}), tol, "A");
  ExpectNear(b["S"], WithLast({0.3346053213141271}), tol, "S");
  const std::vector<double> d =
      WithLast({0.1565474924390742, -0.7618045912190724, 0.5390389411792409, 0.4269215887346823,
                -0.0273461371019977});
  ExpectNear(b["D"], d, tol, "D");
  // A x D: the A1 row from the fit, the A2 row its negative.
  std::vector<double> ad = WithLast({0.6225117868276165, 0.5972142927735622, 0.0179372432577885,
                                     -0.0066532382132829, -0.2189685001401680});
  for (int k = 0; k < 6; ++k) ad.push_back(-ad[k]);
  ExpectNear(b["AD"], ad, tol, "AD");
  std::vector<double> sd = WithLast({0.6820207582911021, 1.2199251581163701, -0.6352899296481211,
                                     -0.2815252233999316, -0.6953734132254427});
  for (int k = 0; k < 6; ++k) sd.push_back(-sd[k]);
  ExpectNear(b["SD"], sd, tol, "SD");
}

TEST(ParameterTables, DummyCodingAgreesWithAPoissonGlm) {
  EstimatedModel f(std::string(kAdmissions) + "dum 1 2 3\n");
  ASSERT_EQ(f.message, "");
  auto b = f.Betas(0);
  const double tol = 1e-8;
  ExpectNear(b[""], {5.3375485539216445}, tol, "main");
  ExpectNear(b["A"], {0, 0.6156891215209415}, tol, "A");
  ExpectNear(b["S"], {-0.6013692166679870, 0}, tol, "S");
  ExpectNear(b["D"],
             {-1.0952275931095576, -2.5767815706470283, 0, -0.4904725401638185, -0.7432073381018736,
              -2.2479076424886157},
             tol, "D");
  ExpectNear(b["AD"],
             {0, 0, 0, 0, 0, 0, -1.2091490871396631, -1.1585540990315482, 0, 0.0491809629421421,
              0.4738114867959126, 2.0599576555266088},
             tol, "AD");
  ExpectNear(b["SD"],
             {2.6346213758784480, 3.7104301755289808, 0, 0.7075294124963771, -0.1201669671546433,
              0.6910651590282864, 0, 0, 0, 0, 0, 0},
             tol, "SD");
}

TEST(ParameterTables, TableWithoutStandardErrors) {
  EstimatedModel f(kAdmissions);
  ASSERT_EQ(f.message, "");
  const auto lines = f.Tables(0);
  const std::vector<std::string> head{
      "",
      "*** LOG-LINEAR PARAMETERS ***",
      "",
      "* TABLE ASD [or P(ASD)] *",
      "",
      "  effect           beta   exp(beta)",
      "  main           4.8057    122.2013 ",
      "  A ",
      "   1            -0.3258      0.7220 ",
      "   2             0.3258      1.3851 ",
      "  S ",
      "   1             0.3346      1.3974 ",
      "   2            -0.3346      0.7156 ",
      "  D ",
      "   1             0.1565      1.1695 ",
  };
  ASSERT_GE(lines.size(), head.size());
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + head.size()), head);
  // AD, SD and their twelve cells each; then the blank line after the table and the one
  // closing the section.
  const auto ad = std::find(lines.begin(), lines.end(), "  AD ");
  ASSERT_NE(ad, lines.end());
  EXPECT_EQ(*(ad + 1), "   1 1           0.6225      1.8636 ");
  EXPECT_EQ(*(ad + 12), "   2 6           1.0120      2.7512 ");
  EXPECT_EQ(*(ad + 13), "  SD ");
  EXPECT_EQ(lines.size(), static_cast<std::size_t>((ad + 26 - lines.begin()) + 2));
  EXPECT_EQ(lines[lines.size() - 2], "");
  EXPECT_EQ(lines.back(), "");
}

TEST(ParameterTables, EffectsBySizeThenPosition) {
  EstimatedModel f("man 3 dim 2 3 2 mod {ABC} nse dat [ 1 2 3 4 5 6 7 8 9 10 11 12 ]");
  ASSERT_EQ(f.message, "");
  std::vector<std::string> order;
  for (const LogLinearEffect& e : LogLinearParameters(f.run, 0, false, TableReferences(f.run, 0))) {
    order.push_back(TermText(f.run.model, e.variables));
  }
  EXPECT_EQ(order, (std::vector<std::string>{"", "A", "B", "C", "AB", "AC", "BC", "ABC"}));
}

TEST(ParameterTables, ZeroMarginParameterIsNotEstimated) {
  // Saturated 2 x 2 table with an empty cell: its margin parameter is exactly 0.
  EstimatedModel f("man 2 dim 2 2 mod {AB} nse dat [ 10 0 5 20 ]");
  ASSERT_EQ(f.message, "");
  EXPECT_EQ(FittedZeroMargins(f.run, 0, false), 1);
  const auto lines = f.Tables(0);
  ASSERT_GE(lines.size(), 16u);
  EXPECT_EQ(lines[3], "* TABLE AB [or P(AB)] * (WARNING: 1 fitted zero margins)");
  const auto ab = std::find(lines.begin(), lines.end(), "  AB ");
  ASSERT_NE(ab, lines.end());
  EXPECT_EQ(*(ab + 2), "   1 2           ******  0.00E+0000");
  // The estimated cells: the three cells with data reproduce their log-frequencies.
  auto b = f.Betas(0);
  const double l11 = std::log(10.0), l21 = std::log(5.0), l22 = std::log(20.0);
  // Means over the non-empty cells peel the constant, then A and B, then AB.
  const double main = (l11 + l21 + l22) / 3;
  EXPECT_NEAR(b[""][0], main, 1e-9);
  const double a1 = l11 - main;  // only cell (1,1) of row 1 has mass
  const double a2 = (l21 + l22) / 2 - main;
  EXPECT_NEAR(b["A"][0], a1, 1e-9);
  EXPECT_NEAR(b["A"][1], a2, 1e-9);
  const double b1 = (l11 - a1 - main + l21 - a2 - main) / 2;
  const double b2 = l22 - a2 - main;
  EXPECT_NEAR(b["B"][0], b1, 1e-9);
  EXPECT_NEAR(b["B"][1], b2, 1e-9);
  EXPECT_NEAR(b["AB"][0], l11 - main - a1 - b1, 1e-9);
  EXPECT_NEAR(b["AB"][3], l22 - main - a2 - b2, 1e-9);
}

// Stouffer-Toby role conflict, two latent classes. Reference: a separate EM in R run to full
// convergence gave P(A = 1 | class) 0.713587948242766 and 0.993193323699821 for the engine's
// classes 1 and 2 (seed 1234). Under effect coding the logit ln(p / (1 - p)) of A in class x is
// 2 (lambda_A + lambda_XA(x, 1)), so lambda_A = (l1 + l2) / 4 = 1.473973892579895 and
// lambda_XA(1, 1) = (l1 - l2) / 4 = -1.017536803534473.
constexpr const char* kStouffer =
    "lat 1 man 4 dim 2 2 2 2 2 lab X A B C D mod X A|X B|X C|X D|X see 1234\n"
    "cri 0.0000000000001 nse\n"
    "dat [ 42 23 6 25 6 24 7 38 1 4 1 6 2 9 2 20 ]\n";

TEST(ParameterTables, ConditionalSubmodelAgreesWithTheResponseProbabilities) {
  EstimatedModel f(kStouffer);
  ASSERT_EQ(f.message, "");
  // EM converges slowly here: the parameters agree to about 5e-7.
  auto b = f.Betas(1);
  ASSERT_EQ(b.size(), 4u);  // main, X, A, XA
  EXPECT_NEAR(b["A"][0], 1.473973892579895, 2e-6);
  EXPECT_NEAR(b["XA"][0], -1.017536803534473, 2e-6);
  EXPECT_NEAR(b["XA"][3], -1.017536803534473, 2e-6);
  const auto lines = f.Tables(1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "* TABLE X [or P(X)] *"), 0);
  const auto xa = std::find(lines.begin(), lines.end(), "* TABLE XA [or P(A|X)] *");
  ASSERT_NE(xa, lines.end());
  EXPECT_EQ(*(xa + 2), "  effect           beta   exp(beta)");
  const auto a = std::find(xa, lines.end(), "  A ");
  ASSERT_NE(a, lines.end());
  EXPECT_EQ(*(a + 1), "   1             1.4740      4.3666 ");
  EXPECT_EQ(*(a + 2), "   2            -1.4740      0.2290 ");
  EXPECT_EQ(*(a + 4), "   1 1          -1.0175      0.3615 ");
}

TEST(ParameterTables, ReferenceCategoriesOfATable) {
  EstimatedModel f(std::string(kStouffer) + "dum 0 0 2 -1 1\n");
  ASSERT_EQ(f.message, "");
  // Submodel 0: a 0 is the last category. Submodel 1 (A|X): the conditioning X takes its last
  // category, the dependent A keeps 0 (no reference category).
  EXPECT_EQ(TableReferences(f.run, 0)[0], 2);
  const ReferenceCategories r1 = TableReferences(f.run, 1);
  EXPECT_EQ(r1[0], 2);
  EXPECT_EQ(r1[1], 0);
  EXPECT_EQ(TableReferences(f.run, 2)[2], 2);
  EXPECT_EQ(TableReferences(f.run, 3)[3], -1);
  // B|X under dummy coding with reference 2 for B and X: the B parameter of category 1 is the
  // logit of B in class 2.
  auto b = f.Betas(2);
  EXPECT_NEAR(b["B"][1], 0, 1e-12);
  for (int cell : {1, 2, 3}) EXPECT_NEAR(b["XB"][cell], 0, 1e-12) << cell;
  const double p = 0.939764443076908;  // P(B = 1 | engine class 2), from the reference EM
  EXPECT_NEAR(b["B"][0], std::log(p / (1 - p)), 2e-6);
}

TEST(ParameterTables, DetailsOffWritesOnlyTheClosingLine) {
  EstimatedModel f(std::string(kAdmissions) + "nlo\n");
  ASSERT_EQ(f.message, "");
  EXPECT_EQ(f.Tables(0), std::vector<std::string>{""});
}

// Independence in a 2 x 3 table (rows 60 and 40, columns 30, 30 and 40 of N = 100) with a
// covariance matrix set by hand: var(A1) = 0.04, var(B1) = 0.01, var(B2) = 0.0025,
// cov(B1, B2) = 0.002. By hand (and checked in R): lambda_A1 = ln(1.5) / 2 = 0.202733,
// z = 1.013663, exp = 1.224745, Wald = 0.202733^2 / 0.04 = 1.027512 with p = 0.310744;
// lambda_B = ln(30, 30, 40) - their mean = -0.095894, -0.095894, 0.191788 (exp 0.908560,
// 0.908560, 1.211414), z = -0.958940 and -1.917880, Wald b' V^-1 b = 3.722054 with p = 0.155513.
struct HandCovariances : EstimatedModel {
  HandCovariances()
      : EstimatedModel(
            "man 2 dim 2 3 mod {A,B} cri 0.0000000001\n"
            "dat [ 10 20 30 20 10 10 ]\n") {
    BuildParameterList(run);
    const ReferenceVector reference = EffectiveReference(run, 0);
    Membership a{}, b{};
    a[0] = 1;
    b[1] = 1;
    a1 = ParameterIndex(run, reference.data(), 0, a, 0);
    b1 = ParameterIndex(run, reference.data(), 0, b, 0);
    b2 = ParameterIndex(run, reference.data(), 0, b, 1);
    n = run.estimation.free_parameters.Count();
    run.newton.information_matrix.assign(n * n, 0.0);
    Set(a1, a1, 0.04);
    Set(b1, b1, 0.01);
    Set(b2, b2, 0.0025);
    Set(b1, b2, 0.002);
    Set(b2, b1, 0.002);
    run.newton.std_errors_computed = true;
  }
  void Set(int i, int j, double v) { run.newton.information_matrix[i * n + j] = v; }
  int a1 = -1, b1 = -1, b2 = -1, n = 0;
};

TEST(ParameterTables, StandardErrorsZValuesAndWaldTests) {
  HandCovariances f;
  ASSERT_EQ(f.message, "");
  ASSERT_EQ(f.n, 3);
  ASSERT_GE(f.a1, 0);
  const auto lines = f.Tables(0);
  const std::vector<std::string> expected{
      "  effect           beta  std err  z-value   exp(beta)     Wald  df  prob",
      "  A ",
      "   1             0.2027   0.2000    1.014      1.2247 ",
      "   2            -0.2027                        0.8165     1.03   1 0.311",
      "  B ",
      "   1            -0.0959   0.1000   -0.959      0.9086 ",
      "   2            -0.0959   0.0500   -1.918      0.9086 ",
      "   3             0.1918                        1.2114     3.72   2 0.156",
  };
  const auto header = std::find(lines.begin(), lines.end(), expected[0]);
  ASSERT_NE(header, lines.end());
  // The constant of the first submodel is not a free parameter: no standard error.
  EXPECT_EQ((header + 1)->size(), 24u + 18 + 12);
  EXPECT_EQ(std::vector<std::string>(header + 2, header + 2 + 7),
            std::vector<std::string>(expected.begin() + 1, expected.end()));
}

TEST(ParameterTables, NonPositiveVarianceShowsAsterisks) {
  HandCovariances f;
  ASSERT_EQ(f.message, "");
  f.Set(f.a1, f.a1, 0.0);  // a rejected pivot
  const auto lines = f.Tables(0);
  const auto a = std::find(lines.begin(), lines.end(), "  A ");
  ASSERT_NE(a, lines.end());
  EXPECT_EQ(*(a + 1), "   1             0.2027   ******    *****      1.2247 ");
  // The singular one-parameter block inverts to 0.
  EXPECT_EQ(*(a + 2), "   2            -0.2027                        0.8165     0.00   1 1.000");
}

TEST(ParameterTables, CovarianceFileOfTheShownParameters) {
  HandCovariances f;
  ASSERT_EQ(f.message, "");
  f.run.parsed_input.settings.file_covariances = f.dir.File("model.cov");
  f.Tables(0);
  const std::vector<std::string> expected{
      "* Standard-errors and correlations *",
      "  0.2000",
      "  0.0000  0.1000",
      "  0.0000  0.4000  0.0500",
      "",
      "* Variances and covariances *",
      "  0.0400",
      "  0.0000  0.0100",
      "  0.0000  0.0020  0.0025",
      "",
  };
  // A and B are exactly uncorrelated under independence: 0, not asterisks, which stand for a
  // parameter without a variance.
  EXPECT_EQ(ReadLines(f.dir.File("model.cov")), expected);
  f.Set(f.b1, f.b1, 0);
  f.Tables(0);
  EXPECT_EQ(ReadLines(f.dir.File("model.cov"))[7], "  ******  ******");
}

TEST(ParameterTables, NoCovarianceFileWithoutStandardErrors) {
  HandCovariances f;
  ASSERT_EQ(f.message, "");
  f.run.parsed_input.settings.file_covariances = f.dir.File("model.cov");
  f.run.parsed_input.settings.show_std_errors = false;
  const auto lines = f.Tables(0);
  EXPECT_FALSE(std::filesystem::exists(f.dir.File("model.cov")));
  EXPECT_NE(std::find(lines.begin(), lines.end(), "  effect           beta   exp(beta)"),
            lines.end());
}

TEST(ParameterTables, CumulativeModelsShowExpBetaOnlyForModelsAAndE) {
  for (const char letter : {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'}) {
    FittedModel f(std::string("man 2 dim 3 4 mod A B|A cum(") + letter +
                  ") { } nse dat [ 1 2 3 4 5 6 7 8 9 10 11 12 ]\n");
    ASSERT_EQ(f.message, "") << letter;
    const std::string with = "  effect           beta   exp(beta)";
    const std::string without = "  effect           beta";
    EXPECT_EQ(WriteColumnHeader(f.run, 0), with);
    EXPECT_EQ(WriteColumnHeader(f.run, 1), letter == 'a' || letter == 'e' ? with : without)
        << letter;
  }
}

// A whole run of the engine, with its report and the covariance file "model.cov".

// Standard errors from the numerically differentiated information matrix against the Poisson
// GLM of the admissions model (figures above; standard errors from summary(fit), Wald tests
// t(b) %*% solve(vcov(fit)[i, i]) %*% b per effect).
//  Effect coding: std err A1 0.0195024846434934, S1 0.0228944975345157, D1..D5 0.0498543948590687
//   0.0878963976623214 0.0392472823782360 0.0402004323143507 0.0484330367385223; A1:D1..A1:D5
//   0.0340539355219423 0.0400748194776940 0.0343159920317124 0.0363125310135923
//   0.0435375930499616; z A1 -16.704631, D3 13.734427; Wald A 279.044687 (1 df),
//   S 213.601085 (1), D 275.835987 (5), AD 623.027695 (5), SD 763.646614 (5), all p < 0.0005.
TEST(ParameterTables, StandardErrorsAgreeWithAPoissonGlm) {
  EngineRun e(std::string(kAdmissions).replace(std::string(kAdmissions).find(" nse"), 4, ""));
  ASSERT_EQ(e.status, kExitNormal) << (e.window.errors.empty() ? "" : e.window.errors[0]);
  EXPECT_NE(std::find(e.report.begin(), e.report.end(),
                      "  effect           beta  std err  z-value   exp(beta)     Wald  df  prob"),
            e.report.end());
  // Rows: beta, std err, z, exp(beta) [, Wald, df, prob on the effect's last cell].
  auto check = [&](const std::string& effect, int cell, double se, double z) {
    const std::vector<double> row = e.Row(effect, cell);
    ASSERT_GE(row.size(), 4u) << effect << cell;
    EXPECT_NEAR(row[1], se, 0.00005 + 1e-9) << effect << cell;  // the printed digits
    EXPECT_NEAR(row[2], z, 2e-4 * std::fabs(z) + 0.0005) << effect << cell;
  };
  check("A", 0, 0.0195024846434934, -16.704631);
  check("S", 0, 0.0228944975345157, 14.615098);
  const double d_se[] = {0.0498543948590687, 0.0878963976623214, 0.0392472823782360,
                         0.0402004323143507, 0.0484330367385223};
  const double d_z[] = {3.140094, -8.667074, 13.734427, 10.619826, -0.564617};
  for (int k = 0; k < 5; ++k) check("D", k, d_se[k], d_z[k]);
  const double ad_se[] = {0.0340539355219423, 0.0400748194776940, 0.0343159920317124,
                          0.0363125310135923, 0.0435375930499616};
  const double ad_z[] = {18.280172, 14.902482, 0.522708, -0.183222, -5.029412};
  for (int k = 0; k < 5; ++k) check("AD", k, ad_se[k], ad_z[k]);
  // The last categories of effect coding have no standard error of their own.
  EXPECT_EQ(e.Row("A", 1).size(), 5u);
  // Wald, df and p on each effect's last line.
  const std::vector<std::tuple<std::string, int, double, int>> wald{{"A", 1, 279.044687, 1},
                                                                    {"S", 1, 213.601085, 1},
                                                                    {"D", 5, 275.835987, 5},
                                                                    {"AD", 11, 623.027695, 5},
                                                                    {"SD", 11, 763.646614, 5}};
  for (const auto& [effect, cell, w, df] : wald) {
    const std::vector<double> row = e.Row(effect, cell);
    ASSERT_EQ(row.size(), 5u) << effect;
    EXPECT_NEAR(row[2], w, 2e-4 * w) << effect;
    EXPECT_EQ(row[3], df) << effect;
    EXPECT_EQ(row[4], 0) << effect;
  }
}

// Dummy coding (reference categories 1, 2 and 3) with the covariance file. Reference: the GLM
// with contr.treatment (figures above); cov2cor(vcov(fit)) for A2 S1 D1 D2 D4 D5 D6:
//   A2 - S1 0.000000, A2 - D1 0.385692, S1 - D1 0.209875, A2 - D2 0.212393, S1 - D2 0.115574,
//   D1 - D2 0.150432; standard errors A2 0.0691624349709081, S1 0.0690164018022710,
//   D1 0.1164214219673828, D2 0.2114140654674750; variances A2 4.78344e-03, S1 4.76326e-03,
//   D1 0.0135539, D2 0.0446959, covariances A2 - D 0.00310559, S1 - D 0.00168634,
//   D1 - D2 0.00370261.
TEST(ParameterTables, CovarianceFileAgreesWithAPoissonGlm) {
  std::string input(kAdmissions);
  input.replace(input.find(" nse"), 4, "");
  EngineRun e(input + "dum 1 2 3 wse model.cov\n");
  ASSERT_EQ(e.status, kExitNormal) << (e.window.errors.empty() ? "" : e.window.errors[0]);
  const std::vector<std::string> lines = ReadLines(e.dir.File("model.cov"));
  // 17 free parameters shown: A2, S1, D (5), AD (5), SD (5).
  ASSERT_EQ(lines.size(), 2u * 17 + 4);
  const std::vector<std::string> correlations{
      "* Standard-errors and correlations *",
      "  0.0692",
      "  0.0000  0.0690",
      "  0.3857  0.2099  0.1164",
      "  0.2124  0.1156  0.1504  0.2114",
  };
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 5), correlations);
  EXPECT_EQ(lines[18], "");
  const std::vector<std::string> covariances{
      "* Variances and covariances *",
      "  0.0048",
      "  0.0000  0.0048",
      "  0.0031  0.0017  0.0136",
      "  0.0031  0.0017  0.0037  0.0447",
  };
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 19, lines.begin() + 24), covariances);
  EXPECT_EQ(lines.back(), "");
  // The reference categories show no standard error: A 1 and S 2.
  EXPECT_EQ(e.Row("A", 0).size(), 2u);
  EXPECT_EQ(e.Row("S", 1).size(), 5u);  // beta, exp(beta) and the Wald test
}

// Linear-by-linear association in the 4 x 6 mental health by parents' status table, as a cov()
// design of centred scores and as a uniform association term (type 1). Reference: R,
// glm(count ~ M + S + x, family = poisson) with x the product of the centred scores,
// glm.control(epsilon = 1e-14): coefficient of x 0.09068660880960355, std err
// 0.01500612698063280, z 6.043305439614465, p 1.509884245798856e-09 (Wald = z^2); deviance
// 9.895123550181296.
std::string MentalHealth(const std::string& model) {
  return "man 2 dim 4 6 lab M S\n" + model + "see 1660\n" +
         "dat [ 64 57 57 72 36 21  94 94 105 141 97 71  58 54 65 77 54 54  46 40 60 94 78 71 ]\n";
}
constexpr double kScoreBeta = 0.09068660880960355;
constexpr double kScoreStdErr = 0.01500612698063280;
constexpr double kScoreZ = 6.043305439614465;

// The one block of the only submodel's list `place` (an empty block when there is not exactly
// one, which fails the test).
const BlockResults& OnlyBlock(const ParameterResults& results,
                              std::vector<BlockResults> SubmodelParameters::*place) {
  static const BlockResults none;
  EXPECT_EQ(results.submodels.size(), 1u);
  if (results.submodels.size() != 1u) return none;
  const std::vector<BlockResults>& blocks = results.submodels[0].*place;
  EXPECT_EQ(blocks.size(), 1u);
  return blocks.size() == 1u ? blocks[0] : none;
}

TEST(ParameterTables, DesignBlockAgreesWithAPoissonGlm) {
  EngineRun e(
      MentalHealth("mod {M,S,cov(MS 1)}\n"
                   "des [ 3.75 2.25 0.75 -0.75 -2.25 -3.75  1.25 0.75 0.25 -0.25 -0.75 -1.25\n"
                   "     -1.25 -0.75 -0.25 0.25 0.75 1.25  -3.75 -2.25 -0.75 0.75 2.25 3.75 ]\n"));
  ASSERT_EQ(e.status, kExitNormal) << (e.window.errors.empty() ? "" : e.window.errors[0]);
  const ParameterResults results = ComputeParameters(e.run, 0);
  const BlockResults& block = OnlyBlock(results, &SubmodelParameters::after_table);
  EXPECT_EQ(block.heading, "MS");
  ASSERT_EQ(block.rows.size(), 1u);
  const ParameterFigures& figures = block.rows[0].figures;
  EXPECT_NEAR(figures.beta, kScoreBeta, 1e-7);
  EXPECT_NEAR(figures.exp_beta, std::exp(kScoreBeta), 1e-7);
  EXPECT_NEAR(figures.std_err, kScoreStdErr, 1e-5 * kScoreStdErr);
  EXPECT_NEAR(figures.z, kScoreZ, 1e-5 * kScoreZ);
  EXPECT_EQ(block.wald.df, 1);
  EXPECT_NEAR(block.wald.w, kScoreZ * kScoreZ, 2e-5 * kScoreZ * kScoreZ);
  // A tail of 1.5e-9 is below what the chi-squared series resolves next to 1.
  EXPECT_LT(block.wald.p, 1e-8);
  // Its position follows the 3 + 5 free parameters of M and S in the covariance file's order.
  EXPECT_EQ(block.rows[0].position, 8);
}

TEST(ParameterTables, AssociationBlockAgreesWithAPoissonGlm) {
  EngineRun e(MentalHealth("mod {M,S,ass(M S 2a)}\n"));
  ASSERT_EQ(e.status, kExitNormal) << (e.window.errors.empty() ? "" : e.window.errors[0]);
  const ParameterResults results = ComputeParameters(e.run, 0);
  const BlockResults& block = OnlyBlock(results, &SubmodelParameters::after_end);
  EXPECT_EQ(block.heading, "type 1 association (row=M column=S)");
  ASSERT_EQ(block.sides.size(), 1u);
  const SideResults& phi = block.sides[0];
  EXPECT_EQ(phi.label, "association");
  ASSERT_EQ(phi.values.size(), 1u);
  ASSERT_EQ(phi.std_errs.size(), 1u);
  ASSERT_EQ(phi.recorded.size(), 1u);
  EXPECT_NEAR(phi.values[0], kScoreBeta, 1e-7);
  EXPECT_NEAR(phi.std_errs[0], kScoreStdErr, 1e-5 * kScoreStdErr);
  EXPECT_NEAR(phi.recorded[0].z, kScoreZ, 1e-5 * kScoreZ);
}

}  // namespace
}  // namespace tav
