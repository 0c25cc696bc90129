#ifndef TAV_ENGINE_CORE_MODEL_STATE_H_
#define TAV_ENGINE_CORE_MODEL_STATE_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tav {

// Fixed capacities of the model.
inline constexpr int kMaxVariables = 100;
inline constexpr int kVectorSize = 103;  // per-variable vectors: 100 variables and the covariate
inline constexpr int kMaxSubgroups = 256;
inline constexpr int kMaxListIndex = 102;  // submodels, effects, designs, row/column effects
inline constexpr std::int64_t kMaxArrayBytes = 100'000'000;
inline constexpr std::int64_t kMaxIntArrayCount = 400'000'000;

// One byte per variable (or per position among a submodel's variables).
using Membership = std::array<std::uint8_t, kVectorSize>;

// One factor of the model: a (conditional) distribution of dependent variables given
// conditioning variables, modelled by log-linear effects, designs or a restriction.
struct Submodel {
  Membership SubmodelVariables{};  // 1 dependent, 2 conditioning (before the end of the section)
  int SubmodelVarCount = 0;
  int SubmodelKind = -1;
  std::vector<Membership> EffectVariables;  // one per log-linear effect
  std::vector<Membership> DesignVariables;  // one per restricted effect (design)
  std::vector<Membership> AssocVariables;   // one per association row/column effect
  bool random_start = true;

  int MarginCount() const { return static_cast<int>(EffectVariables.size()); }
  int DesignTermCount() const { return static_cast<int>(DesignVariables.size()); }
  int AssocCount() const { return static_cast<int>(AssocVariables.size()); }
};

// The variables, subgroups and submodels that the input language builds.
struct ModelState {
  int ResCount = 0;
  int LatentCount = 0;
  int ManifestCount = 0;  // includes the appended continuous-covariate variable
  int CovariateCount = 0;
  int VariableCount = 0;
  std::array<std::int32_t, kVectorSize> Dimension{};
  std::array<std::string, kVectorSize> VariableLabel{};
  bool LongLabels = false;

  int SubgroupCount = 1;
  std::vector<Membership> SubgroupPattern;  // per subgroup, indexed by manifest variable
  double LatentStateCount = 1;              // product of the latent dimensions
  long double ManifestCellCount = 1;        // held as a real so that it cannot overflow

  std::vector<Submodel> submodels;
  bool HasAllSubmodel = false;  // the restrictions of `all` form submodel SubmodelCount() + 1

  int SubmodelCount() const { return static_cast<int>(submodels.size()); }
};

// Work arrays of at most 100,000,000 bytes; larger requests stop the run.
std::vector<double> AllocRealArray(std::int64_t count);
std::vector<std::int32_t> AllocIntArray(std::int64_t count);

// Stops the run when n variables (plus the covariate when with_covariate) exceed the limit.
void CheckVariableCount(int n, bool with_covariate);

// One pattern vector for each of the model's SubgroupCount subgroups (at most 256).
void NewSubgroupPatterns(ModelState& model);

// Adds submodel number index (the next one; at most 102), with random start values on.
Submodel& NewSubmodel(ModelState& model, int index);

// Add the effect, design or association row/column effect number index (at most 102).
Membership& NewEffect(Submodel& submodel, int index);
Membership& NewDesign(Submodel& submodel, int index);
Membership& NewRowColumnEffect(Submodel& submodel, int index);

// The submodel visited after submodel b: the model's submodels in order, then the `all`
// submodel (number S + 1) when there is one, then the hazard submodel (number S); S + 2 ends.
int NextSubmodel(const ModelState& model, int b);

// The labels of the variables that vector marks, in variable order, joined by "." when labels
// are long; selection 0 admits every non-zero mark, another value only that mark. At most 80
// characters.
std::string TermText(const ModelState& model, const Membership& vector, int selection = 0);

}  // namespace tav

#endif  // TAV_ENGINE_CORE_MODEL_STATE_H_
