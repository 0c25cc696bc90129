#include "report/event_history_results.h"

#include <algorithm>

#include "estimation/hazard_model.h"

namespace tav {
namespace {

using Results = EventHistoryResults;

// The categories (from 1) of covariate cell g, in variable order.
class CovariateCells {
 public:
  explicit CovariateCells(const RunState& run)
      : model_(run.model),
        // covariate_strides lists the covariates last first.
        strides_(HazardWorkOf(run).covariate_strides.rbegin(),
                 HazardWorkOf(run).covariate_strides.rend()) {}

  std::vector<std::string> Labels() const {
    std::vector<std::string> labels;
    for (const auto& [v, stride] : strides_) labels.push_back(model_.VariableLabel[v]);
    return labels;
  }
  std::vector<int> Categories(std::int64_t g) const {
    std::vector<int> categories;
    for (const auto& [v, stride] : strides_) {
      categories.push_back(static_cast<int>(g / stride % model_.Dimension[v]) + 1);
    }
    return categories;
  }

 private:
  const ModelState& model_;
  std::vector<std::pair<int, std::int64_t>> strides_;
};

std::vector<Results::Risk> RisksOf(const RunState& run) {
  const EventHistoryState& history = run.history;
  std::vector<Results::Risk> risks;
  for (int a = 0; a < history.StateCount; ++a) {
    for (int b = 0; b < history.StateCount; ++b) {
      const int k = history.RiskOf(a, b);
      if (k == 0) continue;
      Results::Risk risk{k, a, b, NAN};
      if (HasShapes(HazardWorkOf(run).kind)) risk.shape = HazardShape(run, k);
      risks.push_back(risk);
    }
  }
  std::stable_sort(risks.begin(), risks.end(),
                   [](const Results::Risk& x, const Results::Risk& y) { return x.risk < y.risk; });
  return risks;
}

// The rates, events and exposures of every hazard cell.
void AddCells(const RunState& run, const CovariateCells& cells, Results& results) {
  const HazardWork& hazard = HazardWorkOf(run);
  const EstimationState& est = run.estimation;
  const std::int64_t first = run.model.submodels[hazard.table].first_cell;
  // The events and exposures come from the data: NaN when the data were simulated.
  const double from_data = run.settings.simulate_file.empty() ? 1.0 : NAN;
  for (std::int64_t g = 0; g < hazard.covariate_cells; ++g) {
    const std::vector<int> categories = cells.Categories(g);
    for (int t = 0; t < hazard.time_points; ++t) {
      for (int k = 0; k < hazard.risks; ++k) {
        const std::int64_t i = (g * hazard.time_points + t) * hazard.risks + k;
        results.cells.push_back({categories, t + 1, k + 1, est.FittedTable[first + i],
                                 est.ExpectedTable[first + i] * from_data,
                                 hazard.exposure[i] * from_data});
      }
    }
  }
}

// The survival curve of covariate cell g and state a, given its survival at the ends of the
// intervals. Within interval t of continuous time, S(x) = S(t_t) times the survival from t_t
// to x, which takes one interval's work per point.
std::vector<std::pair<double, double>> CurvePoints(const RunState& run, std::int64_t g, int a,
                                                   const std::vector<double>& ends) {
  const HazardWork& hazard = HazardWorkOf(run);
  const std::vector<double>& grid = run.history.TimeValues;
  std::vector<std::pair<double, double>> points{{grid[0], 1.0}};
  double before = 1.0;
  for (int t = 0; t < hazard.time_points; ++t) {
    const double start = t == 0 ? 1.0 : ends[t - 1];
    const double end = ends[t];
    if (!std::isfinite(end)) continue;
    const double lo = grid[t];
    const double hi = grid[t + 1];
    if (hazard.kind == TimeModel::kDiscrete) {
      points.emplace_back(hi, before);
    } else {
      for (int j = 1; j < kSurvivalCurveSteps; ++j) {
        const double x = lo + (hi - lo) * j / kSurvivalCurveSteps;
        points.emplace_back(x, start * EpisodeSurvival(run, g, t, t, a, x, lo));
      }
    }
    points.emplace_back(hi, end);
    before = end;
  }
  return points;
}

// The survival of every leavable state at the ends of the intervals, and its curve.
void AddSurvival(const RunState& run, const CovariateCells& cells, const std::vector<int>& origins,
                 Results& results) {
  const HazardWork& hazard = HazardWorkOf(run);
  const std::size_t states = origins.size();
  for (std::int64_t g = 0; g < hazard.covariate_cells; ++g) {
    const std::vector<int> categories = cells.Categories(g);
    // ends[i][t]: state origins[i] at the end of interval t.
    std::vector<std::vector<double>> ends(states);
    for (int t = 0; t < hazard.time_points; ++t) {
      for (std::size_t i = 0; i < states; ++i) {
        ends[i].push_back(IntervalEndSurvival(run, g, t, origins[i]));
        results.survival.push_back({categories, t + 1, origins[i], ends[i].back()});
      }
    }
    for (std::size_t i = 0; i < states; ++i) {
      results.curves.push_back({categories, origins[i], CurvePoints(run, g, origins[i], ends[i])});
    }
  }
}

}  // namespace

std::vector<int> LeavableStates(const EventHistoryState& history) {
  std::vector<int> states;
  for (int a = 0; a < history.StateCount; ++a) {
    bool leaves = false;
    for (int b = 0; b < history.StateCount; ++b) leaves |= b != a && history.RiskOf(a, b) != 0;
    if (leaves) states.push_back(a);
  }
  return states;
}

double IntervalEndSurvival(const RunState& run, std::int64_t g, int t, int a) {
  const std::vector<double>& grid = run.history.TimeValues;
  return HazardWorkOf(run).kind == TimeModel::kDiscrete
             ? DiscreteEpisodeSurvival(run, g, 0, t, a, grid[t + 1], grid[0])
             : EpisodeSurvival(run, g, 0, t, a, grid[t + 1], grid[0]);
}

EventHistoryResults ComputeEventHistory(const RunState& run) {
  Results results;
  const HazardWork& hazard = HazardWorkOf(run);
  if (hazard.table < 0) return results;
  results.hazard_part = true;
  results.kind = hazard.kind;
  results.shapes = HasShapes(hazard.kind);
  results.time_boundaries = run.history.TimeValues;
  results.risks = RisksOf(run);
  const CovariateCells cells(run);
  results.covariates = cells.Labels();
  AddCells(run, cells, results);
  const std::vector<int> origins = LeavableStates(run.history);
  AddSurvival(run, cells, origins, results);
  return results;
}

}  // namespace tav
