// Data drawn from a model with given parameters (sim), against the model's probabilities:
// P(A) = (1, 3) / 4 and P(B) = (1, 2, 5) / 8, independent. Then data of every kind of model that
// simulates, read back by the same input and fitted: the fit finds the values the data were drawn
// with, within four of its standard errors.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "test_support.h"

namespace tav {
namespace {

using Json = nlohmann::ordered_json;
using testing::EngineRun;
using testing::ReadFile;

const std::string kModel = "man 2 dim 2 3 lab A B mod {A,B} sta A [1 3] sta B [1 2 5] see 1234 ";
const double kProbability[2][3] = {{1.0 / 32, 2.0 / 32, 5.0 / 32}, {3.0 / 32, 6.0 / 32, 15.0 / 32}};

// Expected data: one record per cell with its weight, the weights summing to the count.
TEST(Simulation, ExpectedDataWeighTheCellsByTheirProbabilities) {
  const EngineRun run(kModel + "sim -1000 expected.txt");
  ASSERT_EQ(run.status, 0);
  const auto rows = run.Numbers("expected.txt");
  ASSERT_EQ(rows.size(), 6u);
  double sum = 0;
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 3u);
    const auto a = static_cast<int>(row[0]) - 1;
    const auto b = static_cast<int>(row[1]) - 1;
    EXPECT_NEAR(row[2], 1000 * kProbability[a][b], 0.6e-8);
    sum += row[2];
  }
  EXPECT_NEAR(sum, 1000, 1e-6);
  EXPECT_EQ(run.Statistic("Sample size"), 1000);
}

// Random data: 200,000 records whose cell proportions lie within four standard errors of the
// probabilities; the same seed gives the same file, byte for byte.
TEST(Simulation, RandomDataFollowTheModelAndRepeatWithTheSeed) {
  const int n = 200000;
  const EngineRun run(kModel + "sim 200000 drawn.txt");
  ASSERT_EQ(run.status, 0);
  int counts[2][3] = {};
  for (const auto& row : run.Numbers("drawn.txt")) {
    ASSERT_EQ(row.size(), 2u);
    ++counts[static_cast<int>(row[0]) - 1][static_cast<int>(row[1]) - 1];
  }
  for (int a = 0; a < 2; ++a) {
    for (int b = 0; b < 3; ++b) {
      const double p = kProbability[a][b];
      EXPECT_LT(std::fabs(counts[a][b] - n * p), 4 * std::sqrt(n * p * (1 - p))) << a << b;
    }
  }
  const EngineRun again(kModel + "sim 200000 drawn.txt");
  EXPECT_EQ(ReadFile(again.dir.File("drawn.txt")), ReadFile(run.dir.File("drawn.txt")));
}

Json Document(const EngineRun& run) {
  std::ifstream in(run.dir.File("r.json"));
  return Json::parse(in);
}

const Json* Find(const Json& list, const char* key, const Json& value) {
  for (const Json& entry : list) {
    if (entry[key] == value) return &entry;
  }
  return nullptr;
}

// Every parameter of the fit that has a standard error lies within four of them of the value of
// the simulation's report (the first table's main effect, the log of the sample size, left
// out); a shape the simulation held fixed is that of its risk.
void ExpectWithinStandardErrors(const Json& truth, const Json& fit, const std::string& what) {
  const Json first = truth["model"]["submodels"][0]["term"];
  int compared = 0;
  for (const Json& table : fit["parameters"]) {
    const Json* given = Find(truth["parameters"], "table", table["table"]);
    ASSERT_NE(given, nullptr) << what << " " << table["table"];
    for (const Json& effect : table["effects"]) {
      if (effect["effect"] == "main" && table["table"] == first) continue;
      const Json* drawn = Find((*given)["effects"], "effect", effect["effect"]);
      ASSERT_NE(drawn, nullptr) << what << " " << effect["effect"];
      for (std::size_t c = 0; c < effect["cells"].size(); ++c) {
        const Json& cell = effect["cells"][c];
        const Json& value = (*drawn)["cells"][c]["beta"];
        if (cell["std_err"].is_null() || cell["beta"].is_null() || value.is_null()) continue;
        EXPECT_NEAR(cell["beta"].get<double>(), value.get<double>(),
                    4 * cell["std_err"].get<double>())
            << what << " " << table["table"] << " " << effect["effect"] << " " << c;
        ++compared;
      }
    }
  }
  for (const Json& block : fit["special_parameters"]) {
    const Json* given = Find(truth["special_parameters"], "block", block["block"]);
    for (std::size_t i = 0; i < block["parameters"].size(); ++i) {
      const Json& parameter = block["parameters"][i];
      if (parameter["std_err"].is_null()) continue;
      const double value =
          given != nullptr
              ? (*given)["parameters"][i]["beta"].get<double>()
              : truth["event_history"]["risks"][i]["shape"].get<double>();  // alpha i + 1
      EXPECT_NEAR(parameter["beta"].get<double>(), value, 4 * parameter["std_err"].get<double>())
          << what << " " << parameter["label"];
      ++compared;
    }
  }
  EXPECT_GE(compared, 2) << what;
}

// Simulates `count` records of model (whose record-format section says rec count) from the
// start values `starts`, then fits fit_model (model itself when empty) to them as inline data.
void ExpectRoundTrip(const std::string& what, const std::string& model, const std::string& starts,
                     int count, std::string fit_model = "") {
  const EngineRun simulated(model + starts + " sim " + std::to_string(count) + " s.dat wjs r.json");
  ASSERT_EQ(simulated.status, 0) << what << ": " << simulated.log.back();
  const std::string data = ReadFile(simulated.dir.File("s.dat"));
  if (fit_model.empty()) fit_model = model;
  const EngineRun fitted(fit_model + " wjs r.json dat [\n" + data + "]\n");
  ASSERT_EQ(fitted.status, 0) << what << ": " << fitted.log.back();
  ExpectWithinStandardErrors(Document(simulated), Document(fitted), what);
}

TEST(Simulation, EventHistoriesGiveTheirRatesBack) {
  // Two competing risks over three intervals of piecewise-constant rates that depend on A;
  // exit times half a unit early (exp 0.5).
  ExpectRoundTrip("competing risks",
                  "man 1 dim 2 lab A mod {A} tim 3 [0 2 4 6] ris 3 [0 1] [0 2] haz A {A.R, T.R} "
                  "rec 20000 see 4321 ",
                  "sta A [ 0.4 0.6 ] sth AR [ 0.1 0.05  0.2 0.05 ] sth TR [ 1 1  1.5 0.6  0.5 2 ]",
                  20000);
  // Discrete time: logits of the move against the stay by A and period.
  ExpectRoundTrip("discrete time",
                  "man 1 dim 2 lab A mod {A} dis tim 4 haz A {A.R, T.R} rec 20000 see 4321 ",
                  "sth AR [ 0.9 0.1  0.8 0.2 ] sth TR [ 1 1  1 1.5  1 0.7  1 1 ]", 20000);
  // Weibull rates of shape 1.5, drawn with it fixed and fitted with it estimated.
  const std::string weibull = "man 1 dim 2 lab A mod {A} tim 1 [0 4] haz A {A} _we";
  ExpectRoundTrip("Weibull", weibull + " 1.5 exp 1 rec 20000 see 1357 ", "sth A [ 0.2 0.4 ]", 20000,
                  weibull + " exp 1 rec 20000 see 1357 ");
  // A chain 0 -> 1 -> 2 with entry times, two episodes and the clock started again in each.
  ExpectRoundTrip("chain",
                  "man 1 dim 2 lab A mod {A} tim 2 [0 3 10] ris 3 [0 1] [1 2] haz A {A.R, T.R} "
                  "zer exp 1 rec 20000 epi 2 rt0 see 1 ",
                  "sth AR [ 0.2 0.1  0.4 0.3 ] sth TR [ 1 1  0.5 2 ]", 20000);
  // The same chain in discrete time: a move in the last period ends the record.
  ExpectRoundTrip("discrete chain",
                  "man 1 dim 2 lab A mod {A} dis tim 4 ris 3 [0 0] [0 1] [1 1] [1 2] "
                  "haz A {A.R, T.R} rec 20000 epi 2 see 1 ",
                  "sth AR [ 0.8 0.2 0.7 0.3  0.7 0.3 0.6 0.4 ]", 20000);
  // Two processes per record in discrete time.
  ExpectRoundTrip("processes",
                  "man 1 dim 2 lab A mod {A} dis tim 4 mul 2 haz A {A.R, T.R} rec 20000 see 11 ",
                  "sth AR [ 0.9 0.1 0.7 0.3  0.8 0.2 0.6 0.4 ]", 20000);
  // Counts of events over one spell, with subgroup numbers.
  ExpectRoundTrip("counts", "man 1 dim 2 lab A mod {A} haz A {A} exp 1 rec 5000 rsu see 1 ",
                  "sth A [ 0.5 2 ]", 5000);
  // A covariate of the rates that subgroup 2 does not observe.
  ExpectRoundTrip("missing covariate",
                  "res 1 man 2 dim 2 2 2 lab K A B sub AB B mod {AB, K|B} tim 1 [0 10] "
                  "haz AB {A, B} exp 1 rec 20000 see 4321 ",
                  "sta AB [ 1 2 3 4 ] sta BK [ 0.8 0.2 0.6 0.4 ] sth A [ 0.1 0.3 ]", 20000);
}

// A logistic regression on a continuous covariate: the records take the covariate values of the
// eight records of the data, and the file reads back with the covariates in place.
TEST(Simulation, CovariateRecordsReadBack) {
  const std::string model = "con 1 man 1 dim 2 lab B x mod B|x {B, cov(B 1 x c -1)} ";
  ExpectRoundTrip("covariate",
                  model +
                      "rec 8 des [ 0 1 ] see 11 dat [ 1 -1.2\n1 -0.4\n2 -0.3\n1 0.1\n2 0.2\n"
                      "1 0.5\n2 0.9\n2 1.4 ] ",
                  "sta cov(B) [ 2 ]", 20000, model + "rec 20000 des [ 0 1 ] ");
}

// What cannot be simulated stops the run before anything is written, saying why.
TEST(Simulation, HistoriesThatCannotBeDrawnAreRefused) {
  const std::pair<std::string, std::string> cases[] = {
      {"man 1 dim 2 lab A mod {A} haz A {A} rec 5 sim -10 s.dat", "expected data"},
      {"man 1 dim 2 lab A mod {A} tim 2 haz A {A, T} rec 5 rsu sim 5 s.dat", "counts of events"},
      {"man 1 dim 2 lab A mod {A} dis tim 2 [0 1.5 3] haz A {A.R} rec 5 sim 5 s.dat",
       "boundaries that are not whole numbers"},
      {"man 1 dim 2 lab A mod {A} ris 2 [0 0] [0 1] haz A {A.R} rec 5 sim 5 s.dat",
       "a risk from a state to itself"},
      {"res 1 man 2 dim 2 2 2 lab K A B mod A B|A K|A rec 5 sim 5 s.dat", "without sub"},
  };
  for (const auto& [input, reason] : cases) {
    const EngineRun run(input);
    EXPECT_NE(run.status, 0) << input;
    ASSERT_FALSE(run.log.empty());
    bool said = false;
    for (const std::string& line : run.log) {
      said = said || (line.rfind("Error: sim cannot simulate", 0) == 0 &&
                      line.find(reason) != std::string::npos);
    }
    EXPECT_TRUE(said) << input;
    EXPECT_FALSE(std::filesystem::exists(run.dir.File("s.dat"))) << input;
  }
}

}  // namespace
}  // namespace tav
