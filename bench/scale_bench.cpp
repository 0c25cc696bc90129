// Speed and memory at scale, one case per process (so that the peak memory is the case's own):
//
//   tav_scale_bench CASE DIR
//
// writes the case's input and records to DIR (DIR/CASE.inp, DIR/CASE.dat, records one per
// line, categories from 1), runs it and prints one line "name value ..." of figures:
// - read1m, read20x1m: 1,000,000 records of 10 and of 20 dichotomous items: "read" CPU and
//   wall seconds of reading them (ParseInput, which reads the data), the medians of three
//   readings, and "MB_s" the data file's megabytes (10^6 bytes) a second by either;
// - ll1e7: all 21 two-way terms of 7 variables of 10 categories (10,000,000 cells), 300,000
//   records from a 4-class latent class model; 10 iterations with cri 0: "fit" CPU and wall
//   seconds of Estimate and "run" CPU and wall seconds of the whole run (fit, standard errors
//   where the input wants them, and report);
// - ll1e7se: ll1e7 with the standard errors (1,764 free parameters): "fit" and "run" as above.
//   bench/scale sets its whole run beside that of ll1e7, with thr 1 and thr 2;
// - lc20x1m, lc40x1m: 4 and 6 latent classes for 20 and 40 dichotomous items, 1,000,000
//   records; 10 iterations with cri 0: "fit" as above;
// - lc100x500k: 5 latent classes for 99 dichotomous items (100 variables with the latent one),
//   500,000 records, fitted to convergence with the default criterion and no standard errors:
//   "fit" as above and "iterations".
// - lc200x500k: the same for 5 latent classes and 200 dichotomous items (201 variables).
// - lc4rst100: 4 latent classes for 6 dichotomous items, 10,000 records, 100 random starts
//   (rst 100) to convergence with the default criterion, no standard errors: "fit" as above,
//   "starts" and "at_best", the starts that reached the best log-likelihood. Run it with
//   TAV_SCALE_SETTINGS "thr 1" and "thr 2": the ratio of the wall times is the speed-up of
//   the parallel starts.
// - bvr99x500k: the data and model of lc100x500k, 5 iterations with cri 0 (not timed apart from
//   "fit"), then the report's two checks of the fitted model, each timed alone: "bvr" CPU and
//   wall seconds of the bivariate residuals of the 4,851 pairs of items and "classification"
//   those of the classification of the records by their posterior probabilities.
// Every line ends with the peak resident memory of the process in MB (getrusage). bench/scale
// runs them all beside R (bench/scale.R). TAV_SCALE_SETTINGS, when set, is added to every
// case's settings (for example "thr 1"). TAV_SCALE_RECORDS, when set, replaces the number of
// records of lc100x500k and lc200x500k (a shorter trial of a long case).

#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "core/console_presentation.h"
#include "core/random.h"
#include "core/stop_run.h"
#include "data/parse_input.h"
#include "generator.h"
#include "newton/newton_iteration.h"
#include "newton/run_state.h"
#include "report/latent_class_diagnostics.h"
#include "report/random_starts_report.h"
#include "report/write_report.h"
#include "tav95/random_starts.h"
#include "tav95/run_driver.h"

namespace {

namespace fs = std::filesystem;

double Seconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

struct Timer {
  double cpu = Seconds(CLOCK_PROCESS_CPUTIME_ID);
  double wall = Seconds(CLOCK_MONOTONIC);
  std::string Text() const {
    return std::to_string(Seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu) + " " +
           std::to_string(Seconds(CLOCK_MONOTONIC) - wall);
  }
};

double PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

using tav::bench::Generator;

// Records of `items` items of `categories` categories from a random latent class model of
// `classes` classes whose classes differ clearly, one per line.
void WriteRecords(const fs::path& file, std::uint64_t seed, int classes, int items, int categories,
                  int records) {
  Generator random(seed);
  std::vector<std::vector<std::vector<double>>> p(classes);
  for (auto& per_class : p) {
    for (int j = 0; j < items; ++j) {
      std::vector<double> q(categories);
      double sum = 0;
      for (double& x : q) sum += x = 0.05 + random.Uniform();
      for (double& x : q) x /= sum;
      per_class.push_back(q);
    }
  }
  std::ofstream out(file);
  std::string line;
  for (int r = 0; r < records; ++r) {
    const int x = static_cast<int>(random.Uniform() * classes);
    line.clear();
    for (int j = 0; j < items; ++j) {
      double u = random.Uniform();
      int k = 0;
      while (k + 1 < categories && u >= p[x][j][k]) u -= p[x][j][k++];
      if (j > 0) line += ' ';
      line += std::to_string(k + 1);
    }
    line += '\n';
    out << line;
  }
}

// Labels of two letters, never "XX" (the latent variable's).
std::vector<std::string> Labels(int n) {
  std::vector<std::string> labels;
  for (char a = 'A'; a <= 'Z'; ++a) {
    for (char b = 'A'; b <= 'Z'; ++b) {
      const std::string label{a, b};
      if (label != "XX" && static_cast<int>(labels.size()) < n) labels.push_back(label);
    }
  }
  return labels;
}

std::string LatentClassInput(int items, int classes, int records, const std::string& data,
                             const std::string& settings) {
  const std::vector<std::string> labels = Labels(items);
  std::string text = "lat 1\nman " + std::to_string(items) + "\ndim " + std::to_string(classes);
  for (int j = 0; j < items; ++j) text += " 2";
  text += "\nlab XX";
  for (const std::string& label : labels) text += " " + label;
  text += "\nmod XX";
  for (const std::string& label : labels) text += " " + label + "|XX";
  return text + "\nrec " + std::to_string(records) + "\nsee 1234 nse " + settings + "\ndat " +
         data + "\n";
}

std::string HierarchicalInput(int records, const std::string& data, const std::string& settings,
                              bool std_errors = false) {
  const std::string labels = "ABCDEFG";
  std::string text = "man 7\ndim 10 10 10 10 10 10 10\nlab A B C D E F G\nmod {";
  for (int a = 0; a < 7; ++a) {
    for (int b = a + 1; b < 7; ++b) {
      if (text.back() != '{') text += ',';
      text += labels[a];
      text += labels[b];
    }
  }
  return text + "}\nrec " + std::to_string(records) + (std_errors ? "\n" : "\nnse ") + settings +
         "\ndat " + data + "\n";
}

struct Case {
  std::string input;
  bool whole_run = false;
  bool read_only = false;
  bool random_starts = false;
  bool diagnostics = false;
};

// The number of records of a case: TAV_SCALE_RECORDS when set, else the case's own.
int Records(int standard) {
  const char* text = std::getenv("TAV_SCALE_RECORDS");
  if (text == nullptr || std::atoi(text) <= 0) return standard;
  return std::atoi(text);
}

Case MakeCase(const std::string& name, const fs::path& dir) {
  const std::string data = name + ".dat";
  Case c;
  if (name == "read1m") {
    WriteRecords(dir / data, 1, 2, 10, 2, 1000000);
    c.input = LatentClassInput(10, 2, 1000000, data, "ite 0");
    c.read_only = true;
  } else if (name == "read20x1m") {
    WriteRecords(dir / data, 7, 2, 20, 2, 1000000);
    c.input = LatentClassInput(20, 2, 1000000, data, "ite 0");
    c.read_only = true;
  } else if (name == "ll1e7") {
    WriteRecords(dir / data, 2, 4, 7, 10, 300000);
    c.input = HierarchicalInput(300000, data, "ite 10 cri 0");
    c.whole_run = true;
  } else if (name == "ll1e7se") {
    WriteRecords(dir / data, 2, 4, 7, 10, 300000);
    c.input = HierarchicalInput(300000, data, "ite 10 cri 0", true);
    c.whole_run = true;
  } else if (name == "lc20x1m") {
    WriteRecords(dir / data, 3, 4, 20, 2, 1000000);
    c.input = LatentClassInput(20, 4, 1000000, data, "ite 10 cri 0");
  } else if (name == "lc40x1m") {
    WriteRecords(dir / data, 4, 6, 40, 2, 1000000);
    c.input = LatentClassInput(40, 6, 1000000, data, "ite 10 cri 0");
  } else if (name == "lc100x500k") {
    const int records = Records(500000);
    WriteRecords(dir / data, 5, 5, 99, 2, records);
    c.input = LatentClassInput(99, 5, records, data, "");
  } else if (name == "lc200x500k") {
    const int records = Records(500000);
    WriteRecords(dir / data, 7, 5, 200, 2, records);
    c.input = LatentClassInput(200, 5, records, data, "");
  } else if (name == "bvr99x500k") {
    WriteRecords(dir / data, 5, 5, 99, 2, 500000);
    c.input = LatentClassInput(99, 5, 500000, data, "ite 5 cri 0");
    c.diagnostics = true;
  } else if (name == "lc4rst100") {
    WriteRecords(dir / data, 6, 4, 6, 2, 10000);
    c.input = LatentClassInput(6, 4, 10000, data, "rst 100");
    c.random_starts = true;
  } else {
    std::cerr << "unknown case " << name << "\n";
    std::exit(2);
  }
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: tav_scale_bench CASE DIR\n";
    return 2;
  }
  const std::string name = argv[1];
  const fs::path dir = argv[2];
  fs::create_directories(dir);
  Case c = MakeCase(name, dir);
  if (const char* extra = std::getenv("TAV_SCALE_SETTINGS")) {
    c.input.insert(c.input.rfind("dat "), std::string(extra) + "\n");
  }
  const fs::path input = dir / (name + ".inp");
  std::ofstream(input) << c.input;

  std::ostream null_stream(nullptr);
  tav::ConsolePresentation console(null_stream, null_stream);
  auto setup = [&](tav::ProgramRun& run) {
    run.context.presentation = &console;
    run.context.arguments = {input.string(), (dir / (name + ".out")).string(), dir.string() + "/"};
    run.context.InputFileName = input.string();
    run.context.OutputFileName = run.context.arguments[1];
  };
  std::string line = name;
  try {
    if (c.read_only) {
      // Three readings, each by a run of its own; the medians of their CPU and wall times, and
      // the rates over the data file's bytes (10^6 bytes a MB) from them.
      std::vector<double> cpu;
      std::vector<double> wall;
      for (int repeat = 0; repeat < 3; ++repeat) {
        tav::ProgramRun again;
        setup(again);
        const Timer reading;
        tav::ParseRun(again);
        cpu.push_back(Seconds(CLOCK_PROCESS_CPUTIME_ID) - reading.cpu);
        wall.push_back(Seconds(CLOCK_MONOTONIC) - reading.wall);
      }
      std::sort(cpu.begin(), cpu.end());
      std::sort(wall.begin(), wall.end());
      const double megabytes = static_cast<double>(fs::file_size(dir / (name + ".dat"))) / 1e6;
      line += " read " + std::to_string(cpu[1]) + " " + std::to_string(wall[1]) + " MB_s " +
              std::to_string(megabytes / cpu[1]) + " " + std::to_string(megabytes / wall[1]);
    }
    if (!c.read_only) {
      const Timer all;
      tav::ProgramRun run;
      setup(run);
      tav::ParseRun(run);
      const Timer fit;
      if (c.random_starts) {
        tav::StartRandomGenerator(run);  // the run's seed, as the program takes it
        tav::FitFromRandomStarts(run);
        line += " fit " + fit.Text() + " starts " + std::to_string(run.random_starts.size()) +
                " at_best " + std::to_string(tav::StartsAtBest(run.random_starts));
      } else {
        tav::StartRandomGenerator(run);  // the start values the program draws
        tav::FitModel(run);
        line += " fit " + fit.Text() + " iterations " + std::to_string(run.estimation.iteration);
      }
      if (c.diagnostics) {
        tav::DiagnosticsResults results;
        const Timer pairs;
        tav::ComputeBivariateResiduals(run, results);
        line += " bvr " + pairs.Text();
        const Timer classes;
        results.classification = tav::ClassifyEntries(run);
        line += " classification " + classes.Text();
        if (results.pairs != tav::DiagnosticsResults::Pairs::kShown) {
          std::cout << name << " stopped: the pairs were not computed\n";
          return 1;
        }
      }
      if (c.whole_run) {
        // What the program does after the fit: the standard errors where they are wanted, then
        // the report.
        if (tav::StandardErrorsWanted(run)) {
          tav::ComputeStandardErrors(run, tav::Evaluator(run));
        } else if (run.settings.show_std_errors && run.estimation.free_parameters.full) {
          tav::SkipStandardErrors(run, tav::kMaxFreeParameters, false);
        }
        tav::WriteReport(run);
        line += " run " + all.Text();
      }
    }
  } catch (const tav::StopRunError& stop) {
    std::cout << name << " stopped: " << stop.message() << "\n";
    return 1;
  }
  std::cout << line << " peak_MB " << PeakMegabytes() << "\n";
  return 0;
}
