#ifndef TAV_ENGINE_ESTIMATION_MODEL_FAMILY_H_
#define TAV_ENGINE_ESTIMATION_MODEL_FAMILY_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/stop_run.h"
#include "estimation/estimation_state.h"
#include "estimation/family_state.h"

namespace tav {

// The two groups of the free-parameter list, in list order: the log-linear parameters of the
// submodels' model terms, then the parameters of the special effects.
enum class ParameterGroup { kLogLinear, kSpecialEffects };

// Where a family's blocks go in the "*** LOG-LINEAR PARAMETERS ***" section: after the table
// of a submodel (thresholds, design effects), after the empty line that ends it (association
// blocks), and after the tables of all submodels (the `all` tables, the hazard parameters).
enum class BlockPlace { kAfterTable, kAfterTableEnd, kAfterSubmodels };

// One parameter line of a family's block: a multiplicative parameter x (a design parameter, a
// threshold, a restriction's multiplier) shown as ln x. A parameter of a scaled design column
// (ColumnScale, estimation/design_effects.h) is shown in the user's units, ln x / scale.
struct BlockParameter {
  std::string label;  // as the line shows it, before its padding to 12 characters
  double x = 0;
  int position = -1;  // its place in the free-parameter list; -1 when it is not free
  double scale = 1;
};

// One side of an association term's values: the association parameters, the row or column
// scores, or their adjusted forms. The values come in blocks of n (one per group of the term's
// layers for scores), listed six to a line with a new line where a group of `group` cells
// begins (0: none).
struct ScoreSide {
  std::string label;  // "association", "row", "column", "adj row", "adj column"
  std::vector<double> values;
  int n = 0;
  int group = 0;
  bool parameter = false;  // association parameters rather than scores
  // The place of values[0] in the term's value layout (AssociationValues), which the standard
  // errors and the results document refer to; -1 for values shown on their own (adjusted
  // scores), without standard errors and not recorded.
  int layout_offset = -1;
};

// A block of a family in the "*** LOG-LINEAR PARAMETERS ***" section, as values; the report
// adds the standard errors, z-values and Wald tests and renders it.
struct ParameterBlock {
  enum class Kind {
    kTableHeading,  // "* ALL TABLES *" and the column header of submodel `table`
    kMultipliers,   // parameter lines with standard errors and the block's Wald test
    kRestrictions,  // parameter lines without standard errors (lin and log multipliers)
    kAssociation,   // the values of an association term by side
  };
  Kind kind = Kind::kMultipliers;
  std::string heading;
  bool heading_line = true;  // the heading is shown (two blanks and the heading)
  // The submodel whose table's columns the lines follow (the exp(beta) column); -1: none.
  int table = -1;
  std::vector<BlockParameter> parameters;
  std::vector<std::string> notes;  // lines after the parameters (warnings)

  // An association term: its value layout's directions of free movement (one per free
  // parameter from first_position on, -1 when it has none), which of its values they move, and
  // its sides in the order shown.
  std::vector<std::vector<double>> directions;
  std::vector<char> estimated;
  int first_position = -1;
  std::vector<ScoreSide> sides;
};

// How a free parameter moves the fitted cells, for the score and the information forms built
// on it (newton/score.h): a model term's parameter moves its submodel along its effect's coding
// (the Newton code knows that form); any other moves the cells c of one table as exp(delta
// x(c)), after which the table takes its form again. A parameter that is left out (its
// covariances come from its family's own step) or not covered (its information stays with the
// finite differences of the log-likelihood) has no direction.
struct ParameterDirection {
  enum class Kind { kNotCovered, kLeftOut, kModelTerm, kCells };
  Kind kind = Kind::kNotCovered;
  int table = -1;         // the table it acts on (kModelTerm, kCells)
  std::vector<double> x;  // kCells: per cell of the table
};

// How the cells of a table follow the parameters that act on it, for the score and the
// information forms (newton/score.h). A family answers for the tables it models.
enum class TableForm {
  kNotOwned,   // the family does not model the table
  kUncovered,  // its parameters' information stays with finite differences of the likelihood
  // f(c) proportional to exp(sum theta x(c)) within the blocks of the conditioning margin (the
  // whole table for the first submodel)
  kLogLinear,
  // probabilities through a link: the family gives S(c) = d ln P(c) / d theta and the
  // complete-data information (LinkedScores, LinkedInformation)
  kLinked,
  // a part of the model that multiplies each completion of a data pattern by factors of its own
  // (the hazard part): the family adds its score pattern by pattern (NewPatternPart)
  kPatterns,
};

// A family's part of the pass over the data patterns for its table of form kPatterns. Per
// pattern h it gives each completion k a factor of the completion's probability and a
// complete-data score over the table's parameters, and it adds up, over the completions, the
// expected sums (ModelFamily::PatternSumSize doubles) that its score and complete-data
// information are formed from. A part serves one thread; ForThread gives another thread its own.
class PatternPart {
 public:
  virtual ~PatternPart() = default;
  virtual std::unique_ptr<PatternPart> ForThread() const = 0;
  // Pattern h begins.
  virtual void BeginPattern(std::int64_t h) = 0;
  // The factor of completion k of the pattern.
  virtual double Factor(std::int64_t k) const = 0;
  // Adds share times the completion's expected counts to sums.
  virtual void AddExpected(std::int64_t k, double share, double* sums) const = 0;
  // The completion's complete-data score, one value per direction the part was made with.
  virtual void Score(std::int64_t k, double* s) = 0;
  // From the sums over all patterns: the score per direction, added to g ...
  virtual void AddScore(const std::vector<double>& sums, double* g) const = 0;
  // ... and the complete-data information of the directions (block, their count squared, row
  // by row; the upper triangle and its mirror).
  virtual void Information(const std::vector<double>& sums, std::vector<double>& block) const = 0;
};

// The parts of the shared vector of multiplicative parameters (EstimationState::
// Multipliers) and the tables that belong to one submodel's parameters: what a snapshot of
// the fitted tables puts back after one of them was moved.
struct SubmodelValues {
  std::vector<std::pair<std::int64_t, std::int64_t>> ranges;  // first, count
  std::vector<int> tables;                                    // besides the submodel's own cells
};

// One model family: a way of modelling a submodel (its kind: log-linear, equality, ordinal,
// cumulative restrictions, a fixed saturated margin), a kind of effect inside submodels
// (design effects, lin/log and mar restrictions, association terms) or a part of the model
// (the `all` restrictions, the hazard part). It supplies what the estimation, the parameter
// count, the free-parameter list and the report need of it; every hook does nothing for a
// submodel the family has no part in.
//
// The family object itself holds nothing of a fit. What a fit changes of the family (its work
// tables, its current values, what it carries from one iteration to the next) is its state:
// NewState makes a fresh one, the fit keeps it (EstimationState::family_states) and the family
// reaches it through StateOf. The multiplicative parameters of several families share one vector
// (EstimationState::Multipliers), each family keeping its offsets in its state.
//
// The Newton-type iterations and the standard errors know the families only through the hooks
// below: per free parameter its table, its direction over the fitted cells, its move and the
// step of its curvature, whether it needs central differences, and what of a submodel a
// snapshot of the fitted tables puts back; per table its form (TableForm), with the cell scores
// and information of a linked table and the part of the pattern pass of a table whose family
// multiplies the completions (PatternPart); and the covariance blocks of a family's own step.
//
// The families are listed once, in families/registry.cpp. Their order there is the order of
// the M-steps within a cycle and of the "not available" checks. A family this version does
// not estimate yet is an entry whose UnavailableConstruct names it; a combination that has no
// sound estimate is named, with the reason, by Refusal. A run may list families of its own
// (EstimationRun::families), each with its state and hooks.
class ModelFamily {
 public:
  virtual ~ModelFamily() = default;

  virtual std::string_view Name() const = 0;

  // For a family that is not available in this version: the construct of the message
  //   "  Error: " + construct + " not available in this version"
  // when submodel r (any index of model.submodels, the hazard and `all` submodels included)
  // uses the family, and for the model as a whole (r = -1); empty otherwise.
  virtual std::string UnavailableConstruct(const EstimationRun& run, int r) const;

  // For a combination that the family refuses because its parameters would not be identified
  // or its M-step has nothing to act on, in submodel r (as above) or the model (r = -1): the
  // text of the message "  Error: " + text, which names the construct and says why; empty
  // otherwise. Checked, for every family, before UnavailableConstruct.
  virtual std::string Refusal(const EstimationRun& run, int r) const;

  // Sets up the family's tables, once the estimation's tables are laid out and before the start
  // values.
  virtual void SetUp(EstimationRun& run) const;

  // Start values of submodel r (0 .. SubmodelCount - 1), drawing its random values.
  virtual void StartValues(EstimationRun& run, int r) const;

  // The M-step of the family in the visit of submodel r (in the cycle's submodel order).
  virtual void FitSubmodel(EstimationRun& run, int r) const;

  // The M-step of the family after the visits, in the first cycle of iterations from 1 on.
  virtual void FitAfterVisits(EstimationRun& run) const;

  // After the iterations: stops the run when the family's estimates do not meet what the model
  // asks of them.
  virtual void CheckEstimates(EstimationRun& run) const;

  // The number of free parameters the family gives submodel t (the hazard and `all` submodels
  // included).
  virtual std::int64_t ParameterCount(const EstimationRun& run, int t) const;

  // Appends the family's free parameters of group to the list, unless the list is full.
  virtual void ListFreeParameters(const EstimationRun& run, ParameterGroup group,
                                  FreeParameterList& list) const;

  // The family's blocks of submodel t (t = -1 with kAfterSubmodels) for the report, in order.
  virtual std::vector<ParameterBlock> ParameterBlocks(const EstimationRun& run, BlockPlace place,
                                                      int t) const;

  // A fresh working state for one fit, or nullptr for a family that keeps none (StateOf).
  virtual std::unique_ptr<FamilyState> NewState() const;

  // What the Newton-type iterations and the standard errors need of the family's own free
  // parameters (those it listed; FreeParameter::family names the family).
  //
  // The table parameter acts on: its submodel, or the submodel a design of `all` is aimed at.
  virtual int TableOf(const EstimationRun& run, const FreeParameter& parameter) const;
  // The family's own step gives the covariances of every parameter that acts on table t (t =
  // -1: on some table of the model); the score leaves them out, and WriteCovarianceBlocks puts
  // them into the information matrix of the standard errors (n x n, row by row).
  virtual bool CovariancesOwnStep(const EstimationRun& run, int t) const;
  virtual void WriteCovarianceBlocks(const EstimationRun& run, std::vector<double>& matrix,
                                     int n) const;
  // The direction of parameter over the fitted cells (ParameterDirection).
  virtual ParameterDirection DirectionOf(const EstimationRun& run,
                                         const FreeParameter& parameter) const;
  // Adds delta to the log of parameter and moves the fitted cells with it, the table keeping
  // its form; returns false for a model term's parameter, which the Newton code moves itself.
  virtual bool Perturb(EstimationRun& run, const FreeParameter& parameter, double delta) const;
  // The finite-difference step of the curvature of parameter; step is the usual one.
  virtual double CurvatureStep(const EstimationRun& run, const FreeParameter& parameter,
                               double step) const;
  // The entries of parameter in the information matrix of the standard errors are taken again
  // from central differences of the log-likelihood (forward differences being too coarse).
  virtual bool CentralDifferences(const EstimationRun& run, const FreeParameter& parameter) const;
  // Adds to values the multiplicative parameters and the tables that the family's parameters of
  // submodel r act on.
  virtual void AddSubmodelValues(const EstimationRun& run, int r, SubmodelValues& values) const;

  // What the score and the information forms need of the tables the family models.
  //
  // The form of table t for a parameter whose direction is of kind (kModelTerm or kCells).
  virtual TableForm FormOfTable(const EstimationRun& run, int t,
                                ParameterDirection::Kind kind) const;
  // kLinked: per cell c of table t and direction q (x[q], over the table's cells), S_q(c) into
  // s[c * x.size() + q] (s holds zeros on entry; cells without probability keep them) ...
  virtual void LinkedScores(const EstimationRun& run, int t,
                            const std::vector<const std::vector<double>*>& x,
                            std::vector<double>& s) const;
  // ... and the complete-data information of the directions at the expected table (the table's
  // cells) into block (x.size() squared, row by row; the upper triangle and its mirror).
  virtual void LinkedInformation(const EstimationRun& run, int t,
                                 const std::vector<const std::vector<double>*>& x,
                                 const double* expected, std::vector<double>& block) const;
  // The family multiplies the completions of the data patterns by factors of its own (its
  // table is of form kPatterns): its part of the pattern pass, for its table t and the
  // directions x of the parameters acting on it, which the part keeps (t = -1 and none when no
  // free parameter does);
  // the doubles of its sums and of the work it holds per thread.
  virtual std::unique_ptr<PatternPart> NewPatternPart(const EstimationRun& run, int t,
                                                      std::vector<std::vector<double>> x) const;
  virtual std::int64_t PatternSumSize(const EstimationRun& run) const;
  virtual double PatternWorkSize(const EstimationRun& run) const;
  // Whether it does so in the run: the expected tables then need the pattern pass.
  virtual bool FactorsCompletions(const EstimationRun& run) const;
};

using FamilyList = std::vector<const ModelFamily*>;

// The families of this version, in their order (families/registry.cpp).
const FamilyList& ModelFamilies();

// The families a run uses: run.families when set, else ModelFamilies().
const FamilyList& FamiliesOf(const EstimationRun& run);

// The form of table t for a parameter of direction kind: the answer of the family that models
// the table, kUncovered when none does; and the family that models it (nullptr for none).
TableForm TableFormOf(const EstimationRun& run, int t, ParameterDirection::Kind kind);
const ModelFamily* TableFamily(const EstimationRun& run, int t);

// Some family multiplies the completions of the data patterns by factors of its own.
bool AnyCompletionFactors(const EstimationRun& run);

// The place of family in FamiliesOf(run), or -1.
int FamilyPlace(const EstimationRun& run, const ModelFamily& family);

// Gives every family of the run that keeps a state and has none in the fit yet a fresh one
// (before the families' set-up, so that no state is first made where threads share the fit).
void MakeFamilyStates(EstimationRun& run);

// The family that listed free parameter `parameter`.
const ModelFamily& FamilyOf(const EstimationRun& run, const FreeParameter& parameter);

// The working state of family in the run's fit, of the family's own type State: made by
// family.NewState() when first asked for. Through a run that cannot change, a fit that has no
// state of the family yet reads an empty one.
template <class State>
State& StateOf(EstimationRun& run, const ModelFamily& family) {
  const int place = FamilyPlace(run, family);
  FamilyStates& states = run.estimation.family_states;
  FamilyState* state = states.At(place);
  if (state == nullptr && place >= 0) {
    std::unique_ptr<FamilyState> made = family.NewState();
    if (made != nullptr) state = &states.Set(place, std::move(made));
  }
  auto* typed = dynamic_cast<State*>(state);
  if (typed == nullptr) {
    StopRun("  Error: the " + std::string(family.Name()) + " family keeps no state in this run");
  }
  return *typed;
}

template <class State>
const State& StateOf(const EstimationRun& run, const ModelFamily& family) {
  static const State empty;
  const auto* typed =
      dynamic_cast<const State*>(run.estimation.family_states.At(FamilyPlace(run, family)));
  return typed != nullptr ? *typed : empty;
}

// The covariances of free parameter `parameter` come from a family's own step
// (ModelFamily::CovariancesOwnStep of the table it acts on); and whether some family's own step
// gives covariances in the run.
bool CovariancesFromOwnStep(const EstimationRun& run, const FreeParameter& parameter);
bool AnyCovariancesOwnStep(const EstimationRun& run);

// The number of free parameters of submodel t (the hazard and `all` submodels included), summed
// over the families. The parameters of saturated fixed margins are counted with the restricted
// parameters of the set-up, so such a submodel adds nothing here.
std::int64_t CountSubmodelParameters(const EstimationRun& run, int t);

}  // namespace tav

#endif  // TAV_ENGINE_ESTIMATION_MODEL_FAMILY_H_
