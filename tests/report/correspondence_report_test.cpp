// The correspondence, multiple correspondence and association analysis report against figures
// computed independently in R, and what it does with tables it cannot analyse. The whole
// reports of the examples (smoke, assoc, mca) and of the cor_* cases are golden files; these
// tests check their numbers.
//
// The R figures were computed once with R 4.2.2 and the package ca 0.71.1 (Debian r-cran-ca):
//   smoking table (ca's data set smoke): r <- ca(smoke); r$sv^2, r$rowmass, r$colmass,
//     r$rowcoord[, 1:2], r$colcoord[, 1:2] (standard coordinates: the report's x).
//   hair, eye colour and sex (R's HairEyeColor as 592 records, the levels in the table's order):
//     m <- mjca(records, lambda = "indicator", nd = NA); m$sv^2 are the principal inertias of
//     the indicator matrix (mjca(..., lambda = "Burt")$sv are the same numbers), the report's
//     eigenvalue is 3 (the number of variables) times them and its weight 3 m$colmass; the
//     report's x is m$colcoord / sqrt(3); the discrimination measures are the sums over a
//     variable's categories of 3 m$colmass m$colpcoord^2; the correlations are cor() of the
//     three variables quantified by x over the 592 students; the object scores are
//     m$rowcoord of the students of a cell.
//   association analysis (types 3 and 4), from the definition: l <- log(P) for the table of
//     proportions P, weights w and c (the margins, or 1/I and 1/J), z <- sqrt(outer(w, c)) *
//     (l - l %*% c - t(l) %*% w + sum(outer(w, c) * l)) with the means broadcast over rows and
//     columns, s <- svd(z); phi = s$d, mu = s$u / sqrt(w), nu = s$v / sqrt(c).
// A dimension's sign is arbitrary: each is compared up to one sign for its rows and columns
// together (the product of a row and a column score is not arbitrary).

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "core/format_real.h"
#include "test_support.h"

namespace tav {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using testing::EngineRun;

const fs::path kSource = TAV_SOURCE_DIR;

// The input of an example, or else of a golden case.
std::string Example(const std::string& name) {
  const fs::path example = kSource / "examples" / (name + ".inp");
  return testing::ReadFile(
      (fs::exists(example) ? example : kSource / "tests/golden/cases" / (name + ".inp")).string());
}

// A run of input with a results document, and the document's analysis.
struct Analysed {
  explicit Analysed(const std::string& input) : run(input + "\nwjs results.json\n") {
    std::ifstream in(run.dir.File("results.json"));
    if (in) document = Json::parse(in)["correspondence"];
  }
  EngineRun run;
  Json document;
};

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// The lines of the report after `heading` (the first one after `after`) up to the next line
// that starts a dimension or a block, or is empty.
std::vector<std::vector<std::string>> Rows(const EngineRun& run, const std::string& after,
                                           const std::string& heading) {
  auto at = std::find(run.report.begin(), run.report.end(), after);
  at = std::find(at, run.report.end(), heading);
  std::vector<std::vector<std::string>> rows;
  if (at == run.report.end()) return rows;
  for (++at; at != run.report.end() && !at->empty(); ++at) {
    if (at->rfind("  Dimension", 0) == 0 || at->rfind(" * ", 0) == 0) break;
    rows.push_back(Words(*at));
  }
  return rows;
}

// The text the report prints for value with decimals.
std::string Printed(double value, int decimals) { return FormatReal(0, decimals, value); }

// The sign that turns R's scores of a dimension into ours: from the first category's score in
// the document.
double SignOf(const Json& document, int d, double r_first) {
  return document["categories"][0]["scores"][d].get<double>() * r_first > 0 ? 1.0 : -1.0;
}

// The general table's lines (the header first); fails when it has not `dimensions` lines.
std::vector<std::vector<std::string>> General(const Analysed& a, std::size_t dimensions) {
  const auto rows = Rows(a.run, " * General *", " * General *");
  EXPECT_EQ(rows.size(), dimensions + 1);
  return rows.size() == dimensions + 1 ? rows : std::vector<std::vector<std::string>>{};
}

// The association parameters phi of the general table of an association analysis.
void ExpectPhi(const Analysed& a, const std::vector<double>& phi) {
  ASSERT_EQ(a.run.status, 0);
  const auto general = General(a, phi.size());
  for (std::size_t d = 0; d < general.size() - (general.empty() ? 0 : 1); ++d) {
    EXPECT_EQ(general[d + 1],
              (std::vector<std::string>{std::to_string(d + 1), Printed(phi[d], 4)}));
  }
}

struct Category {
  double weight;
  std::vector<double> x;  // R's scores on dimensions 1, 2, ...
};

// The categories block of dimension d (from 0) holds, line by line, each category's weight and
// its score x, x sqrt(scale), x multiplier (when multiplier > 0) and, when asked for, its
// contribution w x^2 (the scores of a variable, and for type 2 of all of them together, have
// weighted variance 1), to the printed digits; the document holds the weights and scores at
// full precision.
void ExpectCategories(const Analysed& a, int d, const std::vector<Category>& expected, double scale,
                      double multiplier, bool contributions) {
  const double sign = SignOf(a.document, d, expected[0].x[d]);
  const auto rows = Rows(a.run, " * Categories *", "  Dimension " + std::to_string(d + 1));
  ASSERT_EQ(rows.size(), expected.size() + 1);  // the header first
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const std::vector<std::string>& row = rows[i + 1];
    const double w = expected[i].weight;
    const double x = sign * expected[i].x[d];
    ASSERT_EQ(row.size(), 5u + (multiplier > 0) + contributions) << i;
    EXPECT_EQ(row[2], Printed(w, 3)) << i;
    EXPECT_EQ(row[3], Printed(x, 3)) << i;
    EXPECT_EQ(row[4], Printed(x * std::sqrt(scale), 3)) << i;
    if (multiplier > 0) {
      EXPECT_EQ(row[5], Printed(x * multiplier, 3)) << i;
    }
    if (contributions) {
      EXPECT_EQ(row.back(), Printed(w * x * x, 3)) << i;
    }
    const Json& category = a.document["categories"][i];
    EXPECT_NEAR(category["weight"].get<double>(), w, 1e-9) << i;
    EXPECT_NEAR(category["scores"][d].get<double>(), x, 1e-8) << i;
  }
}

TEST(CorrespondenceAnalysis, SmokingTableAsCaHasIt) {
  const Analysed a(Example("smoke"));
  ASSERT_EQ(a.run.status, 0);
  const std::vector<double> inertia = {0.074759105886, 0.010017180512, 0.000413574080};
  // General table: rho, inertia, proportions and the X-squared the earlier dimensions leave
  // (the first is the table's X-squared, 16.4416430722).
  const auto general = General(a, 3);
  ASSERT_FALSE(general.empty());
  const double total = inertia[0] + inertia[1] + inertia[2];
  double before = 0;
  for (int d = 0; d < 3; ++d) {
    const std::vector<std::string>& row = general[d + 1];
    ASSERT_EQ(row.size(), 6u);
    EXPECT_EQ(row[1], Printed(std::sqrt(inertia[d]), 4));
    EXPECT_EQ(row[2], Printed(inertia[d], 4));
    EXPECT_EQ(row[3], Printed(inertia[d] / total, 3));
    EXPECT_EQ(row[4], Printed((before + inertia[d]) / total, 3));
    EXPECT_EQ(row[5], Printed(193 * (total - before), 2));
    EXPECT_NEAR(a.document["dimensions"][d]["eigenvalue"].get<double>(), inertia[d], 1e-11);
    before += inertia[d];
  }
  EXPECT_NEAR(a.document["dimensions"][0]["x_squared"].get<double>(), 16.4416430722, 1e-8);
  const std::vector<Category> categories = {
      {0.056994818653, {-0.2405387894, -1.9357079271}},
      {0.093264248705, {0.9471046954, -2.4309583897}},
      {0.264248704663, {-1.3919732851, -0.1065076185}},
      {0.455958549223, {0.8519894617, 0.5769436808}},
      {0.129533678756, {-0.7354557171, 0.7884353138}},
      {0.316062176166, {-1.4384713822, -0.3046591134}},
      {0.233160621762, {0.3637463074, 1.4094326728}},
      {0.321243523316, {0.7180168098, 0.0735279506}},
      {0.129533678756, {1.0744451310, -1.9759598918}},
  };
  for (int d = 0; d < 2; ++d) {
    ExpectCategories(a, d, categories, std::sqrt(inertia[d]), std::sqrt(inertia[d]), true);
  }
}

TEST(CorrespondenceAnalysis, EmptyRowHasScoresZeroAndTheRestAsWithoutIt) {
  // R: ca(matrix(c(1, 2, 3, 7, 8, 1), 2, byrow = TRUE)), the table without its empty row.
  const Analysed a(Example("cor_empty_margin"));
  ASSERT_EQ(a.run.status, 0);
  const auto general = General(a, 1);  // one dimension left
  ASSERT_FALSE(general.empty());
  EXPECT_EQ(general[1][2], Printed(0.2609375, 4));
  EXPECT_EQ(general[1][5], Printed(5.740625, 2));
  const std::vector<Category> categories = {
      {0.2727272727, {-1.6329931619}}, {0, {0}},
      {0.7272727273, {0.6123724357}},  {0.3636363636, {0.6493509734}},
      {0.4545454545, {0.3196804792}},  {0.1818181818, {-2.0979031448}},
  };
  ExpectCategories(a, 0, categories, std::sqrt(0.2609375), std::sqrt(0.2609375), true);
}

TEST(MultipleCorrespondenceAnalysis, HairEyeAndSexAsMjcaHasThem) {
  const Analysed a(Example("mca"));
  ASSERT_EQ(a.run.status, 0);
  const std::vector<double> inertia = {0.489081410115, 0.386092339186, 0.353005562922,
                                       0.332045735934, 0.316202478888, 0.282131557879,
                                       0.174774248410};
  const auto general = General(a, 7);
  ASSERT_FALSE(general.empty());
  double total = 0;
  for (double value : inertia) total += value;
  double before = 0;
  for (int d = 0; d < 7; ++d) {
    const std::vector<std::string>& row = general[d + 1];
    ASSERT_EQ(row.size(), 5u);
    EXPECT_EQ(row[1], Printed(3 * inertia[d], 4));
    EXPECT_EQ(row[2], Printed(inertia[d], 4));
    EXPECT_EQ(row[3], Printed(inertia[d] / total, 3));
    before += inertia[d];
    EXPECT_EQ(row[4], Printed(before / total, 3));
    EXPECT_NEAR(a.document["dimensions"][d]["eigenvalue"].get<double>(), 3 * inertia[d], 1e-10);
  }
  const std::vector<Category> categories = {
      {0.182432432432, {-0.7650294755, 1.0218836214}},
      {0.483108108108, {-0.2384886013, -0.1806828061}},
      {0.119932432432, {-0.2065270628, -1.3657659857}},
      {0.214527027027, {1.3031050771, 0.3014270583}},
      {0.371621621622, {-0.7291025240, 0.4966416889}},
      {0.363175675676, {0.8336359059, 0.3094875120}},
      {0.157094594595, {-0.3489769118, -0.8183065215}},
      {0.108108108108, {0.2129013797, -1.5577887521}},
      {0.471283783784, {-0.1584490389, -0.2518353202}},
      {0.528716216216, {0.1412373222, 0.2244794068}},
  };
  for (int d = 0; d < 2; ++d) ExpectCategories(a, d, categories, 3 * inertia[d], 0, true);

  // Discrimination measures, contributions (their share of the eigenvalue) and correlations.
  const std::vector<std::vector<double>> discrimination = {
      {0.7389776890, 0.6954312031, 0.0328353383}, {0.5206218566, 0.5721756261, 0.0654795348}};
  const std::vector<std::vector<double>> correlation = {{0.4567589818, 0.1145559279, -0.0165596871},
                                                        {0.1489590394, 0.0059688813, 0.0478497706}};
  for (int d = 0; d < 2; ++d) {
    const std::string dimension = "  Dimension " + std::to_string(d + 1);
    const auto measures = Rows(a.run, " * Variables *", dimension);
    ASSERT_EQ(measures.size(), 10u);
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(measures[k + 1][1], Printed(discrimination[d][k], 3));
      EXPECT_EQ(measures[k + 1][2], Printed(discrimination[d][k] / (3 * inertia[d]), 3));
      EXPECT_NEAR(a.document["variables"][k]["discrimination"][d].get<double>(),
                  discrimination[d][k], 1e-9);
    }
    EXPECT_EQ(measures[4], (std::vector<std::string>{"tot.", Printed(3 * inertia[d], 3), "1.000"}));
    // The lower triangle: E with H, then S with H and E.
    EXPECT_EQ(measures[8][1], Printed(correlation[d][0], 3));
    EXPECT_EQ(measures[9][1], Printed(correlation[d][1], 3));
    EXPECT_EQ(measures[9][2], Printed(correlation[d][2], 3));
  }

  // Object scores: the students of cells (1 1 1) and (1 2 1).
  const double sign[] = {SignOf(a.document, 0, -0.7650294755), SignOf(a.document, 1, 1.0218836214)};
  const auto objects = Rows(a.run, " * Objects *", " * Objects *");
  ASSERT_EQ(objects.size(), 33u);
  EXPECT_EQ(objects[1],
            (std::vector<std::string>{"1", "1", "1", "32.0", Printed(sign[0] * -1.3643052809, 3),
                                      Printed(sign[1] * 1.1769665469, 3)}));
  EXPECT_EQ(objects[3],
            (std::vector<std::string>{"1", "2", "1", "11.0", Printed(sign[0] * -0.0741704899, 3),
                                      Printed(sign[1] * 1.0030690606, 3)}));
}

// Tied eigenvalues get the echelon basis of their space. UC Berkeley admissions (R's
// UCBAdmissions as 4526 records): eigenvalues 3 mjca(records, lambda = "indicator")$sv^2, 1
// threefold; dimensions 3 to 5 from e <- eigen(Z) of the report's matrix Z: with P the
// projector on e$vectors[, 3:5], q = -P[, D1] / sqrt(P[D1, D1]), then the same for D2 on
// P - q q', then for D3; x = q / sqrt(w), 0 for admission and gender. The table A (x) A,
// A = (3 1; 1 3): ca(kronecker(A, A))$sv = (0.5, 0.5, 0.25); the tied space is spanned by
// the contrasts (1, 1, -1, -1) and (1, -1, 1, -1), rows and columns alike.
TEST(CorrespondenceAnalysis, TiedEigenvaluesGetTheEchelonBasisOfTheirSpace) {
  const Analysed a(Example("cor_ucb"));
  const std::vector<double> eigen = {1.678070231379470, 1.150915577683866, 1, 1, 1,
                                     0.709759627740372, 0.461254563196286};
  const double x[3][6] = {
      {-1.4530426438, 1.9741748040, 0.18528834602, 0.44079808528, -0.13613446474, -0.33460466598},
      {0, -0.72501787337, -0.17406046501, 1.9797668123, -1.3243830407, -0.29497570978},
      {0, 0, -1.3888167356, 0.72030625082, 1.9021817541, -0.56921979234}};
  ASSERT_EQ(a.document["dimensions"].size(), 7u);
  for (int d = 0; d < 7; ++d) {
    EXPECT_NEAR(a.document["dimensions"][d]["eigenvalue"].get<double>(), eigen[d], 1e-12) << d;
  }
  for (int d = 2; d < 5; ++d) {
    for (int i = 0; i < 10; ++i) {
      EXPECT_NEAR(a.document["categories"][i]["scores"][d].get<double>(),
                  i < 4 ? 0 : x[d - 2][i - 4], 1e-9)
          << d << " " << i;
    }
  }
  const Analysed blocks(
      "man 2\ndim 4 4\nlab A B\nmod {AB} cor(1 3)\ndat [ 9 3 3 1 3 9 1 3 3 1 9 3 1 3 3 9 ]");
  const double r = std::sqrt(2.0);
  const double y[3][4] = {{-r, 0, 0, r}, {0, -r, r, 0}, {-1, 1, 1, -1}};
  for (int d = 0; d < 3; ++d) {
    EXPECT_NEAR(blocks.document["dimensions"][d]["eigenvalue"].get<double>(), d < 2 ? 0.25 : 0.0625,
                1e-15);
    for (int i = 0; i < 8; ++i) {
      EXPECT_NEAR(blocks.document["categories"][i]["scores"][d].get<double>(), y[d][i % 4], 1e-12)
          << d << " " << i;
    }
  }
}

TEST(AssociationAnalysis, WeightedAndUniformAsTheDefinitionGives) {
  {
    // Hair by eye colour, margins as weights, three dimensions.
    const Analysed a(Example("assoc"));
    const std::vector<double> phi = {0.5891598156, 0.1170186282, 0.0211091208};
    ExpectPhi(a, phi);
    const std::vector<double> w = {0.1824324324, 0.4831081081, 0.1199324324, 0.2145270270,
                                   0.3716216216, 0.3631756757, 0.1570945946, 0.1081081081};
    const std::vector<std::vector<double>> mu = {
        {-1.0453963040, 1.3540462625, -1.2470712762},  {-0.3475598804, -0.1159767114, 0.9673063640},
        {-0.3109461619, -2.2860528807, -1.4196136375}, {1.8455283790, 0.3877330523, -0.3241996379},
        {-1.1787687032, 0.3219446241, -0.4447078752},  {1.0889785193, 0.7471370084, -0.0969559033},
        {-0.1854445585, -0.7864356966, 2.1708801461},  {0.6632043280, -2.4738086613, -1.3001656536},
    };
    std::vector<Category> categories;
    for (std::size_t i = 0; i < w.size(); ++i) categories.push_back({w[i], mu[i]});
    for (int d = 0; d < 3; ++d) ExpectCategories(a, d, categories, phi[d], phi[d], false);
  }
  {
    // The smoking table with uniform weights.
    const Analysed a(Example("cor_uniform"));
    const std::vector<double> phi = {0.2635521436, 0.1315635265, 0.0382451382};
    ExpectPhi(a, phi);
    const std::vector<std::vector<double>> mu = {
        {0.2378672750, -1.3157133628},  {1.3180728714, -0.5083277023},
        {-1.2937520863, -0.3971373616}, {0.7343357230, 1.5498877498},
        {-0.9965237831, 0.6712906769},  {-1.3947711897, -1.0130511477},
        {-0.3614309430, 1.3053353233},  {0.4411468145, 0.6371560822},
        {1.3150553181, -0.9294402577},
    };
    std::vector<Category> categories;
    for (std::size_t i = 0; i < mu.size(); ++i) categories.push_back({i < 5 ? 0.2 : 0.25, mu[i]});
    for (int d = 0; d < 2; ++d) ExpectCategories(a, d, categories, phi[d], phi[d], false);
  }
}

// Tables built from known dimensions of strengths a thousandfold apart, uniform margins and the
// contrasts of a 4 x 4 Hadamard matrix as scores (weighted mean 0, variance 1, orthogonal): the
// analysis gives back each dimension exactly, the weakest as well as the strongest.
TEST(CorrespondenceAnalysis, DimensionsOfVeryDifferentStrengthAreExact) {
  const double h[3][4] = {{1, 1, -1, -1}, {1, -1, 1, -1}, {1, -1, -1, 1}};
  const double strength[3] = {0.5, 0.05, 0.002};
  for (const int type : {1, 4}) {
    // Type 1: p_ij = (1 + sum_k s_k h_ki h_kj) / 16, inertias s_k^2 (the counts are integers).
    // Type 4: p_ij proportional to exp(sum_k s_k h_ki h_kj), phi = s_k.
    std::ostringstream input;
    input.precision(17);
    input << "man 2\ndim 4 4\nlab A B\nmod {AB} cor(" << type << " 3)\ndat [";
    for (int i = 0; i < 4; ++i) {
      for (int j = 0; j < 4; ++j) {
        double sum = 0;
        for (int k = 0; k < 3; ++k) sum += strength[k] * h[k][i] * h[k][j];
        input << ' ' << (type == 1 ? 1e6 * (1 + sum) : 1000 * std::exp(sum));
      }
    }
    input << " ]";
    const Analysed a(input.str());
    ASSERT_EQ(a.run.status, 0);
    EXPECT_FALSE(a.run.Has(" * Objects *"));
    for (int d = 0; d < 3; ++d) {
      const double lambda = strength[d] * strength[d];
      EXPECT_NEAR(a.document["dimensions"][d]["eigenvalue"].get<double>(), lambda, 1e-9 * lambda)
          << type << " " << d;
      const double sign = SignOf(a.document, d, h[d][0]);
      for (int i = 0; i < 8; ++i) {
        EXPECT_NEAR(a.document["categories"][i]["scores"][d].get<double>(), sign * h[d][i % 4],
                    1e-6)
            << type << " " << d << " " << i;
      }
    }
  }
}

// The report of an input whose analysis is left out: the banner, the echo, the title, the
// reason; the same reason in the log and the document; a normal end.
void ExpectLeftOut(const std::string& input, const std::string& title, const std::string& reason) {
  const EngineRun run(input + "\nwjs results.json\n");
  EXPECT_EQ(run.status, 0) << input;
  ASSERT_FALSE(run.report.empty()) << input;
  EXPECT_EQ(run.report[0], "TAV - statistical analysis of categorical data");
  EXPECT_TRUE(run.Has("*** INPUT ***")) << input;
  EXPECT_TRUE(run.Has(title)) << input;
  EXPECT_TRUE(run.Has("WARNING: analysis left out: " + reason)) << input;
  EXPECT_NE(std::find(run.log.begin(), run.log.end(), "Warning: analysis left out: " + reason),
            run.log.end())
      << input;
  std::ifstream in(run.dir.File("results.json"));
  const Json document = Json::parse(in);
  EXPECT_EQ(document["correspondence"]["left_out"], reason);
  EXPECT_TRUE(document["correspondence"]["dimensions"].empty());
}

TEST(CorrespondenceReport, AnalysesThatCannotBeMadeSayWhyAndEndNormally) {
  const std::string ca = "*** CORRESPONDENCE OR CANONICAL CORRELATION ANALYSIS ***";
  const std::string association = "*** ASSOCIATION ANALYSIS ***";
  ExpectLeftOut("man 3\ndim 2 2 2\nlab A B C\nmod {ABC} cor(4)\ndat [ 1 2 3 4 5 6 7 8 ]",
                association, "more than two variables (only type 2 takes them)");
  ExpectLeftOut("man 1\ndim 3\nlab A\nmod cor(1)\ndat [ 1 2 3 ]", ca,
                "one variable (types 1, 3 and 4 need two)");
  std::string wide = "man 2\ndim 91 2\nlab A B\nmod {AB} cor\ndat [";
  for (int i = 0; i < 182; ++i) wide += " " + std::to_string(1 + i % 5);
  ExpectLeftOut(wide + " ]", ca, "more than 90 row or column categories");
  // 46 categories of 2 variables make 92 rows of the Burt matrix.
  std::string burt = "man 2\ndim 46 46\nlab A B\nmod {A,B} cor(2)\ndat [";
  for (int i = 0; i < 46 * 46; ++i) burt += " 1";
  ExpectLeftOut(burt + " ]", "*** MULTIPLE CORRESPONDENCE ANALYSIS ***",
                "more than 90 row or column categories");
  ExpectLeftOut("man 2\ndim 3 3\nlab A B\nmod {AB} cor(3)\ndat [ 1 2 3 0 5 6 7 8 9 ]", association,
                "a zero estimated frequency has no logarithm");
  // Independence: nothing to decompose.
  ExpectLeftOut("man 2\ndim 3 3\nlab A B\nmod {A,B} cor\ndat [ 1 2 3 4 5 6 7 8 9 ]", ca,
                "no eigenvalue above 1E-10");
  ExpectLeftOut("man 2\ndim 2 2\nlab A B\nmod {AB} cor\ndat [ 0 0 0 0 ]", ca, "no observations");
  // Two variables of one category each: no dimension at all.
  ExpectLeftOut("man 2\ndim 1 1\nlab A B\nmod {AB} cor\ndat [ 5 ]", ca,
                "no eigenvalue above 1E-10");
  // A latent class model of 24 items: a complete table of 2^25 cells is not walked through.
  std::string items = "lat 1\nman 24\ndim";
  for (int v = 0; v < 25; ++v) items += " 2";
  items += "\nlab Z A B C D E F G H I J K L M N O P Q R S T U V W X\nmod Z";
  for (char item = 'A'; item <= 'X'; ++item) items += std::string(" ") + item + "|Z";
  items += " cor\nrec 4\nite 2\ndat [\n";
  for (int r = 0; r < 4; ++r) {
    for (int v = 0; v < 24; ++v) items += (v + r) % 3 == 0 ? " 1" : " 2";
    items += "\n";
  }
  ExpectLeftOut(items + "]", "*** MULTIPLE CORRESPONDENCE ANALYSIS ***",
                "a complete table of more than 12500000 cells");
}

bool AnyNotFinite(const EngineRun& run) {
  for (const std::string& line : run.report) {
    if (line.find("Nan") != std::string::npos || line.find("Inf") != std::string::npos) {
      return true;
    }
  }
  return false;
}

TEST(CorrespondenceReport, DegenerateTablesGiveSoundScores) {
  {
    // One variable: every eigenvalue is 1; the tied dimensions still get orthogonal,
    // standardised scores.
    const Analysed a("man 1\ndim 3\nlab A\nmod cor(2 2 2)\ndat [ 1 2 3 ]");
    ASSERT_EQ(a.run.status, 0);
    EXPECT_FALSE(AnyNotFinite(a.run));
    const Json& categories = a.document["categories"];
    double cross = 0, first = 0, second = 0, mean = 0;
    for (const Json& c : categories) {
      const double w = c["weight"].get<double>();
      const double x = c["scores"][0].get<double>();
      const double y = c["scores"][1].get<double>();
      cross += w * x * y;
      first += w * x * x;
      second += w * y * y;
      mean += w * y;
    }
    EXPECT_NEAR(cross, 0, 1e-9);
    EXPECT_NEAR(first, 1, 1e-9);
    EXPECT_NEAR(second, 1, 1e-9);
    EXPECT_NEAR(mean, 0, 1e-9);
  }
  {
    // A variable of one category: its scores are 0, it correlates 0 with the others, and no
    // dimension is shown (cor(2 0 0)) but the general table.
    const Analysed a("man 3\ndim 2 1 3\nlab A B C\nmod {ABC} cor(2 0 0)\ndat [ 1 2 3 4 5 9 ]");
    ASSERT_EQ(a.run.status, 0);
    EXPECT_FALSE(AnyNotFinite(a.run));
    EXPECT_EQ(General(a, 3).size(), 4u);
    EXPECT_FALSE(a.run.Has(" * Objects *"));
    EXPECT_FALSE(a.run.Has("  Dimension 1"));
    const Analysed shown("man 3\ndim 2 1 3\nlab A B C\nmod {ABC} cor\ndat [ 1 2 3 4 5 9 ]");
    EXPECT_FALSE(AnyNotFinite(shown.run));
    const auto measures = Rows(shown.run, " * Variables *", "  Dimension 1");
    ASSERT_EQ(measures.size(), 10u);
    EXPECT_EQ(measures[2], (std::vector<std::string>{"B", "0.000", "0.000"}));
    EXPECT_EQ(measures[8], (std::vector<std::string>{"B", "0.000", "1.000"}));
  }
}

TEST(CorrespondenceReport, CovarianceFileIsRefused) {
  const EngineRun run("man 2\ndim 2 2\nlab A B\nmod {AB} cor\nwse cov.txt\ndat [ 1 2 3 4 ]");
  EXPECT_NE(run.status, 0);
  ASSERT_FALSE(run.window.errors.empty());
  EXPECT_EQ(run.window.errors[0],
            "Writing covariances (wse) with a correspondence analysis (cor) is not available in "
            "this version");
}

}  // namespace
}  // namespace tav
