#include "newton/newton_iteration.h"

#include <cmath>
#include <string>
#include <vector>

#include "core/elementary.h"
#include "core/format_real.h"
#include "core/log.h"
#include "core/stop_run.h"
#include "core/table_zero.h"
#include "estimation/free_parameters.h"
#include "estimation/model_family.h"
#include "newton/information_matrix.h"
#include "newton/parameter_effects.h"
#include "newton/score.h"

namespace tav {
namespace {

// A step is accepted when the log-likelihood falls by no more than this...
constexpr double kAcceptedFall = 1e-10;
// ... and half the likelihood-ratio statistic stays above minus this.
constexpr double kHalfLSquaredTolerance = 1e-8;
// Halving ends when the divisor reaches this many times step_size (1, 2, 4, 8 and 16 times
// are tried), for steepest descent when it reaches kSteepestDescentDivisorLimit.
constexpr double kHalvingLimit = 16;
constexpr double kSteepestDescentDivisorLimit = 1e8;
// The step limit doubles the divisor at most this often: beyond it no double is larger.
constexpr int kMaxDoublings = 2100;

std::string AlgorithmName(const RunState& run, NewtonAlgorithm algorithm,
                          NewtonAlgorithm requested) {
  std::string name;
  switch (algorithm) {
    case NewtonAlgorithm::kSteepestDescent:
      name = "Steepest-descent";
      break;
    case NewtonAlgorithm::kBfgs:
      name = "BFGS";
      break;
    default:
      name = run.newton.lambda != 0 ? "Levenberg-Maquardt" : "Newton-Raphson";
  }
  if (requested == NewtonAlgorithm::kNewtonRaphsonWithEm) name += " + EM";
  return name;
}

// The score from the E-step where it covers the model (newton/score.h), else
// g_i = (L(theta + 1e-7 e_i) - L0) / 1e-7, the fitted tables restored after each.
void ComputeGradient(RunState& run, double l0, const ModelEvaluator& evaluate) {
  NewtonState& newton = run.newton;
  if (ScoredNewton(run)) {
    newton.gradient = ComputeScore(run);
    return;
  }
  const FreeParameterList& list = run.estimation.free_parameters;
  const int n = list.Count();
  newton.gradient.assign(n, 0.0);
  for (int i = 0; i < n; ++i) {
    newton.gradient[i] =
        (perturb_and_evaluate(run, i, kGradientStep, evaluate) - l0) / kGradientStep;
    RestoreFittedSubmodel(run, list.parameters[i].submodel, newton.saved);
  }
}

// The BFGS update of the stored inverse matrix H with the last step s and the change y of the
// gradient: H y = -s afterwards (H approximates the inverse of minus the Hessian). A
// degenerate update (s'y or y'Hy zero or not finite) leaves H as it is.
void UpdateBfgs(NewtonState& newton, int n) {
  std::vector<double>& h = newton.information_matrix;
  std::vector<double> y(n);
  for (int i = 0; i < n; ++i) y[i] = newton.gradient[i] - newton.previous_gradient[i];
  const std::vector<double>& s = newton.last_step;
  std::vector<double>& v = newton.bfgs_work;
  v.assign(n, 0.0);
  double sy = 0;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) v[i] += h[static_cast<std::size_t>(i) * n + j] * y[j];
    sy += s[i] * y[i];
  }
  double yv = 0;
  for (int i = 0; i < n; ++i) yv += y[i] * v[i];
  if (!(std::fabs(sy) > kTableZero) || !(std::fabs(yv) > kTableZero) || !std::isfinite(sy) ||
      !std::isfinite(yv)) {
    return;
  }
  const double rho = 1 / sy;
  const double sigma = 1 / yv;
  for (int i = 0; i < n; ++i) {
    const double ui = rho * s[i] - sigma * v[i];
    for (int j = 0; j < n; ++j) {
      const double uj = rho * s[j] - sigma * v[j];
      h[static_cast<std::size_t>(i) * n + j] +=
          -rho * s[i] * s[j] - sigma * v[i] * v[j] + yv * ui * uj;
    }
  }
}

// Multiplies the margin parameters of the accepted step into the reported parameter table,
// and keeps submodel 0's first margin at the scale of its fitted table.
void ApplyStepToMarginParameters(RunState& run, const std::vector<double>& step) {
  NewtonState& newton = run.newton;
  EstimationState& est = run.estimation;
  const ModelState& model = run.model;
  bool first_moved = false;
  for (int i = 0; i < est.free_parameters.loglinear_count; ++i) {
    const FreeParameter& parameter = est.free_parameters.parameters[i];
    if (!parameter.IsLogLinear() || step[i] == 0) continue;
    const std::int64_t offset = est.margin_parameter_offset[parameter.submodel][parameter.margin];
    if (offset < 0) continue;
    const std::vector<signed char>& signs = newton.effect_signs[i];
    std::vector<double> factor(signs.size());
    for (std::size_t e = 0; e < signs.size(); ++e) factor[e] = Exp(signs[e] * step[i]);
    double* parameters = est.MarginParameters.data() + offset;
    newton.margin_effect_shapes[i].Scale(parameters, factor.data(), parameters);
    first_moved = first_moved || parameter.submodel == 0;
  }
  if (!first_moved || model.SubmodelCount == 0) return;
  const Submodel& first = model.submodels[0];
  const auto cells = static_cast<std::int64_t>(first.cell_count);
  std::vector<double> product(cells, 1.0);
  for (int m = 0; m < first.MarginCount(); ++m) {
    const std::int64_t offset = est.margin_parameter_offset[0][m];
    if (offset < 0) continue;
    est.margin_shapes[0][m].Scale(product.data(), est.MarginParameters.data() + offset,
                                  product.data());
  }
  double product_total = 0;
  double fitted_total = 0;
  for (std::int64_t c = 0; c < cells; ++c) {
    product_total += product[c];
    fitted_total += est.FittedTable[first.first_cell + c];
  }
  const std::int64_t offset = est.margin_parameter_offset[0][0];
  if (offset < 0 || product_total <= kTableZero) return;
  const double scale = fitted_total / product_total;
  const std::int64_t size = est.margin_shapes[0][0].margin_cells();
  for (std::int64_t k = 0; k < size; ++k) est.MarginParameters[offset + k] *= scale;
}

// The step of one Newton iteration along M g, M the matrix of the algorithm. Returns whether
// a step was accepted; a failed step leaves the fitted tables as they were saved.
bool TakeStep(RunState& run, NewtonAlgorithm algorithm, NewtonAlgorithm requested, double l0,
              const ModelEvaluator& evaluate) {
  NewtonState& newton = run.newton;
  const Settings& settings = run.settings;
  EstimationState& est = run.estimation;
  const int n = est.free_parameters.Count();
  const bool steepest = algorithm == NewtonAlgorithm::kSteepestDescent;
  const bool bfgs = algorithm == NewtonAlgorithm::kBfgs;
  const double step_size = est.step_size;
  double divisor = steepest ? 2 * step_size : step_size;
  const double limit_divisor = bfgs ? 4 : 2;
  std::vector<double> direction(n, 0.0);
  for (int i = 0; i < n; ++i) {
    double sum = 0;
    for (int j = 0; j < n; ++j) {
      sum += newton.gradient[j] * newton.information_matrix[static_cast<std::size_t>(i) * n + j];
    }
    direction[i] = std::isfinite(sum) ? sum : 0.0;
  }
  // Step limit: no parameter moves by more than (Newton iterations so far) / k.
  const double limit = (run.estimation.iteration - settings.newton_start_iteration) / limit_divisor;
  if (limit > 0 && divisor > 0) {
    // Doubling stops at the largest divisor a double holds, whatever the direction holds.
    for (int doublings = 0; doublings < kMaxDoublings; ++doublings) {
      bool too_long = false;
      for (int i = 0; i < n && !too_long; ++i) too_long = std::fabs(direction[i] / divisor) > limit;
      if (!too_long) break;
      divisor *= 2;
    }
  }

  std::vector<double> step(n);
  for (;;) {
    RestoreFitted(run, newton.saved);
    for (int i = 0; i < n; ++i) {
      step[i] = direction[i] / divisor;
      PerturbParameter(run, i, step[i]);
    }
    const Evaluation after = evaluate();
    if (after.log_likelihood - l0 >= -kAcceptedFall &&
        after.half_lsquared >= -kHalfLSquaredTolerance) {
      break;
    }
    const bool can_halve = steepest ? std::fabs(divisor) < kSteepestDescentDivisorLimit
                                    : kHalvingLimit * step_size > std::fabs(divisor);
    if (can_halve) {
      divisor *= 2;
      continue;
    }
    RestoreFitted(run, newton.saved);
    if (steepest) StopRun("  Error: Newton-type algorithm fails; use more EM iterations");
    return false;
  }

  WriteLogLine(run.context, "  " + AlgorithmName(run, algorithm, requested) +
                                " iteration: " + FormatReal(1, 1, std::fabs(divisor)));
  newton.last_step = step;
  if (settings.show_parameters) ApplyStepToMarginParameters(run, step);
  newton.bfgs_restart = bfgs && std::fabs(divisor) >= kHalvingLimit * step_size && n > 0;
  return true;
}

}  // namespace

void newton_iteration(RunState& run, NewtonAlgorithm algorithm, const ModelEvaluator& evaluate) {
  NewtonState& newton = run.newton;
  EstimationState& est = run.estimation;
  BuildParameterList(run);
  if (!est.free_parameters.Usable()) return;
  PrepareParameterEffects(run);
  if (algorithm != NewtonAlgorithm::kStandardErrors &&
      est.free_parameters.Count() > kMaxDifferencedParameters && !ScoredNewton(run)) {
    // Their information takes n^2 / 2 evaluations of the log-likelihood: EM goes on alone.
    if (!newton.too_many_logged) {
      newton.too_many_logged = true;
      WriteLogLine(run.context, "  Newton-type iterations skipped: more than " +
                                    std::to_string(kMaxDifferencedParameters) + " free parameters");
    }
    return;
  }
  if (!newton.lambda_ready) {
    newton.lambda_ready = true;
    newton.lambda = run.settings.newton_lambda;
  }
  const int n = est.free_parameters.Count();
  if (static_cast<int>(newton.last_step.size()) != n) {
    newton.last_step.assign(n, 0.0);
    newton.previous_gradient.assign(n, 0.0);
    newton.bfgs_work.assign(n, 0.0);
  }

  run.context.KeepMemory(MemoryUse::kNewtonTables, 0);
  run.context.KeepMemory(MemoryUse::kNewtonTables, SnapshotBytes(run));
  SaveFitted(run, newton.saved);
  const double l0 = evaluate().log_likelihood;

  if (algorithm == NewtonAlgorithm::kStandardErrors) {
    build_information_matrix(run, algorithm, l0, evaluate);
    if (run.settings.show_conditional && !AnyCovariancesOwnStep(run))
      probability_standard_errors(run);
    newton.std_errors_computed = true;
    RestoreFitted(run, newton.saved);
    return;
  }

  // Algorithm 4 is Newton-Raphson; the estimation keeps the EM M-steps running beside it.
  NewtonAlgorithm a = algorithm == NewtonAlgorithm::kNewtonRaphsonWithEm
                          ? NewtonAlgorithm::kNewtonRaphson
                          : algorithm;
  if (a == NewtonAlgorithm::kBfgs && (newton.iterations_done == 0 || newton.bfgs_restart)) {
    a = NewtonAlgorithm::kSteepestDescent;
  }
  ++newton.iterations_done;
  for (;;) {
    const bool bfgs = a == NewtonAlgorithm::kBfgs;
    if (!bfgs) build_information_matrix(run, a, l0, evaluate);
    if (bfgs) newton.previous_gradient = newton.gradient;
    ComputeGradient(run, l0, evaluate);
    if (bfgs) UpdateBfgs(newton, n);
    if (TakeStep(run, a, algorithm, l0, evaluate)) break;
    a = NewtonAlgorithm::kSteepestDescent;
  }
}

void ComputeStandardErrors(RunState& run, const ModelEvaluator& evaluate) {
  BuildParameterList(run);
  const FreeParameterList& list = run.estimation.free_parameters;
  if (list.full) {
    SkipStandardErrors(run, kMaxFreeParameters, false);
    return;
  }
  if (list.Usable() && list.Count() > kMaxDifferencedParameters) {
    PrepareParameterEffects(run);
    if (!ScoreAvailable(run)) {
      SkipStandardErrors(run, kMaxDifferencedParameters, true);
      return;
    }
  }
  newton_iteration(run, NewtonAlgorithm::kStandardErrors, evaluate);
}

void SkipStandardErrors(RunState& run, int cap, bool differences) {
  const std::string cause = "standard errors and identification check skipped: more than " +
                            std::to_string(cap) + " free parameters";
  const std::string differenced = "in a model that needs finite differences";
  run.newton.std_errors_skipped = differences ? cause + " " + differenced : cause;
  // Log lines hold 80 characters: the finite differences go on a line of their own.
  WriteLogLine(run.context, "  " + cause);
  if (differences) WriteLogLine(run.context, "  " + differenced);
}

bool StandardErrorsWanted(const RunState& run) {
  const FreeParameterList& list = run.estimation.free_parameters;
  return run.settings.show_std_errors && !(list.built && !list.Usable());
}

bool ShowsStdErrors(const RunState& run) {
  return run.settings.show_std_errors && run.newton.std_errors_computed;
}

}  // namespace tav
