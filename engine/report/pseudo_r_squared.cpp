#include "report/pseudo_r_squared.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/elementary.h"
#include "core/format_real.h"
#include "core/table_zero.h"
#include "report/report_computations.h"
#include "report/results_document.h"
#include "report/write_report.h"

namespace tav {
namespace {

// a / b, or 0 when b is at most 1e-300.

double TableValue(const std::vector<double>& table, std::int64_t index) {
  return index >= 0 && index < static_cast<std::int64_t>(table.size())
             ? table[static_cast<std::size_t>(index)]
             : 0.0;
}

}  // namespace

PseudoRSquared ComputePseudoRSquared(const RunState& run, int t) {
  const ModelState& model = run.model;
  const Submodel& submodel = model.submodels[t];
  const std::vector<int> variables = SubmodelVariableList(model, t);
  const auto cells = static_cast<std::int64_t>(submodel.cell_count);

  // Per cell: its expected frequency n, its fitted value, its dependent cell and its
  // conditioning cell (mixed radix over those variables, the last fastest).
  const MemoryReservation reserved(run.context, static_cast<double>(cells) * 4 * sizeof(double));
  std::vector<double> n(cells), fitted(cells);
  std::vector<std::int64_t> dependent_cell(cells), condition_cell(cells);
  std::int64_t dependent_cells = 1;
  std::int64_t condition_cells = 1;
  for (int v : variables) {
    (IsDependentIn(model, t, v) ? dependent_cells : condition_cells) *= model.Dimension[v];
  }
  std::vector<int> category(variables.size(), 0);
  for (std::int64_t c = 0; c < cells; ++c) {
    std::int64_t d = 0;
    std::int64_t k = 0;
    for (std::size_t i = 0; i < variables.size(); ++i) {
      const int v = variables[i];
      if (IsDependentIn(model, t, v)) {
        d = d * model.Dimension[v] + category[i];
      } else {
        k = k * model.Dimension[v] + category[i];
      }
    }
    dependent_cell[c] = d;
    condition_cell[c] = k;
    n[c] = TableValue(run.estimation.ExpectedTable, submodel.first_cell + c);
    fitted[c] = TableValue(run.estimation.FittedTable, submodel.first_cell + c);
    for (std::size_t i = variables.size(); i-- > 0;) {
      if (++category[i] < model.Dimension[variables[i]]) break;
      category[i] = 0;
    }
  }

  double total = 0.0;
  for (double x : n) total += x;

  // Baseline: the marginal distribution of the dependent variables (uniform for the first
  // submodel, whose fitted values are frequencies).
  std::vector<double> q;
  std::vector<double> condition_total(condition_cells, 0.0);
  std::vector<double> largest(condition_cells, 0.0);
  if (t >= 1) {
    q.assign(dependent_cells, 0.0);
    for (std::int64_t c = 0; c < cells; ++c) {
      q[dependent_cell[c]] += n[c];
      condition_total[condition_cell[c]] += n[c];
      largest[condition_cell[c]] = std::max(largest[condition_cell[c]], fitted[c]);
    }
  } else {
    q.assign(cells, TableRatio(total, static_cast<double>(cells)));
  }
  PseudoRSquared r;
  double squares = 0.0;
  double top = 0.0;
  double ll0 = 0.0;
  for (double qk : q) {
    const double share = TableRatio(qk, total);
    if (qk > 0 && share > 0) {
      r.entropy_baseline -= share * Log(share);
      ll0 += qk * Log(share);
    }
    squares += share * share;
    top = std::max(top, share);
  }
  r.variance_baseline = (1.0 - squares) * 0.5;
  r.error_baseline = 1.0 - top;

  // Fitted log-likelihood, classification and the model's own frequencies m.
  double ll1 = 0.0;
  double correct = 0.0;
  double entropy_sum = 0.0;
  double variance_sum = 0.0;
  for (std::int64_t c = 0; c < cells; ++c) {
    const double p = fitted[c];
    if (t >= 1) {
      const double m = condition_total[condition_cell[c]] * p;
      if (p > 0) {
        ll1 += n[c] * Log(p);
        entropy_sum += m * Log(p);
      }
      correct += TableRatio(n[c], total) * largest[condition_cell[c]];
      variance_sum += TableRatio(m, total) * p;
    } else {
      if (p > 0) {
        ll1 += n[c] * Log(p);
        entropy_sum += p * Log(p);
      }
      correct = std::max(correct, TableRatio(p, total));
      variance_sum += TableRatio(p, total) * TableRatio(p, total);
    }
  }
  const double n_log_n = total > 0 ? total * Log(total) : 0.0;
  if (t < 1) ll1 -= n_log_n;

  r.deviance_baseline = TableRatio(-2.0 * ll0, total);
  r.deviance_fitted = TableRatio(-2.0 * ll1, total);
  r.deviance_r2 = r.deviance_baseline != 0 ? 1.0 - r.deviance_fitted / r.deviance_baseline : 0.0;
  const double spread = r.deviance_baseline + 1.0 - r.deviance_fitted;
  r.deviance_ratio = spread != 0 ? (r.deviance_baseline - r.deviance_fitted) / spread : 0.0;

  r.likelihood_baseline = Exp(r.deviance_baseline);
  r.likelihood_fitted = Exp(r.deviance_fitted);
  r.likelihood_r2 =
      r.likelihood_baseline != 0 ? 1.0 - r.likelihood_fitted / r.likelihood_baseline : 0.0;
  r.likelihood_ratio = r.likelihood_baseline != 1 ? (r.likelihood_baseline - r.likelihood_fitted) /
                                                        (r.likelihood_baseline - 1.0)
                                                  : 0.0;

  r.error_fitted = 1.0 - correct;
  r.error_r2 = r.error_baseline > 0 ? 1.0 - r.error_fitted / r.error_baseline : 0.0;

  r.entropy_fitted =
      t >= 1 ? -TableRatio(entropy_sum, total) : TableRatio(n_log_n - entropy_sum, total);
  r.variance_fitted = (1.0 - variance_sum) * 0.5;
  r.entropy_r2 = r.entropy_baseline != 0 ? 1.0 - r.entropy_fitted / r.entropy_baseline : 0.0;
  r.variance_r2 = r.variance_baseline != 0 ? 1.0 - r.variance_fitted / r.variance_baseline : 0.0;
  return r;
}

int FirstPseudoRSquaredSubmodel(const ModelState& model, int first) {
  const int count = model.SubmodelCount;
  int start = first;
  if (first == 0) {
    start = 1;
  } else if (first == 1 && count > 1 && model.submodels[0].cell_count == 1 &&
             model.submodels[1].condition_cells == 1) {
    start = 2;
  }
  while (start < count && IsNormalCumulative(model, start)) ++start;
  return start;
}

PseudoRSquaredResults ComputePseudoRSquaredSection(const RunState& run, int first) {
  const ModelState& model = run.model;
  const int count = model.SubmodelCount;
  const int start = FirstPseudoRSquaredSubmodel(model, first);
  PseudoRSquaredResults results;
  if (!run.settings.show_pseudo_r2 || !run.settings.show_details || start >= count) {
    return results;
  }
  // They compare the fit with the data's expected frequencies.
  if (DataSimulated(run)) {
    results.listing = PseudoRSquaredResults::Listing::kNotComputed;
    return results;
  }
  results.listing = PseudoRSquaredResults::Listing::kShown;
  for (int t = start; t < count; ++t) {
    if (model.submodels[t].IsTied() || IsNormalCumulative(model, t)) continue;
    results.blocks.push_back({t, ConditionalLabel(run, t), ComputePseudoRSquared(run, t)});
  }
  return results;
}

void WritePseudoRSquaredSection(const PseudoRSquaredResults& results, TextFile& out) {
  if (results.listing == PseudoRSquaredResults::Listing::kNotComputed) {
    WriteNotComputedSection(out, "*** PSEUDO R-SQUARED MEASURES ***");
  }
  if (results.listing != PseudoRSquaredResults::Listing::kShown) return;
  out.WriteLine("");
  out.WriteLine("*** PSEUDO R-SQUARED MEASURES ***");
  out.WriteLine("");
  auto row = [](const char* label, double baseline, double fitted, double r2) {
    return Blanks(2) + label + FormatReal(10, 4, baseline) + FormatReal(10, 4, fitted) +
           FormatReal(10, 4, r2);
  };
  for (const PseudoRSquaredResults::Block& block : results.blocks) {
    const PseudoRSquared& r = block.figures;
    out.WriteLine("* " + block.label + " *");
    out.WriteLine("                         baseline   fitted   R-squared");
    out.WriteLine(row("entropy             ", r.entropy_baseline, r.entropy_fitted, r.entropy_r2));
    out.WriteLine(
        row("qualitative variance", r.variance_baseline, r.variance_fitted, r.variance_r2));
    out.WriteLine(row("classification error", r.error_baseline, r.error_fitted, r.error_r2));
    out.WriteLine(
        row("-2/N*log-likelihood ", r.deviance_baseline, r.deviance_fitted, r.deviance_r2) + "/" +
        FormatReal(6, 4, r.deviance_ratio));
    out.WriteLine(
        row("likelihood^(-2/N)   ", r.likelihood_baseline, r.likelihood_fitted, r.likelihood_r2) +
        "/" + FormatReal(6, 4, r.likelihood_ratio));
    out.WriteLine("");
  }
  out.WriteLine("");
}

}  // namespace tav
