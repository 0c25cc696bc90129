// Benchmarks of the estimation: hierarchical log-linear models, latent class models, a
// log-linear model with a design effect and a cumulative logit model on generated data. Every
// case is an input file in the command language, read by ParseInput (not timed) and estimated
// by Estimate (timed, in CPU time of the process) with "ite k" and "cri 0", so that exactly k
// iterations run; the report is not written. The results case (family results) times the
// report instead, after an estimation that is not timed; the correspondence case (family
// correspondence) times the estimation to convergence and its correspondence analysis report.
//
//   tav_bench [Google Benchmark flags]   run the cases
//   tav_bench --list                     one line per case, tab-separated: name, family
//                                        (loglinear, latent, design or cumulative), k, cells
//                                        of the manifest table, distinct patterns,
//                                        observations, description
//   tav_bench --write-inputs DIR         write NAME.inp for every case, NAME.loglin for the
//                                        hierarchical ones (for bench/loglin.R) and NAME.fit
//                                        for the design and cumulative ones (for bench/fit.R)
//   tav_bench --converged NAME           estimate a design or cumulative case to convergence
//                                        once and print the iterations, log-likelihood and
//                                        L-squared, full precision, on one line
//
// Counters: ms_per_iter (time of Estimate divided by k), ms_start (time of Estimate with
// "ite 0": the set-up, start values and iteration 0), ms_per_iter_steady (the difference of
// the two divided by k: one iteration without the set-up), peak_MB (the process's peak
// resident memory, getrusage ru_maxrss; run one case per process for a figure of that case
// alone), base_MB (the peak before the first estimation: generator and input text),
// patterns (distinct response patterns), observations. The design and cumulative cases are
// also estimated to convergence, from the same input without the "ite" and "cri" lines (the
// default criterion): ms_converged (time of Estimate), iterations_converged (the iterations it
// used). The results case: ms_per_iter is the time of the report with its results document,
// ms_peer that of the same report without the document. The correspondence case: ms_per_iter
// is the time of the estimation (to convergence) and the correspondence analysis report.

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <string>

#include "cases.h"
#include "core/console_presentation.h"
#include "core/random.h"
#include "core/stop_run.h"
#include "data/parse_input.h"
#include "estimation/hazard_model.h"
#include "newton/run_state.h"
#include "report/correspondence_report.h"
#include "report/simulation.h"
#include "report/write_report.h"
#include "tav95/run_driver.h"

namespace {

namespace fs = std::filesystem;
using tav::bench::BenchCase;

// CPU time of the process: other work on the machine does not count against the engine.
double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Wall time, for the runs with two threads (whose CPU time counts both).
double WallSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
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

// A case is generated and its input written when it is first run, with one thread ("thr 1"),
// with a copy that stops after the start iteration ("ite 0"), which times the set-up of the
// estimation, a copy with two threads ("thr 2"), and for the cases fitted to convergence a
// copy without the "ite" and "cri" lines.
struct PreparedCase {
  BenchCase c;
  std::string input_path;
  std::string two_threads_path;
  std::string start_only_path;
  std::string converged_path;
  // A results case: the same input without its wjs line.
  std::string peer_path;
  double base_megabytes = 0;
};

// The input without the line that starts with "\n" + line (the first such line).
std::string WithoutLine(std::string input, const std::string& line) {
  const std::size_t at = input.find("\n" + line + "\n");
  if (at != std::string::npos) input.erase(at + 1, line.size() + 1);
  return input;
}

const PreparedCase& Prepare(const std::string& name) {
  static std::map<std::string, PreparedCase> prepared;
  auto it = prepared.find(name);
  if (it != prepared.end()) return it->second;
  PreparedCase p;
  p.c = tav::bench::MakeCase(name);
  fs::create_directories(InputDirectory());
  const std::string ite_line = "\nite " + std::to_string(p.c.iterations) + "\n";
  const std::size_t ite_at = p.c.input.find(ite_line);
  if (ite_at != std::string::npos && p.c.family == "loglinear") {
    std::string two = p.c.input;
    two.insert(ite_at + 1, "thr 2\n");
    p.two_threads_path = (InputDirectory() / (name + "_thr2.inp")).string();
    WriteFile(p.two_threads_path, two);
  }
  if (ite_at != std::string::npos) p.c.input.insert(ite_at + 1, "thr 1\n");
  p.input_path = (InputDirectory() / (name + ".inp")).string();
  WriteFile(p.input_path, p.c.input);
  if (tav::bench::FitsToConvergence(p.c)) {
    p.converged_path = (InputDirectory() / (name + "_converged.inp")).string();
    WriteFile(
        p.converged_path,
        WithoutLine(WithoutLine(p.c.input, "ite " + std::to_string(p.c.iterations)), "cri 0"));
  }
  if (p.c.family == "results") {
    p.peer_path = (InputDirectory() / (name + "_peer.inp")).string();
    WriteFile(p.peer_path, WithoutLine(p.c.input, "wjs lc12x3.json"));
  }
  const std::string ite = "\nite " + std::to_string(p.c.iterations) + "\n";
  const std::size_t at = p.c.input.find(ite);
  if (at != std::string::npos && p.c.family != "results") {
    p.start_only_path = (InputDirectory() / (name + "_ite0.inp")).string();
    WriteFile(p.start_only_path, p.c.input.replace(at, ite.size(), "\nite 0\n"));
  }
  p.c.input.clear();
  p.c.input.shrink_to_fit();
  p.c.table.clear();
  p.c.table.shrink_to_fit();
  p.base_megabytes = PeakMegabytes();
  return prepared.emplace(name, std::move(p)).first->second;
}

// The state at the end of an estimation.
struct FitEnd {
  int iterations = 0;
  double l_squared = 0;
  double log_likelihood = 0;
};

// What TimedRun times: the estimation (with the simulation a sim request asks for), the
// report and the result files it writes after an estimation that is not timed, or the
// estimation and the correspondence analysis report together.
enum class Timed { kEstimate, kReport, kAnalysis };

// Reads the input (not timed) and returns the CPU seconds of what is timed; error is set when
// the run stops or ends at another iteration than expected (expected_iterations < 0: any).
double TimedRun(const std::string& input, int expected_iterations, std::string& error,
                FitEnd* end = nullptr, Timed timed = Timed::kEstimate, bool wall = false) {
  const auto seconds = wall ? WallSeconds : CpuSeconds;
  std::ostream null_stream(nullptr);
  tav::ConsolePresentation console(null_stream, null_stream);
  tav::ProgramRun run;
  run.context.presentation = &console;
  // Three arguments: window mode without a log file; the log lines go to the null stream.
  run.context.arguments = {input, (InputDirectory() / "report.out").string(),
                           InputDirectory().string() + "/"};
  run.context.InputFileName = input;
  double elapsed = 0;
  try {
    tav::ParseRun(run);
    tav::StartRandomGenerator(run);  // fixes the random seed as a run does
    if (timed == Timed::kAnalysis) {
      run.context.OutputFileName = run.context.arguments[1];
      const double start = CpuSeconds();
      tav::FitModel(run);
      tav::WriteCorrespondenceReport(run, run.model.CorrespondenceType);
      elapsed = CpuSeconds() - start;
    } else if (timed == Timed::kReport) {
      run.context.OutputFileName = run.context.arguments[1];
      tav::FitModel(run);
      const double start = CpuSeconds();
      tav::WriteReport(run);
      elapsed = CpuSeconds() - start;
    } else {
      const double start = seconds();
      tav::FitModel(run);
      if (!run.settings.simulate_file.empty()) tav::SimulateData(run);
      elapsed = seconds() - start;
    }
  } catch (const tav::StopRunError& stop) {
    error = "the run stopped:" + stop.message();
    return 0;
  }
  if (expected_iterations >= 0 && run.estimation.iteration != expected_iterations) {
    error = "stopped after " + std::to_string(run.estimation.iteration) +
            " iterations instead of " + std::to_string(expected_iterations);
  }
  if (end != nullptr) {
    end->iterations = run.estimation.iteration;
    // A hazard model's L-squared is that of its hazard part.
    end->l_squared = tav::HazardWorkOf(run).table >= 0 ? tav::HazardPartFit(run).l_squared
                                                       : 2 * run.estimation.HalfLSquared;
    end->log_likelihood = run.estimation.LogLikelihood;
  }
  return elapsed;
}

void RunCase(benchmark::State& state, const std::string& name) {
  const PreparedCase& p = Prepare(name);
  double all_seconds = 0;
  double start_seconds = 0;
  double converged_seconds = 0;
  double peer_seconds = 0;
  double two_threads_seconds = 0;
  FitEnd converged;
  std::string error;
  const Timed timed = p.c.family == "results"          ? Timed::kReport
                      : p.c.family == "correspondence" ? Timed::kAnalysis
                                                       : Timed::kEstimate;
  // An analysis estimates to convergence, with the iterations that takes.
  const int iterations = timed == Timed::kAnalysis ? -1 : p.c.iterations;
  for (auto _ : state) {
    const double seconds = TimedRun(p.input_path, iterations, error, nullptr, timed);
    if (error.empty() && !p.peer_path.empty()) {
      peer_seconds += TimedRun(p.peer_path, p.c.iterations, error, nullptr, timed);
    }
    if (error.empty() && !p.two_threads_path.empty()) {
      two_threads_seconds += TimedRun(p.two_threads_path, iterations, error, nullptr, timed, true);
    }
    if (error.empty() && !p.start_only_path.empty()) {
      start_seconds += TimedRun(p.start_only_path, 0, error);
    }
    if (error.empty() && !p.converged_path.empty()) {
      converged_seconds += TimedRun(p.converged_path, -1, error, &converged);
    }
    if (!error.empty()) {
      state.SkipWithError(error.c_str());
      break;
    }
    state.SetIterationTime(seconds);
    all_seconds += seconds;
  }
  const double runs = static_cast<double>(state.iterations());
  if (error.empty() && runs > 0) {
    // A simulation runs the start iteration only, a results case times the report and an
    // analysis the estimation and its report: their figure is the whole time.
    const double k = timed != Timed::kEstimate ? 1 : std::max(p.c.iterations, 1);
    state.counters["ms_per_iter"] = 1e3 * all_seconds / (runs * k);
    state.counters["ms_start"] = 1e3 * start_seconds / runs;
    state.counters["ms_per_iter_steady"] = 1e3 * (all_seconds - start_seconds) / (runs * k);
    if (!p.peer_path.empty()) state.counters["ms_peer"] = 1e3 * peer_seconds / runs;
    if (!p.two_threads_path.empty()) {
      state.counters["ms_per_iter_thr2_wall"] = 1e3 * two_threads_seconds / (runs * k);
    }
    if (!p.converged_path.empty()) {
      state.counters["ms_converged"] = 1e3 * converged_seconds / runs;
      state.counters["iterations_converged"] = converged.iterations;
    }
  }
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
    if (c.family == "loglinear") {
      WriteFile(fs::path(dir) / (name + ".loglin"), tav::bench::LoglinFile(c));
    }
    if (!c.fit_data.empty()) WriteFile(fs::path(dir) / (name + ".fit"), c.fit_data);
  }
  return 0;
}

int List() {
  for (const std::string& name : tav::bench::CaseNames()) {
    const BenchCase c = tav::bench::MakeCase(name);
    std::int64_t cells = 1;
    for (int d : c.dims) cells *= d;
    std::cout << name << '\t' << c.family << '\t' << c.iterations << '\t' << cells << '\t'
              << c.patterns << '\t' << c.observations << '\t' << c.description << '\n';
  }
  return 0;
}

int Converged(const std::string& name) {
  const auto names = tav::bench::CaseNames();
  if (std::find(names.begin(), names.end(), name) == names.end()) {
    std::cerr << "no case " << name << "\n";
    return 1;
  }
  const PreparedCase& p = Prepare(name);
  std::string error = p.converged_path.empty() ? name + " is not fitted to convergence" : "";
  FitEnd end;
  if (error.empty()) TimedRun(p.converged_path, -1, error, &end);
  std::error_code ignored;
  fs::remove_all(InputDirectory(), ignored);
  if (!error.empty()) {
    std::cerr << error << "\n";
    return 1;
  }
  std::cout << end.iterations << ' ' << std::fixed << std::setprecision(6) << end.log_likelihood
            << ' ' << end.l_squared << '\n';
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "--list") return List();
  if (argc >= 3 && std::string(argv[1]) == "--write-inputs") return WriteInputs(argv[2]);
  if (argc >= 3 && std::string(argv[1]) == "--converged") return Converged(argv[2]);
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
