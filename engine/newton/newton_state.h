#ifndef TAV_ENGINE_NEWTON_NEWTON_STATE_H_
#define TAV_ENGINE_NEWTON_NEWTON_STATE_H_

#include <cstdint>
#include <vector>

#include "core/model_state.h"
#include "estimation/margins.h"

namespace tav {

inline constexpr int kMaxFreeParameters = 500;

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
  int position = 0;     // position of the parameter inside its effect
  int effect_size = 0;  // number of parameters of the effect
};

// Newton-type estimation and standard errors.
struct NewtonState {
  bool list_built = false;
  std::vector<FreeParameter> free_parameters;
  int loglinear_parameter_count = 0;
  int free_parameter_count = 0;  // 501 when the list was cut at 500

  // Per log-linear parameter: the map of its submodel's cells onto its effect's cells, the
  // map of the cells of its margin (model term) onto its effect's cells, and per effect cell
  // the exponent (-1, 0 or 1) with which exp(delta) multiplies the cells under it (effect or
  // dummy coding).
  std::vector<MarginShape> effect_shapes;
  std::vector<MarginShape> margin_effect_shapes;
  std::vector<std::vector<signed char>> effect_signs;

  // free_parameter_count squared, row by row. After the standard-error computation it holds
  // the variance-covariance matrix of the free parameters (rejected pivots give zero rows and
  // columns).
  std::vector<double> information_matrix;
  std::vector<double> gradient;
  std::vector<double> last_step;
  std::vector<double> previous_gradient;
  std::vector<double> bfgs_work;
  std::vector<double> eigenvalues;  // of the information matrix, largest first
  bool std_errors_computed = false;

  // Parameters whose pivot was rejected in the last inversion.
  int BoundaryLogLinear = 0;
  int BoundaryHazard = 0;

  // Newton iterations done so far (the first BFGS iteration is a steepest-descent one).
  int iterations_done = 0;
  // The fitted tables at the start of a Newton iteration (the margin parameters change only
  // when a step is accepted).
  std::vector<double> saved_fitted;
  // Half the likelihood-ratio statistic of the latest evaluation-mode E-step (0 when the
  // model has no L-squared).
  double evaluation_half_lsquared = 0;

  // Standard errors of the fitted values, one per cell of FittedTable (0 where none was
  // computed).
  std::vector<double> probability_std_errors;
};

// The index in the free-parameter list of the log-linear parameter of submodel `submodel`,
// effect `effect`, at effect cell `cell` (mixed radix over the effect's variables with all
// their categories, last fastest), or -1 when that cell carries no free parameter.
// reference[v] (by global variable number) >= 1 makes category reference[v] (counted from 1)
// the reference category of variable v (dummy coding); any other value means effect coding,
// under which the last category carries no parameter. EffectiveReference (newton/
// parameter_list.h) gives the references the free parameters were coded with.
int ParameterIndex(const ModelState& model, const NewtonState& newton, const int* reference,
                   int submodel, const Membership& effect, std::int64_t cell);

}  // namespace tav

#endif  // TAV_ENGINE_NEWTON_NEWTON_STATE_H_
