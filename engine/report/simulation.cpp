#include "report/simulation.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "core/format_real.h"
#include "core/log.h"
#include "core/random.h"
#include "core/stop_run.h"
#include "estimation/hazard_model.h"
#include "report/history_simulation.h"
#include "report/record_fields.h"
#include "report/report_computations.h"

namespace tav {
namespace {

// The categories (from 0) of the manifest variables in cell `cell` of subgroup s's observed
// table, the first observed variable most significant; 0 for those s does not observe.
std::vector<int> CellCategories(const ModelState& model, int s, std::int64_t cell) {
  const Membership& pattern = model.SubgroupPattern[s];
  std::vector<int> category(static_cast<std::size_t>(model.ManifestCount), 0);
  for (int m = model.ManifestCount - 1; m >= 0; --m) {
    if (pattern[m] != 1) continue;
    const int d = std::max(model.Dimension[model.FirstManifest() + m], 1);
    category[m] = static_cast<int>(cell % d);
    cell /= d;
  }
  return category;
}

// A weight: width 15 with 8 decimals, and a blank before it however wide it is.
std::string WeightField(double weight) {
  const std::string text = FormatReal(15, 8, weight);
  return text.front() == ' ' ? text : " " + text;
}

// Data of a model without an event-history part; returns their total count. The one table it
// keeps, the cumulative probabilities of the cells of all subgroups (8 bytes a cell), counts
// against the memory budget; the record lines are formed as they are written.
double SimulateTable(RunState& run, TextFile& file) {
  const ModelState& model = run.model;
  const std::int32_t count = run.settings.simulate_count;

  // The cells of all subgroups in order: subgroup s has the cells from first[s] on.
  std::vector<std::int64_t> first(model.SubgroupCount + 1, 0);
  for (int s = 0; s < model.SubgroupCount; ++s) {
    first[s + 1] = first[s] + static_cast<std::int64_t>(model.subgroup_cell_count[s]);
  }
  const std::int64_t cells = first.back();
  const MemoryReservation reserved(run.context, static_cast<double>(cells) * sizeof(double));
  std::vector<double> cumulative;
  cumulative.reserve(static_cast<std::size_t>(cells));
  double total = 0;
  for (int s = 0; s < model.SubgroupCount; ++s) {
    for (std::int64_t c = 0; c < first[s + 1] - first[s]; ++c) {
      const double value = EstimatedObservedFrequency(run, s, static_cast<double>(c));
      if (!std::isfinite(value) || value < 0) total = NAN;
      total += value;
      cumulative.push_back(total);
    }
  }
  if (!(total > 0) || !std::isfinite(total)) {
    StopRun("  Error: the model gives no probabilities to simulate data from");
  }
  for (double& value : cumulative) value /= total;

  const RecordFields fields(run);
  auto record = [&](std::int64_t k) {
    const int s =
        static_cast<int>(std::upper_bound(first.begin(), first.end(), k) - first.begin()) - 1;
    return fields.Text(s, CellCategories(model, s, k - first[s]));
  };
  const bool counts = run.history.RecordCountGiven;
  if (count < 1) {
    // Expected data.
    double previous = 0;
    for (std::int64_t k = 0; k < cells; ++k) {
      std::string line = record(k);
      const double at = cumulative[static_cast<std::size_t>(k)];
      if (count < 0 || counts) line += WeightField((at - previous) * -count);
      previous = at;
      file.WriteLine(line);
    }
    return -static_cast<double>(count);
  }
  const std::string count_field = counts ? IntegerField(1) : "";
  for (std::int32_t i = 0; i < count; ++i) {
    const double u = NextRandom(run.estimation.random);
    auto at = std::lower_bound(cumulative.begin(), cumulative.end(), u);
    if (at == cumulative.end()) --at;
    file.WriteLine(record(at - cumulative.begin()) + count_field);
  }
  return count;
}

}  // namespace

void CheckSimulationAvailable(const RunState& run) {
  if (!DataSimulated(run)) return;
  const bool records = run.history.RecordFormat || run.history.PerRecordOutput;
  if (records && run.model.SubgroupsWithoutSub) {
    StopRun(
        "  Error: sim cannot simulate records of several subgroups without sub: the data "
        "reader would make the subgroups from the patterns in the order they appear");
  }
  CheckHistorySimulation(run);
}

void SimulateData(RunState& run) {
  WriteLogLine(run.context, "  simulating data");
  // Beside the data files, like the other result files.
  run.context.FilePrefix = run.context.InputPrefix();
  OpenTextFile(run.context, run.context.ResultFile, run.settings.simulate_file, "w",
               TextFile::Destination::kReplaceWhenComplete);
  TextFile& file = run.context.ResultFile;
  std::int64_t draws = 0;
  if (HazardWorkOf(std::as_const(run)).table >= 0) {
    ShuffledRandom random(run.estimation.random);
    run.simulated_total = SimulateHistories(run, file, random);
    draws = random.draws();
  } else {
    run.simulated_total = SimulateTable(run, file);
    draws = std::max<std::int64_t>(run.settings.simulate_count, 0);
  }
  CloseTextFile(file);
  run.context.FilePrefix.clear();
  if (draws > kRandomPeriod) {
    WriteLogLine(run.context, "  Warning: the simulation drew " +
                                  FormatReal(0, 0, static_cast<double>(draws)) +
                                  " random numbers, more than the generator's period of " +
                                  FormatReal(0, 0, static_cast<double>(kRandomPeriod)) +
                                  ": the data repeat themselves");
  }
}

}  // namespace tav
