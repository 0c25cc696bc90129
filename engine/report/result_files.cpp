#include "report/result_files.h"

#include <cmath>
#include <string>
#include <vector>

#include "core/elementary.h"
#include "core/format_real.h"
#include "core/log.h"
#include "core/text_file.h"
#include "estimation/association_model.h"
#include "estimation/design_effects.h"
#include "estimation/hazard_model.h"
#include "report/report_computations.h"

namespace tav {
namespace {

// The complete table of S x C x L cells and a margin of the estimated table are written only
// below these sizes.
constexpr double kLargestCompleteTable = 2147483647;
constexpr double kLargestMargin = 163800;

double CompleteCells(const ModelState& model) {
  return static_cast<double>(model.SubgroupCount) * static_cast<double>(model.ManifestCellCount) *
         model.LatentStateCount;
}

// Opens the result file `name` (mode "w" or "a") to be put in place when complete.
TextFile& OpenResult(RunState& run, const std::string& name, const char* mode) {
  OpenTextFile(run.context, run.context.ResultFile, name, mode,
               TextFile::Destination::kReplaceWhenComplete);
  return run.context.ResultFile;
}

// A file too large to write: a warning line in the report and in the log.
void NotWritten(RunState& run, const std::string& command, const std::string& name, double cells,
                double limit) {
  const std::string line = "WARNING: " + name + " (" + command +
                           ") not written: " + FormatReal(0, 0, cells) + " cells, the limit is " +
                           FormatReal(0, 0, limit - 1);
  run.context.ReportFile.WriteLine(line);
  WriteLogLine(run.context, "  " + line);
}

// A file of the data or of what the E-step took from them, asked for in a run whose data were
// simulated: a warning line in the report and in the log instead.
void NotWrittenSimulated(RunState& run, const std::string& command, const std::string& name) {
  const std::string line =
      "WARNING: " + name + " (" + command + ") not written: the data were simulated";
  run.context.ReportFile.WriteLine(line);
  WriteLogLine(run.context, "  " + line);
}

// One line per cell of the complete table: its estimated frequency in fixed 8.8.
void WriteCompleteTable(RunState& run, const std::string& name, const char* mode) {
  TextFile& file = OpenResult(run, name, mode);
  const auto cells = static_cast<std::int64_t>(CompleteCells(run.model));
  for (std::int64_t cell = 0; cell < cells; ++cell) {
    file.WriteLine(FormatReal(8, 8, EstimatedCellFrequency(run, cell)));
  }
  CloseTextFile(file);
}

// One line per cell of the margin over the flagged variables (variable order, the last
// fastest), in fixed 8.8, then an empty line.
void WriteMargin(RunState& run, const std::string& name, const Membership& flags,
                 const char* mode) {
  std::vector<double> margin;
  CollapseTable(run, flags, margin, 0);
  TextFile& file = OpenResult(run, name, mode);
  for (double value : margin) file.WriteLine(FormatReal(8, 8, value));
  file.WriteLine("");
  CloseTextFile(file);
}

// One line, appended: half L-squared (fixed 10.5), the seed (integer 5), the random amplitude
// (integer 2), every margin parameter and every special-effect parameter (exponent 14).
void WriteParameterFile(RunState& run, const std::string& name) {
  const EstimationState& est = run.estimation;
  std::string line = FormatReal(10, 5, est.HalfLSquared) +
                     FormatReal(5, 0, run.estimation.random.seed_used) +
                     FormatReal(2, 0, run.estimation.random.amplitude);
  for (double value : est.MarginParameters) line += FormatReal(14, -1, value);
  // The design parameters for the user's columns (scaled columns: tau^(1 / scale)).
  std::vector<double> design = est.Multipliers;
  for (const std::vector<DesignWork>& works : DesignWorks(run)) {
    for (const DesignWork& work : works) {
      for (int k = 0; k < work.parameters && !work.scale.empty(); ++k) {
        const double beta = UserLogParameter(run, work, k);
        if (std::isfinite(beta)) design[work.offset + k] = Exp(beta);
      }
    }
  }
  for (double value : design) line += FormatReal(14, -1, value);
  // The association terms, submodel by submodel: row scores, column scores (not again for a
  // symmetric term), association parameters.
  for (const std::vector<AssociationWork>& works : AssociationTerms(run)) {
    for (const AssociationWork& w : works) {
      for (double value : w.row_scores) line += FormatReal(14, -1, value);
      if (!w.symmetric) {
        for (double value : w.column_scores) line += FormatReal(14, -1, value);
      }
      for (double value : w.phi) line += FormatReal(14, -1, value);
    }
  }
  TextFile& file = OpenResult(run, name, "a");
  file.WriteLine(line);
  CloseTextFile(file);
}

// One line per data entry: the category (from 1, integer 3) of every manifest variable the
// entry's subgroup observes, "  0" for the others, then the count (fixed 10.4) when the entries
// carry counts.
void WriteDataFile(RunState& run, const std::string& name) {
  const ModelState& model = run.model;
  const DataStore& data = run.data;
  TextFile& file = OpenResult(run, name, "w");
  for (std::int64_t e = 0; e < data.EntryCount(); ++e) {
    const int subgroup = model.SubgroupCount > 1 ? data.entry_subgroup[e] : 0;
    const Membership& pattern = model.SubgroupPattern[subgroup];
    std::string line;
    for (int m = 0; m < model.ManifestCount; ++m) {
      const bool observed = pattern[m] == 1 && m < data.category_items;
      line += FormatReal(3, 0, observed ? data.EntryCategory(e, m) + 1 : 0);
    }
    if (data.entry_count_given) line += FormatReal(10, 4, data.entry_count[e]);
    file.WriteLine(line);
  }
  CloseTextFile(file);
}

// Per submodel one line per cell of table (fixed 8.8) and an empty line; with probabilities
// the first submodel's values (frequencies) are divided by the sample size.
void WriteSubmodelValues(RunState& run, const std::string& name, const std::vector<double>& table,
                         bool probabilities) {
  const ModelState& model = run.model;
  const double total = run.data.total_count;
  TextFile& file = OpenResult(run, name, "w");
  for (int r = 0; r < model.SubmodelCount; ++r) {
    const Submodel& submodel = model.submodels[r];
    const auto cells = static_cast<std::int64_t>(submodel.cell_count);
    for (std::int64_t c = 0; c < cells; ++c) {
      double value = table[static_cast<std::size_t>(submodel.first_cell + c)];
      if (probabilities && r == 0) value = total > 0 ? value / total : 0.0;
      file.WriteLine(FormatReal(8, 8, value));
    }
    file.WriteLine("");
  }
  CloseTextFile(file);
}

// The hazard part's table per covariate cell and interval, one line of its risks' values in
// fixed 16.8, an empty line after each covariate cell: the rates (wha), the expected numbers of
// events (wfa) or the exposures (wex).
void WriteHazardTable(RunState& run, const std::string& name, const double* table) {
  const HazardWork& hazard = run.estimation.hazard;
  TextFile& file = OpenResult(run, name, "w");
  for (std::int64_t g = 0; g < hazard.covariate_cells; ++g) {
    for (int t = 0; t < hazard.time_points; ++t) {
      std::string line;
      for (int k = 0; k < hazard.risks; ++k) {
        line += FormatReal(16, 8, table[(g * hazard.time_points + t) * hazard.risks + k]);
      }
      file.WriteLine(line);
    }
    file.WriteLine("");
  }
  CloseTextFile(file);
}

// wsu: per covariate cell and interval, the probability of every state that can be left to be
// left by none of its risks from the start of the time grid to the end of the interval.
void WriteSurvivalTable(RunState& run, const std::string& name) {
  const HazardWork& hazard = run.estimation.hazard;
  const EventHistoryState& history = run.history;
  std::vector<int> origins;
  for (int a = 0; a < history.StateCount; ++a) {
    bool leaves = false;
    for (int b = 0; b < history.StateCount; ++b)
      leaves = leaves || (b != a && history.RiskOf(a, b));
    if (leaves) origins.push_back(a);
  }
  const std::vector<double>& grid = history.TimeValues;
  TextFile& file = OpenResult(run, name, "w");
  for (std::int64_t g = 0; g < hazard.covariate_cells; ++g) {
    for (int t = 0; t < hazard.time_points; ++t) {
      std::string line;
      for (int a : origins) {
        const double survival = hazard.kind == TimeModel::kDiscrete
                                    ? DiscreteEpisodeSurvival(run, g, 0, t, a, grid[t + 1], grid[0])
                                    : EpisodeSurvival(run, g, 0, t, a, grid[t + 1], grid[0]);
        line += FormatReal(16, 8, survival);
      }
      file.WriteLine(line);
    }
    file.WriteLine("");
  }
  CloseTextFile(file);
}

}  // namespace

void WriteResultFiles(RunState& run) {
  const ModelState& model = run.model;
  const Settings& settings = run.settings;
  const double complete = CompleteCells(model);
  const bool simulated = DataSimulated(run);
  // Written for data alone: the posterior probabilities of the records (wla, wpo, written before
  // the report), the data, the expected frequencies, events and exposures.
  auto from_data = [&](const char* command, const std::string& name) {
    if (name.empty() || !simulated) return false;
    NotWrittenSimulated(run, command, name);
    return true;
  };
  from_data("wla", settings.file_latent);
  from_data("wpo", settings.file_posterior);
  if (!settings.file_frequencies.empty()) {
    if (complete < kLargestCompleteTable) {
      WriteCompleteTable(run, settings.file_frequencies, "w");
    } else {
      NotWritten(run, "wfi", settings.file_frequencies, complete, kLargestCompleteTable);
    }
  }
  if (!settings.file_observed.empty() && !from_data("wfr", settings.file_observed)) {
    WriteSubmodelValues(run, settings.file_observed, run.estimation.ExpectedTable, false);
  }
  if (!settings.file_data.empty() && !from_data("wda", settings.file_data)) {
    WriteDataFile(run, settings.file_data);
  }
  if (!settings.file_probabilities.empty()) {
    WriteSubmodelValues(run, settings.file_probabilities, run.estimation.FittedTable, true);
  }
  if (run.estimation.hazard.table >= 0) {
    const EstimationState& est = run.estimation;
    const std::int64_t first = model.submodels[est.hazard.table].first_cell;
    if (!settings.file_hazards.empty()) {
      WriteHazardTable(run, settings.file_hazards, est.FittedTable.data() + first);
    }
    if (!settings.file_failures.empty() && !from_data("wfa", settings.file_failures)) {
      WriteHazardTable(run, settings.file_failures, est.ExpectedTable.data() + first);
    }
    if (!settings.file_exposures.empty() && !from_data("wex", settings.file_exposures)) {
      WriteHazardTable(run, settings.file_exposures, est.hazard.exposure.data());
    }
    if (!settings.file_survival.empty()) WriteSurvivalTable(run, settings.file_survival);
  }
  if (!settings.file_parameters.empty()) WriteParameterFile(run, settings.file_parameters);
  const std::vector<MarginalRequest>& requests = settings.marginal_requests;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const MarginalRequest& request = requests[i];
    bool repeated = false;
    for (std::size_t j = 0; j < i && !repeated; ++j) {
      repeated =
          requests[j].file == request.file || SameFile(run.context.FilePrefix + requests[j].file,
                                                       run.context.FilePrefix + request.file);
    }
    const char* mode = repeated ? "a" : "w";
    double cells = 1;
    for (int v = 0; v < model.VariableCount; ++v) {
      if (request.variables[v] != 0) cells *= model.Dimension[v];
    }
    if (cells == complete) {
      if (complete < kLargestCompleteTable) {
        WriteCompleteTable(run, request.file, mode);
      } else {
        NotWritten(run, "wma", request.file, complete, kLargestCompleteTable);
      }
    } else if (cells < kLargestMargin) {
      WriteMargin(run, request.file, request.variables, mode);
    } else {
      NotWritten(run, "wma", request.file, cells, kLargestMargin);
    }
  }
}

}  // namespace tav
