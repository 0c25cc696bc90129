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

void WriteFrequencies(RunState& run) {
  const ModelState& model = run.model;
  const DataStore& data = run.data;
  TextFile& out = run.ReportFile;
  const int first = model.FirstManifest();
  const int subgroups = model.SubgroupCount;
  out.WriteLine("");
  out.WriteLine("*** FREQUENCIES ***");
  out.WriteLine("");
  std::int64_t cursor = 0;
  for (int s = 0; s < subgroups && s < static_cast<int>(model.SubgroupPattern.size()); ++s) {
    const Membership& marks = model.SubgroupPattern[s];
    if (subgroups > 1) {
      out.WriteLine(SubgroupHeading(model, s));
      out.WriteLine("");
    }
    std::vector<int> observed;
    std::vector<int> width;
    std::string heading = Blanks(2);
    for (int v = first; v < model.VariableCount; ++v) {
      if (marks[v - first] != 1) continue;
      observed.push_back(v);
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

    double x_squared = 0.0;
    double l_squared = 0.0;
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
      const double m = EstimatedObservedFrequency(run, s, static_cast<double>(c));
      std::string line = Blanks(2);
      for (std::size_t i = 0; i < observed.size(); ++i) {
        line += FormatReal(width[i], 0, category[i] + 1) + " ";
      }
      line += Fixed(11, 3, n) + Fixed(11, 3, m);
      if (m > 0.0) {
        const double residual = (n - m) / std::sqrt(m);
        line += Blanks(2) + Fixed(9, 3, residual);
        x_squared += residual * residual;
        if (n > 0.0) l_squared += 2.0 * n * Log(n / m);
      } else {
        line += " *" + Fixed(9, 3, 0.0);
      }
      out.WriteLine(line);
      if (run.results) {
        std::vector<int> categories(category.size());
        for (std::size_t i = 0; i < category.size(); ++i) categories[i] = category[i] + 1;
        RecordFrequency(run, s, categories, n, m, m > 0.0 ? (n - m) / std::sqrt(m) : NAN);
      }
    }
    if (subgroups > 1) {
      out.WriteLine("");
      out.WriteLine(Blanks(2) + "X-squared = " + Fixed(4, 4, x_squared) +
                    ", L-squared = " + Fixed(4, 4, l_squared));
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
    const HazardWork& work = run.estimation.hazard;
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

void WriteStatistics(RunState& run) {
  const ModelState& model = run.model;
  const Settings& settings = run.settings;
  EstimationState& estimation = run.estimation;
  TextFile& out = run.ReportFile;

  // Preliminaries.
  const bool hazard = HasHazardPart(run);
  const bool grouped_hazard = hazard && (model.SubgroupCount > 1 || model.LatentStateCount > 1);
  const bool special = model.CumulativeI;
  const bool fit_block = !special && model.ManifestCellCount < 1e18L;
  const std::int64_t cells = ObservedCells(model);
  // Simulated data: the sample size is theirs, and nothing compares the model with data.
  const bool simulated = DataSimulated(run);
  const double n_total = simulated ? run.simulated_total : run.data.total_count;
  const bool show_frequencies = settings.show_frequencies && settings.show_details && !hazard &&
                                cells <= kLargestListedTable && run.data.entry_count_given &&
                                !simulated;
  bool have_dissimilarity = false;
  std::int64_t zero_frequencies = 0;
  if (!hazard && !special) {
    if (model.CovariateCount > 0) {
      estimation.ExpectedTotal = n_total - estimation.ExcludedObservations;
    }
    const double used = n_total - estimation.ExcludedObservations;
    if (used > 0 && !simulated) {
      estimation.AbsResidualSum =
          (used - estimation.ExpectedTotal + estimation.AbsResidualSum) * 0.5 / used;
      have_dissimilarity = true;
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
  const HazardFit hazard_fit = HazardPartFit(run);
  const double log_likelihood = estimation.LogLikelihood;
  const double bic_ll =
      -2.0 * log_likelihood + (n_total > 0 ? Log(n_total) * count.all_parameters : 0.0);
  const double aic_ll = -2.0 * log_likelihood + 2.0 * count.all_parameters;

  StatisticsFigures figures;
  figures.simulated = simulated;
  figures.fit_block = !hazard && fit_block && !simulated;
  figures.log_likelihood = log_likelihood;
  figures.sample_size = n_total;
  figures.bic_log_likelihood = bic_ll;
  figures.aic_log_likelihood = aic_ll;

  // The section.
  out.WriteLine("");
  out.WriteLine("*** STATISTICS ***");
  out.WriteLine("");
  out.WriteLine(Blanks(2) + "Number of iterations = " + Integer(run.IterationCount));
  out.WriteLine(Blanks(2) + "Converge criterion   = " + Fixed(10, 10, run.StopCriterion));
  if (model.SubgroupCount > 1 || model.LatentCount > 0) {
    out.WriteLine(Blanks(2) + "Seed random values   = " + Integer(run.SeedUsed));
  }
  out.WriteLine("");
  if (simulated) {
    out.WriteLine(Blanks(2) +
                  "Not computed: fit statistics, log-likelihood, BIC and AIC (the data were "
                  "simulated).");
    if (!hazard && fit_block) {
      out.WriteLine(Blanks(2) + "Degrees of freedom   = " + Integer(static_cast<double>(count.df)));
      figures.df = static_cast<double>(count.df);
      figures.has_df = true;
    }
    const bool own_fixed = !hazard;
    const double parameters = static_cast<double>(hazard ? count.all_parameters : count.parameters);
    out.WriteLine(Blanks(2) + "Number of parameters = " + Integer(parameters) +
                  (own_fixed ? " (+" + Integer(static_cast<double>(count.fixed)) + ")" : ""));
    out.WriteLine(Blanks(2) + "Sample size          = " + Fixed(1, 1, n_total));
    figures.parameters = parameters;
    if (own_fixed) figures.fixed_parameters = static_cast<double>(count.fixed);
  } else if (!hazard) {
    if (fit_block) {
      const double x = estimation.PearsonSum;
      const double l = 2.0 * estimation.HalfLSquared;
      const double cr = estimation.CressieReadSum;
      const std::int64_t df = count.df;
      auto with_p = [&](const char* label, double value) {
        out.WriteLine(Blanks(2) + label + Fixed(4, 4, value) + " (" +
                      Fixed(4, 4, ChiSquaredProbability(df, value)) + ")");
      };
      with_p("X-squared            = ", x);
      with_p("L-squared            = ", l);
      with_p("Cressie-Read         = ", cr);
      figures.x_squared = {x, ChiSquaredProbability(df, x)};
      figures.l_squared = {l, ChiSquaredProbability(df, l)};
      figures.cressie_read = {cr, ChiSquaredProbability(df, cr)};
      figures.has_dissimilarity = have_dissimilarity;
      figures.dissimilarity = estimation.AbsResidualSum;
      figures.df = static_cast<double>(count.df);
      if (have_dissimilarity) {
        out.WriteLine(Blanks(2) +
                      "Dissimilarity index  = " + Fixed(4, 4, estimation.AbsResidualSum));
      }
      out.WriteLine(Blanks(2) + "Degrees of freedom   = " + std::to_string(count.df));
    } else if (!special) {
      // The statistics of fit compare with the saturated model of the whole table.
      out.WriteLine(Blanks(2) + "X-squared, L-squared, Cressie-Read and degrees of freedom are");
      out.WriteLine(Blanks(2) + "not given: the table has more than 1E18 cells.");
    }
    out.WriteLine(Blanks(2) + "Log-likelihood       = " + Fixed(5, 5, log_likelihood));
    out.WriteLine(Blanks(2) +
                  "Number of parameters = " + Integer(static_cast<double>(count.parameters)) +
                  " (+" + Integer(static_cast<double>(count.fixed)) + ")");
    out.WriteLine(Blanks(2) + "Sample size          = " + Fixed(1, 1, n_total));
    if (fit_block) {
      const double l = 2.0 * estimation.HalfLSquared;
      const double df = static_cast<double>(count.df);
      out.WriteLine(Blanks(2) + "BIC(L-squared)       = " +
                    Fixed(4, 4, n_total > 0 ? l - Log(n_total) * df : l));
      out.WriteLine(Blanks(2) + "AIC(L-squared)       = " + Fixed(4, 4, l - 2.0 * df));
      figures.bic_l_squared = n_total > 0 ? l - Log(n_total) * df : l;
      figures.aic_l_squared = l - 2.0 * df;
    }
    figures.parameters = static_cast<double>(count.parameters);
    figures.fixed_parameters = static_cast<double>(count.fixed);
  } else {
    if (!grouped_hazard) {
      const std::int64_t df = count.hazard_df;
      auto with_p = [&](const char* label, double value) {
        out.WriteLine(Blanks(2) + label + Fixed(4, 4, value) + " (" +
                      Fixed(4, 4, ChiSquaredProbability(df, value)) + ")");
      };
      out.WriteLine(Blanks(2) + "HAZARD MODEL ");
      out.WriteLine("");
      with_p("X-squared            = ", hazard_fit.x_squared);
      with_p("L-squared            = ", hazard_fit.l_squared);
      out.WriteLine(Blanks(2) + "Degrees of freedom   = " + std::to_string(df));
      out.WriteLine(Blanks(2) + "Log-likelihood       = " + Fixed(5, 5, hazard_fit.log_likelihood));
      out.WriteLine(Blanks(2) + "Number of parameters = " +
                    Integer(static_cast<double>(count.hazard_parameters)));
      out.WriteLine("");
      out.WriteLine(Blanks(2) + "LOG-LINEAR AND HAZARD MODEL");
      out.WriteLine("");
      figures.hazard_fit = true;
      figures.x_squared = {hazard_fit.x_squared, ChiSquaredProbability(df, hazard_fit.x_squared)};
      figures.l_squared = {hazard_fit.l_squared, ChiSquaredProbability(df, hazard_fit.l_squared)};
      figures.df = static_cast<double>(df);
      figures.hazard_log_likelihood = hazard_fit.log_likelihood;
      figures.hazard_parameters = static_cast<double>(count.hazard_parameters);
    }
    out.WriteLine(Blanks(2) + "Log-likelihood       = " + Fixed(5, 5, log_likelihood));
    out.WriteLine(Blanks(2) +
                  "Number of parameters = " + Integer(static_cast<double>(count.all_parameters)));
    figures.parameters = static_cast<double>(count.all_parameters);
    out.WriteLine(Blanks(2) + "Sample size          = " + Fixed(1, 1, n_total));
  }
  if (!simulated) {
    out.WriteLine(Blanks(2) + "BIC(log-likelihood)  = " + Fixed(4, 4, bic_ll));
    out.WriteLine(Blanks(2) + "AIC(log-likelihood)  = " + Fixed(4, 4, aic_ll));
  }

  // Identification. The eigenvalues of the information matrix and the boundary counters come
  // with the standard errors; without them the warning stands in their place.
  std::int64_t boundary_loglinear = 0;
  std::int64_t boundary_hazard = 0;
  out.WriteLine("");
  const NewtonState& newton = run.newton;
  if (ShowsStdErrors(run) && !model.AnyMar) {
    out.WriteLine(Blanks(2) + "Eigenvalues information matrix");
    std::string line = Blanks(2);
    for (std::size_t k = 0; k < newton.eigenvalues.size(); ++k) {
      if (k > 0 && k % 6 == 0) {
        out.WriteLine(line);
        line = Blanks(2);
      }
      const double value = newton.eigenvalues[k];
      line += value < 100000 ? Fixed(11, 4, value) : FormatReal(11, -1, value);
    }
    out.WriteLine(line);
    out.WriteLine("");
    boundary_loglinear = newton.BoundaryLogLinear;
    boundary_hazard = newton.BoundaryHazard;
  } else {
    out.WriteLine("WARNING: no information is provided on identification of parameters");
    figures.warnings.push_back("no information is provided on identification of parameters");
    // Standard errors that were asked for but not computed: say why.
    if (settings.show_std_errors && !newton.std_errors_skipped.empty()) {
      figures.warnings.push_back(newton.std_errors_skipped);
      out.WriteLine("WARNING: " + figures.warnings.back());
    }
  }

  // Warnings.
  std::int64_t zero_margin = 0;
  if (model.SubmodelCount > 0 && model.submodels[0].IsSaturatedFixed() && !grouped_hazard) {
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
    if (n <= 0) return;
    figures.warnings.push_back(Integer(static_cast<double>(n)) + text);
    out.WriteLine("WARNING: " + figures.warnings.back());
  };
  warn(boundary_loglinear, " (nearly) boundary or non-identified (log-linear) parameters");
  warn(zero_margin, " zeroes in fixed margin of exogenous variables");
  warn(zero_frequencies, " zero estimated frequencies");
  warn(boundary_hazard, " (nearly) boundary or non-identified hazard parameters");
  warn(zero_rates, " zero estimated hazard rates");
  if (run.estimation.iteration_limit_reached) {
    figures.warnings.push_back("the iteration limit was reached before convergence");
    out.WriteLine("WARNING: " + figures.warnings.back());
  }
  RecordStatistics(run, figures);
  out.WriteLine("");
  out.WriteLine("");

  if (show_frequencies) {
    WriteFrequencies(run);
  } else if (simulated && settings.show_frequencies && settings.show_details && !hazard) {
    WriteNotComputedSection(out, "*** FREQUENCIES ***");
  } else if (settings.show_frequencies && settings.show_details && !hazard &&
             cells > kLargestListedTable) {
    out.WriteLine("");
    out.WriteLine("*** FREQUENCIES ***");
    out.WriteLine("");
    out.WriteLine(NotListedText("observed table", static_cast<double>(kLargestListedTable)));
    out.WriteLine("");
  }
  if (hazard) RecordEventHistory(run);

  WriteResultFiles(run);
}

}  // namespace tav
