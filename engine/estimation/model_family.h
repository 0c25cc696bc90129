#ifndef TAV_ENGINE_ESTIMATION_MODEL_FAMILY_H_
#define TAV_ENGINE_ESTIMATION_MODEL_FAMILY_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "estimation/estimation_state.h"

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

// One model family: a way of modelling a submodel (its kind: log-linear, equality, ordinal,
// cumulative restrictions, a fixed saturated margin), a kind of effect inside submodels
// (design effects, lin/log and mar restrictions, association terms) or a part of the model
// (the `all` restrictions, the hazard part). It supplies what the estimation, the parameter
// count, the free-parameter list and the report need of it; every hook does nothing for a
// submodel the family has no part in.
//
// The families are listed once, in families/registry.cpp. Their order there is the order of
// the M-steps within a cycle and of the "not available" checks. A family this version does
// not estimate yet is an entry whose UnavailableConstruct names it; a combination that has no
// sound estimate is named, with the reason, by Refusal.
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
};

using FamilyList = std::vector<const ModelFamily*>;

// The families of this version, in their order (families/registry.cpp).
const FamilyList& ModelFamilies();

// The families a run uses: run.families when set, else ModelFamilies().
const FamilyList& FamiliesOf(const EstimationRun& run);

// The number of free parameters of submodel t (the hazard and `all` submodels included), summed
// over the families. The parameters of saturated fixed margins are counted with the restricted
// parameters of the set-up, so such a submodel adds nothing here.
std::int64_t CountSubmodelParameters(const EstimationRun& run, int t);

}  // namespace tav

#endif  // TAV_ENGINE_ESTIMATION_MODEL_FAMILY_H_
