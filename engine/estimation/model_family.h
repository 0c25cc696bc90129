#ifndef TAV_ENGINE_ESTIMATION_MODEL_FAMILY_H_
#define TAV_ENGINE_ESTIMATION_MODEL_FAMILY_H_

#include <cstdint>
#include <limits>
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

// What a family's report blocks are written through; the report provides it.
class ParameterBlockWriter {
 public:
  virtual ~ParameterBlockWriter() = default;
  virtual void WriteLine(const std::string& line) = 0;
  // Standard errors were asked for and computed.
  virtual bool ShowsStdErrors() const = 0;
  // The standard-error and z-value columns of free parameter i, whose multiplicative value is
  // x (z = ln x over the standard error; the standard error in the user's units when the
  // parameter belongs to a scaled design column); the parameter goes into the covariance file.
  virtual std::string StdErrAndZ(int i, double x) = 0;
  // The Wald-test columns (W, df, prob) of the free parameters at positions, whose values on
  // the log scale are b.
  virtual std::string WaldTest(const std::vector<int>& positions, const std::vector<double>& b) = 0;
  // The covariance of free parameters i and j (NaN without standard errors).
  virtual double Covariance(int /*i*/, int /*j*/) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  // The exp(beta) column exists in submodel t's table.
  virtual bool ShowsExpBeta(int t) const = 0;
  // The column-header line of submodel t's table.
  virtual std::string ColumnHeader(int t) const = 0;
  // For the results document: a block of parameters begins (its heading), and the figures of
  // the parameter line written next (its label, its multiplicative value x and its place in the
  // free-parameter list, -1 when it is not free; scale as MultiplierLine takes it).
  virtual void BeginBlock(const std::string& /*heading*/) {}
  virtual void RecordParameter(const std::string& /*label*/, double /*x*/, int /*position*/,
                               double /*scale*/) {}
  // For the results document: a value of the block shown as it is (an association parameter or
  // score), with its standard error (NaN when none is shown).
  virtual void RecordValue(const std::string& /*label*/, double /*value*/, double /*std_err*/) {}
  // A block's heading line: two blanks and the heading.
  void WriteHeading(const std::string& heading) {
    BeginBlock(heading);
    WriteLine("  " + heading);
  }
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

  // Writes the family's blocks of submodel t (t = -1 with kAfterSubmodels) to the report.
  virtual void WriteParameterBlocks(const EstimationRun& run, BlockPlace place, int t,
                                    ParameterBlockWriter& writer) const;
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
