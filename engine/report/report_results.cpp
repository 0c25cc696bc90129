#include "report/report_results.h"

#include "core/log.h"
#include "report/parameter_tables.h"
#include "report/probabilities.h"
#include "report/pseudo_r_squared.h"
#include "report/report_computations.h"
#include "report/results_document.h"
#include "report/statistics.h"

namespace tav {

RunResults ComputeRunResults(const RunState& run) {
  const Settings& settings = run.settings;
  const ModelState& model = run.model;
  RunResults results;
  results.first = settings.include_first_submodel ? 0 : 1;

  WriteLogLine(run.context, "  statistics and frequencies");
  results.statistics = ComputeStatistics(run);
  if (results.statistics.hazard_model && run.results)
    results.event_history = ComputeEventHistory(run);
  results.result_files = ComputeResultFiles(run);
  LogResultFileWarnings(run.context, results.result_files);
  results.pseudo_r_squared = ComputePseudoRSquaredSection(run, results.first);

  if (settings.show_parameters) {
    WriteLogLine(run.context, "  log-linear parameters");
    results.parameters = ComputeParameters(run, results.first);
  }
  results.probabilities = ComputeProbabilities(run, results.first);
  if (settings.show_latent && settings.show_details && model.LatentCount > 0 &&
      LatentClassOutputFits(model)) {
    WriteLogLine(run.context, "  latent class parameters");
  }
  results.latent_classes = ComputeLatentClassOutput(run);

  // The checks of the model: the random starts, then (for models with latent variables) the
  // bivariate residuals and the classification; details that nlo leaves out.
  if (settings.show_diagnostics && settings.show_details) {
    results.random_starts = ComputeRandomStarts(run);
  }
  results.diagnostics = ComputeLatentClassDiagnostics(run);
  return results;
}

void WriteResultsSections(RunState& run, const RunResults& results) {
  const ModelState& model = run.model;
  TextFile& out = run.context.ReportFile;
  WriteStatisticsSection(results.statistics, model, out);
  WriteResultFileContents(run, results.result_files);
  WritePseudoRSquaredSection(results.pseudo_r_squared, out);
  if (results.parameters) WriteParameterResults(run, *results.parameters);
  WriteProbabilitiesSection(results.probabilities, model, out);
  WriteLatentClassSection(results.latent_classes, model, out);
  if (results.random_starts) WriteRandomStartsSection(*results.random_starts, out);
  WriteLatentClassDiagnosticsSections(results.diagnostics, model, out);
}

void RecordRunResults(RunState& run, const RunResults& results) {
  if (!run.results) return;
  RecordStatistics(run, results.statistics);
  if (results.event_history) RecordEventHistory(run, *results.event_history);
  RecordPseudoRSquared(run, results.pseudo_r_squared);
  if (results.parameters) RecordParameters(run, *results.parameters);
  RecordProbabilities(run, results.probabilities);
  if (results.latent_classes.listing == LatentClassResults::Listing::kShown) {
    RecordLatentClasses(run, results.latent_classes.figures);
  }
  if (results.random_starts) RecordRandomStarts(run, *results.random_starts);
  RecordLatentClassDiagnostics(run, results.diagnostics);
}

}  // namespace tav
