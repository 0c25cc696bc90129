#include "newton/score_layout.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/table_zero.h"
#include "estimation/association_model.h"
#include "estimation/design_effects.h"

namespace tav {

bool MarginallyRestricted(const RunState& run, const FreeParameter& parameter) {
  // A design of `all` belongs to the submodel it is aimed at.
  int table = parameter.submodel;
  if (parameter.design >= 0) {
    const DesignWork* work = FindDesignWork(run, parameter.submodel, parameter.design);
    if (work != nullptr) table = work->table;
  }
  return table >= 0 && table < run.model.SubmodelCount &&
         run.model.submodels[table].MarSubmodel != MarRestrictions::kNone;
}

bool IsCumulativeTable(const RunState& run, int t) { return run.model.submodels[t].IsCumulative(); }

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
  const int hazard = est.hazard.table;
  for (int i = 0; i < n && layout.complete; ++i) {
    const FreeParameter& parameter = parameters[i];
    Direction& direction = layout.directions[i];
    if (MarginallyRestricted(run, parameter)) continue;
    if (parameter.shape) {
      layout.complete = false;
    } else if (parameter.design >= 0) {
      const DesignWork* work = FindDesignWork(run, parameter.submodel, parameter.design);
      if (work == nullptr || work->fixed || work->x.empty() || work->table < 0 ||
          (work->table >= model.SubmodelCount && work->table != hazard) || parameter.position < 0 ||
          parameter.position >= static_cast<int>(work->free.size())) {
        layout.complete = false;
        continue;
      }
      const std::int64_t k = work->free[parameter.position];
      direction.table = work->table;
      direction.x.assign(work->x.begin() + k * work->cells,
                         work->x.begin() + (k + 1) * work->cells);
    } else if (parameter.assoc >= 0) {
      direction.table = parameter.submodel;
      direction.x =
          AssociationCellChange(run, parameter.submodel, parameter.assoc, parameter.position);
    } else {
      direction.table = parameter.submodel;
      auto same = [&](const EffectGroup& group) {
        return group.table == parameter.submodel && group.effect == parameter.effect;
      };
      auto found = std::find_if(layout.groups.begin(), layout.groups.end(), same);
      if (found == layout.groups.end()) {
        layout.groups.push_back(
            {parameter.submodel, parameter.effect, &newton.effect_shapes[i], {}});
        found = layout.groups.end() - 1;
      }
      found->parameters.push_back(i);
      direction.group = static_cast<int>(found - layout.groups.begin());
    }
    const int t = direction.table;
    if (t < 0) continue;
    const Submodel& table = model.submodels[t];
    // The normal model (i) is left out: its scale follows the expected table. So are estimated
    // hazard shapes (kind 3), whose exposures move with them.
    const bool cumulative = t < model.SubmodelCount && table.IsCumulative();
    if ((t >= model.SubmodelCount &&
         (t != hazard || est.hazard.kind == TimeModel::kEstimatedShapes)) ||
        (cumulative && (table.CumulativeModel.IsNormal() || direction.group >= 0)) ||
        (direction.group < 0 && static_cast<std::int64_t>(direction.x.size()) !=
                                    static_cast<std::int64_t>(table.cell_count))) {
      layout.complete = false;
      continue;
    }
    layout.cumulative = layout.cumulative || cumulative;
    layout.hazard = layout.hazard || t == hazard;
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
