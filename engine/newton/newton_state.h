#ifndef TAV_ENGINE_NEWTON_NEWTON_STATE_H_
#define TAV_ENGINE_NEWTON_NEWTON_STATE_H_

#include <cstdint>
#include <vector>

#include "core/model_state.h"

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
  Membership effect{};   // the effect's variables, by global variable number
  int margin = -1;       // the fitted margin (model term) that contains the effect
  int design = -1;       // special effect index, or -1 for a log-linear parameter
  int position = 0;      // position of the parameter inside its effect
  int effect_size = 0;   // number of parameters of the effect
};

// Newton-type estimation and standard errors.
struct NewtonState {
  bool list_built = false;
  std::vector<FreeParameter> free_parameters;
  int loglinear_parameter_count = 0;
  int free_parameter_count = 0;  // 501 when the list was cut at 500

  // free_parameter_count squared, row by row. After the standard-error computation it holds
  // the variance-covariance matrix of the free parameters (rejected pivots give zero rows and
  // columns).
  std::vector<double> information_matrix;
  std::vector<double> gradient;
  std::vector<double> last_step;
  std::vector<double> previous_gradient;
  std::vector<double> eigenvalues;  // of the information matrix, largest first
  bool std_errors_computed = false;

  // Parameters whose pivot was rejected in the last inversion.
  int BoundaryLogLinear = 0;
  int BoundaryHazard = 0;

  // Standard errors of the fitted values, one per cell of FittedTable (0 where none was
  // computed).
  std::vector<double> probability_std_errors;
};

// The index in the free-parameter list of the log-linear parameter of submodel `submodel`,
// effect `effect`, at effect cell `cell` (mixed radix over the effect's variables with all
// their categories, last fastest), or -1 when that cell carries no free parameter.
int ParameterIndex(const ModelState& model, const NewtonState& newton, const int* reference,
                   int submodel, const Membership& effect, std::int64_t cell);

}  // namespace tav

#endif  // TAV_ENGINE_NEWTON_NEWTON_STATE_H_
