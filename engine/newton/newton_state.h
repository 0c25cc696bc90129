#ifndef TAV_ENGINE_NEWTON_NEWTON_STATE_H_
#define TAV_ENGINE_NEWTON_NEWTON_STATE_H_

#include <functional>
#include <string>
#include <vector>

#include "estimation/estimation_state.h"
#include "estimation/margins.h"

namespace tav {

// Evaluates the model at the current fitted tables (the E-step's evaluation pass). The
// Newton-type code receives it from the run rather than calling the E-step itself.
using ModelEvaluator = std::function<Evaluation()>;

// What a parameter's perturbation changes, saved to be put back: the fitted tables, the shared
// multiplicative parameters of the families (EstimationState::Multipliers) and the linear
// predictors.
struct FittedSnapshot {
  std::vector<double> fitted;
  std::vector<double> multipliers;
  std::vector<double> predictor;
};

// Newton-type estimation and standard errors, over the free parameters of the estimation
// (FreeParameterList, estimation/free_parameters.h).
struct NewtonState {
  // Per log-linear parameter, set up on first use: the map of its submodel's cells onto its
  // effect's cells, the map of the cells of its margin (model term) onto its effect's cells,
  // and per effect cell the exponent (-1, 0 or 1) with which exp(delta) multiplies the cells
  // under it (effect or dummy coding).
  bool effects_ready = false;
  std::vector<MarginShape> effect_shapes;
  std::vector<MarginShape> margin_effect_shapes;
  std::vector<std::vector<signed char>> effect_signs;

  // The free-parameter count squared, row by row. After the standard-error computation it
  // holds the variance-covariance matrix of the free parameters (rejected pivots give zero
  // rows and columns).
  std::vector<double> information_matrix;
  std::vector<double> gradient;
  std::vector<double> last_step;
  std::vector<double> previous_gradient;
  std::vector<double> bfgs_work;
  std::vector<double> eigenvalues;  // of the information matrix, largest first
  bool std_errors_computed = false;
  // Why the standard errors asked for were skipped (SkipStandardErrors), or empty.
  std::string std_errors_skipped;
  // The log has said that the Newton-type iterations are skipped for their number of parameters.
  bool too_many_logged = false;

  // Levenberg-Marquardt damping: newton_lambda as `new` set it, adapted from iteration to
  // iteration.
  bool lambda_ready = false;
  double lambda = 0;

  // The last BFGS step reached the largest divisor: the next iteration restarts with steepest
  // descent.
  bool bfgs_restart = false;

  // Parameters whose pivot was rejected in the last inversion, and those that flat eigenvalues
  // of the standard errors' information matrix add (InvertInformation), by the table they act
  // on: boundary_by_table[t] for FreeParameter::submodel t; rows of the matrix past the
  // parameter list count with table 0. Empty before the first inversion.
  std::vector<int> boundary_by_table;
  // Their number over all tables.
  int BoundaryTotal() const {
    int total = 0;
    for (int count : boundary_by_table) total += count;
    return total;
  }

  // Newton iterations done so far (the first BFGS iteration is a steepest-descent one).
  int iterations_done = 0;
  // The fitted tables at the start of a Newton iteration (the margin parameters change only
  // when a step is accepted).
  FittedSnapshot saved;

  // Standard errors of the fitted values, one per cell of FittedTable (0 where none was
  // computed).
  std::vector<double> probability_std_errors;
};

}  // namespace tav

#endif  // TAV_ENGINE_NEWTON_NEWTON_STATE_H_
