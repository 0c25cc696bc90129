// Linear and log-linear restrictions on the probabilities of a submodel (lin, log), written in
// the submodel or in `all` (aimed at it), fitted by the restricted M-step
// (estimation/restricted_submodels.h) in place of the submodel's other M-steps. Each restriction
// takes a parameter away; the report shows the multipliers after the submodel's table.

#include <string>
#include <vector>

#include "estimation/families/families.h"
#include "estimation/restricted_submodels.h"

namespace tav {
namespace {

class LinLogRestriction : public ModelFamily {
 public:
  std::string_view Name() const override { return "lin and log restrictions"; }

  // The restricted M-step fits the submodel's probabilities as a whole, saturated but for the
  // restrictions: a design effect beside them would have nothing left to estimate, and the step
  // would never move it (designs of `all` aimed at the submodel: families/all_subgroups.cpp).
  std::string Refusal(const EstimationRun& run, int r) const override {
    const ModelState& model = run.model;
    const Submodel* submodel = SubmodelAt(model, r);
    if (submodel == nullptr || r >= model.SubmodelCount || !submodel->LinLogSubmodel ||
        submodel->MarSubmodel != MarRestrictions::kNone || submodel->IsCumulative()) {
      return "";
    }
    bool beside = false;
    for (const Design& design : submodel->designs) {
      beside = beside || design.family != DesignFamily::kLinLog;
    }
    if (!beside) return "";
    return "design effects are not possible beside lin() or log() restrictions of subtable " +
           submodel->term +
           ": it is saturated but for its restrictions, so a design effect has nothing left to "
           "estimate";
  }

  // Restrictions on the probabilities of a cumulative model would need a constrained fit of
  // its thresholds and design effects, which the restricted step (of saturated tables) is not.
  std::string UnavailableConstruct(const EstimationRun& run, int r) const override {
    const Submodel* submodel = SubmodelAt(run.model, r);
    if (submodel == nullptr || r >= run.model.SubmodelCount || !submodel->LinLogSubmodel ||
        submodel->MarSubmodel != MarRestrictions::kNone) {
      return "";
    }
    if (submodel->IsCumulative()) return "lin() and log() restrictions in a cumulative model are";
    return "";
  }

  void SetUp(EstimationRun& run) const override { SetUpRestrictedSubmodels(run); }

  void CheckEstimates(EstimationRun& run) const override { CheckRestrictionsMet(run); }

  void FitSubmodel(EstimationRun& run, int r) const override {
    const Submodel* submodel = SubmodelAt(run.model, r);
    if (submodel != nullptr && r < run.model.SubmodelCount && submodel->LinLogSubmodel &&
        submodel->MarSubmodel == MarRestrictions::kNone) {
      FitRestrictedSubmodel(run, r);
    }
  }

  std::int64_t ParameterCount(const EstimationRun& run, int t) const override {
    return RestrictionParameterCount(run.model, t, DesignFamily::kLinLog);
  }

  // After the table of submodel t: per written item a block headed by the labels of its first
  // term, with one parameter per restriction (tau, the multiplier; 1 for an inactive
  // inequality), shown without standard errors.
  std::vector<ParameterBlock> ParameterBlocks(const EstimationRun& run, BlockPlace place,
                                              int t) const override {
    const EstimationState& est = run.estimation;
    std::vector<ParameterBlock> blocks;
    if (place != BlockPlace::kAfterTable || t < 0 ||
        t >= static_cast<int>(est.restriction_work.size())) {
      return blocks;
    }
    for (const RestrictionWork& work : est.restriction_work[t]) {
      ParameterBlock block;
      block.kind = ParameterBlock::Kind::kRestrictions;
      // Items of `all` are headed by their own terms too.
      const Submodel& items = run.model.submodels[work.source];
      block.heading = TermText(run.model, items.designs[work.design].Term());
      block.table = t;
      for (int k = 0; k < work.parameters; ++k) {
        block.parameters.push_back(
            {" " + std::to_string(k + 1), est.DesignParameters[work.offset + k]});
      }
      blocks.push_back(std::move(block));
    }
    return blocks;
  }
};

}  // namespace

const ModelFamily& LinLogRestrictionFamily() {
  static const LinLogRestriction family;
  return family;
}

}  // namespace tav
