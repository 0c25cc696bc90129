// Cumulative response models (cum): the conditional distribution of an ordered response,
// P(c) = F(eta_c) - F(eta_(c-1)) from a linear predictor of thresholds and design effects
// (estimation/design_effects.h). The design M-step fits the thresholds and effects, which it
// counts, lists and reports with the other designs; this family gives the submodel its start.

#include <cstdint>
#include <memory>
#include <vector>

#include "core/table_zero.h"
#include "estimation/cumulative_model.h"
#include "estimation/families/families.h"

namespace tav {
namespace {

class Cumulative : public ModelFamily {
 public:
  std::string_view Name() const override { return "cumulative models"; }

  std::unique_ptr<FamilyState> NewState() const override {
    return std::make_unique<CumulativeState>();
  }

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

  // The parameters of a cumulative submodel move its linear predictor along their directions;
  // its probabilities follow through the link. The normal model (i) is not covered: its scale
  // follows the expected table; nor are model terms, which a cumulative submodel has none of.
  TableForm FormOfTable(const EstimationRun& run, int t,
                        ParameterDirection::Kind kind) const override {
    if (t < 0 || t >= run.model.SubmodelCount || !run.model.submodels[t].IsCumulative()) {
      return TableForm::kNotOwned;
    }
    const bool normal = run.model.submodels[t].CumulativeModel.IsNormal();
    return normal || kind == ParameterDirection::Kind::kModelTerm ? TableForm::kUncovered
                                                                  : TableForm::kLinked;
  }

  // S_q(c) = dP_q(c) / P(c) at the fitted tables and predictors: dP_q(c) = x_q(c) F'(c) -
  // x_q(b) F'(b), b the category before c.
  void LinkedScores(const EstimationRun& run, int t,
                    const std::vector<const std::vector<double>*>& x,
                    std::vector<double>& s) const override {
    const CumulativeSlopes slopes = CumulativeCellSlopes(run, t);
    const Submodel& submodel = run.model.submodels[t];
    const double* p = run.estimation.FittedTable.data() + submodel.first_cell;
    const auto cells = static_cast<std::int64_t>(submodel.cell_count);
    const std::size_t size = x.size();
    for (std::size_t q = 0; q < size; ++q) {
      const std::vector<double>& xq = *x[q];
      for (std::int64_t c = 0; c < cells; ++c) {
        if (!(p[c] > 0)) continue;
        const std::int64_t b = slopes.before[c];
        const double change = xq[c] * slopes.first[c] - (b >= 0 ? xq[b] * slopes.first[b] : 0.0);
        s[static_cast<std::size_t>(c) * size + q] = change / p[c];
      }
    }
  }

  // I_qr = sum_c E(c) [S_q(c) S_r(c) - (x_q x_r F''(c) - x_q x_r F''(b)) / P(c)].
  void LinkedInformation(const EstimationRun& run, int t,
                         const std::vector<const std::vector<double>*>& x, const double* expected,
                         std::vector<double>& block) const override {
    const Submodel& submodel = run.model.submodels[t];
    const auto cells = static_cast<std::int64_t>(submodel.cell_count);
    const std::size_t size = x.size();
    std::vector<double> s(static_cast<std::size_t>(cells) * size, 0.0);
    LinkedScores(run, t, x, s);
    const CumulativeSlopes slopes = CumulativeCellSlopes(run, t);
    const double* p = run.estimation.FittedTable.data() + submodel.first_cell;
    block.assign(size * size, 0.0);
    for (std::size_t q = 0; q < size; ++q) {
      const std::vector<double>& xq = *x[q];
      for (std::size_t r = q; r < size; ++r) {
        const std::vector<double>& xr = *x[r];
        double sum = 0;
        for (std::int64_t c = 0; c < cells; ++c) {
          if (expected[c] == 0 || !(p[c] > 0)) continue;
          const std::int64_t b = slopes.before[c];
          const double curvature =
              xq[c] * xr[c] * slopes.second[c] - (b >= 0 ? xq[b] * xr[b] * slopes.second[b] : 0.0);
          const double* sc = s.data() + static_cast<std::size_t>(c) * size;
          sum += expected[c] * (sc[q] * sc[r] - curvature / p[c]);
        }
        block[q * size + r] = sum;
        block[r * size + q] = sum;
      }
    }
  }
};

}  // namespace

const ModelFamily& CumulativeFamily() {
  static const Cumulative family;
  return family;
}

CumulativeState& CumulativeStateOf(EstimationRun& run) {
  return StateOf<CumulativeState>(run, CumulativeFamily());
}

const CumulativeState& CumulativeStateOf(const EstimationRun& run) {
  return StateOf<CumulativeState>(run, CumulativeFamily());
}

}  // namespace tav
