#include "report/simulation.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/format_real.h"
#include "core/log.h"
#include "core/random.h"
#include "core/stop_run.h"
#include "report/report_computations.h"

namespace tav {
void SimulateData(RunState& run) {
  const ModelState& model = run.model;
  const std::int32_t count = run.settings.simulate_count;
  WriteLogLine(run, "  simulating data");

  // The probabilities of the cells of all subgroups, in order.
  std::vector<double> cumulative;
  std::vector<int> subgroup_of;
  std::vector<std::int64_t> cell_of;
  double total = 0;
  for (int s = 0; s < model.SubgroupCount; ++s) {
    const std::int64_t cells = model.subgroup_cell_count[s];
    for (std::int64_t c = 0; c < cells; ++c) {
      const double value = EstimatedObservedFrequency(run, s, static_cast<double>(c));
      if (!std::isfinite(value) || value < 0) total = NAN;
      total += value;
      cumulative.push_back(total);
      subgroup_of.push_back(s);
      cell_of.push_back(c);
    }
  }
  if (!(total > 0) || !std::isfinite(total)) {
    StopRun("  Error: the model gives no probabilities to simulate data from");
  }
  for (double& value : cumulative) value /= total;

  // Beside the data files, like the other result files.
  run.FilePrefix = run.InputPrefix();
  OpenTextFile(run, run.ResultFile, run.settings.simulate_file, "w",
               TextFile::Destination::kReplaceWhenComplete);
  TextFile& file = run.ResultFile;
  if (count < 1) {
    // Expected data.
    double previous = 0;
    for (std::size_t k = 0; k < cumulative.size(); ++k) {
      std::string line = DataRecordLine(model, subgroup_of[k], cell_of[k]);
      if (count < 0) line += FormatReal(15, 8, (cumulative[k] - previous) * -count);
      previous = cumulative[k];
      file.WriteLine(line);
    }
    run.data.total_count = -static_cast<double>(count);
  } else {
    // Every cell's record line once; the draws only look them up.
    std::vector<std::string> lines(cumulative.size());
    for (std::size_t k = 0; k < lines.size(); ++k) {
      lines[k] = DataRecordLine(model, subgroup_of[k], cell_of[k]);
    }
    for (std::int32_t i = 0; i < count; ++i) {
      const double u = NextRandom(run);
      auto at = std::lower_bound(cumulative.begin(), cumulative.end(), u);
      if (at == cumulative.end()) --at;
      file.WriteLine(lines[static_cast<std::size_t>(at - cumulative.begin())]);
    }
    run.data.total_count = count;
  }
  CloseTextFile(file);
  run.FilePrefix.clear();
}

}  // namespace tav
