// Association models (ass): row, column and group scores of association terms, fitted by the
// special-term M-step; not estimated by this version. Their parameters are counted.

#include <algorithm>
#include <cstdlib>

#include "estimation/families/families.h"

namespace tav {
namespace {

class Association : public ModelFamily {
 public:
  std::string_view Name() const override { return "association models"; }

  std::string UnavailableConstruct(const EstimationRun& run, int r) const override {
    const Submodel* submodel = SubmodelAt(run.model, r);
    if (submodel == nullptr || submodel->assoc.empty()) return "";
    return "estimation of association models (ass) is";
  }

  // Per association term its association parameters (one, or one per group), then its row
  // scores beyond the two that are fixed, for the models of digit 3 and up.
  std::int64_t ParameterCount(const EstimationRun& run, int t) const override {
    const Submodel* submodel = SubmodelAt(run.model, t);
    if (submodel == nullptr || submodel->IsSaturatedFixed()) return 0;
    std::int64_t count = 0;
    for (int i = 0; i < submodel->AssocCount(); ++i) {
      const AssocEffect& term = submodel->assoc[i];
      const int given_rows = term.AssocDimensions[term.pair_second ? 1 : 0];
      const std::int64_t rows = given_rows != 0 ? std::abs(given_rows) : term.rows;
      const std::int64_t groups =
          term.AssocDimensions[2] != 0 ? std::abs(term.AssocDimensions[2]) : term.groups;
      if (term.pair_second) {
        const AssocEffect& before = submodel->assoc[std::max(i - 1, 0)];
        if (i > 0 && before.model_letter == 'a' && term.model_letter != 'a') count += groups - 1;
      } else {
        count += term.model_letter == 'a' ? 1 : groups;
      }
      if (term.model_digit > 2) count += (rows - 2) * (term.model_letter >= 'c' ? groups : 1);
    }
    return count;
  }
};

}  // namespace

const ModelFamily& AssociationFamily() {
  static const Association family;
  return family;
}

}  // namespace tav
