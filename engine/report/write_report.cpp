#include "report/write_report.h"

#include <algorithm>
#include <string>

#include "core/format_real.h"
#include "core/log.h"
#include "report/posterior_writer.h"
#include "report/report_computations.h"
#include "report/report_results.h"
#include "report/results_document.h"

namespace tav {

std::string Blanks(int n) { return std::string(std::clamp(n, 0, 80), ' '); }

std::string PadRight(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

std::string PadLeft(const std::string& text, std::size_t width) {
  return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

void WritePosteriorFiles(RunState& run) {
  const Settings& settings = run.settings;
  // They are written beside the data files.
  run.context.FilePrefix = run.context.InputPrefix();
  // Simulated data have no records to give posteriors of (the report says so).
  if (DataSimulated(run)) {
    run.context.FilePrefix.clear();
    return;
  }
  if (!settings.file_latent.empty()) {
    WritePosteriorFile(run, settings.file_latent, PosteriorFile::kLatentClasses);
  }
  if (!settings.file_posterior.empty()) {
    WritePosteriorFile(run, settings.file_posterior, PosteriorFile::kCompletions);
  }
  run.context.FilePrefix.clear();
}

void WriteReport(RunState& run) {
  const Settings& settings = run.settings;
  StartResultsDocument(run);
  run.context.FilePrefix.clear();
  OpenTextFile(run.context, run.context.ReportFile, run.context.OutputFileName, "w",
               TextFile::Destination::kReplaceWhenComplete);
  WriteBanner(run.context.ReportFile);
  if (settings.show_echo) WriteInputEcho(run);
  run.context.FilePrefix = run.context.InputPrefix();

  const RunResults results = ComputeRunResults(run);
  WriteResultsSections(run, results);
  RecordRunResults(run, results);

  FinishResultsDocument(run);
  run.context.FilePrefix.clear();
  CloseTextFile(run.context.ReportFile);
}

namespace {

// Where the manifest variables came from when the data were read from a file of named columns:
// per variable its column with the column's label, and its categories (code, the value in the
// file, the value label).
void WriteVariableSources(const DataStore& data, const ModelState& model, TextFile& out) {
  if (data.sources.empty()) return;
  out.WriteLine("Variables from data file " + data.source_file);
  for (const VariableSource& source : data.sources) {
    out.WriteLine("");
    std::string line = "  " + model.VariableLabel[source.variable] + "  column " + source.column;
    if (!source.column_label.empty()) line += ": " + source.column_label;
    out.WriteLine(line);
    std::size_t width = 5;
    for (const VariableSource::Category& category : source.categories) {
      width = std::max(width, category.value.size());
    }
    auto row = [&](const std::string& code, const std::string& value, const std::string& label) {
      std::string text = "    " + std::string(code.size() < 4 ? 4 - code.size() : 0, ' ') + code +
                         "  " + value + std::string(width - value.size(), ' ') + "  " + label;
      text.erase(text.find_last_not_of(' ') + 1);
      out.WriteLine(text);
    };
    row("code", "value", "value label");
    for (const VariableSource::Category& category : source.categories) {
      row(std::to_string(category.code), category.value, category.label);
    }
  }
  out.WriteLine("");
}

}  // namespace

void WriteInputEcho(RunState& run) {
  TextFile& out = run.context.ReportFile;
  out.WriteLine("");
  out.WriteLine("*** INPUT ***");
  out.WriteLine("");
  for (const std::string& line : run.context.input_echo.Lines()) out.WriteLine(line);
  out.WriteLine("");
  WriteVariableSources(run.data, run.model, out);
}

}  // namespace tav
