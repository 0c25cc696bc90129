#include "newton/score_layout.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/table_zero.h"
#include "estimation/model_family.h"

namespace tav {

ScoreLayout ScoreLayoutOf(const RunState& run) {
  ScoreLayout layout;
  const ModelState& model = run.model;
  const EstimationState& est = run.estimation;
  const NewtonState& newton = run.newton;
  const std::vector<FreeParameter>& parameters = est.free_parameters.parameters;
  const int n = static_cast<int>(parameters.size());
  layout.directions.resize(n);
  if (!est.free_parameters.Usable() || !newton.effects_ready) {
    layout.complete = false;
    return layout;
  }
  layout.forms.assign(model.submodels.size(), TableForm::kUncovered);
  for (int i = 0; i < n && layout.complete; ++i) {
    const FreeParameter& parameter = parameters[i];
    Direction& direction = layout.directions[i];
    if (CovariancesFromOwnStep(run, parameter)) continue;
    ParameterDirection action = FamilyOf(run, parameter).DirectionOf(run, parameter);
    if (action.kind == ParameterDirection::Kind::kLeftOut) continue;
    if (action.kind == ParameterDirection::Kind::kNotCovered) {
      layout.complete = false;
      continue;
    }
    direction.table = action.table;
    if (action.kind == ParameterDirection::Kind::kCells) {
      direction.x = std::move(action.x);
    } else {
      auto same = [&](const EffectGroup& group) {
        return group.table == action.table && group.effect == parameter.effect;
      };
      auto found = std::find_if(layout.groups.begin(), layout.groups.end(), same);
      if (found == layout.groups.end()) {
        layout.groups.push_back({action.table, parameter.effect, &newton.effect_shapes[i], {}});
        found = layout.groups.end() - 1;
      }
      found->parameters.push_back(i);
      direction.group = static_cast<int>(found - layout.groups.begin());
    }
    const int t = direction.table;
    if (t < 0) continue;
    const Submodel& table = model.submodels[t];
    const TableForm form = TableFormOf(run, t, action.kind);
    if (form == TableForm::kUncovered || form == TableForm::kNotOwned ||
        (direction.group < 0 && static_cast<std::int64_t>(direction.x.size()) !=
                                    static_cast<std::int64_t>(table.cell_count))) {
      layout.complete = false;
      continue;
    }
    layout.forms[t] = form;
    layout.linked = layout.linked || form == TableForm::kLinked;
    if (std::find(layout.tables.begin(), layout.tables.end(), t) == layout.tables.end()) {
      layout.tables.push_back(t);
    }
  }
  std::sort(layout.tables.begin(), layout.tables.end());
  return layout;
}

TableSpan TableSpanOf(const RunState& run, int t) {
  const Submodel& submodel = run.model.submodels[t];
  return {static_cast<std::int64_t>(submodel.first_cell),
          static_cast<std::int64_t>(submodel.cell_count)};
}

std::vector<double> TableBlockSums(const RunState& run, int t, const double* values) {
  const MarginShape& shape = run.estimation.condition_shapes[t];
  std::vector<double> sums(shape.margin_cells());
  shape.MarginOf(values, sums.data());
  return sums;
}

void BlockFittedCounts(const RunState& run, int t, const double* fitted, const double* expected,
                       double* w) {
  std::vector<double> ratio = TableBlockSums(run, t, expected);
  const std::vector<double> fitted_sums = TableBlockSums(run, t, fitted);
  for (std::size_t b = 0; b < ratio.size(); ++b) {
    ratio[b] = fitted_sums[b] > kTableZero ? ratio[b] / fitted_sums[b] : 0.0;
  }
  run.estimation.condition_shapes[t].Scale(fitted, ratio.data(), w);
}

bool SingleCompletions(const RunState& run) {
  const std::vector<double>& counts = run.model.complete_cell_count;
  return std::all_of(counts.begin(), counts.end(), [](double c) { return c <= 1; });
}

}  // namespace tav
