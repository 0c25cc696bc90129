// Linear and log-linear restrictions on the probabilities of a submodel (lin, log), fitted by
// the restricted M-step in place of the submodel's other M-steps; not estimated by this
// version. Each restriction takes a parameter away.

#include "estimation/families/families.h"

namespace tav {
namespace {

class LinLogRestriction : public ModelFamily {
 public:
  std::string_view Name() const override { return "lin and log restrictions"; }

  std::string UnavailableConstruct(const EstimationRun& run, int r) const override {
    if (!FirstUserDesignIs(run.model, r, DesignFamily::kLinLog)) return "";
    return "estimation of lin() and log() effects is";
  }

  std::int64_t ParameterCount(const EstimationRun& run, int t) const override {
    return RestrictionParameterCount(run.model, t, DesignFamily::kLinLog);
  }
};

}  // namespace

const ModelFamily& LinLogRestrictionFamily() {
  static const LinLogRestriction family;
  return family;
}

}  // namespace tav
