// Time of the standard errors (the information matrix, its eigenvalues and inversion, and the
// standard errors of the fitted probabilities) beside the time of the fit to convergence with
// the default criterion, in one run. The target: the standard errors take no more than twice
// the time of the fit.
//
//   tav_std_errors_bench [repetitions] [case ...]
//
// Cases, each input generated from a fixed seed:
// - ll4x10: all 45 two-way terms of 10 variables of 4 categories (1,048,576 cells, 435
//   parameters), 100,000 records drawn from a 4-class latent class model;
// - lc20x4: 4 latent classes, 20 dichotomous items, 100,000 records (83 parameters);
// - lc33x3: 3 latent classes, 33 items of 3 categories, 1000 records (200 parameters);
// - lc33x6: 6 latent classes, 33 items of 3 categories, 1000 records (401 parameters).
// Per case: n, the number of distinct data patterns, the median CPU seconds of the fit and of
// the standard errors, and their ratio. The CPU time counts every thread; the wall time of the
// standard errors is shown too.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "core/console_presentation.h"
#include "core/stop_run.h"
#include "data/parse_input.h"
#include "generator.h"
#include "newton/newton_iteration.h"
#include "newton/run_state.h"
#include "tav95/run_driver.h"

namespace {

namespace fs = std::filesystem;

double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

using tav::bench::Generator;

int Draw(Generator& random, const std::vector<double>& p) {
  double u = random.Uniform();
  for (std::size_t i = 0; i + 1 < p.size(); ++i) {
    if (u < p[i]) return static_cast<int>(i);
    u -= p[i];
  }
  return static_cast<int>(p.size()) - 1;
}

std::vector<double> RandomDistribution(Generator& random, int n) {
  std::vector<double> p(n);
  double sum = 0;
  for (double& x : p) sum += x = 0.2 + random.Uniform();
  for (double& x : p) x /= sum;
  return p;
}

// A random latent class model of `classes` classes for `items` items of `categories`
// categories, then `records` records drawn from it, one per line.
void WriteRecords(std::ostream& text, Generator& random, int classes, int items, int categories,
                  int records) {
  const std::vector<double> weights = RandomDistribution(random, classes);
  std::vector<std::vector<std::vector<double>>> item(classes);
  for (auto& per_class : item) {
    for (int j = 0; j < items; ++j) per_class.push_back(RandomDistribution(random, categories));
  }
  for (int r = 0; r < records; ++r) {
    const int x = Draw(random, weights);
    for (int j = 0; j < items; ++j) text << (j > 0 ? " " : "") << Draw(random, item[x][j]) + 1;
    text << "\n";
  }
}

// A latent class model of `classes` classes for `items` items of `categories` categories on
// `records` records drawn from a random model of that form, with the default criterion.
std::string LatentClassInput(int items, int classes, int categories, int records) {
  Generator random(20261207 + items * 31 + classes * 7 + categories);
  std::ostringstream text;
  text << "lat 1\nman " << items << "\ndim " << classes;
  for (int j = 0; j < items; ++j) text << " " << categories;
  text << "\nlab X";
  for (int j = 0; j < items; ++j) text << " I" << j;
  text << "\nmod X";
  for (int j = 0; j < items; ++j) text << " I" << j << "|X";
  text << "\nrec " << records << "\nsee 1234\ndat [\n";
  WriteRecords(text, random, classes, items, categories, records);
  text << "]\n";
  return text.str();
}

// All two-way terms of `variables` variables of 4 categories, on `records` records drawn from a
// 4-class latent class model (so that every pair is associated).
std::string HierarchicalInput(int variables, int records) {
  Generator random(4104 + variables);
  std::ostringstream text;
  text << "man " << variables << "\ndim";
  for (int j = 0; j < variables; ++j) text << " 4";
  text << "\nlab";
  for (int j = 0; j < variables; ++j) text << " " << static_cast<char>('A' + j);
  text << "\nmod {";
  bool first = true;
  for (int a = 0; a < variables; ++a) {
    for (int b = a + 1; b < variables; ++b) {
      text << (first ? "" : ",") << static_cast<char>('A' + a) << static_cast<char>('A' + b);
      first = false;
    }
  }
  text << "}\nrec " << records << "\ndat [\n";
  WriteRecords(text, random, 4, variables, 4, records);
  text << "]\n";
  return text.str();
}

struct Result {
  int parameters = 0;
  std::int64_t patterns = 0;
  double fit_seconds = 0;
  double seconds = 0;
  double wall_seconds = 0;
  std::string error;
};

double WallSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

Result Time(const std::string& input_text, int repetitions) {
  const fs::path dir = fs::temp_directory_path() / "tav_std_errors_bench";
  fs::create_directories(dir);
  const fs::path input = dir / "case.inp";
  std::ofstream(input) << input_text;
  Result result;
  std::vector<double> fits, times, walls;
  for (int k = 0; k < repetitions; ++k) {
    std::ostream null_stream(nullptr);
    tav::ConsolePresentation console(null_stream, null_stream);
    tav::ProgramRun run;
    run.context.presentation = &console;
    run.context.arguments = {input.string(), (dir / "report.out").string(), dir.string() + "/"};
    run.context.InputFileName = input.string();
    try {
      tav::ParseRun(run);
      tav::StartRandomGenerator(run);  // the start values the program draws from the seed
      const double fit_start = CpuSeconds();
      tav::FitModel(run);
      fits.push_back(CpuSeconds() - fit_start);
      const double start = CpuSeconds();
      const double wall_start = WallSeconds();
      tav::ComputeStandardErrors(run, tav::Evaluator(run));
      times.push_back(CpuSeconds() - start);
      walls.push_back(WallSeconds() - wall_start);
    } catch (const tav::StopRunError& stop) {
      result.error = stop.message();
      return result;
    }
    result.parameters = run.estimation.free_parameters.Count();
    result.patterns = run.data.EntryCount();
    if (!run.newton.std_errors_computed) result.error = "no standard errors";
  }
  result.fit_seconds = Median(fits);
  result.seconds = Median(times);
  result.wall_seconds = Median(walls);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  struct Case {
    std::string name;
    std::string (*input)();
  };
  const std::vector<Case> cases = {
      {"ll4x10", [] { return HierarchicalInput(10, 100000); }},
      {"lc20x4", [] { return LatentClassInput(20, 4, 2, 100000); }},
      {"lc33x3", [] { return LatentClassInput(33, 3, 3, 1000); }},
      {"lc33x6", [] { return LatentClassInput(33, 6, 3, 1000); }},
  };
  std::vector<std::string> chosen(argv + std::min(argc, 2), argv + argc);
  std::cout << "case          n  patterns    fit s    s.e. s  s.e./fit  s.e. wall s\n";
  for (const Case& c : cases) {
    if (!chosen.empty() && std::find(chosen.begin(), chosen.end(), c.name) == chosen.end()) {
      continue;
    }
    const Result r = Time(c.input(), repetitions);
    if (!r.error.empty()) {
      std::cout << c.name << ": " << r.error << "\n";
      continue;
    }
    char line[160];
    std::snprintf(line, sizeof line, "%-10s %4d %9lld %8.3f %9.3f %9.2f %12.3f", c.name.c_str(),
                  r.parameters, static_cast<long long>(r.patterns), r.fit_seconds, r.seconds,
                  r.seconds / r.fit_seconds, r.wall_seconds);
    std::cout << line << std::endl;
  }
  return 0;
}
