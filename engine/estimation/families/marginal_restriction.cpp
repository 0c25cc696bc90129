// Marginal restrictions (mar): equations on marginal distributions of a submodel, fitted by
// the Newton projection of the marginal-restriction step (its Newton-type step belongs to
// newton/); not estimated by this version. Each restriction takes a parameter away.

#include "estimation/families/families.h"

namespace tav {
namespace {

class MarginalRestriction : public ModelFamily {
 public:
  std::string_view Name() const override { return "marginal restrictions"; }

  std::string UnavailableConstruct(const EstimationRun& run, int r) const override {
    if (!FirstUserDesignIs(run.model, r, DesignFamily::kMarginal)) return "";
    return "estimation of mar() effects is";
  }

  std::int64_t ParameterCount(const EstimationRun& run, int t) const override {
    return RestrictionParameterCount(run.model, t, DesignFamily::kMarginal);
  }
};

}  // namespace

const ModelFamily& MarginalRestrictionFamily() {
  static const MarginalRestriction family;
  return family;
}

}  // namespace tav
