// Equality and fixed-value restrictions on conditional probabilities (eq2, eq3): the
// restricted probabilities are fitted after the visits of the submodels, in closed form (eq3)
// or by Newton passes on one multiplier per column (eq2). Their parameters are counted with the
// restricted parameters of the set-up.
//
// A fixed cell (restriction class -1) keeps the value its start value gives it: random starts
// leave it alone, and where the input gives the submodel's start values the other cells of its
// column share what the fixed ones leave of 1. Fixed values of a column that add up to more
// than 1 stop the run. The first submodel holds frequencies between iterations like every
// first submodel; its restricted probabilities are fitted as a table of probabilities and
// turned back into frequencies.

#include <algorithm>
#include <memory>
#include <vector>

#include "core/stop_run.h"
#include "estimation/estimate.h"
#include "estimation/families/families.h"
#include "estimation/m_steps.h"

namespace tav {
namespace {

// Fixed values of a column that add up to 1 within this are taken as 1.
constexpr double kSumRounding = 1e-10;

bool IsFixedCell(const ModelState& model, std::int64_t index) {
  return RestrictionClassOf(model, index) == -1;
}

bool HasGivenStartValues(const EstimationRun& run, int r) {
  return std::any_of(run.settings.start_values.begin(), run.settings.start_values.end(),
                     [r](const StartValueRequest& request) {
                       return request.submodel == r && request.whole_table &&
                              !request.of_hazard_part;
                     });
}

// Per column of submodel r: the fixed cells keep their values, the others are scaled to fill
// the rest of 1.
void FillColumnsAroundFixedCells(EstimationRun& run, int r) {
  const ModelState& model = run.model;
  const Submodel& submodel = model.submodels[r];
  const std::int64_t first = FirstRestrictionIndex(model, r);
  const auto cells = static_cast<std::int64_t>(submodel.cell_count);
  double* fitted = run.estimation.FittedTable.data() + submodel.first_cell;
  std::int32_t columns = 0;
  for (std::int64_t c = 0; c < cells; ++c) {
    columns = std::max(columns, model.RestrictionColumn[first + c] + 1);
  }
  std::vector<double> fixed(columns, 0.0);
  std::vector<double> other(columns, 0.0);
  for (std::int64_t c = 0; c < cells; ++c) {
    const std::int32_t j = model.RestrictionColumn[first + c];
    (IsFixedCell(model, first + c) ? fixed : other)[j] += fitted[c];
  }
  for (std::int32_t j = 0; j < columns; ++j) {
    if (fixed[j] > 1 + kSumRounding) {
      StopRun("  Error: the fixed probabilities (des -1) of a column of " + submodel.term +
              " add up to more than 1");
    }
  }
  for (std::int64_t c = 0; c < cells; ++c) {
    const std::int32_t j = model.RestrictionColumn[first + c];
    if (IsFixedCell(model, first + c)) continue;
    fitted[c] = other[j] > 0 ? fitted[c] * std::max(0.0, 1 - fixed[j]) / other[j] : 0.0;
  }
}

// Divides the first submodel's fitted frequencies by their sum.
void FirstSubmodelToProbabilities(EstimationRun& run) {
  const Submodel& first = run.model.submodels[0];
  double* fitted = run.estimation.FittedTable.data() + first.first_cell;
  const auto cells = static_cast<std::int64_t>(first.cell_count);
  double sum = 0;
  for (std::int64_t c = 0; c < cells; ++c) sum += fitted[c];
  if (sum <= 0) return;
  for (std::int64_t c = 0; c < cells; ++c) fitted[c] /= sum;
}

bool FirstIsRestricted(const ModelState& model) {
  return model.SubmodelCount > 0 &&
         model.submodels[0].SubmodelKind == SubmodelKindCode::kEqualityRestricted;
}

class EqualityRestriction : public ModelFamily {
 public:
  std::string_view Name() const override { return "equality restrictions"; }

  std::unique_ptr<FamilyState> NewState() const override {
    return std::make_unique<EqualityState>();
  }

  // A new fit forms the eq2 work arrays afresh.
  void SetUp(EstimationRun& run) const override { EqualityStateOf(run).ready = false; }

  void StartValues(EstimationRun& run, int r) const override {
    const ModelState& model = run.model;
    const Submodel& submodel = model.submodels[r];
    if (submodel.SubmodelKind != SubmodelKindCode::kEqualityRestricted) return;
    const std::int64_t first = FirstRestrictionIndex(model, r);
    const auto cells = static_cast<std::int64_t>(submodel.cell_count);
    double* fitted = run.estimation.FittedTable.data() + submodel.first_cell;
    std::vector<double> kept(fitted, fitted + cells);
    StartFromMargins(run, r, true);
    for (std::int64_t c = 0; c < cells; ++c) {
      if (IsFixedCell(model, first + c)) fitted[c] = kept[c];
    }
    if (HasGivenStartValues(run, r)) {
      FillColumnsAroundFixedCells(run, r);
    } else if (r == 0) {
      FirstSubmodelToProbabilities(run);
    }
  }

  void FitAfterVisits(EstimationRun& run) const override {
    const bool first = FirstIsRestricted(run.model);
    if (first) FirstSubmodelToProbabilities(run);
    if (run.model.UseEq2) {
      FitEqualityRestrictionsEq2(run);
    } else {
      FitEqualityRestrictions(run);
    }
    if (first) NormaliseFirstSubmodel(run, 0);
  }
};

}  // namespace

const ModelFamily& EqualityRestrictionFamily() {
  static const EqualityRestriction family;
  return family;
}

EqualityState& EqualityStateOf(EstimationRun& run) {
  return StateOf<EqualityState>(run, EqualityRestrictionFamily());
}

}  // namespace tav
