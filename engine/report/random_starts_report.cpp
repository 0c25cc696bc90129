#include "report/random_starts_report.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <numeric>
#include <string>
#include <vector>

#include "core/format_real.h"
#include "report/write_report.h"

namespace tav {
namespace {

// Ranks the starts: the fits that went through by their log-likelihood, largest first, equal ones
// in start order; then the failed ones in start order.
std::vector<int> RankedStarts(const std::vector<RandomStartOutcome>& starts) {
  std::vector<int> order(starts.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    if (starts[a].failed != starts[b].failed) return !starts[a].failed;
    if (starts[a].failed) return false;
    return starts[a].log_likelihood > starts[b].log_likelihood;
  });
  return order;
}

}  // namespace

int StartsAtBest(const std::vector<RandomStartOutcome>& starts) {
  // The limit of the best start (the first of equal ones) is where the others must be heading.
  const RandomStartOutcome* best = nullptr;
  for (const RandomStartOutcome& start : starts) {
    if (!start.failed && (best == nullptr || start.log_likelihood > best->log_likelihood)) {
      best = &start;
    }
  }
  if (best == nullptr) return 0;
  int count = 0;
  for (const RandomStartOutcome& start : starts) {
    if (!start.failed && std::fabs(start.limit - best->limit) <= kSameMaximum) ++count;
  }
  return count;
}

RandomStartsResults ComputeRandomStarts(const RunState& run) {
  RandomStartsResults results;
  results.starts = run.random_starts;
  if (results.starts.empty()) return results;
  results.ranked = RankedStarts(results.starts);
  results.at_best = StartsAtBest(results.starts);
  results.best_start = run.best_start;
  return results;
}

void WriteRandomStartsSection(const RandomStartsResults& results, TextFile& out) {
  const std::vector<RandomStartOutcome>& starts = results.starts;
  if (starts.empty()) return;
  out.WriteLine("");
  out.WriteLine("*** RANDOM STARTS ***");
  out.WriteLine("");
  out.WriteLine("   Rank  Start       Seed    Log-likelihood  Iterations  Converged");
  int rank = 0;
  for (int k : results.ranked) {
    const RandomStartOutcome& start = starts[k];
    std::string line =
        FormatReal(7, 0, ++rank) + FormatReal(7, 0, start.start) + FormatReal(11, 0, start.seed);
    if (start.failed) {
      line += "    " + start.error;
    } else {
      line += FormatReal(18, 5, start.log_likelihood) + FormatReal(12, 0, start.iterations) +
              Blanks(2) + (start.converged ? "yes" : "no");
    }
    out.WriteLine(line);
  }
  const int count = static_cast<int>(starts.size());
  out.WriteLine("");
  out.WriteLine("  Starts at the best log-likelihood (within " + FormatReal(0, 4, kSameMaximum) +
                ") = " + FormatReal(0, 0, results.at_best) + " of " + FormatReal(0, 0, count));
  if (results.at_best < 2) {
    out.WriteLine("  Warning: fewer than two starts reached the best log-likelihood; it may be a");
    out.WriteLine("  local maximum. Ask for more starts (rst).");
  }
  out.WriteLine("");
}

void RecordRandomStarts(RunState& run, const RandomStartsResults& results) {
  if (!run.results || results.starts.empty()) return;
  using Json = nlohmann::ordered_json;
  Json list = Json::array();
  for (const RandomStartOutcome& start : results.starts) {
    Json entry = {{"start", start.start},
                  {"seed", start.seed},
                  {"log_likelihood", start.failed ? Json(nullptr) : Json(start.log_likelihood)},
                  {"iterations", start.iterations},
                  {"converged", !start.failed && start.converged}};
    if (start.failed) entry["error"] = start.error;
    list.push_back(std::move(entry));
  }
  (*run.results)["random_starts"] = {{"tolerance", kSameMaximum},
                                     {"at_best", results.at_best},
                                     {"best_start", results.best_start},
                                     {"starts", std::move(list)}};
}

}  // namespace tav
