// Linear and log-linear restrictions on the probabilities of a submodel (lin, log), fitted by
// the restricted M-step (estimation/restricted_submodels.h) in place of the submodel's other
// M-steps. Each restriction takes a parameter away; the report shows the multipliers.

#include <cmath>

#include "core/elementary.h"
#include "core/format_real.h"
#include "estimation/families/families.h"
#include "estimation/restricted_submodels.h"

namespace tav {
namespace {

class LinLogRestriction : public ModelFamily {
 public:
  std::string_view Name() const override { return "lin and log restrictions"; }

  // The restricted M-step fits the submodel's probabilities as a whole: other effects beside
  // the restrictions, a cumulative submodel, `all` and the hazard part have none of it.
  std::string UnavailableConstruct(const EstimationRun& run, int r) const override {
    const Submodel* submodel = SubmodelAt(run.model, r);
    if (submodel == nullptr || !submodel->LinLogSubmodel || submodel->MarSubmodel != 0) {
      return "";
    }
    if (r >= run.model.SubmodelCount) return "";
    if (submodel->IsCumulative()) return "lin() and log() restrictions in a cumulative model are";
    for (const Design& design : submodel->designs) {
      if (design.family != DesignFamily::kLinLog) {
        return "design effects beside lin() and log() restrictions are";
      }
    }
    if (submodel->AssocCount() > 0) {
      return "association models beside lin() and log() restrictions are";
    }
    return "";
  }

  void SetUp(EstimationRun& run) const override { SetUpRestrictedSubmodels(run); }

  void CheckEstimates(EstimationRun& run) const override { CheckRestrictionsMet(run); }

  void FitSubmodel(EstimationRun& run, int r) const override {
    const Submodel* submodel = SubmodelAt(run.model, r);
    if (submodel != nullptr && r < run.model.SubmodelCount && submodel->LinLogSubmodel &&
        submodel->MarSubmodel == 0) {
      FitRestrictedSubmodel(run, r);
    }
  }

  std::int64_t ParameterCount(const EstimationRun& run, int t) const override {
    return RestrictionParameterCount(run.model, t, DesignFamily::kLinLog);
  }

  // After the table of submodel t: per written item the labels of its first term, then one
  // line per restriction with ln tau (the multiplier; 0 for an inactive inequality).
  void WriteParameterBlocks(const EstimationRun& run, BlockPlace place, int t,
                            ParameterBlockWriter& writer) const override {
    const EstimationState& est = run.estimation;
    if (place != BlockPlace::kAfterTable || t < 0 ||
        t >= static_cast<int>(est.restriction_work.size())) {
      return;
    }
    const Submodel& submodel = run.model.submodels[t];
    for (const RestrictionWork& work : est.restriction_work[t]) {
      writer.WriteHeading(TermText(run.model, submodel.designs[work.design].Term()));
      for (int k = 0; k < work.parameters; ++k) {
        const double tau = est.DesignParameters[work.offset + k];
        std::string label = " " + std::to_string(k + 1);
        label.append(label.size() < 12 ? 12 - label.size() : 0, ' ');
        std::string line = "  " + label;
        line += tau > 0 ? FormatReal(9, 4, Log(tau)) + " " : "   ****** ";
        if (writer.ShowsExpBeta(t)) {
          line += !(tau > 0)                    ? " 0.00E+0000"
                  : tau >= 1000 || tau <= 0.001 ? FormatReal(11, -1, tau) + " "
                                                : FormatReal(11, 4, tau) + " ";
        }
        writer.RecordParameter(label, tau, -1);
        writer.WriteLine(line);
      }
    }
  }
};

}  // namespace

const ModelFamily& LinLogRestrictionFamily() {
  static const LinLogRestriction family;
  return family;
}

}  // namespace tav
