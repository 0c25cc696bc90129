// Benchmarks of the estimation: hierarchical log-linear models and latent class models on
// generated data. Every case is an input file in the command language, read by ParseInput
// (not timed) and estimated by Estimate (timed, in CPU time of the process) with "ite k" and "cri
// 0", so that exactly k iterations run; the report is not written.
//
//   tav_bench [Google Benchmark flags]   run the cases
//   tav_bench --list                     one line per case, tab-separated: name, family
//                                        (loglinear or latent), k, cells of the manifest
//                                        table, distinct patterns, observations, description
//   tav_bench --write-inputs DIR         write NAME.inp for every case and NAME.loglin for
//                                        the hierarchical ones (for bench/loglin.R)
//
// Counters: ms_per_iter (time of Estimate divided by k), peak_MB (the process's peak
// resident memory, getrusage ru_maxrss; run one case per process for a figure of that case
// alone), base_MB (the peak before the first estimation: generator and input text),
// patterns (distinct response patterns), observations.

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "cases.h"
#include "core/console_presentation.h"
#include "core/random.h"
#include "core/run_state.h"
#include "core/stop_run.h"
#include "estimation/estimate.h"
#include "input/parse_input.h"

namespace {

namespace fs = std::filesystem;
using tav::bench::BenchCase;

// CPU time of the process: other work on the machine does not count against the engine.
double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

double PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in kilobytes
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

fs::path InputDirectory() {
  static const fs::path dir =
      fs::temp_directory_path() / ("tav_bench_" + std::to_string(static_cast<long>(getpid())));
  return dir;
}

// A case is generated and its input written when it is first run.
struct PreparedCase {
  BenchCase c;
  std::string input_path;
  double base_megabytes = 0;
};

const PreparedCase& Prepare(const std::string& name) {
  static std::map<std::string, PreparedCase> prepared;
  auto it = prepared.find(name);
  if (it != prepared.end()) return it->second;
  PreparedCase p;
  p.c = tav::bench::MakeCase(name);
  fs::create_directories(InputDirectory());
  p.input_path = (InputDirectory() / (name + ".inp")).string();
  WriteFile(p.input_path, p.c.input);
  p.c.input.clear();
  p.c.input.shrink_to_fit();
  p.c.table.clear();
  p.c.table.shrink_to_fit();
  p.base_megabytes = PeakMegabytes();
  return prepared.emplace(name, std::move(p)).first->second;
}

void RunCase(benchmark::State& state, const std::string& name) {
  const PreparedCase& p = Prepare(name);
  std::ostream null_stream(nullptr);
  tav::ConsolePresentation console(null_stream, null_stream);
  double estimate_seconds = 0;
  for (auto _ : state) {
    tav::RunState run;
    run.presentation = &console;
    // Three arguments: window mode without a log file; the log lines go to the null stream.
    run.arguments = {p.input_path, (InputDirectory() / (name + ".out")).string(),
                     InputDirectory().string() + "/"};
    run.InputFileName = p.input_path;
    try {
      tav::ParseInput(run);
      tav::TimeOfDaySeconds(run);  // fixes the random seed as a run does
      const double start = CpuSeconds();
      tav::Estimate(run);
      const double elapsed = CpuSeconds() - start;
      state.SetIterationTime(elapsed);
      estimate_seconds += elapsed;
    } catch (const tav::StopRunError& stop) {
      state.SkipWithError(("the run stopped:" + stop.message()).c_str());
      break;
    }
    if (run.IterationCount != p.c.iterations) {
      state.SkipWithError(("stopped after " + std::to_string(run.IterationCount) +
                           " iterations instead of " + std::to_string(p.c.iterations))
                              .c_str());
      break;
    }
  }
  const double runs = static_cast<double>(state.iterations());
  if (runs > 0) state.counters["ms_per_iter"] = 1e3 * estimate_seconds / (runs * p.c.iterations);
  state.counters["peak_MB"] = PeakMegabytes();
  state.counters["base_MB"] = p.base_megabytes;
  state.counters["patterns"] = static_cast<double>(p.c.patterns);
  state.counters["observations"] = static_cast<double>(p.c.observations);
  state.SetLabel(p.c.description);
}

int WriteInputs(const std::string& dir) {
  fs::create_directories(dir);
  for (const std::string& name : tav::bench::CaseNames()) {
    const BenchCase c = tav::bench::MakeCase(name);
    WriteFile(fs::path(dir) / (name + ".inp"), c.input);
    if (!c.latent) WriteFile(fs::path(dir) / (name + ".loglin"), tav::bench::LoglinFile(c));
  }
  return 0;
}

int List() {
  for (const std::string& name : tav::bench::CaseNames()) {
    const BenchCase c = tav::bench::MakeCase(name);
    std::int64_t cells = 1;
    for (int d : c.dims) cells *= d;
    std::cout << name << '\t' << (c.latent ? "latent" : "loglinear") << '\t' << c.iterations << '\t'
              << cells << '\t' << c.patterns << '\t' << c.observations << '\t' << c.description
              << '\n';
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "--list") return List();
  if (argc >= 3 && std::string(argv[1]) == "--write-inputs") return WriteInputs(argv[2]);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  for (const std::string& name : tav::bench::CaseNames()) {
    benchmark::RegisterBenchmark(name.c_str(), RunCase, name)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code error;
  fs::remove_all(InputDirectory(), error);
  return 0;
}
