#include "report/posterior_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "core/format_real.h"
#include "core/log.h"
#include "core/random.h"
#include "estimation/e_step.h"
#include "report/report_computations.h"

namespace tav {
namespace {

// The categories (from 1) of data entry `pattern` for every manifest variable, "  0" for the
// variables its subgroup does not observe, then its frequency.
std::string PatternText(const RunState& run, std::int64_t pattern) {
  const ModelState& model = run.model;
  const DataStore& data = run.data;
  const int subgroup = model.SubgroupCount > 1 ? data.entry_subgroup[pattern] : 0;
  const int first = model.FirstManifest();
  const Membership& marks = model.SubgroupPattern[std::clamp(
      subgroup, 0, static_cast<int>(model.SubgroupPattern.size()) - 1)];
  std::string text;
  for (int v = first; v < model.VariableCount; ++v) {
    const bool observed = marks[v - first] == 1 && v - first < data.category_items;
    text += observed ? FormatReal(3, 0, data.EntryCategory(pattern, v - first) + 1) : "  0";
  }
  return text + FormatReal(10, 4, data.entry_count[pattern]);
}

// Reads one line of file, without its line end; false at the end of the file.
bool ReadTextLine(TextFile& file, std::string& line) {
  line.clear();
  if (file.AtEnd()) return false;
  for (int c = file.Get(); c != TextFile::kEnd && c != '\n'; c = file.Get()) {
    if (c != '\r') line += static_cast<char>(c);
  }
  return true;
}

}  // namespace

void WritePosteriorLine(RunState& run, PosteriorFile file, std::int64_t pattern, double count,
                        const std::vector<double>& vector) {
  const std::size_t n =
      count > 0 ? std::min(static_cast<std::size_t>(count), vector.size()) : std::size_t{0};
  std::vector<double> p(vector.begin(), vector.begin() + static_cast<std::ptrdiff_t>(n));
  if (pattern == -1) {
    double sum = 0.0;
    for (double x : p) sum += x;
    if (sum > 0.0) {
      for (double& x : p) x /= sum;
    }
  }

  std::string line;
  if (!run.history.RecordFormat && pattern >= 0 && pattern < run.data.EntryCount()) {
    line = PatternText(run, pattern);
  }
  if (file == PosteriorFile::kLatentClasses) {
    const auto classes =
        static_cast<std::size_t>(std::max(1.0, std::round(run.model.LatentStateCount)));
    const std::size_t per_class = n / classes;
    std::vector<double> class_sum(classes, 0.0);
    for (std::size_t l = 0; l < classes; ++l) {
      for (std::size_t k = 0; k < per_class; ++k) class_sum[l] += p[l * per_class + k];
      line += FormatReal(7, 4, class_sum[l]);
    }
    const std::size_t modal = static_cast<std::size_t>(
        std::max_element(class_sum.begin(), class_sum.end()) - class_sum.begin());
    line +=
        FormatReal(4, 0, static_cast<double>(modal + 1)) + FormatReal(7, 4, 1.0 - class_sum[modal]);
    if (run.history.RecordFormat || pattern == -1) {
      // A class drawn from the posterior distribution, with the run's generator.
      const double u = NextRandom(run.estimation.random);
      std::size_t drawn = 0;
      double cumulative = 0.0;
      for (std::size_t l = 0; l < classes; ++l) {
        drawn = l;
        cumulative += class_sum[l];
        if (cumulative > u) break;
      }
      line += FormatReal(4, 0, static_cast<double>(drawn + 1)) +
              FormatReal(7, 4, 1.0 - class_sum[drawn]);
    }
  } else {
    for (double x : p) line += FormatReal(7, 4, x);
  }
  run.context.ResultFile.WriteLine(line);
}

void WritePosteriorFile(RunState& run, const std::string& name, PosteriorFile file) {
  OpenTextFile(run.context, run.context.ResultFile, name, "w",
               TextFile::Destination::kReplaceWhenComplete);
  std::vector<double> completions;
  if (run.data.latent_scratch_written) {
    // Aggregated records: one line per record, from its subgroup and cell.
    OpenScratchFile(run.context, run.context.DataFile, "latent.lat", "r");
    std::string line;
    while (ReadTextLine(run.context.DataFile, line)) {
      char* end = nullptr;
      const long subgroup = std::strtol(line.c_str(), &end, 10);
      if (end == line.c_str()) continue;
      const double cell = std::strtod(end, nullptr);
      const int p = static_cast<int>(subgroup);
      EstimatedObservedFrequency(run, p, cell, completions);
      const double count = p >= 0 && p < static_cast<int>(run.model.complete_cell_count.size())
                               ? run.model.complete_cell_count[p]
                               : static_cast<double>(completions.size());
      WritePosteriorLine(run, file, -1, count, completions);
    }
    run.context.DataFile.Close();
  } else {
    // Table input: the line of every observed pattern.
    ForEachPosterior(run, [&](std::int64_t pattern, const std::vector<double>& posterior) {
      WritePosteriorLine(run, file, pattern, static_cast<double>(posterior.size()), posterior);
    });
  }
  CloseTextFile(run.context.ResultFile);
}

}  // namespace tav
