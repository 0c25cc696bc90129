// Time of the standard-error computation (the finite-difference information matrix, its
// eigenvalues and inversion, and the standard errors of the fitted probabilities) for models
// of about 50, 100 and 200 free parameters. The information matrix costs n(n + 1)/2 + n
// evaluations of the log-likelihood, so the time should grow like n^2 times the cost of one
// evaluation (one pass over the data), plus n^3 for the eigenvalues and the inversion.
//
//   tav_std_errors_bench [repetitions]
//
// Two families, each input generated from a fixed seed and estimated first (not timed):
// - latent class models of 3 classes for k items of 3 categories (n = 2 + 6k) on 1000
//   individual records drawn from a random 3-class model;
// - the saturated log-linear model of a 2-way table of n + 1 cells.
// Per case: n, the number of distinct data patterns, the evaluations of the log-likelihood,
// the median CPU seconds of the standard errors, and the seconds per evaluation.

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

// SplitMix64, the same on every platform.
class Generator {
 public:
  explicit Generator(std::uint64_t seed) : state_(seed) {}
  double Uniform() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    z ^= z >> 31;
    return (static_cast<double>(z >> 11) + 0.5) / 9007199254740992.0;
  }

 private:
  std::uint64_t state_;
};

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

std::string LatentClassInput(int items) {
  Generator random(20261207 + items);
  const int classes = 3;
  const int records = 1000;
  const std::vector<double> weights = RandomDistribution(random, classes);
  std::vector<std::vector<std::vector<double>>> item(classes);
  for (auto& per_class : item) {
    for (int j = 0; j < items; ++j) per_class.push_back(RandomDistribution(random, 3));
  }
  std::ostringstream labels;
  labels << "lab X";
  for (int j = 0; j < items; ++j) labels << " I" << j;
  std::ostringstream model;
  model << "mod X";
  for (int j = 0; j < items; ++j) model << " I" << j << "|X";
  std::ostringstream text;
  text << "lat 1\nman " << items << "\ndim " << classes;
  for (int j = 0; j < items; ++j) text << " 3";
  text << "\n"
       << labels.str() << "\n"
       << model.str() << "\nrec " << records << "\nsee 1234\nite 200\ncri 0.000001\ndat [\n";
  for (int r = 0; r < records; ++r) {
    const int x = Draw(random, weights);
    for (int j = 0; j < items; ++j) text << (j > 0 ? " " : "") << Draw(random, item[x][j]) + 1;
    text << "\n";
  }
  text << "]\n";
  return text.str();
}

std::string SaturatedInput(int cells_b) {
  Generator random(7 + cells_b);
  std::ostringstream text;
  text << "man 2\ndim 2 " << cells_b << "\nmod {AB}\ndat [";
  for (int c = 0; c < 2 * cells_b; ++c) text << " " << 5 + static_cast<int>(20 * random.Uniform());
  text << " ]\n";
  return text.str();
}

struct Result {
  int parameters = 0;
  std::int64_t patterns = 0;
  double seconds = 0;
  std::string error;
};

Result Time(const std::string& input_text, int repetitions) {
  const fs::path dir = fs::temp_directory_path() / "tav_std_errors_bench";
  fs::create_directories(dir);
  const fs::path input = dir / "case.inp";
  std::ofstream(input) << input_text;
  Result result;
  std::vector<double> times;
  for (int k = 0; k < repetitions; ++k) {
    std::ostream null_stream(nullptr);
    tav::ConsolePresentation console(null_stream, null_stream);
    tav::RunState run;
    run.presentation = &console;
    run.arguments = {input.string(), (dir / "report.out").string(), dir.string() + "/"};
    run.InputFileName = input.string();
    try {
      tav::ParseInput(run);
      tav::FitModel(run);
      const double start = CpuSeconds();
      tav::ComputeStandardErrors(run, tav::Evaluator(run));
      times.push_back(CpuSeconds() - start);
    } catch (const tav::StopRunError& stop) {
      result.error = stop.message();
      return result;
    }
    result.parameters = run.estimation.free_parameters.Count();
    result.patterns = run.data.EntryCount();
    if (!run.newton.std_errors_computed) result.error = "no standard errors";
  }
  std::sort(times.begin(), times.end());
  result.seconds = times[times.size() / 2];
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  struct Case {
    std::string name;
    std::string input;
  };
  const std::vector<Case> cases = {
      {"latent class, 8 items", LatentClassInput(8)},
      {"latent class, 16 items", LatentClassInput(16)},
      {"latent class, 33 items", LatentClassInput(33)},
      {"saturated 2 x 26", SaturatedInput(26)},
      {"saturated 2 x 51", SaturatedInput(51)},
      {"saturated 2 x 101", SaturatedInput(101)},
  };
  std::cout << "case                        n  patterns  evaluations   seconds  us/evaluation\n";
  for (const Case& c : cases) {
    const Result r = Time(c.input, repetitions);
    if (!r.error.empty()) {
      std::cout << c.name << ": " << r.error << "\n";
      continue;
    }
    const double n = r.parameters;
    const double evaluations = n * (n + 1) / 2 + n + 1;
    char line[160];
    std::snprintf(line, sizeof line, "%-24s %4d %9lld %12.0f %9.3f %14.1f", c.name.c_str(),
                  r.parameters, static_cast<long long>(r.patterns), evaluations, r.seconds,
                  1e6 * r.seconds / evaluations);
    std::cout << line << "\n";
  }
  return 0;
}
