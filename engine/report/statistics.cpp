#include "report/statistics.h"

#include <cmath>
#include <string>
#include <vector>

#include "core/elementary.h"
#include "core/format_real.h"
#include "estimation/hazard_model.h"
#include "newton/newton_iteration.h"
#include "report/report_computations.h"
#include "report/result_files.h"
#include "report/results_document.h"
#include "report/write_report.h"

namespace tav {
namespace {

// A fitted value at or below this counts as zero in the warnings.
constexpr double kZeroFitted = 1e-10;

std::string Integer(double value) { return FormatReal(0, 0, value); }
std::string Fixed(int width, int decimals, double value) {
  return FormatReal(width, decimals, value);
}

bool HasHazardPart(const RunState& run) {
  return run.history.HazardModel &&
         static_cast<int>(run.model.submodels.size()) > run.model.SubmodelCount;
}

// Cells of submodel t whose fitted value is (nearly) zero.
std::int64_t ZeroFittedCells(const RunState& run, int t) {
  const Submodel& submodel = run.model.submodels[t];
  const std::vector<double>& fitted = run.estimation.FittedTable;
  std::int64_t zeros = 0;
  const auto end = submodel.first_cell + static_cast<std::int64_t>(submodel.cell_count);
  for (std::int64_t c = submodel.first_cell; c < end; ++c) {
    if (c >= static_cast<std::int64_t>(fitted.size()) || fitted[c] <= kZeroFitted) ++zeros;
  }
  return zeros;
}

// "* SUBGROUP " with the `res` labels and the subgroup's categories.
std::string SubgroupHeading(const ModelState& model, int subgroup) {
  Membership res{};
  for (int v = 0; v < model.ResCount; ++v) res[v] = 1;
  std::vector<int> category(model.ResCount, 0);
  int rest = subgroup;
  for (int v = model.ResCount - 1; v >= 0; --v) {
    category[v] = rest % model.Dimension[v];
    rest /= model.Dimension[v];
  }
  std::string text = "* SUBGROUP " + TermText(model, res) + " ";
  for (int c : category) text += Integer(c + 1);
  return text + " *";
}

// The frequency table of every subgroup, as the report lists it.
std::vector<FrequencyTable> ComputeFrequencies(const RunState& run) {
  const ModelState& model = run.model;
  const DataStore& data = run.data;
  const int first = model.FirstManifest();
  const int subgroups = model.SubgroupCount;
  std::vector<FrequencyTable> tables;
  std::int64_t cursor = 0;
  for (int s = 0; s < subgroups && s < static_cast<int>(model.SubgroupPattern.size()); ++s) {
    const Membership& marks = model.SubgroupPattern[s];
    FrequencyTable& table = tables.emplace_back();
    table.subgroup = s;
    for (int v = first; v < model.VariableCount; ++v) {
      if (marks[v - first] == 1) table.variables.push_back(v);
    }
    const std::vector<int>& observed = table.variables;
    std::vector<int> category(observed.size(), 0);
    const std::int64_t cells = model.subgroup_cell_count[s];
    for (std::int64_t c = 0; c < cells; ++c) {
      if (c > 0) {
        for (std::size_t i = observed.size(); i-- > 0;) {
          if (++category[i] < model.Dimension[observed[i]]) break;
          category[i] = 0;
        }
      }
      double n = 0.0;
      bool found = false;
      if (cursor < data.EntryCount() && (subgroups <= 1 || data.entry_subgroup[cursor] == s) &&
          data.entry_cell[cursor] == static_cast<double>(c)) {
        n = data.entry_count[cursor];
        found = true;
        ++cursor;
      }
      if (!found && !run.settings.show_zero_cells) continue;
      FrequencyRow& row = table.rows.emplace_back();
      row.categories.resize(category.size());
      for (std::size_t i = 0; i < category.size(); ++i) row.categories[i] = category[i] + 1;
      row.observed = n;
      row.estimated = EstimatedObservedFrequency(run, s, static_cast<double>(c));
      const double m = row.estimated;
      if (m > 0.0) {
        row.residual = (n - m) / std::sqrt(m);
        table.x_squared += row.residual * row.residual;
        if (n > 0.0) table.l_squared += 2.0 * n * Log(n / m);
      }
    }
  }
  return tables;
}

void WriteFrequencies(const std::vector<FrequencyTable>& tables, const ModelState& model,
                      TextFile& out) {
  const int subgroups = model.SubgroupCount;
  out.WriteLine("");
  out.WriteLine("*** FREQUENCIES ***");
  out.WriteLine("");
  for (const FrequencyTable& table : tables) {
    if (subgroups > 1) {
      out.WriteLine(SubgroupHeading(model, table.subgroup));
      out.WriteLine("");
    }
    std::vector<int> width;
    std::string heading = Blanks(2);
    for (const int v : table.variables) {
      const int w = (model.LongLabels || model.Dimension[v] > 99) ? 3
                    : model.Dimension[v] > 9                      ? 2
                                                                  : 1;
      width.push_back(w);
      const std::string& label = model.VariableLabel[v];
      heading +=
          std::string(label.size() < static_cast<std::size_t>(w) ? w - label.size() : 0, ' ') +
          label + " ";
    }
    out.WriteLine(heading + "    observed  estimated  std. res.");
    for (const FrequencyRow& row : table.rows) {
      std::string line = Blanks(2);
      for (std::size_t i = 0; i < row.categories.size(); ++i) {
        line += FormatReal(width[i], 0, row.categories[i]) + " ";
      }
      line += Fixed(11, 3, row.observed) + Fixed(11, 3, row.estimated);
      if (row.estimated > 0.0) {
        line += Blanks(2) + Fixed(9, 3, row.residual);
      } else {
        line += " *" + Fixed(9, 3, 0.0);
      }
      out.WriteLine(line);
    }
    if (subgroups > 1) {
      out.WriteLine("");
      out.WriteLine(Blanks(2) + "X-squared = " + Fixed(4, 4, table.x_squared) +
                    ", L-squared = " + Fixed(4, 4, table.l_squared));
    }
    out.WriteLine("");
  }
  out.WriteLine("");
}

}  // namespace

ParameterCount CountParameters(const RunState& run) {
  const ModelState& model = run.model;
  const EstimationState& estimation = run.estimation;
  ParameterCount count;
  count.cells = ObservedCells(model);
  std::int64_t parameters = 0;
  for (int t = 0; t < model.SubmodelCount; ++t) parameters += CountSubmodelParameters(run, t);
  if (model.HasAllSubmodel && static_cast<int>(model.submodels.size()) > model.SubmodelCount + 1) {
    parameters += CountSubmodelParameters(run, model.SubmodelCount + 1);
  }
  parameters += model.RestrictedParamCount - estimation.ActiveOrdinalRestrictions +
                estimation.BoundaryAdjustments;
  count.df = count.cells - parameters;
  if (model.SubmodelCount > 0 && model.submodels[0].IsSaturatedFixed()) {
    count.fixed = static_cast<std::int64_t>(model.submodels[0].cell_count);
  } else {
    count.fixed = 1;
  }
  count.parameters = parameters - count.fixed;
  count.all_parameters = count.parameters;
  if (HasHazardPart(run)) {
    // The hazard part's parameters include its estimated shapes. Its observations are the
    // numbers of events of the hazard cells that have time at risk; in discrete time those of
    // the risks that leave a state, the stays being what the units at risk leave over. Its
    // degrees of freedom are those of the numbers of events.
    const int hazard = model.SubmodelCount;
    count.hazard_parameters = CountSubmodelParameters(run, hazard);
    count.all_parameters += count.hazard_parameters;
    const HazardWork& work = HazardWorkOf(run);
    std::int64_t observed = 0;
    for (std::size_t i = 0; i < work.exposure.size(); ++i) {
      const int risk = static_cast<int>(i % work.risks);
      const bool stay =
          work.kind == TimeModel::kDiscrete && work.stay_risk[work.risk_origin[risk]] == risk + 1;
      if (work.exposure[i] > 0 && !stay) ++observed;
    }
    // The shapes come from the times within the cells, not from their numbers of events.
    const std::int64_t shapes = work.kind == TimeModel::kEstimatedShapes ? work.risks : 0;
    count.hazard_df = observed - (count.hazard_parameters - shapes);
  }
  return count;
}

StatisticsResults ComputeStatistics(const RunState& run) {
  const ModelState& model = run.model;
  const Settings& settings = run.settings;
  const EstimationState& estimation = run.estimation;
  StatisticsResults results;
  results.iterations = estimation.iteration;
  results.convergence_criterion = estimation.stop_criterion;
  results.seed = estimation.random.seed_used;
  results.seed_shown = model.SubgroupCount > 1 || model.LatentCount > 0;

  const bool hazard = HasHazardPart(run);
  results.hazard_model = hazard;
  results.grouped_hazard = hazard && (model.SubgroupCount > 1 || model.LatentStateCount > 1);
  results.special = model.CumulativeI;
  results.fit_block = !results.special && model.ManifestCellCount < 1e18L;
  const std::int64_t cells = ObservedCells(model);
  // Simulated data: the sample size is theirs, and nothing compares the model with data.
  const bool simulated = DataSimulated(run);
  results.simulated = simulated;
  const double n_total = simulated ? run.simulated_total : run.data.total_count;
  results.sample_size = n_total;

  // The dissimilarity index from the absolute-residual sum of the last E-step.
  std::int64_t zero_frequencies = 0;
  if (!hazard && !results.special) {
    const double expected_total = model.CovariateCount > 0
                                      ? n_total - estimation.ExcludedObservations
                                      : estimation.ExpectedTotal;
    const double used = n_total - estimation.ExcludedObservations;
    if (used > 0 && !simulated) {
      results.dissimilarity = (used - expected_total + estimation.AbsResidualSum) * 0.5 / used;
      results.has_dissimilarity = true;
    }
    if (cells < kLargestListedTable) {
      for (int s = 0; s < model.SubgroupCount; ++s) {
        for (std::int64_t c = 0; c < model.subgroup_cell_count[s]; ++c) {
          if (EstimatedObservedFrequency(run, s, static_cast<double>(c)) == 0.0) {
            ++zero_frequencies;
          }
        }
      }
    }
  }

  const ParameterCount count = CountParameters(run);
  results.df = count.df;
  results.parameters = count.parameters;
  results.fixed_parameters = count.fixed;
  results.all_parameters = count.all_parameters;
  results.hazard_parameters = count.hazard_parameters;
  results.hazard_df = count.hazard_df;
  const HazardFit hazard_fit = HazardPartFit(run);
  results.log_likelihood = estimation.LogLikelihood;
  results.bic_log_likelihood =
      -2.0 * results.log_likelihood + (n_total > 0 ? Log(n_total) * count.all_parameters : 0.0);
  results.aic_log_likelihood = -2.0 * results.log_likelihood + 2.0 * count.all_parameters;
  if (!simulated && !hazard && results.fit_block) {
    const double df = static_cast<double>(count.df);
    const double x = estimation.PearsonSum;
    const double l = 2.0 * estimation.HalfLSquared;
    const double cr = estimation.CressieReadSum;
    results.x_squared = {x, ChiSquaredProbability(count.df, x)};
    results.l_squared = {l, ChiSquaredProbability(count.df, l)};
    results.cressie_read = {cr, ChiSquaredProbability(count.df, cr)};
    results.bic_l_squared = n_total > 0 ? l - Log(n_total) * df : l;
    results.aic_l_squared = l - 2.0 * df;
  }
  if (!simulated && hazard && !results.grouped_hazard) {
    const std::int64_t df = count.hazard_df;
    results.hazard_x_squared = {hazard_fit.x_squared,
                                ChiSquaredProbability(df, hazard_fit.x_squared)};
    results.hazard_l_squared = {hazard_fit.l_squared,
                                ChiSquaredProbability(df, hazard_fit.l_squared)};
    results.hazard_log_likelihood = hazard_fit.log_likelihood;
  }

  // Identification. The eigenvalues of the information matrix and the boundary counters come
  // with the standard errors; without them the warning stands in their place.
  std::int64_t boundary_loglinear = 0;
  std::int64_t boundary_hazard = 0;
  const NewtonState& newton = run.newton;
  results.eigenvalues = newton.eigenvalues;
  if (ShowsStdErrors(run) && !model.AnyMar) {
    results.eigenvalues_shown = true;
    // Those of the hazard submodel are the hazard parameters; the others, of the submodels and
    // `all`, are counted as log-linear.
    const std::vector<int>& by_table = newton.boundary_by_table;
    for (std::size_t t = 0; t < by_table.size(); ++t) {
      (static_cast<int>(t) == model.SubmodelCount ? boundary_hazard : boundary_loglinear) +=
          by_table[t];
    }
  } else {
    results.warnings.push_back("no information is provided on identification of parameters");
    // Standard errors that were asked for but not computed: say why.
    if (settings.show_std_errors && !newton.std_errors_skipped.empty()) {
      results.warnings.push_back(newton.std_errors_skipped);
    }
  }

  // Warnings.
  std::int64_t zero_margin = 0;
  if (model.SubmodelCount > 0 && model.submodels[0].IsSaturatedFixed() && !results.grouped_hazard) {
    zero_margin = ZeroFittedCells(run, 0);
  }
  if (model.SubmodelCount > 0 && model.submodels[model.SubmodelCount - 1].IsSaturatedFixed()) {
    boundary_loglinear += ZeroFittedCells(run, model.SubmodelCount - 1);
  }
  for (int t = 0; t < model.SubmodelCount; ++t) {
    if (model.submodels[t].IsOrdinal()) boundary_loglinear += ZeroFittedCells(run, t);
  }
  // The hazard cells without expected events are those without exposure in the data.
  const std::int64_t zero_rates = simulated ? 0 : hazard_fit.zero_rates;
  auto warn = [&](std::int64_t n, const char* text) {
    if (n > 0) results.warnings.push_back(Integer(static_cast<double>(n)) + text);
  };
  warn(boundary_loglinear, " (nearly) boundary or non-identified (log-linear) parameters");
  warn(zero_margin, " zeroes in fixed margin of exogenous variables");
  warn(zero_frequencies, " zero estimated frequencies");
  warn(boundary_hazard, " (nearly) boundary or non-identified hazard parameters");
  warn(zero_rates, " zero estimated hazard rates");
  if (estimation.iteration_limit_reached) {
    results.warnings.push_back("the iteration limit was reached before convergence");
  }

  const bool shown = settings.show_frequencies && settings.show_details && !hazard;
  if (shown && cells <= kLargestListedTable && run.data.entry_count_given && !simulated) {
    results.frequency_listing = FrequencyListing::kListed;
    results.frequencies = ComputeFrequencies(run);
  } else if (shown && simulated) {
    results.frequency_listing = FrequencyListing::kNotComputed;
  } else if (shown && cells > kLargestListedTable) {
    results.frequency_listing = FrequencyListing::kNotListed;
  }
  return results;
}

void WriteStatisticsSection(const StatisticsResults& results, const ModelState& model,
                            TextFile& out) {
  const bool hazard = results.hazard_model;
  out.WriteLine("");
  out.WriteLine("*** STATISTICS ***");
  out.WriteLine("");
  out.WriteLine(Blanks(2) + "Number of iterations = " + Integer(results.iterations));
  out.WriteLine(Blanks(2) +
                "Converge criterion   = " + Fixed(10, 10, results.convergence_criterion));
  if (results.seed_shown) {
    out.WriteLine(Blanks(2) + "Seed random values   = " + Integer(results.seed));
  }
  out.WriteLine("");
  auto with_p = [&](const char* label, const FitTest& test) {
    out.WriteLine(Blanks(2) + label + Fixed(4, 4, test.value) + " (" + Fixed(4, 4, test.p) + ")");
  };
  const std::string sample_size =
      Blanks(2) + "Sample size          = " + Fixed(1, 1, results.sample_size);
  if (results.simulated) {
    out.WriteLine(Blanks(2) +
                  "Not computed: fit statistics, log-likelihood, BIC and AIC (the data were "
                  "simulated).");
    if (!hazard && results.fit_block) {
      out.WriteLine(Blanks(2) +
                    "Degrees of freedom   = " + Integer(static_cast<double>(results.df)));
    }
    const double parameters =
        static_cast<double>(hazard ? results.all_parameters : results.parameters);
    out.WriteLine(
        Blanks(2) + "Number of parameters = " + Integer(parameters) +
        (hazard ? "" : " (+" + Integer(static_cast<double>(results.fixed_parameters)) + ")"));
    out.WriteLine(sample_size);
  } else if (!hazard) {
    if (results.fit_block) {
      with_p("X-squared            = ", results.x_squared);
      with_p("L-squared            = ", results.l_squared);
      with_p("Cressie-Read         = ", results.cressie_read);
      if (results.has_dissimilarity) {
        out.WriteLine(Blanks(2) + "Dissimilarity index  = " + Fixed(4, 4, results.dissimilarity));
      }
      out.WriteLine(Blanks(2) + "Degrees of freedom   = " + std::to_string(results.df));
    } else if (!results.special) {
      // The statistics of fit compare with the saturated model of the whole table.
      out.WriteLine(Blanks(2) + "X-squared, L-squared, Cressie-Read and degrees of freedom are");
      out.WriteLine(Blanks(2) + "not given: the table has more than 1E18 cells.");
    }
    out.WriteLine(Blanks(2) + "Log-likelihood       = " + Fixed(5, 5, results.log_likelihood));
    out.WriteLine(Blanks(2) +
                  "Number of parameters = " + Integer(static_cast<double>(results.parameters)) +
                  " (+" + Integer(static_cast<double>(results.fixed_parameters)) + ")");
    out.WriteLine(sample_size);
    if (results.fit_block) {
      out.WriteLine(Blanks(2) + "BIC(L-squared)       = " + Fixed(4, 4, results.bic_l_squared));
      out.WriteLine(Blanks(2) + "AIC(L-squared)       = " + Fixed(4, 4, results.aic_l_squared));
    }
  } else {
    if (!results.grouped_hazard) {
      out.WriteLine(Blanks(2) + "HAZARD MODEL ");
      out.WriteLine("");
      with_p("X-squared            = ", results.hazard_x_squared);
      with_p("L-squared            = ", results.hazard_l_squared);
      out.WriteLine(Blanks(2) + "Degrees of freedom   = " + std::to_string(results.hazard_df));
      out.WriteLine(Blanks(2) +
                    "Log-likelihood       = " + Fixed(5, 5, results.hazard_log_likelihood));
      out.WriteLine(Blanks(2) + "Number of parameters = " +
                    Integer(static_cast<double>(results.hazard_parameters)));
      out.WriteLine("");
      out.WriteLine(Blanks(2) + "LOG-LINEAR AND HAZARD MODEL");
      out.WriteLine("");
    }
    out.WriteLine(Blanks(2) + "Log-likelihood       = " + Fixed(5, 5, results.log_likelihood));
    out.WriteLine(Blanks(2) +
                  "Number of parameters = " + Integer(static_cast<double>(results.all_parameters)));
    out.WriteLine(sample_size);
  }
  if (!results.simulated) {
    out.WriteLine(Blanks(2) + "BIC(log-likelihood)  = " + Fixed(4, 4, results.bic_log_likelihood));
    out.WriteLine(Blanks(2) + "AIC(log-likelihood)  = " + Fixed(4, 4, results.aic_log_likelihood));
  }

  out.WriteLine("");
  if (results.eigenvalues_shown) {
    out.WriteLine(Blanks(2) + "Eigenvalues information matrix");
    std::string line = Blanks(2);
    for (std::size_t k = 0; k < results.eigenvalues.size(); ++k) {
      if (k > 0 && k % 6 == 0) {
        out.WriteLine(line);
        line = Blanks(2);
      }
      const double value = results.eigenvalues[k];
      line += value < 100000 ? Fixed(11, 4, value) : FormatReal(11, -1, value);
    }
    out.WriteLine(line);
    out.WriteLine("");
  }
  for (const std::string& warning : results.warnings) out.WriteLine("WARNING: " + warning);
  out.WriteLine("");
  out.WriteLine("");

  switch (results.frequency_listing) {
    case FrequencyListing::kListed:
      WriteFrequencies(results.frequencies, model, out);
      break;
    case FrequencyListing::kNotComputed:
      WriteNotComputedSection(out, "*** FREQUENCIES ***");
      break;
    case FrequencyListing::kNotListed:
      out.WriteLine("");
      out.WriteLine("*** FREQUENCIES ***");
      out.WriteLine("");
      out.WriteLine(NotListedText("observed table", static_cast<double>(kLargestListedTable)));
      out.WriteLine("");
      break;
    case FrequencyListing::kNone:
      break;
  }
}

}  // namespace tav
