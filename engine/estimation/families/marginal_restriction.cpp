// Marginal restrictions (mar): equations on the marginal distributions of a submodel whose
// table is otherwise saturated or follows the log-linear model of its model terms and design
// effects (its own and those of `all` aimed at it), fitted by the projected Newton step of
// estimation/marginal_restrictions.h in the submodel's visit. Each equation takes a parameter
// away; its Lagrange multiplier is a parameter of the special-effect group, shown after the
// submodel's table.

#include <cmath>
#include <memory>
#include <string>

#include "data/design_reader.h"
#include "estimation/design_effects.h"
#include "estimation/families/families.h"
#include "estimation/m_steps.h"
#include "estimation/marginal_restrictions.h"

namespace tav {
namespace {

bool HasMar(const Submodel& submodel) {
  for (const Design& design : submodel.designs) {
    if (design.family == DesignFamily::kMarginal) return true;
  }
  return false;
}

class MarginalRestriction : public MultiplierFamily {
 public:
  std::string_view Name() const override { return "marginal restrictions"; }

  std::unique_ptr<FamilyState> NewState() const override {
    return std::make_unique<MarginalState>();
  }

  // The multipliers share the place of design parameters in the free-parameter list and move
  // as those do (MultiplierFamily).

  // The marginal step gives the covariances of every parameter of a submodel with mar()
  // restrictions (model terms, design effects and multipliers).
  bool CovariancesOwnStep(const EstimationRun& run, int t) const override {
    if (t < 0) return run.model.AnyMar;
    return t < run.model.SubmodelCount &&
           run.model.submodels[t].MarSubmodel != MarRestrictions::kNone;
  }
  void WriteCovarianceBlocks(const EstimationRun& run, std::vector<double>& matrix,
                             int n) const override {
    for (int r = 0; r < run.model.SubmodelCount; ++r) {
      if (MarginalMultiplierCount(run, r) == 0) continue;
      const MarginalCovarianceBlock block = MarginalCovariance(run, r);
      const std::vector<int>& index = block.positions;
      const std::vector<double>& covariance = block.covariance;
      const int size = static_cast<int>(index.size());
      for (int a = 0; a < size; ++a) {
        for (int b = 0; b < size; ++b) {
          if (index[a] < 0 || index[b] < 0 || index[a] >= n || index[b] >= n) continue;
          matrix[static_cast<std::size_t>(index[a]) * n + index[b]] =
              covariance[static_cast<std::size_t>(a) * size + b];
        }
      }
    }
  }

  // Marginal restrictions in a log-linear submodel: its table saturated but for them, or
  // beside model terms, design effects (cov, eff, fac, spe) and fixed cell weights (fix, wei).
  // Refused where the submodel's table is not fitted by the marginal step alone: in a cum
  // submodel (its cells are cumulative probabilities with a step of their own), beside
  // association terms (their scores are fitted by a step of their own, which would move the
  // table off the equations), and beside lin() or log() (their own step fits the same table to
  // their equations alone, and each step would undo the other's). The input language admits
  // mar() neither in `all` nor in the hazard part.
  std::string UnavailableConstruct(const EstimationRun& run, int r) const override {
    const ModelState& model = run.model;
    const Submodel* submodel = SubmodelAt(model, r);
    if (submodel == nullptr || !HasMar(*submodel)) return "";
    if (r >= model.SubmodelCount) return "mar() in all or haz is";
    if (!submodel->IsLogLinear()) {
      return "mar() in a cumulative subtable (cum), whose probabilities have a step of their own,"
             " is";
    }
    if (!submodel->assoc.empty()) {
      return "mar() beside association terms (ass) of its subtable, whose scores have a step of "
             "their own, is";
    }
    if (submodel->LinLogSubmodel) {
      return "mar() beside lin() or log() in its subtable (each fits the table to its own "
             "restrictions alone) is";
    }
    return "";
  }

  void SetUp(EstimationRun& run) const override { SetUpMarginalRestrictions(run); }

  // The submodel's step; a conditional submodel then gets its conditioning totals back.
  void FitSubmodel(EstimationRun& run, int r) const override {
    if (MarginalMultiplierCount(run, r) == 0) return;
    // The start values of its model terms and design effects first, and of the designs of
    // `all` aimed at it.
    if (run.estimation.iteration <= 0) {
      ProjectStartTable(run, r);
      FitDesignEffects(run, r);
      const int all = run.model.SubmodelCount + 1;
      if (all < static_cast<int>(DesignWorks(run).size())) {
        for (const DesignWork& work : DesignWorks(run)[all]) {
          if (work.table == r) FitDesignEffect(run, all, work.design);
        }
      }
    }
    FitMarginalSubmodel(run, r, run.estimation.iteration);
    if (r > 0 && run.estimation.iteration > 0) IpfAdjust(run, r, 0);
  }

  void CheckEstimates(EstimationRun& run) const override { CheckMarginalRestrictionsMet(run); }

  std::int64_t ParameterCount(const EstimationRun& run, int t) const override {
    return RestrictionParameterCount(run.model, t, DesignFamily::kMarginal);
  }

  // The multipliers of every item, as parameters of the item's first design.
  void ListFreeParameters(const EstimationRun& run, ParameterGroup group,
                          FreeParameterList& list) const override {
    if (group != ParameterGroup::kSpecialEffects) return;
    for (int r = 0; r < static_cast<int>(MarginalItems(run).size()) && !list.full; ++r) {
      for (const MarginalItem& item : MarginalItems(run)[r]) {
        FreeParameter parameter;
        parameter.submodel = r;
        parameter.design = item.design;
        if (!list.AddEffect(parameter, item.equations)) return;
      }
    }
  }

  // After the table of submodel t: per item a block headed by the labels of its first term,
  // one parameter per equation (its multiplier), and a warning for every equation left out as
  // dependent on the others.
  std::vector<ParameterBlock> ParameterBlocks(const EstimationRun& run, BlockPlace place,
                                              int t) const override {
    const EstimationState& est = run.estimation;
    std::vector<ParameterBlock> blocks;
    if (place != BlockPlace::kAfterTable || MarginalMultiplierCount(run, t) == 0) return blocks;
    const Submodel& submodel = run.model.submodels[t];
    for (const MarginalItem& item : MarginalItems(run)[t]) {
      ParameterBlock block;
      block.heading = TermText(run.model, submodel.designs[item.design].Term());
      block.table = t;
      for (int k = 0; k < item.equations; ++k) {
        block.parameters.push_back({" " + std::to_string(k + 1), est.Multipliers[item.offset + k],
                                    FreePosition(est.free_parameters, t, item.design, k)});
        if (item.dependent[k]) {
          block.notes.push_back("  WARNING: restriction " + std::to_string(k + 1) +
                                " depends on the others and was left out");
        }
      }
      blocks.push_back(std::move(block));
    }
    return blocks;
  }
};

}  // namespace

const ModelFamily& MarginalRestrictionFamily() {
  static const MarginalRestriction family;
  return family;
}

std::vector<std::vector<MarginalItem>>& MarginalItems(EstimationRun& run) {
  return StateOf<MarginalState>(run, MarginalRestrictionFamily()).items;
}

const std::vector<std::vector<MarginalItem>>& MarginalItems(const EstimationRun& run) {
  return StateOf<MarginalState>(run, MarginalRestrictionFamily()).items;
}

}  // namespace tav
