#ifndef TAV_ENGINE_CORE_MODEL_STATE_H_
#define TAV_ENGINE_CORE_MODEL_STATE_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tav {

// Fixed capacities of the model.
// The variables of a model, manifest and latent together (with the covariate's variable when
// `con` is given); beyond that only the memory budget bounds a model.
inline constexpr int kMaxVariables = 500;
// Per-variable vectors: the variables, the covariate and the time and risk variables of a
// hazard model.
inline constexpr int kVectorSize = kMaxVariables + 3;
inline constexpr int kMaxSubgroups = 256;
// The highest index of the submodels, effects, designs and row/column effects: one submodel per
// variable, the hazard submodel and the restrictions of `all`.
inline constexpr int kMaxListIndex = kMaxVariables + 2;
inline constexpr std::int64_t kMaxIntArrayCount = 400'000'000;

// One byte per variable, indexed by the global variable number. Submodel, effect, design and
// association vectors all use this indexing, so that dropping a variable from a submodel
// never renumbers them.
using Membership = std::array<std::uint8_t, kVectorSize>;

// The family of a restricted effect: the command that specified it.
enum class DesignFamily {
  kCovariate,     // cov
  kEffect,        // eff
  kFactor,        // fac
  kFixedWeights,  // fix, wei
  kLinLog,        // lin, log
  kMarginal,      // mar
  kSpecial,       // spe, with the model in special_model
};

// How a restricted effect with grouping variables varies over the groups (the interaction
// letter): a, the same parameters in every group; b, the parameters plus one shift per group;
// c, parameters of their own in every group.
enum class DesignInteraction { kA, kB, kC };

// The prespecified models of spe, by their digit (data/generated_designs.h builds their
// designs).
enum class SpecialFamily {
  kInteraction,        // 1: the interaction of the categories
  kCategorySum,        // 2: the sum of the categories
  kSymmetry,           // 3: the symmetry classes (multisets of the categories)
  kQuasiSymmetry,      // 4: the symmetry classes off the main diagonal
  kDiagonal,           // 5: the cells of the main diagonal
  kVariableRanks,      // 6: how many variables lie above each one, against the last
  kCategoryPositions,  // 7: the positions of the variables that take each category
  kSignedDistance,     // 8: the difference of two variables' categories
  kAbsoluteDistance,   // 9: its absolute value
};

// The model of an spe effect, written as its digit and a letter: a the family's full design,
// b a single parameter.
struct SpecialModel {
  SpecialFamily family = SpecialFamily::kInteraction;
  bool single_parameter = false;  // the letter b
  bool operator==(const SpecialModel&) const = default;
};

// The first letter of a mar restriction: the values that its equations take of the margins mu.
enum class MarginalForm {
  kMargins,          // a: mu
  kLogMargins,       // b: ln mu
  kLogContrasts,     // c: F ln mu, F the first matrix
  kExpLogContrasts,  // d: S exp(F ln mu), S the second matrix
  kSumsOfLogs,       // e: the sums of ln p over the margins' cells
};

// The restriction letter a to d of lin, log and mar (a number instead counts as a): equations
// or inequalities, against 0 or against targets (which reserve a design per term).
enum class RestrictionSense {
  kEquality,            // a
  kInequality,          // b: value >= 0
  kEqualityToTarget,    // c
  kInequalityToTarget,  // d: value >= target
};

// The restriction of a lin, log or mar design: mar's form and the restriction letter.
struct RestrictionCode {
  MarginalForm form = MarginalForm::kMargins;
  RestrictionSense sense = RestrictionSense::kEquality;

  bool Inequality() const {
    return sense == RestrictionSense::kInequality || sense == RestrictionSense::kInequalityToTarget;
  }
  bool WithTargets() const {
    return sense == RestrictionSense::kEqualityToTarget ||
           sense == RestrictionSense::kInequalityToTarget;
  }
  bool operator==(const RestrictionCode&) const = default;
};

// A restricted effect ("special effect") of a submodel: cov, eff, fac, fix, wei, lin, log,
// mar or spe, with the numbers written in its specification.
struct Design {
  // Per variable (global variable number): 1 in the design's term, 255 a grouping variable,
  // 0 otherwise.
  Membership DesignVariables{};
  DesignFamily family = DesignFamily::kCovariate;
  SpecialModel special_model;  // spe: the model written
  DesignInteraction interaction = DesignInteraction::kA;
  int DesignCountParam = 0;           // the number written between the brackets
  RestrictionCode DesignRestriction;  // lin, log and mar
  int DesignSpecTerms = 1;            // number of terms between the brackets
  int group_multiplier = 0;           // the number after the interaction letter (0 when none)
  int cells = 1;                      // product of the dimensions of the term's variables
  bool loglinear = false;             // "log"
  bool reserved = false;              // an extra design reserved by restriction letters c and d
  // mar: counts of restrictions, elements of the C and B matrices, and the further number.
  int mar_restrictions = 0;
  int mar_c_elements = 0;
  int mar_b_elements = 0;
  int mar_extra = 0;
  int target_submodel = -1;  // in the `all` submodel: the submodel the design belongs to

  // lin, log and mar: restrictions rather than effects with parameters of their own.
  bool IsRestriction() const {
    return family == DesignFamily::kLinLog || family == DesignFamily::kMarginal;
  }
  // The variables of the design's term (code 1), and whether it has grouping variables.
  Membership Term() const {
    Membership term{};
    for (int v = 0; v < kVectorSize; ++v) term[v] = DesignVariables[v] == 1 ? 1 : 0;
    return term;
  }
  bool Grouped() const {
    for (std::uint8_t code : DesignVariables) {
      if (code == 255) return true;
    }
    return false;
  }

  // The special models whose first level is fixed (2a, 3a, 8a and 9a): one parameter fewer.
  bool FixesFirstLevel() const {
    if (family != DesignFamily::kSpecial || special_model.single_parameter) return false;
    switch (special_model.family) {
      case SpecialFamily::kCategorySum:
      case SpecialFamily::kSymmetry:
      case SpecialFamily::kSignedDistance:
      case SpecialFamily::kAbsoluteDistance:
        return true;
      default:
        return false;
    }
  }
};

// The family of an association term: how its scores enter the log of the fitted cells
// (estimation/association_model.h). The report names it by its number.
enum class AssociationFamily {
  kLogLinear = 1,          // ass, ass1: phi u v + mu v + nu u over the integer scores u, v
  kLogMultiplicative = 2,  // ass2: phi mu nu
  kMixedScores = 3,        // ass3: phi (u nu + v mu)
};

constexpr int AssociationFamilyNumber(AssociationFamily family) { return static_cast<int>(family); }

// The model digit of an association term: which scores are estimated.
enum class AssociationScores {
  kUniform,           // 2: none (uniform association)
  kRowEffects,        // 3: the row scores
  kColumnEffects,     // 4: the column scores (the parser exchanges rows and columns)
  kRowColumnEffects,  // 5: both (the parser's pair of terms)
  kSymmetric,         // 6: both, as one set of scores
};

constexpr bool EstimatesRowScores(AssociationScores scores) {
  return scores != AssociationScores::kUniform;
}
constexpr bool EstimatesColumnScores(AssociationScores scores) {
  return scores == AssociationScores::kRowColumnEffects || scores == AssociationScores::kSymmetric;
}

// The model letter of an association term: what varies over the layers.
enum class LayerVariation {
  kNone,          // a: one phi and one set of scores for all layers
  kParameter,     // b: phi
  kAll,           // c: phi and the scores
  kRowScores,     // d (digit 5): phi and the row scores
  kColumnScores,  // e (digit 5): phi and the column scores
};

// The symmetry letter of an association term.
enum class ScoreSymmetry {
  kNone,
  kEqual,             // a: the row and column scores are one set
  kMirrored,          // b: each side's scores mirror about its middle category
  kEqualAndMirrored,  // c: both
};

// One row or column effect of an association model.
struct AssocEffect {
  // Per variable (global variable number): 1 row, 2 column, 3 group variable.
  Membership AssocVariables{};
  AssociationFamily family = AssociationFamily::kLogLinear;
  AssociationScores scores = AssociationScores::kUniform;
  LayerVariation layers = LayerVariation::kNone;
  ScoreSymmetry symmetry = ScoreSymmetry::kNone;
  std::array<int, 3> AssocDimensions{0, 0, 0};  // for rows, columns and groups; 0 when not given
  int rows = 1;
  int columns = 1;
  int groups = 1;
  int row_score_position = 0;  // positions in the association parameter vector
  int column_score_position = 0;
  int group_score_position = 0;
  int target_submodel = -1;  // in the `all` submodel: the submodel of the association model
  bool pair_second = false;  // the second effect of a type 5 pair (rows and columns exchanged)
};

// How a submodel is modelled.
enum class SubmodelKindCode {
  kLogLinear,           // log-linear effects, fitted by proportional fitting
  kLogLinearShared,     // log-linear, and later submodels are tied to it by eq1
  kTied,                // tied by eq1 to submodel tied_to: shares its cells and parameters
  kEqualityRestricted,  // eq2, eq3: equality and fixed-value restrictions on probabilities
  kOrdinal1,            // or1
  kOrdinal2,            // or2
  kCumulative,          // cum
  kSaturatedFixed,      // a saturated margin fixed at the data
};

// The order that an ordinal restriction (or1, or2) imposes on the response over the columns:
// the letter a to d after the command, a when none is given.
enum class OrdinalOrder {
  kCumulative,            // a: cumulative probabilities
  kLocalOdds,             // b: local odds ratios of adjacent categories
  kContinuation,          // c: continuation ratios
  kReversedContinuation,  // d: continuation ratios over the categories in reverse order
};

// The link of a cumulative model: F(eta), the probability of the categories up to c.
enum class CumulativeLink {
  kLogit,                // e^eta / (1 + e^eta)
  kProbit,               // Phi(eta)
  kComplementaryLogLog,  // 1 - exp(-e^eta)
  kLogLog,               // exp(-e^eta), which decreases in eta
  kNormal,               // the normal model of the centred categories (model i)
};

// The model of a cum submodel, named by a letter: a to d the four links with free thresholds,
// e to h the same links with equidistant thresholds, i the normal model.
struct CumulativeForm {
  CumulativeLink link = CumulativeLink::kLogit;
  bool equidistant = false;

  bool IsNormal() const { return link == CumulativeLink::kNormal; }
  // One threshold per category boundary (the models a to d).
  bool FreeThresholds() const { return !equidistant && !IsNormal(); }
  bool operator==(const CumulativeForm&) const = default;
};

// How a submodel carries mar restrictions.
enum class MarRestrictions {
  kNone,
  kOnly,              // every design of the submodel is a mar restriction
  kWithOtherDesigns,  // some design of the submodel is of another family
};

// The analysis that `cor` asks for instead of the ordinary report.
enum class CorrespondenceKind {
  kNone = 0,
  kSimple = 1,              // correspondence or canonical correlation analysis of two variables
  kMultiple = 2,            // multiple correspondence analysis of all variables
  kAssociation = 3,         // association analysis of two variables
  kUniformAssociation = 4,  // association analysis with uniform weights
};

// The number by which the input and the report name the analysis (0 for none).
constexpr int CorrespondenceNumber(CorrespondenceKind kind) { return static_cast<int>(kind); }

// Association analysis (of the log table) rather than correspondence analysis.
constexpr bool IsAssociationAnalysis(CorrespondenceKind kind) {
  return kind == CorrespondenceKind::kAssociation ||
         kind == CorrespondenceKind::kUniformAssociation;
}

// One factor of the model: a (conditional) distribution of dependent variables given
// conditioning variables, modelled by log-linear effects, designs or a restriction.
struct Submodel {
  Membership SubmodelVariables{};  // 1 dependent, 2 conditioning (before the end of the section)
  int SubmodelVarCount = 0;
  SubmodelKindCode SubmodelKind = SubmodelKindCode::kLogLinear;
  int tied_to = -1;  // kind kTied: the submodel it is tied to, at the end of the eq1 chain
  std::string term;  // the term as written (messages name the submodel by it)
  // One vector per log-linear effect, indexed by global variable number (1 in the effect).
  // Effect 0 of every submodel but the first is its conditioning margin.
  std::vector<Membership> EffectVariables;
  std::vector<int> effect_target;  // in the `all` submodel: the submodel of each effect
  std::vector<Design> designs;
  std::vector<AssocEffect> assoc;
  OrdinalOrder OrdinalType = OrdinalOrder::kCumulative;
  CumulativeForm CumulativeModel;
  bool random_start = true;
  bool LinLogSubmodel = false;  // restrictions given with lin or log
  MarRestrictions MarSubmodel = MarRestrictions::kNone;
  bool no_initial = false;  // "nin"

  // Set up after the sections are read.
  std::vector<int> dimensions;  // of the submodel's variables, in variable order
  double cell_count = 0;        // product of the dimensions
  double condition_cells = 1;   // cells of the conditioning margin (effect 0)
  std::int64_t first_cell = 0;  // offset in the tables of submodel cells
  std::int64_t first_condition_cell = 0;

  // Log-linear submodels with parameters of their own (not tied to another by eq1).
  bool IsLogLinear() const {
    return SubmodelKind == SubmodelKindCode::kLogLinear ||
           SubmodelKind == SubmodelKindCode::kLogLinearShared;
  }
  bool IsTied() const { return SubmodelKind == SubmodelKindCode::kTied; }
  bool IsOrdinal() const {
    return SubmodelKind == SubmodelKindCode::kOrdinal1 ||
           SubmodelKind == SubmodelKindCode::kOrdinal2;
  }
  // Submodels whose cells carry restrictions of their own: eq2/eq3, or1 and or2.
  bool HasRestrictedCells() const {
    return SubmodelKind == SubmodelKindCode::kEqualityRestricted || IsOrdinal();
  }
  bool IsSaturatedFixed() const { return SubmodelKind == SubmodelKindCode::kSaturatedFixed; }
  bool IsCumulative() const { return SubmodelKind == SubmodelKindCode::kCumulative; }

  int MarginCount() const { return static_cast<int>(EffectVariables.size()); }

  // The response: the submodel's variables outside its conditioning margin (effect 0) when it
  // is conditional (every submodel but the first), all of them otherwise.
  Membership Response(bool conditional) const {
    Membership response{};
    for (int v = 0; v < kVectorSize; ++v) {
      const bool conditioning = conditional && !EffectVariables.empty() && EffectVariables[0][v];
      response[v] = SubmodelVariables[v] != 0 && !conditioning ? 1 : 0;
    }
    return response;
  }
  int DesignTermCount() const { return static_cast<int>(designs.size()); }
  int AssocCount() const { return static_cast<int>(assoc.size()); }
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
  bool SubgroupsWithoutSub = false;         // several subgroups and no `sub`: found from data
  double LatentStateCount = 1;              // product of the latent dimensions
  long double ManifestCellCount = 1;        // held as a real so that it cannot overflow

  Membership IsIndicator{};  // per manifest variable
  int IndicatorCount = 0;

  // Submodels 0 .. SubmodelCount - 1 of the model; number SubmodelCount is the hazard
  // submodel and SubmodelCount + 1 the restrictions of `all` when those exist.
  std::vector<Submodel> submodels;
  int SubmodelCount = 0;
  bool HasAllSubmodel = false;

  bool UseEq2 = false;
  bool AnyLinLog = false;
  bool AnyMar = false;
  bool CumulativeI = false;
  std::vector<int> covariate_counts;  // the counts of the continuous covariate, model-wide

  // Association models: running totals over all association effects.
  int assoc_score_count = 0;  // length of the association parameter vector
  int assoc_max_rows = 0;
  int assoc_max_columns = 0;
  int assoc_max_groups = 0;

  CorrespondenceKind CorrespondenceType = CorrespondenceKind::kNone;
  int CorrespondenceDim1 = 2;
  int CorrespondenceDim2 = 2;

  // Observed tables per subgroup (set-up pass A).
  std::vector<std::int32_t> subgroup_cell_count;
  std::vector<std::int32_t> subgroup_first_cell;
  std::vector<double> complete_cell_count;  // complete-data table size per subgroup (pass E)
  std::int64_t submodel_cell_total = 0;     // cells of all submodel tables
  std::int64_t condition_cell_total = 0;

  // Restricted submodels (pass D).
  std::int64_t RestrictedParamCount = 0;
  int RestrictionSetCount = 0;
  std::vector<std::int32_t> RestrictionClass;   // per cell of the eq2/eq3 submodels
  std::vector<std::int32_t> RestrictionColumn;  // per cell of the eq2/eq3 submodels
  std::vector<std::int32_t> OrdinalColumn;      // per cell of the or1 and or2 submodels

  int FirstManifest() const { return ResCount + LatentCount; }
  bool IsManifest(int v) const { return v >= FirstManifest() && v < VariableCount; }
};

// Stops the run when n variables (plus the covariate when with_covariate) exceed the limit.
void CheckVariableCount(int n, bool with_covariate);

// One pattern vector for each of the model's SubgroupCount subgroups (at most 256).
void NewSubgroupPatterns(ModelState& model);

// The submodels whose cells are those of submodel t: t itself and those tied to it by eq1.
std::vector<int> SubmodelsSharingCells(const ModelState& model, int t);

// Adds submodel number index (the next one; at most 102), with random start values on.
Submodel& NewSubmodel(ModelState& model, int index);

// Add the effect, design or association row/column effect number index (at most 102).
Membership& NewEffect(Submodel& submodel, int index);
Design& NewDesign(Submodel& submodel, int index);
AssocEffect& NewRowColumnEffect(Submodel& submodel, int index);

// The submodel visited after submodel b: the model's submodels in order, then the `all`
// submodel (number S + 1) when there is one, then the hazard submodel (number S); S + 2 ends.
// S is model.SubmodelCount.
int NextSubmodel(const ModelState& model, int b);

// The categories (from 0) of the variables vars (variable numbers, in variable order) at cell
// cell of their table, numbered in mixed radix with the last variable fastest.
std::vector<int> CellCategories(const ModelState& model, const std::vector<int>& vars,
                                std::int64_t cell);

// The variable numbers of submodel index, in variable order (empty for an index out of range).
std::vector<int> SubmodelVariableList(const ModelState& model, int index);

// The labels of the variables that vector marks, in variable order, joined by "." when labels
// are long; selection 0 admits every non-zero mark, another value only that mark. At most 80
// characters.
std::string TermText(const ModelState& model, const Membership& vector, int selection = 0);

}  // namespace tav

#endif  // TAV_ENGINE_CORE_MODEL_STATE_H_
