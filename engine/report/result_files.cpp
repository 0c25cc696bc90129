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
#include "report/event_history_results.h"
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

// The warning of a file too large to write.
ResultFile TooLarge(const std::string& command, const std::string& name, double cells,
                    double limit) {
  ResultFile file;
  file.command = command;
  file.name = name;
  file.warning = "WARNING: " + name + " (" + command + ") not written: " + FormatReal(0, 0, cells) +
                 " cells, the limit is " + FormatReal(0, 0, limit - 1);
  return file;
}

// The warning of a file of the data or of what the E-step took from them, asked for in a run
// whose data were simulated.
ResultFile OfSimulatedData(const std::string& command, const std::string& name) {
  ResultFile file;
  file.command = command;
  file.name = name;
  file.warning = "WARNING: " + name + " (" + command + ") not written: the data were simulated";
  return file;
}

// A file of numbers, one column of fixed 8.8 by default.
ResultFile Numbers(const std::string& command, const std::string& name, bool append,
                   std::shared_ptr<const std::vector<double>> values) {
  ResultFile file;
  file.form = ResultFile::Form::kNumbers;
  file.command = command;
  file.name = name;
  file.append = append;
  if (values) file.numbers.block_rows = {static_cast<std::int64_t>(values->size())};
  file.numbers.values = std::move(values);
  return file;
}

// The estimated frequency of every cell of the complete table.
std::shared_ptr<const std::vector<double>> CompleteTable(const RunState& run) {
  const auto cells = static_cast<std::int64_t>(CompleteCells(run.model));
  auto values = std::make_shared<std::vector<double>>();
  values->reserve(static_cast<std::size_t>(cells));
  for (std::int64_t cell = 0; cell < cells; ++cell) {
    values->push_back(EstimatedCellFrequency(run, cell));
  }
  return values;
}

// The complete table (wfi, or a wma over every variable), computed once for all the files
// that write it.
class CompleteTableFile {
 public:
  explicit CompleteTableFile(const RunState& run) : run_(run) {}
  ResultFile Of(const std::string& command, const std::string& name, bool append) {
    const double complete = CompleteCells(run_.model);
    if (!(complete < kLargestCompleteTable)) {
      return TooLarge(command, name, complete, kLargestCompleteTable);
    }
    // A table that does not fit in what the memory budget leaves is read cell by cell as it
    // is written, as it always was; a smaller one is worked out once for all its files.
    if (complete * sizeof(double) > run_.context.MemoryAvailable()) {
      ResultFile file = Numbers(command, name, append, nullptr);
      const RunState& run = run_;
      file.numbers.value_at = [&run](std::int64_t cell) {
        return EstimatedCellFrequency(run, cell);
      };
      file.numbers.block_rows = {static_cast<std::int64_t>(complete)};
      return file;
    }
    if (!values_) values_ = CompleteTable(run_);
    return Numbers(command, name, append, values_);
  }

 private:
  const RunState& run_;
  std::shared_ptr<const std::vector<double>> values_;
};

// Per submodel a block of the values of its cells; with probabilities the first submodel's
// values (frequencies) are divided by the sample size.
ResultFile SubmodelValuesFile(const RunState& run, const std::string& command,
                              const std::string& name, const std::vector<double>& table,
                              bool probabilities) {
  const ModelState& model = run.model;
  const double total = run.data.total_count;
  auto values = std::make_shared<std::vector<double>>();
  ResultFile file = Numbers(command, name, false, values);
  file.numbers.block_rows.clear();
  file.numbers.blank_after_block = true;
  for (int r = 0; r < model.SubmodelCount; ++r) {
    const Submodel& submodel = model.submodels[r];
    const auto cells = static_cast<std::int64_t>(submodel.cell_count);
    for (std::int64_t c = 0; c < cells; ++c) {
      double value = table[static_cast<std::size_t>(submodel.first_cell + c)];
      if (probabilities && r == 0) value = total > 0 ? value / total : 0.0;
      values->push_back(value);
    }
    file.numbers.block_rows.push_back(cells);
  }
  return file;
}

// The data entries.
ResultFile DataFile(const RunState& run, const std::string& name) {
  const ModelState& model = run.model;
  const DataStore& data = run.data;
  ResultFile file;
  file.form = ResultFile::Form::kData;
  file.command = "wda";
  file.name = name;
  DataFileRows& rows = file.data;
  rows.items = model.ManifestCount;
  rows.counts_given = data.entry_count_given;
  for (std::int64_t e = 0; e < data.EntryCount(); ++e) {
    const int subgroup = model.SubgroupCount > 1 ? data.entry_subgroup[e] : 0;
    const Membership& pattern = model.SubgroupPattern[subgroup];
    for (int m = 0; m < model.ManifestCount; ++m) {
      const bool observed = pattern[m] == 1 && m < data.category_items;
      rows.categories.push_back(observed ? data.EntryCategory(e, m) + 1 : 0);
    }
    if (rows.counts_given) rows.counts.push_back(data.entry_count[e]);
  }
  return file;
}

// The half L-squared, seed, random amplitude, margin parameters and special-effect parameters
// that wpa appends.
ResultFile ParameterFile(const RunState& run, const std::string& name) {
  const EstimationState& est = run.estimation;
  ResultFile file;
  file.form = ResultFile::Form::kParameters;
  file.command = "wpa";
  file.name = name;
  file.append = true;
  ParameterLine& line = file.parameters;
  line.half_l_squared = est.HalfLSquared;
  line.seed = est.random.seed_used;
  line.amplitude = est.random.amplitude;
  line.values = est.MarginParameters;
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
  line.values.insert(line.values.end(), design.begin(), design.end());
  // The association terms, submodel by submodel: row scores, column scores (not again for a
  // symmetric term), association parameters.
  for (const std::vector<AssociationWork>& works : AssociationTerms(run)) {
    for (const AssociationWork& w : works) {
      line.values.insert(line.values.end(), w.row_scores.begin(), w.row_scores.end());
      if (!w.symmetric) {
        line.values.insert(line.values.end(), w.column_scores.begin(), w.column_scores.end());
      }
      line.values.insert(line.values.end(), w.phi.begin(), w.phi.end());
    }
  }
  return file;
}

// A table of the hazard part, per covariate cell a block of a line per interval: the values of
// the cell's risks (wha, wfa, wex) or (wsu) the survival of every state that can be left.
ResultFile HazardFile(const RunState& run, const std::string& command, const std::string& name,
                      int width, std::vector<double> values) {
  const HazardWork& hazard = HazardWorkOf(run);
  ResultFile file =
      Numbers(command, name, false, std::make_shared<const std::vector<double>>(std::move(values)));
  file.numbers.field = 16;
  file.numbers.width = width;
  file.numbers.block_rows.assign(static_cast<std::size_t>(hazard.covariate_cells),
                                 hazard.time_points);
  file.numbers.blank_after_block = true;
  return file;
}

ResultFile HazardTable(const RunState& run, const std::string& command, const std::string& name,
                       const double* table) {
  const HazardWork& hazard = HazardWorkOf(run);
  const std::int64_t cells = hazard.covariate_cells * hazard.time_points * hazard.risks;
  return HazardFile(run, command, name, hazard.risks, std::vector<double>(table, table + cells));
}

// wsu: per covariate cell and interval, the probability of every state that can be left to be
// left by none of its risks from the start of the time grid to the end of the interval.
ResultFile SurvivalTable(const RunState& run, const std::string& name) {
  const HazardWork& hazard = HazardWorkOf(run);
  const std::vector<int> origins = LeavableStates(run.history);
  std::vector<double> values;
  for (std::int64_t g = 0; g < hazard.covariate_cells; ++g) {
    for (int t = 0; t < hazard.time_points; ++t) {
      for (int a : origins) values.push_back(IntervalEndSurvival(run, g, t, a));
    }
  }
  return HazardFile(run, "wsu", name, static_cast<int>(origins.size()), std::move(values));
}

// The hazard part's files: wha, wfa, wex, wsu.
void AddHazardFiles(const RunState& run, bool simulated, std::vector<ResultFile>& files) {
  const Settings& settings = run.settings;
  const EstimationState& est = run.estimation;
  const std::int64_t first = run.model.submodels[HazardWorkOf(run).table].first_cell;
  if (!settings.file_hazards.empty()) {
    files.push_back(HazardTable(run, "wha", settings.file_hazards, est.FittedTable.data() + first));
  }
  if (!settings.file_failures.empty()) {
    files.push_back(simulated ? OfSimulatedData("wfa", settings.file_failures)
                              : HazardTable(run, "wfa", settings.file_failures,
                                            est.ExpectedTable.data() + first));
  }
  if (!settings.file_exposures.empty()) {
    files.push_back(simulated ? OfSimulatedData("wex", settings.file_exposures)
                              : HazardTable(run, "wex", settings.file_exposures,
                                            HazardWorkOf(run).exposure.data()));
  }
  if (!settings.file_survival.empty()) files.push_back(SurvivalTable(run, settings.file_survival));
}

// The wma margins in their order; a name that repeats an earlier one is appended to.
void AddMargins(const RunState& run, CompleteTableFile& complete_table,
                std::vector<ResultFile>& files) {
  const ModelState& model = run.model;
  const double complete = CompleteCells(model);
  const std::vector<MarginalRequest>& requests = run.settings.marginal_requests;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const MarginalRequest& request = requests[i];
    bool repeated = false;
    for (std::size_t j = 0; j < i && !repeated; ++j) {
      repeated =
          requests[j].file == request.file || SameFile(run.context.FilePrefix + requests[j].file,
                                                       run.context.FilePrefix + request.file);
    }
    double cells = 1;
    for (int v = 0; v < model.VariableCount; ++v) {
      if (request.variables[v] != 0) cells *= model.Dimension[v];
    }
    if (cells == complete) {
      files.push_back(complete_table.Of("wma", request.file, repeated));
    } else if (cells < kLargestMargin) {
      auto margin = std::make_shared<std::vector<double>>();
      CollapseTable(run, request.variables, *margin, 0);
      files.push_back(Numbers("wma", request.file, repeated, std::move(margin)));
      files.back().numbers.blank_after_block = true;
    } else {
      files.push_back(TooLarge("wma", request.file, cells, kLargestMargin));
    }
  }
}

// Opens the result file `name` (mode "w" or "a") to be put in place when complete.
TextFile& OpenResult(RunState& run, const std::string& name, const char* mode) {
  OpenTextFile(run.context, run.context.ResultFile, name, mode,
               TextFile::Destination::kReplaceWhenComplete);
  return run.context.ResultFile;
}

void WriteNumbers(TextFile& file, const NumberFile& numbers) {
  std::int64_t at = 0;
  const auto next = [&numbers, &at] {
    const std::int64_t place = at++;
    return numbers.values ? (*numbers.values)[static_cast<std::size_t>(place)]
                          : numbers.value_at(place);
  };
  for (std::int64_t rows : numbers.block_rows) {
    for (std::int64_t r = 0; r < rows; ++r) {
      std::string line;
      for (int k = 0; k < numbers.width; ++k) line += FormatReal(numbers.field, 8, next());
      file.WriteLine(line);
    }
    if (numbers.blank_after_block) file.WriteLine("");
  }
}

// The category (integer 3) of every manifest variable, then the count (fixed 10.4).
void WriteData(TextFile& file, const DataFileRows& rows) {
  const std::size_t entries =
      rows.items > 0 ? rows.categories.size() / rows.items : rows.counts.size();
  for (std::size_t e = 0; e < entries; ++e) {
    std::string line;
    for (int m = 0; m < rows.items; ++m)
      line += FormatReal(3, 0, rows.categories[e * rows.items + m]);
    if (rows.counts_given) line += FormatReal(10, 4, rows.counts[e]);
    file.WriteLine(line);
  }
}

// Half L-squared (fixed 10.5), the seed (integer 5), the random amplitude (integer 2), the
// values (exponent 14).
void WriteParameters(TextFile& file, const ParameterLine& parameters) {
  std::string line = FormatReal(10, 5, parameters.half_l_squared) +
                     FormatReal(5, 0, parameters.seed) + FormatReal(2, 0, parameters.amplitude);
  for (double value : parameters.values) line += FormatReal(14, -1, value);
  file.WriteLine(line);
}

}  // namespace

std::vector<ResultFile> ComputeResultFiles(const RunState& run) {
  const Settings& settings = run.settings;
  const bool simulated = DataSimulated(run);
  std::vector<ResultFile> files;
  // Written for data alone: the posterior probabilities of the records (wla, wpo, written before
  // the report), the data, the expected frequencies, events and exposures.
  if (simulated && !settings.file_latent.empty()) {
    files.push_back(OfSimulatedData("wla", settings.file_latent));
  }
  if (simulated && !settings.file_posterior.empty()) {
    files.push_back(OfSimulatedData("wpo", settings.file_posterior));
  }
  CompleteTableFile complete_table(run);
  if (!settings.file_frequencies.empty()) {
    files.push_back(complete_table.Of("wfi", settings.file_frequencies, false));
  }
  if (!settings.file_observed.empty()) {
    files.push_back(simulated ? OfSimulatedData("wfr", settings.file_observed)
                              : SubmodelValuesFile(run, "wfr", settings.file_observed,
                                                   run.estimation.ExpectedTable, false));
  }
  if (!settings.file_data.empty()) {
    files.push_back(simulated ? OfSimulatedData("wda", settings.file_data)
                              : DataFile(run, settings.file_data));
  }
  if (!settings.file_probabilities.empty()) {
    files.push_back(SubmodelValuesFile(run, "wco", settings.file_probabilities,
                                       run.estimation.FittedTable, true));
  }
  if (HazardWorkOf(run).table >= 0) AddHazardFiles(run, simulated, files);
  if (!settings.file_parameters.empty()) {
    files.push_back(ParameterFile(run, settings.file_parameters));
  }
  AddMargins(run, complete_table, files);
  return files;
}

void WriteResultFileContents(RunState& run, const std::vector<ResultFile>& files) {
  for (const ResultFile& file : files) {
    if (file.form == ResultFile::Form::kWarning) {
      run.context.ReportFile.WriteLine(file.warning);
      continue;
    }
    TextFile& out = OpenResult(run, file.name, file.append ? "a" : "w");
    switch (file.form) {
      case ResultFile::Form::kNumbers:
        WriteNumbers(out, file.numbers);
        break;
      case ResultFile::Form::kData:
        WriteData(out, file.data);
        break;
      case ResultFile::Form::kParameters:
        WriteParameters(out, file.parameters);
        break;
      case ResultFile::Form::kWarning:
        break;
    }
    CloseTextFile(out);
  }
}

void LogResultFileWarnings(RunContext& context, const std::vector<ResultFile>& files) {
  for (const ResultFile& file : files) {
    if (file.form == ResultFile::Form::kWarning) WriteLogLine(context, "  " + file.warning);
  }
}

void WriteResultFiles(RunState& run) {
  const std::vector<ResultFile> files = ComputeResultFiles(run);
  LogResultFileWarnings(run.context, files);
  WriteResultFileContents(run, files);
}

}  // namespace tav
