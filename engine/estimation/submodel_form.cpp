#include "estimation/submodel_form.h"

#include <cstdint>
#include <vector>

#include "core/table_zero.h"
#include "estimation/hazard_model.h"

namespace tav {

double SubmodelTotal(const EstimationRun& run, int r, const double* cells) {
  if (r != 0) return 0;
  double total = 0;
  const auto count = static_cast<std::int64_t>(run.model.submodels[r].cell_count);
  for (std::int64_t c = 0; c < count; ++c) total += cells[c];
  return total;
}

void RestoreSubmodelForm(const EstimationRun& run, int r, double* cells, double total) {
  if (r == HazardWorkOf(run).table) {
    // Rates move freely; transition probabilities are normalised again.
    if (HazardWorkOf(run).kind == TimeModel::kDiscrete) NormaliseTransitionBlocks(run, cells);
    return;
  }
  if (r == 0) {
    // Frequencies: the total stays what it was.
    const double after = SubmodelTotal(run, 0, cells);
    const double scale = after <= kTableZero ? 0.0 : total / after;
    const auto count = static_cast<std::int64_t>(run.model.submodels[0].cell_count);
    for (std::int64_t c = 0; c < count; ++c) cells[c] *= scale;
    return;
  }
  // Conditional probabilities: divided by their conditioning margin again.
  const MarginShape& condition = run.estimation.condition_shapes[r];
  std::vector<double> margin(condition.margin_cells());
  condition.MarginOf(cells, margin.data());
  for (double& m : margin) m = m <= kTableZero ? 0.0 : 1.0 / m;
  condition.Scale(cells, margin.data(), cells);
}

}  // namespace tav
