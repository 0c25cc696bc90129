#include "tav95/random_starts.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/format_real.h"
#include "core/log.h"
#include "core/parallel.h"
#include "core/random.h"
#include "core/stop_run.h"
#include "tav95/run_driver.h"

namespace tav {
namespace {

// What the threads of the starts share with the thread that serves the window.
struct StartBoard {
  std::mutex mutex;
  std::condition_variable changed;
  int next = 0;  // the next start to hand out
  int finished = 0;
  std::vector<char> done;
  RunProgress latest;  // the progress a start reported last
  bool stop = false;   // the run was cancelled, or a thread failed
  std::exception_ptr failure;
};

// One thread's fits: a context of its own away from the window, and a fit on the run's parsed
// input with one thread (the starts are the parallel work).
struct StartFit {
  explicit StartFit(const RunState& run) : fit(context, run.parsed) {
    context.TakeFitSettings(run.context);
    context.progress.starts = run.context.progress.starts;
    fit.thread_limit = 1;
    fit.families = run.families;
  }
  RunContext context;
  RunState fit;
};

// Starts run's fit afresh from a generator set as `see seed` would.
void StartFrom(RunState& run, int start, std::int32_t seed) {
  run.estimation = EstimationState{};
  run.newton = NewtonState{};
  run.estimation.random.state = seed;
  run.estimation.random.amplitude = SeedAmplitude(seed);
  run.estimation.random.seed_used = seed;
  run.ShowProgress();
  run.context.progress.start = start;
  run.best_start = start;
}

double ExtrapolatedLimit(const EstimationState& est) {
  const std::vector<IterationRecord>& history = est.iteration_history;
  const double at = est.LogLikelihood;
  if (history.size() < 3) return at;
  const double s1 = history[history.size() - 2].stop_criterion;
  const double s2 = history.back().stop_criterion;
  if (!(s1 > 0 && s2 > 0 && s2 < s1)) return at;
  const double r = s2 / s1;
  return at + s2 * r / (1 - r);
}

// One start on copy; a cancel goes on to the caller, any other stop is the start's outcome.
RandomStartOutcome FitStart(RunState& copy, int start, std::int32_t seed) {
  RandomStartOutcome outcome;
  outcome.start = start;
  outcome.seed = seed;
  StartFrom(copy, start, seed);
  try {
    FitModel(copy);
    outcome.log_likelihood = copy.estimation.LogLikelihood;
    outcome.limit = ExtrapolatedLimit(copy.estimation);
    outcome.iterations = copy.estimation.iteration;
    outcome.converged = !(copy.estimation.stop_criterion > copy.settings.convergence_criterion);
  } catch (const StopRunError& stop) {
    if (stop.reason() != StopReason::kError) throw;
    std::string message = stop.message();
    const std::string margin = "  Error: ";
    if (message.compare(0, margin.size(), margin) == 0) message.erase(0, margin.size());
    outcome.failed = true;
    outcome.error = message;
    outcome.iterations = copy.estimation.iteration;
  }
  return outcome;
}

std::string OutcomeLine(const RandomStartOutcome& outcome, int count) {
  std::string line = "  start " + FormatReal(0, 0, outcome.start) + " of " +
                     FormatReal(0, 0, count) + ", seed " + FormatReal(0, 0, outcome.seed) + ": ";
  if (outcome.failed) return line + outcome.error;
  line += FormatReal(0, 5, outcome.log_likelihood) + " after " +
          FormatReal(0, 0, outcome.iterations) + " iterations";
  if (!outcome.converged) line += " (not converged)";
  return line;
}

// The threads of the starts; they are stopped and joined however the serving thread leaves.
class StartThreads {
 public:
  explicit StartThreads(StartBoard& board) : board_(board) {}
  ~StartThreads() {
    {
      const std::lock_guard<std::mutex> lock(board_.mutex);
      board_.stop = true;
    }
    Join();
  }
  void Add(std::thread thread) { threads_.push_back(std::move(thread)); }
  void Join() {
    for (std::thread& thread : threads_) {
      if (thread.joinable()) thread.join();
    }
  }

 private:
  StartBoard& board_;
  std::vector<std::thread> threads_;
};

void WorkOnStarts(StartBoard& board, RunState& copy, const std::vector<std::int32_t>& seeds,
                  std::vector<RandomStartOutcome>& outcomes) {
  copy.context.background_progress = [&board](const RunProgress& progress) {
    const std::lock_guard<std::mutex> lock(board.mutex);
    board.latest = progress;
    return board.stop;
  };
  const int count = static_cast<int>(seeds.size());
  for (;;) {
    int k = 0;
    {
      const std::lock_guard<std::mutex> lock(board.mutex);
      if (board.stop || board.next >= count) return;
      k = board.next++;
    }
    try {
      RandomStartOutcome outcome = FitStart(copy, k + 1, seeds[k]);
      const std::lock_guard<std::mutex> lock(board.mutex);
      outcomes[k] = std::move(outcome);
      board.done[k] = 1;
      ++board.finished;
    } catch (const StopRunError&) {
      return;  // cancelled: the serving thread ends the run
    } catch (...) {
      const std::lock_guard<std::mutex> lock(board.mutex);
      if (!board.failure) board.failure = std::current_exception();
      board.stop = true;
    }
    board.changed.notify_all();
  }
}

}  // namespace

void FitFromRandomStarts(RunState& run) {
  // The submodels, and the hazard part after them in an event-history model.
  const ModelState& model = run.model;
  const int submodels = std::min(static_cast<int>(model.submodels.size()),
                                 model.SubmodelCount + (run.history.HazardModel ? 1 : 0));
  bool any_random = false;
  for (int r = 0; r < submodels; ++r) any_random |= model.submodels[r].random_start;
  // A simulation draws data from the start values and estimates nothing.
  if (!run.settings.simulate_file.empty()) {
    StopRun(
        "  Error: command rst cannot be used with sim: simulated data are drawn from the start "
        "values, not estimated");
  }
  if (!any_random) StopRun("  Error: command rst needs random start values (see ran)");

  const std::vector<std::int32_t> seeds = RandomStartSeeds(
      run.estimation.random.seed_used, run.estimation.random.amplitude, run.settings.random_starts);
  const int count = static_cast<int>(seeds.size());
  const int threads = std::max(1, std::min(ThreadCount(run.Threads()), count));
  run.context.progress.starts = count;
  WriteLogLine(run.context, "  " + FormatReal(0, 0, count) + " random starts");

  StartBoard board;
  board.done.assign(count, 0);
  std::vector<RandomStartOutcome> outcomes(count);
  std::vector<std::unique_ptr<StartFit>> copies;
  for (int t = 0; t < threads; ++t) copies.push_back(std::make_unique<StartFit>(run));
  {
    StartThreads pool(board);
    for (int t = 0; t < threads; ++t) {
      pool.Add(std::thread(WorkOnStarts, std::ref(board), std::ref(copies[t]->fit),
                           std::cref(seeds), std::ref(outcomes)));
    }
    int logged = 0;
    int shown = -1;
    for (;;) {
      std::vector<std::string> lines;
      RunProgress progress;
      bool all = false;
      int finished = 0;
      {
        std::unique_lock<std::mutex> lock(board.mutex);
        board.changed.wait_for(lock, std::chrono::milliseconds(100), [&] {
          return board.failure || (logged < count && board.done[logged]) || board.finished == count;
        });
        for (; logged < count && board.done[logged]; ++logged) {
          lines.push_back(OutcomeLine(outcomes[logged], count));
        }
        progress = board.latest;
        finished = board.finished;
        all = board.failure || (finished == count && logged == count);
      }
      progress.starts = count;
      // The Info button shows the start that reported last.
      run.context.progress = progress;
      for (const std::string& line : lines) WriteLogLine(run.context, line);
      RunContext& context = run.context;
      if (lines.empty() && context.presentation != nullptr &&
          context.presentation->PumpEvents(progress)) {
        StopRun(StopReason::kCancel);
      }
      const int position = finished * 100 / count;
      if (context.LogFileMode() && position != shown && context.presentation != nullptr) {
        context.progress_position = position;
        context.presentation->ProgressStep(position);
        shown = position;
      }
      if (all) break;
    }
    pool.Join();
  }
  if (board.failure) std::rethrow_exception(board.failure);
  copies.clear();

  int best = -1;
  for (int k = 0; k < count; ++k) {
    const RandomStartOutcome& outcome = outcomes[k];
    if (outcome.failed) continue;
    if (best < 0 || outcome.log_likelihood > outcomes[best].log_likelihood) best = k;
  }
  const int winner = best < 0 ? 0 : best;
  run.random_starts = std::move(outcomes);
  WriteLogLine(run.context, "  best of " + FormatReal(0, 0, count) + " starts: start " +
                                FormatReal(0, 0, winner + 1) + " (seed " +
                                FormatReal(0, 0, seeds[winner]) + "), fitted again");
  StartFrom(run, winner + 1, seeds[winner]);
  FitModel(run);
}

}  // namespace tav
