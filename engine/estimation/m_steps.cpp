#include "estimation/m_steps.h"

#include <cmath>
#include <vector>

#include "core/log.h"
#include "core/parallel.h"
#include "core/stop_run.h"
#include "core/table_zero.h"

namespace tav {
namespace {

// The eq2/eq3 submodels in submodel order, with the position of their first cell in the
// concatenated restriction tables.
struct RestrictedSubmodel {
  int r;
  std::int64_t first;  // index into RestrictionClass / RestrictionColumn
};

std::vector<RestrictedSubmodel> RestrictedSubmodels(const ModelState& model) {
  std::vector<RestrictedSubmodel> list;
  std::int64_t first = 0;
  for (int r = 0; r < model.SubmodelCount; ++r) {
    const Submodel& submodel = model.submodels[r];
    if (submodel.SubmodelKind != SubmodelKindCode::kEqualityRestricted) continue;
    list.push_back({r, first});
    first += static_cast<std::int64_t>(submodel.cell_count);
  }
  return list;
}

// Column totals of the expected cells over the conditioning margin of every eq2/eq3
// submodel, at its first_condition_cell; the single column of submodel 0 holds N.
void ExpectedColumnTotals(EstimationRun& run) {
  EstimationState& est = run.estimation;
  for (const RestrictedSubmodel& item : RestrictedSubmodels(run.model)) {
    const Submodel& submodel = run.model.submodels[item.r];
    if (item.r == 0) continue;
    est.condition_shapes[item.r].MarginOf(
        est.ExpectedTable.data() + submodel.first_cell,
        est.ExpectedMarginWork.data() + submodel.first_condition_cell);
  }
  if (!est.ExpectedMarginWork.empty()) est.ExpectedMarginWork[0] = run.data.total_count;
}

}  // namespace

namespace {

// The expected table's margin i of submodel r, formed when first asked for.
const std::vector<double>& ExpectedMargin(EstimationRun& run, int r, int i, int threads) {
  EstimationState& est = run.estimation;
  std::vector<double>& margin = est.expected_margins[r][i];
  if (margin.empty()) {
    const MarginShape& shape = est.margin_shapes[r][i];
    margin.resize(shape.margin_cells());
    shape.MarginOf(est.ExpectedTable.data() + run.model.submodels[r].first_cell, margin.data(),
                   threads);
  }
  return margin;
}

// Margins first .. last - 1 of submodel r in turn; the fitted margin of each but the first is
// formed while the table is scaled by the one before.
void IpfAdjustMargins(EstimationRun& run, int r, int first, int last) {
  EstimationState& est = run.estimation;
  const int threads = ThreadCount(run.Threads());
  double* fitted = est.FittedTable.data() + run.model.submodels[r].first_cell;
  const std::vector<MarginShape>& shapes = est.margin_shapes[r];
  std::vector<double> ratio(shapes[first].margin_cells());
  shapes[first].MarginOf(fitted, ratio.data(), threads);
  std::vector<double> next;
  for (int i = first; i < last; ++i) {
    // A margin's step is a pass or two over a table that may be large.
    CheckCancel(run.context);
    const std::vector<double>& expected_margin = ExpectedMargin(run, r, i, threads);
    for (std::size_t m = 0; m < ratio.size(); ++m)
      ratio[m] = TableRatio(expected_margin[m], ratio[m]);
    if (i + 1 < last) {
      next.assign(shapes[i + 1].margin_cells(), 0.0);
      shapes[i].ScaleThenMarginOf(fitted, ratio.data(), fitted, shapes[i + 1], next.data(),
                                  threads);
    } else {
      shapes[i].Scale(fitted, ratio.data(), fitted, threads);
    }
    const std::int64_t offset = est.margin_parameter_offset[r][i];
    if (offset >= 0 && run.settings.show_parameters) {
      double* parameters = est.MarginParameters.data() + offset;
      for (std::size_t m = 0; m < ratio.size(); ++m) parameters[m] *= ratio[m];
    }
    ratio.swap(next);
  }
}

}  // namespace

void IpfAdjust(EstimationRun& run, int r, int i) { IpfAdjustMargins(run, r, i, i + 1); }

void IpfAdjustAll(EstimationRun& run, int r) {
  const int count = run.model.submodels[r].MarginCount();
  if (count > 0) IpfAdjustMargins(run, r, 0, count);
}

void FitModelTerms(EstimationRun& run, int r) {
  const Settings& settings = run.settings;
  const int iteration = run.estimation.iteration;
  // The Newton-type iterations take over from proportional fitting, unless they keep it
  // running (algorithm 4); submodels without free parameters (the first one with nfi) and
  // models whose free-parameter list is empty or too long keep it too.
  const bool em_steps = iteration <= settings.newton_start_iteration ||
                        settings.newton_algorithm == NewtonAlgorithm::kNewtonRaphsonWithEm;
  if (iteration <= 0 || !(em_steps || !run.estimation.free_parameters.Fits(r))) return;
  IpfAdjustAll(run, r);
}

void CopyObservedSaturated(EstimationRun& run) {
  EstimationState& est = run.estimation;
  for (int r = 0; r < run.model.SubmodelCount; ++r) {
    const Submodel& submodel = run.model.submodels[r];
    if (!submodel.IsSaturatedFixed()) continue;
    const auto cells = static_cast<std::int64_t>(submodel.cell_count);
    std::copy_n(est.ExpectedTable.begin() + submodel.first_cell, cells,
                est.FittedTable.begin() + submodel.first_cell);
  }
}

void FitEqualityRestrictions(EstimationRun& run) {
  const ModelState& model = run.model;
  EstimationState& est = run.estimation;
  const std::vector<RestrictedSubmodel> restricted = RestrictedSubmodels(model);
  if (restricted.empty()) return;
  ExpectedColumnTotals(run);
  double* fitted = est.FittedTable.data();
  const double* expected = est.ExpectedTable.data();
  double* totals = est.ExpectedMarginWork.data();

  // Fixed cells: the column total is scaled so that the free and equality cells share the
  // mass the fixed cells leave.
  for (const RestrictedSubmodel& item : restricted) {
    const Submodel& submodel = model.submodels[item.r];
    const auto columns = static_cast<std::int64_t>(submodel.condition_cells);
    std::vector<double> fixed_fitted(columns, 0.0);
    std::vector<double> fixed_expected(columns, 0.0);
    const auto cells = static_cast<std::int64_t>(submodel.cell_count);
    for (std::int64_t c = 0; c < cells; ++c) {
      if (RestrictionClassOf(model, item.first + c) != -1) continue;
      const std::int32_t j = model.RestrictionColumn[item.first + c];
      fixed_fitted[j] += fitted[submodel.first_cell + c];
      fixed_expected[j] += expected[submodel.first_cell + c];
    }
    for (std::int64_t j = 0; j < columns; ++j) {
      double& total = totals[submodel.first_condition_cell + j];
      const double a = TableRatio(fixed_expected[j], total);
      if (a < 1) total /= (1 - fixed_fitted[j]) / (1 - a);
    }
  }

  // Equality sets: E over T, pooled over all their cells.
  const int sets = model.RestrictionSetCount;
  std::vector<double> set_expected(sets + 1, 0.0);
  std::vector<double> set_totals(sets + 1, 0.0);
  for (const RestrictedSubmodel& item : restricted) {
    const Submodel& submodel = model.submodels[item.r];
    const auto cells = static_cast<std::int64_t>(submodel.cell_count);
    for (std::int64_t c = 0; c < cells; ++c) {
      const std::int32_t k = RestrictionClassOf(model, item.first + c);
      if (k < 1) continue;
      const std::int32_t j = model.RestrictionColumn[item.first + c];
      set_expected[k] += expected[submodel.first_cell + c];
      set_totals[k] += totals[submodel.first_condition_cell + j];
    }
  }
  for (const RestrictedSubmodel& item : restricted) {
    const Submodel& submodel = model.submodels[item.r];
    const auto cells = static_cast<std::int64_t>(submodel.cell_count);
    for (std::int64_t c = 0; c < cells; ++c) {
      const std::int32_t k = RestrictionClassOf(model, item.first + c);
      if (k >= 1) fitted[submodel.first_cell + c] = TableRatio(set_expected[k], set_totals[k]);
    }
  }

  // Free cells share what the restricted cells leave of their column.
  for (const RestrictedSubmodel& item : restricted) {
    const Submodel& submodel = model.submodels[item.r];
    const auto columns = static_cast<std::int64_t>(submodel.condition_cells);
    const auto cells = static_cast<std::int64_t>(submodel.cell_count);
    std::vector<double> restricted_sum(columns, 0.0);
    std::vector<double> free_sum(columns, 0.0);
    for (std::int64_t c = 0; c < cells; ++c) {
      const std::int32_t j = model.RestrictionColumn[item.first + c];
      const std::int64_t cell = submodel.first_cell + c;
      if (RestrictionClassOf(model, item.first + c) != 0) {
        restricted_sum[j] += fitted[cell];
      } else {
        fitted[cell] = TableRatio(expected[cell], totals[submodel.first_condition_cell + j]);
        free_sum[j] += fitted[cell];
      }
    }
    for (std::int64_t j = 0; j < columns; ++j) {
      // Sums of restricted probabilities that differ from 1 by rounding only count as 1.
      const double d = restricted_sum[j];
      if (d > 1 + 1e-10 || (d < 1 - 1e-10 && free_sum[j] < kTableZero)) {
        StopRun("  Error: \"eq3\" fails, try \"eq2\"");
      }
      if (free_sum[j] > 0) {
        const double factor = (1 - d) / free_sum[j];
        for (std::int64_t c = 0; c < cells; ++c) {
          if (model.RestrictionColumn[item.first + c] == j &&
              RestrictionClassOf(model, item.first + c) == 0) {
            fitted[submodel.first_cell + c] *= factor;
          }
        }
      }
    }
  }
}

void FitEqualityRestrictionsEq2(EstimationRun& run) {
  const ModelState& model = run.model;
  EstimationState& est = run.estimation;
  EqualityState& eq2 = EqualityStateOf(run);
  const std::vector<RestrictedSubmodel> restricted = RestrictedSubmodels(model);
  if (restricted.empty()) return;
  double* fitted = est.FittedTable.data();
  const double* expected = est.ExpectedTable.data();
  const int sets = model.RestrictionSetCount;

  // Columns are numbered on from one eq2/eq3 submodel to the next.
  std::int64_t columns = 0;
  for (const RestrictedSubmodel& item : restricted) {
    columns += static_cast<std::int64_t>(model.submodels[item.r].condition_cells);
  }
  auto count = [&](std::int64_t j, int k) -> std::int32_t& {
    return eq2.count[static_cast<std::size_t>(j * (sets + 1) + k)];
  };
  if (!eq2.ready) {
    ExpectedColumnTotals(run);
    eq2.lambda.assign(columns, 0.0);
    eq2.free_mass.assign(columns, 1.0);
    eq2.free_total.assign(columns, 0.0);
    eq2.set_total.assign(sets + 1, 0.0);
    eq2.count = AllocIntArray(run.context, (sets + 1) * columns + 1);
    std::int64_t base = 0;
    for (const RestrictedSubmodel& item : restricted) {
      const Submodel& submodel = model.submodels[item.r];
      const auto here = static_cast<std::int64_t>(submodel.condition_cells);
      for (std::int64_t j = 0; j < here; ++j) {
        eq2.lambda[base + j] = est.ExpectedMarginWork[submodel.first_condition_cell + j];
      }
      const auto cells = static_cast<std::int64_t>(submodel.cell_count);
      for (std::int64_t c = 0; c < cells; ++c) {
        const std::int32_t k = RestrictionClassOf(model, item.first + c);
        const std::int32_t j = model.RestrictionColumn[item.first + c];
        if (k >= 1) ++count(j, k);
        if (k == -1) eq2.free_mass[j] -= fitted[submodel.first_cell + c];
      }
      base += here;
    }
    eq2.ready = true;
  }

  // Expected totals of the sets and of the free cells of every column.
  std::fill(eq2.set_total.begin(), eq2.set_total.end(), 0.0);
  std::fill(eq2.free_total.begin(), eq2.free_total.end(), 0.0);
  for (const RestrictedSubmodel& item : restricted) {
    const Submodel& submodel = model.submodels[item.r];
    const auto cells = static_cast<std::int64_t>(submodel.cell_count);
    for (std::int64_t c = 0; c < cells; ++c) {
      const std::int32_t k = RestrictionClassOf(model, item.first + c);
      const double value = expected[submodel.first_cell + c];
      if (k >= 1) eq2.set_total[k] += value;
      if (k == 0) eq2.free_total[model.RestrictionColumn[item.first + c]] += value;
    }
  }

  std::vector<double>& lambda = eq2.lambda;
  auto set_denominator = [&](int k) {
    double t = 0;
    for (std::int64_t j = 0; j < columns; ++j) t += count(j, k) * lambda[j];
    return t;
  };
  const double full_step = 1.0 / est.step_size;
  for (int pass = 1;; ++pass) {
    bool again = false;
    for (std::int64_t j = 0; j < columns; ++j) {
      const double e = eq2.free_total[j];
      double g = TableRatio(e, lambda[j]) - eq2.free_mass[j];
      double h = lambda[j] <= kTableZero ? 0.0 : -e / (lambda[j] * lambda[j]);
      for (int k = 1; k <= sets; ++k) {
        const std::int32_t kk = count(j, k);
        if (kk < 1) continue;
        const double t = set_denominator(k);
        if (t <= kTableZero) continue;
        g += eq2.set_total[k] * kk / t;
        h -= static_cast<double>(kk) * kk * eq2.set_total[k] / (t * t);
      }
      double step = full_step;
      if (h != 0) lambda[j] -= step * g / h;
      while (lambda[j] < 0) {
        step /= 2;
        if (step < 1e-8) {
          StopRun("  Error: convergence problem with \"eq2\". Try other start values.");
        }
        lambda[j] += step * g / h;
      }
      if ((std::fabs(g) > 1e-10 || step < full_step) && pass < 25) again = true;
    }
    if (!again) break;
  }

  std::vector<double> set_value(sets + 1, 0.0);
  for (int k = 1; k <= sets; ++k) set_value[k] = TableRatio(eq2.set_total[k], set_denominator(k));
  for (const RestrictedSubmodel& item : restricted) {
    const Submodel& submodel = model.submodels[item.r];
    const auto cells = static_cast<std::int64_t>(submodel.cell_count);
    for (std::int64_t c = 0; c < cells; ++c) {
      const std::int32_t k = RestrictionClassOf(model, item.first + c);
      const std::int64_t cell = submodel.first_cell + c;
      if (k == 0) {
        fitted[cell] = TableRatio(expected[cell], lambda[model.RestrictionColumn[item.first + c]]);
      } else if (k >= 1) {
        fitted[cell] = set_value[k];
      }
    }
  }
}

std::int32_t RestrictionClassOf(const ModelState& model, std::int64_t index) {
  return index < static_cast<std::int64_t>(model.RestrictionClass.size())
             ? model.RestrictionClass[index]
             : 0;
}

std::int64_t FirstRestrictionIndex(const ModelState& model, int r) {
  for (const RestrictedSubmodel& item : RestrictedSubmodels(model)) {
    if (item.r == r) return item.first;
  }
  return 0;
}

}  // namespace tav
