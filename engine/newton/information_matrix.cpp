#include "newton/information_matrix.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/elementary.h"
#include "core/format_real.h"
#include "core/log.h"
#include "core/parallel.h"
#include "core/sweep_inverse.h"
#include "core/table_zero.h"
#include "estimation/free_parameters.h"
#include "estimation/model_family.h"
#include "estimation/submodel_form.h"
#include "newton/eigenvalues.h"
#include "newton/parameter_effects.h"
#include "newton/score.h"
#include "newton/score_layout.h"

namespace tav {
namespace {

std::int64_t CellCount(const Submodel& submodel) {
  return static_cast<std::int64_t>(submodel.cell_count);
}

// Copies what belongs to submodel r from the tables `from` into the tables `to` (fitted cells,
// predictors, multiplicative parameters): the multiplicative parameters of its families'
// parameters, and the cells of the submodels these act on (its own, and for instance those a
// design of `all` is aimed at).
void CopySubmodel(const RunState& run, int r, const std::vector<double>* const from[3],
                  std::vector<double>* const to[3]) {
  SubmodelValues values;
  values.tables = {r};
  for (const ModelFamily* family : FamiliesOf(run)) family->AddSubmodelValues(run, r, values);
  for (const auto& [first, count] : values.ranges) {
    std::copy_n(from[2]->begin() + first, count, to[2]->begin() + first);
  }
  std::vector<int> tables;
  for (int table : values.tables) {
    if (std::find(tables.begin(), tables.end(), table) == tables.end()) tables.push_back(table);
  }
  for (int table : tables) {
    const Submodel& submodel = run.model.submodels[table];
    const std::int64_t first = submodel.first_cell;
    for (int t = 0; t < 2; ++t) {
      if (from[t]->empty()) continue;
      std::copy_n(from[t]->begin() + first, CellCount(submodel), to[t]->begin() + first);
    }
  }
}

// Saves what belongs to submodel r into snapshot (whose tables have the run's sizes).
void SaveFittedSubmodel(const RunState& run, int r, FittedSnapshot& snapshot) {
  const EstimationState& est = run.estimation;
  const std::vector<double>* const from[3] = {&est.FittedTable, &est.LinearPredictor,
                                              &est.Multipliers};
  std::vector<double>* const to[3] = {&snapshot.fitted, &snapshot.predictor, &snapshot.multipliers};
  CopySubmodel(run, r, from, to);
}

// The covariances of free parameter i come from its family's own step.
bool IsOwnStepParameter(const RunState& run, int i) {
  return CovariancesFromOwnStep(run, run.estimation.free_parameters.parameters[i]);
}

}  // namespace

double SnapshotBytes(const RunState& run) {
  const EstimationState& est = run.estimation;
  return static_cast<double>(est.FittedTable.size() + est.Multipliers.size() +
                             est.LinearPredictor.size()) *
         sizeof(double);
}

void SaveFitted(const RunState& run, FittedSnapshot& snapshot) {
  const EstimationState& est = run.estimation;
  snapshot.fitted = est.FittedTable;
  snapshot.multipliers = est.Multipliers;
  snapshot.predictor = est.LinearPredictor;
}

void RestoreFitted(RunState& run, const FittedSnapshot& snapshot) {
  EstimationState& est = run.estimation;
  est.FittedTable = snapshot.fitted;
  est.Multipliers = snapshot.multipliers;
  est.LinearPredictor = snapshot.predictor;
}

void RestoreFittedSubmodel(RunState& run, int r, const FittedSnapshot& snapshot) {
  EstimationState& est = run.estimation;
  const std::vector<double>* const from[3] = {&snapshot.fitted, &snapshot.predictor,
                                              &snapshot.multipliers};
  std::vector<double>* const to[3] = {&est.FittedTable, &est.LinearPredictor, &est.Multipliers};
  CopySubmodel(run, r, from, to);
}

double HessianStep(const RunState& run, int i) {
  const FreeParameter& parameter = run.estimation.free_parameters.parameters[i];
  return FamilyOf(run, parameter).CurvatureStep(run, parameter, kHessianStep);
}

void PerturbParameter(RunState& run, int i, double delta) {
  NewtonState& newton = run.newton;
  const FreeParameter& parameter = run.estimation.free_parameters.parameters[i];
  if (FamilyOf(run, parameter).Perturb(run, parameter, delta)) return;
  if (delta == 0) return;
  // A model term's parameter.
  const int r = parameter.submodel;
  const Submodel& submodel = run.model.submodels[r];
  double* fitted = run.estimation.FittedTable.data() + submodel.first_cell;
  const double before = SubmodelTotal(run, r, fitted);
  const std::vector<double> factor = EffectFactors(newton.effect_signs[i], delta);
  newton.effect_shapes[i].Scale(fitted, factor.data(), fitted);
  RestoreSubmodelForm(run, r, fitted, before);
}

double perturb_and_evaluate(RunState& run, int i, double delta, const ModelEvaluator& evaluate) {
  PerturbParameter(run, i, delta);
  return evaluate().log_likelihood;
}

double InversionTolerance(const RunState& run, InversionMode mode) {
  if (mode == InversionMode::kInternal) return 1e-10;
  if (mode == InversionMode::kNewtonStep) return 0.001;
  const std::vector<double>& eigenvalues = run.newton.eigenvalues;
  if (eigenvalues.empty()) return 0.001;
  const double largest = *std::max_element(eigenvalues.begin(), eigenvalues.end());
  if (!std::isfinite(largest)) return 0.001;
  return std::clamp(1e-4 * largest, 0.001, 0.1);
}

void InvertInformation(RunState& run, std::vector<double>& matrix, int n, InversionMode mode) {
  NewtonState& newton = run.newton;
  const std::vector<FreeParameter>& parameters = run.estimation.free_parameters.parameters;
  const double tolerance = InversionTolerance(run, mode);
  const bool report = mode != InversionMode::kInternal;
  const int listed = static_cast<int>(parameters.size());
  if (report) newton.boundary_by_table.clear();
  // Adds count to the boundary parameters of table t.
  auto add_boundary = [&](int t, int count) {
    std::vector<int>& by_table = newton.boundary_by_table;
    if (t >= static_cast<int>(by_table.size())) by_table.resize(t + 1, 0);
    by_table[t] += count;
  };
  // Parameters of submodels with marginal restrictions already hold covariances. Each pivot
  // is a pass over the matrix: the cancel check comes with it.
  auto skip = [&](int s) {
    CheckCancel(run.context);
    return mode == InversionMode::kStandardErrors && s < listed && IsOwnStepParameter(run, s);
  };
  // A rejected pivot: the parameter is left out (variance 0).
  auto rejected = [&](int s, double pivot) {
    if (!report) return;
    const std::string what = pivot < -tolerance ? "not positive definite" : "not full rank";
    WriteLogLine(run.context, "  Warning: Information matrix is " + what + " (" +
                                  FormatReal(1, 0, s + 1) + "," + FormatReal(9, -1, pivot) + ")");
    add_boundary(s < listed ? std::max(parameters[s].submodel, 0) : 0, 1);
  };
  SweepInverse(matrix, n, tolerance, skip, rejected, ThreadCount(run.Threads()));
  if (mode != InversionMode::kStandardErrors) return;
  // The pivots are taken in order, and a direction that is nearly not identified need not
  // leave a small pivot behind (the matrix of a ridge is not quite singular at the end of the
  // iterations): the count is at least the number of eigenvalues not above the tolerance, the
  // number of directions the data do not determine.
  const auto flat = std::count_if(newton.eigenvalues.begin(), newton.eigenvalues.end(),
                                  [&](double value) { return !(value > tolerance); });
  const int counted = newton.BoundaryTotal();
  if (flat > counted) {
    WriteLogLine(run.context, "  Warning: " + FormatReal(1, 0, static_cast<double>(flat)) +
                                  " eigenvalues of the information matrix are not above" +
                                  FormatReal(1, -1, tolerance));
    // They go to the first parameter's table that is not the table after the submodels, to
    // that table when every parameter acts on it.
    const int after_submodels = run.model.SubmodelCount;
    const auto other = std::find_if(parameters.begin(), parameters.end(),
                                    [&](const auto& p) { return p.submodel != after_submodels; });
    const int table = other != parameters.end() ? std::max(other->submodel, 0) : after_submodels;
    add_boundary(table, static_cast<int>(flat) - counted);
  }
}

void DampInformation(std::vector<double>& matrix, int n, double& lambda,
                     const std::function<void()>& poll, int threads) {
  auto diagonal = [&](int r) -> double& { return matrix[static_cast<std::size_t>(r) * n + r]; };
  for (int r = 0; r < n; ++r) diagonal(r) *= 1 + lambda;
  for (;;) {
    const std::vector<double> values = compute_eigenvalues(matrix, n, poll, threads);
    if (values.empty()) break;
    const double largest = *std::max_element(values.begin(), values.end());
    const double smallest = *std::min_element(values.begin(), values.end());
    if (lambda > 1 || n < 2 || smallest > -2e-5 * largest) break;
    lambda *= 10;
    for (int r = 0; r < n; ++r) diagonal(r) *= 1 + lambda;
  }
  if (lambda > 1e-10) lambda /= 100;
}

// For the standard errors, the entries that involve a parameter whose family asks for it (design
// and hazard parameters) are taken again from central differences, -(L(+r,+c) - L(+r,-c) - L(-r,+c)
// + L(-r,-c)) / (4 h_r h_c) and
// -(L(+r) - 2 L0 + L(-r)) / h_r^2 on the diagonal: the forward differences are only accurate
// to O(h), which thresholds far from 0 turn into an error in the third digit of a standard
// error. The parameters move from the saved tables base and are put back after each value.
void CentreEntries(RunState& run, std::vector<double>& matrix, int n, double l0,
                   const FittedSnapshot& base, const std::vector<double>& steps,
                   const ModelEvaluator& evaluate) {
  const std::vector<FreeParameter>& parameters = run.estimation.free_parameters.parameters;
  auto at = [&](int i, int j) -> double& { return matrix[static_cast<std::size_t>(i) * n + j]; };
  auto value = [&](int r, double dr, int c, double dc) {
    PerturbParameter(run, r, dr);
    if (c >= 0) PerturbParameter(run, c, dc);
    const double l = evaluate().log_likelihood;
    RestoreFittedSubmodel(run, parameters[r].submodel, base);
    if (c >= 0) RestoreFittedSubmodel(run, parameters[c].submodel, base);
    return l;
  };
  std::vector<char> central(n, 0);
  for (int r = 0; r < n && r < static_cast<int>(parameters.size()); ++r) {
    central[r] = FamilyOf(run, parameters[r]).CentralDifferences(run, parameters[r]) ? 1 : 0;
  }
  for (int r = 0; r < n; ++r) {
    for (int c = r; c < n; ++c) {
      if (!central[r] && !central[c]) continue;
      if (IsOwnStepParameter(run, r) || IsOwnStepParameter(run, c)) continue;
      const double hr = steps[r];
      const double hc = steps[c];
      if (r == c) {
        at(r, r) = -(value(r, hr, -1, 0) - 2 * l0 + value(r, -hr, -1, 0)) / (hr * hr);
        continue;
      }
      at(r, c) = -(value(r, hr, c, hc) - value(r, hr, c, -hc) - value(r, -hr, c, hc) +
                   value(r, -hr, c, -hc)) /
                 (4 * hr * hc);
      at(c, r) = at(r, c);
    }
  }
}

// The information matrix of the standard errors, once formed: the blocks the families' own steps
// give, the eigenvalues, then the inversion.
void FinishStandardErrorMatrix(RunState& run, std::vector<double>& matrix, int n) {
  NewtonState& newton = run.newton;
  const bool own_steps = AnyCovariancesOwnStep(run);
  if (own_steps) {
    for (const ModelFamily* family : FamiliesOf(run)) family->WriteCovarianceBlocks(run, matrix, n);
  }
  newton.eigenvalues.clear();
  if (!own_steps) {
    newton.eigenvalues = compute_eigenvalues(
        matrix, n, [&run] { CheckCancel(run.context); }, ThreadCount(run.Threads()));
  }
  InvertInformation(run, matrix, n, InversionMode::kStandardErrors);
}

void build_information_matrix(RunState& run, NewtonAlgorithm algorithm, double l0,
                              const ModelEvaluator& evaluate) {
  NewtonState& newton = run.newton;
  const std::vector<FreeParameter>& parameters = run.estimation.free_parameters.parameters;
  const int n = run.estimation.free_parameters.Count();
  std::vector<double>& matrix = newton.information_matrix;
  matrix.assign(static_cast<std::size_t>(n) * n, 0.0);
  newton.gradient.assign(n, 0.0);
  std::vector<double>& f = newton.gradient;
  auto at = [&](int i, int j) -> double& { return matrix[static_cast<std::size_t>(i) * n + j]; };
  const bool steepest = algorithm == NewtonAlgorithm::kSteepestDescent;
  const bool std_errors = algorithm == NewtonAlgorithm::kStandardErrors;
  if (std_errors ? ScoreAvailable(run) : ScoredNewton(run)) {
    // From the E-step's score (newton/score.h); the run's tables stay as they are.
    ScoreInformation(run, matrix);
    if (std_errors) {
      FinishStandardErrorMatrix(run, matrix, n);
    } else if (steepest) {
      // The inverse curvature scales each parameter's step (see below).
      for (int r = 0; r < n; ++r) {
        const double d = at(r, r);
        for (int c = 0; c < n; ++c) at(r, c) = 0;
        at(r, r) = d > 1e-5 ? 1 / d : 1.0;
      }
    } else {
      if (newton.lambda != 0)
        DampInformation(
            matrix, n, newton.lambda, [&run] { CheckCancel(run.context); },
            ThreadCount(run.Threads()));
      InvertInformation(run, matrix, n, InversionMode::kNewtonStep);
    }
    return;
  }

  std::vector<double> steps(n);
  for (int r = 0; r < n; ++r) steps[r] = HessianStep(run, r);
  auto step = [&](int r) { return steps[r]; };
  // Two more copies of the fitted tables.
  const MemoryReservation copies(run.context, 2 * SnapshotBytes(run));
  FittedSnapshot base;
  SaveFitted(run, base);
  FittedSnapshot after_r = base;
  for (int r = 0; r < n; ++r) {
    const int sub_r = parameters[r].submodel;
    const double hr = step(r);
    f[r] = perturb_and_evaluate(run, r, hr, evaluate);
    if (steepest) {
      at(r, r) = perturb_and_evaluate(run, r, hr, evaluate);
      RestoreFittedSubmodel(run, sub_r, base);
      continue;
    }
    SaveFittedSubmodel(run, sub_r, after_r);
    for (int c = r; c < n; ++c) {
      if (std_errors && (IsOwnStepParameter(run, r) || IsOwnStepParameter(run, c))) continue;
      at(r, c) = perturb_and_evaluate(run, c, step(c), evaluate);
      const int sub_c = parameters[c].submodel;
      RestoreFittedSubmodel(run, sub_c, sub_c == sub_r ? after_r : base);
    }
    RestoreFittedSubmodel(run, sub_r, base);
  }

  if (steepest) {
    // The inverse curvature scales each parameter's step; without a usable curvature the
    // step is the gradient itself, which the step limit then bounds.
    for (int r = 0; r < n; ++r) {
      const double h = step(r);
      const double d = -(l0 + at(r, r) - 2 * f[r]) / (h * h);
      at(r, r) = d > 1e-5 ? 1 / d : 1.0;
    }
    return;
  }
  for (int r = 0; r < n; ++r) {
    for (int c = r; c < n; ++c) {
      if (std_errors && (IsOwnStepParameter(run, r) || IsOwnStepParameter(run, c))) continue;
      at(r, c) = -(l0 + at(r, c) - f[c] - f[r]) / (step(r) * step(c));
      at(c, r) = at(r, c);
    }
  }
  if (std_errors) {
    CentreEntries(run, matrix, n, l0, base, steps, evaluate);
    FinishStandardErrorMatrix(run, matrix, n);
    return;
  }
  if (newton.lambda != 0)
    DampInformation(
        matrix, n, newton.lambda, [&run] { CheckCancel(run.context); }, ThreadCount(run.Threads()));
  InvertInformation(run, matrix, n, InversionMode::kNewtonStep);
}

void probability_standard_errors(RunState& run) {
  NewtonState& newton = run.newton;
  const ModelState& model = run.model;
  EstimationState& est = run.estimation;
  const std::vector<FreeParameter>& parameters = run.estimation.free_parameters.parameters;
  const int n = run.estimation.free_parameters.Count();
  newton.probability_std_errors.assign(est.FittedTable.size(), 0.0);
  const std::vector<double>& v = newton.information_matrix;
  const double total = run.data.total_count;
  FittedSnapshot saved;
  SaveFitted(run, saved);
  for (int r = 0; r < model.SubmodelCount; ++r) {
    const Submodel& submodel = model.submodels[r];
    const std::int64_t cells = CellCount(submodel);
    if (submodel.IsTied() || submodel.IsSaturatedFixed() || cells <= 0 || cells > 128) continue;
    std::vector<int> own;
    for (int k = 0; k < n; ++k) {
      const FreeParameter& parameter = parameters[k];
      // The designs of `all` (the submodel one past the hazard part) act on the others.
      if (parameter.submodel == r || parameter.submodel == model.SubmodelCount + 1) {
        own.push_back(k);
      }
    }
    if (own.empty()) continue;
    const double scale = r == 0 ? (total <= kTableZero ? 0.0 : 1.0 / total) : 1.0;
    const std::vector<double> base(est.FittedTable.begin() + submodel.first_cell,
                                   est.FittedTable.begin() + submodel.first_cell + cells);
    // derivative[a * cells + j]: of probability j by parameter own[a].
    std::vector<double> derivative(own.size() * cells);
    for (std::size_t a = 0; a < own.size(); ++a) {
      PerturbParameter(run, own[a], kGradientStep);
      const double* moved = est.FittedTable.data() + submodel.first_cell;
      for (std::int64_t j = 0; j < cells; ++j) {
        derivative[a * cells + j] = (moved[j] - base[j]) / kGradientStep * scale;
      }
      RestoreFittedSubmodel(run, parameters[own[a]].submodel, saved);
      RestoreFittedSubmodel(run, r, saved);
    }
    for (std::int64_t j = 0; j < cells; ++j) {
      double sum = 0;
      for (std::size_t a = 0; a < own.size(); ++a) {
        const double da = derivative[a * cells + j];
        if (da == 0) continue;
        for (std::size_t b = 0; b < own.size(); ++b) {
          sum += da * v[static_cast<std::size_t>(own[a]) * n + own[b]] * derivative[b * cells + j];
        }
      }
      newton.probability_std_errors[submodel.first_cell + j] =
          sum > 0 && std::isfinite(sum) ? std::sqrt(sum) : 0.0;
    }
  }
}

}  // namespace tav
