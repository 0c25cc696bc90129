#include "report/posterior_writer.h"

#include <cmath>
#include <numeric>
#include <string>

#include "core/format_real.h"
#include "core/random.h"

namespace tav {

void WritePosteriorLine(RunState& run, int mode, int pattern, double count,
                        const std::vector<double>& vector) {
  const ModelState& model = run.model;
  std::vector<double> values(vector.begin(),
                             vector.begin() + std::min<std::size_t>(vector.size(), count));
  if (pattern == -1) {
    const double sum = std::accumulate(values.begin(), values.end(), 0.0);
    if (sum > 0) {
      for (double& value : values) value /= sum;
    }
  }
  std::string line;
  if (!run.history.RecordFormat && pattern >= 0) {
    const DataStore& data = run.data;
    const int g = data.entry_subgroup.empty() ? 0 : data.entry_subgroup[pattern];
    const Membership& observed = model.SubgroupPattern[g];
    const int first = model.FirstManifest();
    std::vector<int> category(model.ManifestCount, 0);
    long double cell = data.entry_cell[pattern];
    for (int m = model.ManifestCount - 1; m >= 0; --m) {
      if (observed[m] != 1) continue;
      const long double dim = model.Dimension[first + m];
      const long double quotient = std::floor(cell / dim);
      category[m] = static_cast<int>(cell - quotient * dim) + 1;
      cell = quotient;
    }
    for (int m = 0; m < model.ManifestCount; ++m) {
      line += observed[m] == 1 ? FormatReal(3, 0, category[m]) : "  0";
    }
    const double frequency = data.entry_count_given ? data.entry_count[pattern] : 1.0;
    line += FormatReal(10, 4, frequency);
  }
  if (mode == 1) {
    const auto classes = static_cast<std::size_t>(std::max(1.0, model.LatentStateCount));
    const std::size_t per_class = values.size() / classes;
    std::vector<double> sums(classes, 0.0);
    for (std::size_t c = 0; c < classes; ++c) {
      for (std::size_t k = 0; k < per_class; ++k) sums[c] += values[c * per_class + k];
      line += FormatReal(7, 4, sums[c]);
    }
    std::size_t modal = 0;
    for (std::size_t c = 1; c < classes; ++c) {
      if (sums[c] > sums[modal]) modal = c;
    }
    line += FormatReal(4, 0, static_cast<double>(modal + 1)) + FormatReal(7, 4, 1 - sums[modal]);
    if (run.history.RecordFormat || pattern == -1) {
      // A class drawn at random from the posterior distribution.
      if (!run.model.submodels.empty()) run.model.submodels[0].random_start = true;
      const double u = NextRandom(run);
      std::size_t drawn = 0;
      double cumulative = 0;
      for (std::size_t c = 0; c < classes; ++c) {
        drawn = c;
        cumulative += sums[c];
        if (cumulative > u) break;
      }
      line += FormatReal(4, 0, static_cast<double>(drawn + 1)) +
              FormatReal(7, 4, 1 - sums[drawn]);
    }
  } else {
    for (double value : values) line += FormatReal(7, 4, value);
  }
  run.ResultFile.WriteLine(line);
}

}  // namespace tav
