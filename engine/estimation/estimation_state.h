#ifndef TAV_ENGINE_ESTIMATION_ESTIMATION_STATE_H_
#define TAV_ENGINE_ESTIMATION_ESTIMATION_STATE_H_

#include <cstdint>
#include <limits>
#include <vector>

#include "core/double_double.h"
#include "core/model_state.h"
#include "core/random.h"
#include "core/run_context.h"
#include "data/parsed_run.h"
#include "estimation/family_state.h"
#include "estimation/margins.h"

namespace tav {

class ModelFamily;

inline constexpr int kMaxFreeParameters = 2000;

// One free parameter of the model.
//
// A log-linear parameter belongs to an effect (a subset of its submodel's variables that lies
// inside one of the submodel's model terms, margin). Its position numbers the effect's
// identified cells in mixed radix over the effect's variables (variable order, last fastest),
// each variable counting its categories without the one that carries no parameter: the last
// category under effect coding, the reference category under dummy coding. A special-effect
// parameter (design >= 0) is parameter `position` of design `design` of the submodel.
struct FreeParameter {
  int submodel = 0;
  Membership effect{};  // the effect's variables, by global variable number
  int margin = -1;      // the fitted margin (model term) that contains the effect
  int design = -1;      // special effect index, or -1 for a log-linear parameter
  int assoc = -1;       // association term (index in the submodel's association work), or -1
  int position = 0;     // position of the parameter inside its effect
  int effect_size = 0;  // number of parameters of the effect
  bool shape = false;   // the log of the shape of hazard risk position + 1 (estimated shapes)
  int family = -1;      // the family that listed it: its place in the run's family list

  // A log-linear parameter (of a model term), not one of a special effect, association term or
  // hazard shape.
  bool IsLogLinear() const { return design < 0 && assoc < 0 && !shape; }
};

// The free parameters of the model, which the Newton-type iterations move and the standard
// errors are computed for. Built once per run, on first use.
struct FreeParameterList {
  bool built = false;
  std::vector<FreeParameter> parameters;
  int loglinear_count = 0;  // the log-linear parameters come first
  bool full = false;        // the list was cut: it takes no more parameters

  // The number of parameters; kMaxFreeParameters + 1 when the list was cut there.
  int Count() const { return full ? kMaxFreeParameters + 1 : static_cast<int>(parameters.size()); }

  // Appends the size parameters of one effect, positions 0 .. size - 1 of prototype. When they
  // would pass kMaxFreeParameters the list is full instead; returns whether they were added.
  bool AddEffect(const FreeParameter& prototype, int size);

  // Between 1 and kMaxFreeParameters parameters: Newton steps and standard errors can be
  // computed.
  bool Usable() const { return built && Count() > 0 && Count() <= kMaxFreeParameters; }
  // The Newton-type iterations estimate submodel r: the list is usable and holds parameters of
  // r. The other submodels keep their EM M-steps while the Newton-type iterations run.
  bool Fits(int r) const;
};

// One line of the iteration history.
struct IterationRecord {
  int iteration = 0;
  double log_likelihood = 0;
  double stop_criterion = 0;
  double l_squared = 0;
  bool has_l_squared = false;
};

// What the E-step's evaluation pass finds at the current fitted tables.
struct Evaluation {
  double log_likelihood = 0;
  double half_lsquared = 0;  // half the likelihood-ratio statistic; 0 without L-squared
};

// The tables and the iteration state of the estimation.
//
// Every submodel r of the model (0 .. SubmodelCount - 1) owns the cells
// [first_cell, first_cell + cell_count) of FittedTable and ExpectedTable (Submodel in
// core/model_state.h); its cells are numbered in mixed radix over its variables in variable
// order, the last variable fastest. Submodels tied by eq1 share the cells of the submodel they
// are tied to. Between iterations the fitted cells of submodel 0 are frequencies and those of
// submodels 1 .. SubmodelCount - 1 conditional probabilities of their dependent variables given
// their conditioning variables (effect 0).
struct EstimationState {
  std::vector<double> FittedTable;
  std::vector<double> ExpectedTable;

  // Multiplicative parameters of the margins (effects): the block of margin i of submodel r
  // starts at margin_parameter_offset[r][i] (-1 when the margin has none) and holds one value
  // per cell of the margin, in mixed radix over the margin's variables.
  std::vector<double> MarginParameters;
  std::vector<std::vector<std::int64_t>> margin_parameter_offset;
  // The shape of every margin (effect) of every submodel, and of its conditioning margin.
  std::vector<std::vector<MarginShape>> margin_shapes;
  std::vector<MarginShape> condition_shapes;
  // Expected margins of the IPF steps (per submodel and margin), formed when first needed after
  // the expected tables changed (ForgetExpectedMargins) and kept until they change again.
  std::vector<std::vector<std::vector<double>>> expected_margins;
  void ForgetExpectedMargins() {
    for (auto& margins : expected_margins) {
      for (std::vector<double>& margin : margins) margin.clear();
    }
  }

  // Margins over the conditioning variables, one block per submodel at its
  // first_condition_cell: the fitted margins kept when the fitted cells were turned into
  // conditional probabilities, and the expected margins of the equality-restricted M-step.
  std::vector<double> FittedMarginWork;
  std::vector<double> ExpectedMarginWork;

  // The multiplicative parameters that several families keep in one vector (the shown value
  // is the logarithm): design effects, lin/log and mar() multipliers, hazard shapes, each
  // family's at the offsets its state keeps. The Newton code saves and restores them with the
  // fitted tables.
  std::vector<double> Multipliers;
  // A second value of every fitted cell (indexed like FittedTable), which the Newton code saves
  // and restores with the fitted tables: the linear predictors of cumulative submodels.
  std::vector<double> LinearPredictor;
  // The iterations as the log shows them.
  std::vector<IterationRecord> iteration_history;
  // The working states of the model families (estimation/model_family.h: StateOf), the hazard
  // part's among them (estimation/hazard_model.h: HazardWorkOf).
  FamilyStates family_states;

  // The free parameters that the Newton-type iterations move and the standard errors are
  // computed for.
  FreeParameterList free_parameters;

  // The step sizes in use: step_size and restriction_step as the settings give them, adapted
  // by the step controls of the iterations.
  double step_size = 1.0;
  double restriction_step = 4.0;

  // Iteration state: the iteration (-1 before the start values, 0 at them) and its stop
  // criterion, the change of the log-likelihood, and the random generator of the fit (start
  // values; after the fit the simulation and the posterior draws go on with it).
  int iteration = 0;
  double stop_criterion = 0;
  RandomGenerator random;
  double LogLikelihood = 0;
  // The iterations ended at the limit `ite` sets before the convergence criterion was met.
  bool iteration_limit_reached = false;
  double PrevStopCriterion1 = 0;
  double PrevStopCriterion2 = 0;
  // ObservedLogTerms of the data (set once per fit; NaN: half L-squared pattern by pattern).
  double_double::Pair observed_log_terms{std::numeric_limits<double>::quiet_NaN(), 0};
  // Half L-squared of the latest E-step; the other fit sums (ComputeFitSums) and, once the
  // iterations end, half L-squared again, from each pattern's ratio.
  double HalfLSquared = 0;
  double PearsonSum = 0;
  double CressieReadSum = 0;
  double AbsResidualSum = 0;
  double ExpectedTotal = 0;
  double ExcludedObservations = 0;
  int excluded_patterns = 0;
  // Per-cycle counters read by the statistics section.
  int ActiveOrdinalRestrictions = 0;
  int BoundaryAdjustments = 0;
  // The iteration log and the report show L-squared (no hazard part, no cumulative model 8,
  // fewer than 1E18 cells in the full table).
  bool lsquared_column = true;

  // The E-step's layout (BuildIndexMaps): completion k of pattern p is completion number
  // completion_start[p] + k over all patterns. In the pattern's subgroup g the submodels
  // subgroup_submodels[g] stay (the others drop out); the cell of completion k in the j-th of
  // them (a FittedTable index) is subgroup_cells[g][k * m + j] (m of them; the observed
  // variables at category 0) plus the sum of the pattern's categories times the strides of
  // subgroup_strides[g] that name column j.
  struct ObservedStride {
    int column;
    int variable;  // manifest variable, from 0
    std::int32_t stride;
  };
  std::vector<std::int64_t> completion_start;
  std::vector<std::vector<int>> subgroup_submodels;
  std::vector<std::vector<std::int32_t>> subgroup_cells;
  // The same cells column by column: subgroup_columns[g][j * K + k], K the subgroup's
  // completions, so that the E-step forms a pattern's completions side by side.
  std::vector<std::vector<std::int32_t>> subgroup_columns;
  std::vector<std::vector<ObservedStride>> subgroup_strides;
  // When every pattern has a single completion and the run one subgroup (no latent variables,
  // nothing missing), the FittedTable cell of pattern p in the j-th submodel that stays, at
  // direct_cells[p * m + j] (m = subgroup_submodels[0].size()); empty otherwise.
  std::vector<std::int32_t> direct_cells;
  std::vector<double> posterior;  // work vector of the current pattern's complete cells
};

// A fit as the estimation sees it: the run's context (files, window, memory budget), the
// parsed run read-only, and the estimation's own tables and state, which the fit owns. A fit
// starts afresh from an EstimationState of its own (the random starts fit many, one after
// another, on the same parsed run).
struct EstimationRun {
  EstimationRun(RunContext& context, const ParsedRun& parsed)
      : context(context),
        parsed(parsed),
        model(parsed.model),
        history(parsed.history),
        settings(parsed.settings),
        data(parsed.data),
        designs(parsed.designs) {}
  EstimationRun(const EstimationRun&) = delete;
  EstimationRun& operator=(const EstimationRun&) = delete;

  RunContext& context;
  const ParsedRun& parsed;
  // The parts of the parsed run.
  const ModelState& model;
  const EventHistoryState& history;
  const Settings& settings;
  const DataStore& data;
  const DesignStore& designs;

  EstimationState estimation;
  // The threads the fit's parallel work may use: 0 for those `thr` asks for (the random starts
  // fit with one each, the starts being the parallel work).
  int thread_limit = 0;
  // The model families the run estimates with; nullptr for those of this version
  // (ModelFamilies(), estimation/model_family.h).
  const std::vector<const ModelFamily*>* families = nullptr;

  // Shows the fit's iteration and stop criterion in the run's progress (the Info button).
  void ShowProgress() {
    context.progress.iteration = estimation.iteration;
    context.progress.stop_criterion = estimation.stop_criterion;
  }
  // The threads `thr` asks for, or thread_limit when that is set (0: the hardware's).
  int Threads() const { return thread_limit > 0 ? thread_limit : settings.threads; }
};

}  // namespace tav

#endif  // TAV_ENGINE_ESTIMATION_ESTIMATION_STATE_H_
