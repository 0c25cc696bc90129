// Cumulative response models (cum): the conditional distribution of an ordered response,
// P(c) = F(eta_c) - F(eta_(c-1)) from a linear predictor of thresholds and design effects
// (estimation/design_effects.h). The design M-step fits the thresholds and effects, which it
// counts, lists and reports with the other designs; this family gives the submodel its start.

#include "core/table_zero.h"
#include "estimation/families/families.h"

namespace tav {
namespace {

class Cumulative : public ModelFamily {
 public:
  std::string_view Name() const override { return "cumulative models"; }

  // Equal probabilities over the response, until the start iteration forms them from the
  // predictor.
  void StartValues(EstimationRun& run, int r) const override {
    const Submodel& submodel = run.model.submodels[r];
    if (!submodel.IsCumulative()) return;
    EstimationState& est = run.estimation;
    const MarginShape& shape = est.condition_shapes[r];
    double* fitted = est.FittedTable.data() + submodel.first_cell;
    std::vector<double> margin(shape.margin_cells());
    shape.MarginOf(fitted, margin.data());
    for (double& m : margin) m = m <= kTableZero ? 0.0 : 1.0 / m;
    shape.Scale(fitted, margin.data(), fitted);
  }
};

}  // namespace

const ModelFamily& CumulativeFamily() {
  static const Cumulative family;
  return family;
}

}  // namespace tav
