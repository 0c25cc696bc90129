// The JSON results document (wjs) of example runs: valid against docs/results-schema.json (with
// Python's jsonschema, where installed), and its numbers the report's to the report's printed
// precision.

#include "report/results_document.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "test_support.h"

namespace tav {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using testing::EngineRun;

const fs::path kSource = TAV_SOURCE_DIR;

// The example's input with a wjs request added.
std::string WithJson(const std::string& example) {
  std::ifstream in(kSource / "examples" / (example + ".inp"));
  std::stringstream text;
  text << in.rdbuf();
  return text.str() + "\nwjs results.json\n";
}

bool Valid(const std::string& document) {
  const std::string command =
      "python3 -c \"import json, sys, jsonschema; "
      "jsonschema.validate(json.load(open(sys.argv[1])), "
      "json.load(open(sys.argv[2])))\" '" +
      document + "' '" + (kSource / "docs/results-schema.json").string() + "' 2>/dev/null";
  return std::system(command.c_str()) == 0;
}

// value, printed with decimals as the report prints it, stands in the number columns of a
// parameter, score or probability line of the report.
bool ReportShows(const EngineRun& run, double value, int decimals) {
  std::ostringstream text;
  text.setf(std::ios::fixed);
  text.precision(decimals);
  text << value;
  for (const std::string& line : run.report) {
    if (line.size() >= 23 && line.find(text.str(), 14) != std::string::npos) return true;
  }
  return false;
}

bool ValidatorInstalled() { return std::system("python3 -c 'import jsonschema' 2>/dev/null") == 0; }

// The run's results document, valid against the schema where the validator is installed.
Json ValidDocument(const EngineRun& run, const std::string& what) {
  const std::string path = run.dir.File("results.json");
  if (ValidatorInstalled()) {
    EXPECT_TRUE(Valid(path)) << what;
  }
  std::ifstream in(path);
  return Json::parse(in);
}

TEST(ResultsDocument, ExamplesGiveValidDocumentsWithTheReportsNumbers) {
  for (const std::string example :
       {"lcstouff", "missing", "marghomo", "haireye", "cumlogit", "rcmental", "jobsat"}) {
    const EngineRun run(WithJson(example));
    ASSERT_EQ(run.status, 0) << example;
    const Json document = ValidDocument(run, example);
    const Json& statistics = document["statistics"];
    EXPECT_NEAR(statistics["l_squared"]["value"].get<double>(), run.Statistic("L-squared"), 0.6e-4)
        << example;
    EXPECT_NEAR(statistics["log_likelihood"].get<double>(), run.Statistic("Log-likelihood"), 0.6e-5)
        << example;
    EXPECT_EQ(statistics["degrees_of_freedom"].get<double>(), run.Statistic("Degrees of freedom"))
        << example;
    // The last iteration of the history is the report's.
    EXPECT_EQ(document["iterations"].back()["iteration"].get<int>(),
              run.Statistic("Number of iterations"))
        << example;
    // Every estimated frequency, rounded as the report prints it, is on a line of its table.
    int rows = 0;
    for (const Json& table : document["frequencies"]) {
      for (const Json& cell : table["cells"]) {
        std::ostringstream numbers;
        numbers.setf(std::ios::fixed);
        numbers.precision(3);
        numbers << cell["observed"].get<double>() << " " << cell["estimated"].get<double>();
        bool found = false;
        for (const std::string& line : run.report) {
          std::istringstream words(line);
          std::vector<std::string> fields;
          for (std::string word; words >> word;) fields.push_back(word);
          const std::size_t k = cell["categories"].size();
          if (fields.size() >= k + 2 && fields[k] + " " + fields[k + 1] == numbers.str()) {
            found = true;
          }
        }
        EXPECT_TRUE(found) << example << ": " << numbers.str();
        ++rows;
      }
    }
    EXPECT_GT(rows, 0) << example;
    // The checks of a latent class model: every ratio and average posterior as printed.
    EXPECT_EQ(document.contains("bivariate_residuals"), example == "lcstouff") << example;
    EXPECT_EQ(document.contains("classification"), example == "lcstouff") << example;
    if (example == "lcstouff") {
      EXPECT_EQ(document["bivariate_residuals"].size(), 6u);
      for (const Json& pair : document["bivariate_residuals"]) {
        EXPECT_EQ(pair["df"].get<int>(), 1);
        std::ostringstream ratio;
        ratio.setf(std::ios::fixed);
        ratio.precision(3);
        ratio << " " << pair["ratio"].get<double>();
        EXPECT_TRUE(std::any_of(run.report.begin(), run.report.end(), [&](const std::string& l) {
          return l.find(ratio.str()) != std::string::npos;
        })) << ratio.str();
      }
      const Json& classification = document["classification"];
      EXPECT_EQ(classification["cases"].get<double>(), 216);
      for (const Json& one : classification["classes"]) {
        for (const Json& p : one["average_posteriors"]) {
          EXPECT_TRUE(ReportShows(run, p.get<double>(), 4));
        }
      }
      EXPECT_NEAR(classification["entropy_r_squared"].get<double>(),
                  run.Statistic("Entropy R-squared"), 0.6e-4);
    }
    // Every beta of the parameter tables, rounded as the report prints it, is in the report.
    for (const Json& table : document["parameters"]) {
      for (const Json& effect : table["effects"]) {
        for (const Json& cell : effect["cells"]) {
          if (cell["beta"].is_null()) continue;
          EXPECT_TRUE(ReportShows(run, cell["beta"].get<double>(), 4)) << example;
        }
      }
    }
    for (const Json& block : document["special_parameters"]) {
      for (const Json& parameter : block["parameters"]) {
        if (parameter["beta"].is_null()) continue;
        EXPECT_TRUE(ReportShows(run, parameter["beta"].get<double>(), 4)) << example;
      }
    }
    // Every probability, rounded as the report prints it, is in the report, which has a block
    // for its submodel.
    for (const Json& table : document["probabilities"]) {
      const std::vector<std::string> block =
          run.Block("* " + table["probabilities"].get<std::string>() + " *");
      ASSERT_FALSE(block.empty()) << example;
      for (const Json& cell : table["cells"]) {
        EXPECT_TRUE(ReportShows(run, cell["probability"].get<double>(), 4)) << example;
      }
    }
  }
}

// Event-history models: a valid document whose hazard part has the report's fit, the rates of
// the wha file and the survival of the wsu file, and whose hazard table has the report's betas.
TEST(ResultsDocument, EventHistoryModelsGiveTheirRatesAndSurvival) {
  for (const std::string example : {"discrete", "compete", "mixhaz"}) {
    std::string input = WithJson(example);
    input.insert(input.find("\ndat ["), "\nwha rates.txt\nwsu survival.txt");
    const EngineRun run(input);
    ASSERT_EQ(run.status, 0) << example;
    const Json document = ValidDocument(run, example);
    const Json& part = document["event_history"];
    ASSERT_TRUE(part.is_object()) << example;
    if (example != "mixhaz") {
      EXPECT_NEAR(document["statistics"]["hazard_model"]["log_likelihood"].get<double>(),
                  run.Statistic("Log-likelihood"), 0.6e-5)
          << example;
    }
    // The files hold one line per covariate cell and interval, the risks (states) side by side:
    // in file order they are the document's entries.
    const auto expect_file = [&](const std::string& file, const char* list, const char* key) {
      std::vector<double> values;
      for (const std::vector<double>& line : run.Numbers(file)) {
        values.insert(values.end(), line.begin(), line.end());
      }
      ASSERT_EQ(values.size(), part[list].size()) << example << " " << file;
      for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_NEAR(part[list][i][key].get<double>(), values[i], 0.6e-8) << example << " " << file;
      }
    };
    expect_file("rates.txt", "cells", "rate");
    expect_file("survival.txt", "survival", "survival");
    const Json& hazard_table = document["parameters"].back();
    for (const Json& effect : hazard_table["effects"]) {
      for (const Json& cell : effect["cells"]) {
        if (!cell["beta"].is_null()) {
          EXPECT_TRUE(ReportShows(run, cell["beta"].get<double>(), 4)) << example;
        }
      }
    }
  }
}

// The survival curves against the rates and shapes of the document: in continuous time the
// point at x of interval [a, b] is S(a) exp(-sum_q rate_q (x^alpha_q - a^alpha_q)) over the
// risks q of leaving the state (alpha 1 without shapes), evaluated here on its own; in discrete
// time the curve steps at b from S(a) to S(a) p^(b - a), p the probability of staying. The
// curves end every interval at the survival the document lists for it.
TEST(ResultsDocument, SurvivalCurvesFollowTheRatesAndShapes) {
  for (const std::string example : {"discrete", "compete", "mixhaz", "hazweib", "hazchain"}) {
    const fs::path file = fs::exists(kSource / "examples" / (example + ".inp"))
                              ? kSource / "examples" / (example + ".inp")
                              : kSource / "tests/golden/cases" / (example + ".inp");
    const EngineRun run(testing::ReadFile(file.string()) + "\nwjs results.json\n");
    ASSERT_EQ(run.status, 0) << example;
    const Json part = ValidDocument(run, example)["event_history"];
    const bool discrete = part["kind"].get<int>() == 1;
    const std::vector<double> grid = part["time_boundaries"].get<std::vector<double>>();
    const auto rate = [&](const Json& covariates, int t, int k) {
      for (const Json& cell : part["cells"]) {
        if (cell["covariates"] == covariates && cell["interval"] == t && cell["risk"] == k) {
          return cell["rate"].get<double>();
        }
      }
      ADD_FAILURE() << example << ": no rate";
      return 0.0;
    };
    const auto end_survival = [&](const Json& covariates, int t, int origin) {
      for (const Json& s : part["survival"]) {
        if (s["covariates"] == covariates && s["interval"] == t && s["origin"] == origin) {
          return s["survival"].get<double>();
        }
      }
      ADD_FAILURE() << example << ": no survival";
      return 0.0;
    };
    ASSERT_FALSE(part["survival_curves"].empty()) << example;
    for (const Json& curve : part["survival_curves"]) {
      const Json& covariates = curve["covariates"];
      const int origin = curve["origin"].get<int>();
      const Json& points = curve["points"];
      ASSERT_EQ(points.size(), 1 + (grid.size() - 1) * (discrete ? 2 : 16)) << example;
      EXPECT_EQ(points[0][0].get<double>(), grid[0]);
      EXPECT_EQ(points[0][1].get<double>(), 1.0);
      double before = 1.0;
      std::size_t at = 1;
      for (int t = 1; t < static_cast<int>(grid.size()); ++t) {
        const double a = grid[t - 1];
        const double b = grid[t];
        const double end = end_survival(covariates, t, origin);
        if (discrete) {
          double stay = 0;
          for (const Json& risk : part["risks"]) {
            if (risk["origin"] == origin && risk["destination"] == origin) {
              stay = rate(covariates, t, risk["risk"].get<int>());
            }
          }
          EXPECT_NEAR(end, before * std::pow(stay, b - a), 1e-12) << example;
          EXPECT_EQ(points[at][0].get<double>(), b);
          EXPECT_NEAR(points[at++][1].get<double>(), before, 1e-15) << example;
        } else {
          for (int j = 1; j < 16; ++j, ++at) {
            const double x = a + (b - a) * j / 16;
            double sum = 0;
            for (const Json& risk : part["risks"]) {
              if (risk["origin"] != origin || risk["destination"] == origin) continue;
              const double alpha = risk.contains("shape") ? risk["shape"].get<double>() : 1.0;
              sum += rate(covariates, t, risk["risk"].get<int>()) *
                     (std::pow(x, alpha) - std::pow(a, alpha));
            }
            EXPECT_DOUBLE_EQ(points[at][0].get<double>(), x) << example;
            EXPECT_NEAR(points[at][1].get<double>(), before * std::exp(-sum), 1e-12)
                << example << " interval " << t << " step " << j;
          }
        }
        EXPECT_EQ(points[at][0].get<double>(), b) << example;
        EXPECT_NEAR(points[at++][1].get<double>(), end, 1e-15) << example;
        before = end;
      }
    }
  }
}

// Simulated data: a valid document that says so and, like the report, holds no figure that
// compares the model with data: no likelihood, no fit, no frequencies, no events or exposures;
// the probabilities are the model's (P(A) = 2/5, 3/5 in example simulate).
TEST(ResultsDocument, SimulatedDataGiveNoFiguresOfData) {
  const EngineRun table(WithJson("simulate"));
  ASSERT_EQ(table.status, 0);
  const Json document = ValidDocument(table, "simulate");
  EXPECT_EQ(document["simulation"]["total"].get<double>(), 1000);
  EXPECT_TRUE(document["simulation"]["expected"].get<bool>());
  const Json& statistics = document["statistics"];
  for (const char* key : {"log_likelihood", "bic_log_likelihood", "aic_log_likelihood"}) {
    EXPECT_TRUE(statistics[key].is_null()) << key;
  }
  for (const char* key : {"x_squared", "l_squared", "dissimilarity_index", "bic_l_squared"}) {
    EXPECT_FALSE(statistics.contains(key)) << key;
  }
  EXPECT_EQ(statistics["sample_size"].get<double>(), 1000);
  EXPECT_TRUE(document["frequencies"].empty());
  EXPECT_DOUBLE_EQ(document["probabilities"][0]["cells"][1]["probability"].get<double>(), 0.6);

  const EngineRun histories(
      "man 1\ndim 2\nlab A\nmod {A}\ntim 2 [0 2 4]\nhaz A {A, T}\nexp 1\nrec 50\n"
      "sth A [ 0.1 0.3 ]\nsim 50 h.dat\nwjs results.json\n");
  ASSERT_EQ(histories.status, 0);
  const Json part = ValidDocument(histories, "histories")["event_history"];
  EXPECT_FALSE(ValidDocument(histories, "histories")["statistics"].contains("hazard_model"));
  ASSERT_EQ(part["cells"].size(), 4u);
  for (const Json& cell : part["cells"]) {
    EXPECT_TRUE(cell["events"].is_null());
    EXPECT_TRUE(cell["exposure"].is_null());
  }
  EXPECT_DOUBLE_EQ(part["cells"][3]["rate"].get<double>(), 0.3);
}

// A long run keeps the first 100 rows of its iteration history, then every k-th and the last,
// at most 1,000 in all; a run of up to 1,000 iterations keeps them all.
TEST(ResultsDocument, LongRunsKeepABoundedIterationHistory) {
  const EngineRun run(
      "man 2\ndim 2 2\nlab A B\nmod {A,B}\nite 2345 cri -1\ndat [10 20 30 40]\n"
      "wjs results.json\n");
  ASSERT_EQ(run.status, 0);
  const Json rows = ValidDocument(run, "long run")["iterations"];
  // 2,346 records (iterations 0 to 2345): after the first 100, 2,245 records share 899 rows:
  // every third, then the last.
  ASSERT_EQ(rows.size(), 100u + 749u + 1u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(rows[i]["iteration"].get<int>(), i);
  EXPECT_EQ(rows[100]["iteration"].get<int>(), 100);
  EXPECT_EQ(rows[101]["iteration"].get<int>(), 103);
  EXPECT_EQ(rows[848]["iteration"].get<int>(), 2344);
  EXPECT_EQ(rows.back()["iteration"].get<int>(), 2345);

  EXPECT_EQ(KeptIterationRows(1000).size(), 1000u);
  EXPECT_EQ(KeptIterationRows(1001).size(), 100u + 450u + 1u);
  for (const std::int64_t count : {1002LL, 5000LL, 1'160'000LL, 100'000'000LL}) {
    const std::vector<std::int64_t> kept = KeptIterationRows(count);
    EXPECT_LE(kept.size(), 1000u) << count;
    EXPECT_EQ(kept.back(), count - 1) << count;
  }
}

// A run with cor: a valid document whose analysis takes the place of the statistics (its
// figures are checked against R's with the analysis' own tests); a left-out analysis says why.
TEST(ResultsDocument, CorrespondenceAnalysesGiveValidDocuments) {
  const std::string left_out =
      "man 3\ndim 2 2 2\nlab A B C\nmod {ABC} cor(1)\ndat [ 1 2 3 4 5 6 7 8 ]";
  for (const std::string& input :
       {WithJson("smoke"), WithJson("assoc"), WithJson("mca"), left_out + "\nwjs results.json\n"}) {
    const EngineRun run(input);
    ASSERT_EQ(run.status, 0) << input;
    const Json document = ValidDocument(run, input);
    EXPECT_FALSE(document.contains("statistics"));
    const Json& analysis = document["correspondence"];
    if (analysis["left_out"].is_null()) {
      EXPECT_EQ(run.Block(" * General *").size(), analysis["dimensions"].size() + 2) << input;
    } else {
      EXPECT_TRUE(
          run.Has("WARNING: analysis left out: " + analysis["left_out"].get<std::string>()));
    }
  }
}

// Labels that are not UTF-8 (the bytes C3 and E2 82, sequences cut short) are written as \xHH
// escapes, so the two variables keep different labels in a document that parses as UTF-8; the
// valid label of the bytes C3 A9 (an e with an acute accent) keeps its bytes.
TEST(ResultsDocument, LabelsThatAreNotUtf8StayDistinct) {
  const EngineRun run(
      "man 3\ndim 2 2 2\nlab \xc3 \xe2\x82 \xc3\xa9\nmod {\xc3,\xe2\x82,\xc3\xa9}\n"
      "wjs results.json\ndat [ 1 2 3 4 5 6 7 8 ]\n");
  ASSERT_EQ(run.status, 0);
  const Json variables = ValidDocument(run, "labels")["model"]["variables"];
  ASSERT_EQ(variables.size(), 3u);
  EXPECT_EQ(variables[0]["label"], "\\xC3");
  EXPECT_EQ(variables[1]["label"], "\\xE2\\x82");
  EXPECT_EQ(variables[2]["label"], "\xc3\xa9");
}

// R's jsonlite reads the document as a user would (README's three lines), where it is installed:
// the L-squared, the seed and the first conditional probability come out as the engine wrote
// them, to the last digit.
TEST(ResultsDocument, ReadsInR) {
  if (std::system("Rscript -e 'library(jsonlite)' >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "R's jsonlite is not installed";
  }
  const EngineRun run(WithJson("lcstouff"));
  ASSERT_EQ(run.status, 0);
  const std::string path = run.dir.File("results.json");
  const std::string out = run.dir.File("from_r.txt");
  const std::string command =
      "Rscript -e 'library(jsonlite); results <- fromJSON(commandArgs(TRUE)[1]); "
      "p <- results$probabilities$cells[[1]]$probability[1]; "
      "cat(sprintf(\"%.17g %.17g %.17g\", results$statistics$l_squared$value, "
      "results$statistics$seed, p), \"\\n\")' '" +
      path + "' >'" + out + "' 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(path);
  const Json document = Json::parse(in);
  std::ifstream from_r(out);
  double l_squared = 0, seed = 0, probability = 0;
  ASSERT_TRUE(from_r >> l_squared >> seed >> probability);
  EXPECT_EQ(l_squared, document["statistics"]["l_squared"]["value"].get<double>());
  EXPECT_EQ(seed, document["statistics"]["seed"].get<double>());
  EXPECT_EQ(probability, document["probabilities"][0]["cells"][0]["probability"].get<double>());
}

}  // namespace
}  // namespace tav
