#include "newton/information_matrix.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/elementary.h"
#include "core/format_real.h"
#include "core/log.h"
#include "core/sweep_inverse.h"
#include "core/table_zero.h"
#include "estimation/association_model.h"
#include "estimation/design_effects.h"
#include "estimation/free_parameters.h"
#include "estimation/marginal_restrictions.h"
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
// predictors, design parameters): its designs' parameters, and the cells of the submodels its
// parameters act on (its own, and for the designs of `all` those they are aimed at).
void CopySubmodel(const RunState& run, int r, const std::vector<double>* const from[3],
                  std::vector<double>* const to[3]) {
  std::vector<int> tables = {r};
  if (r < static_cast<int>(run.estimation.design_work.size())) {
    for (const DesignWork& work : run.estimation.design_work[r]) {
      std::copy_n(from[2]->begin() + work.offset, work.parameters, to[2]->begin() + work.offset);
      if (std::find(tables.begin(), tables.end(), work.table) == tables.end()) {
        tables.push_back(work.table);
      }
    }
  }
  const HazardWork& hazard = run.estimation.hazard;
  if (r == hazard.table && hazard.shape_offset >= 0) {
    std::copy_n(from[2]->begin() + hazard.shape_offset, hazard.risks,
                to[2]->begin() + hazard.shape_offset);
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
                                              &est.DesignParameters};
  std::vector<double>* const to[3] = {&snapshot.fitted, &snapshot.predictor,
                                      &snapshot.design_parameters};
  CopySubmodel(run, r, from, to);
}

bool IsMarParameter(const RunState& run, int i) {
  return MarginallyRestricted(run, run.estimation.free_parameters.parameters[i]);
}

// The covariance blocks of the submodels with marginal restrictions (their model terms' and
// design effects' parameters and their multipliers), which their own step gives
// (estimation/marginal_restrictions.h).
void WriteMarginalBlocks(const RunState& run, std::vector<double>& matrix, int n) {
  for (int r = 0; r < run.model.SubmodelCount; ++r) {
    if (MarginalMultiplierCount(run, r) == 0) continue;
    const MarginalCovarianceBlock block = MarginalCovariance(run, r);
    const std::vector<int>& index = block.positions;
    const std::vector<double>& covariance = block.covariance;
    const int size = static_cast<int>(index.size());
    for (int a = 0; a < size; ++a) {
      for (int b = 0; b < size; ++b) {
        if (index[a] < 0 || index[b] < 0 || index[a] >= n || index[b] >= n) continue;
        matrix[static_cast<std::size_t>(index[a]) * n + index[b]] =
            covariance[static_cast<std::size_t>(a) * size + b];
      }
    }
  }
}

}  // namespace

double SnapshotBytes(const RunState& run) {
  const EstimationState& est = run.estimation;
  return static_cast<double>(est.FittedTable.size() + est.DesignParameters.size() +
                             est.LinearPredictor.size()) *
         sizeof(double);
}

void SaveFitted(const RunState& run, FittedSnapshot& snapshot) {
  const EstimationState& est = run.estimation;
  snapshot.fitted = est.FittedTable;
  snapshot.design_parameters = est.DesignParameters;
  snapshot.predictor = est.LinearPredictor;
}

void RestoreFitted(RunState& run, const FittedSnapshot& snapshot) {
  EstimationState& est = run.estimation;
  est.FittedTable = snapshot.fitted;
  est.DesignParameters = snapshot.design_parameters;
  est.LinearPredictor = snapshot.predictor;
}

void RestoreFittedSubmodel(RunState& run, int r, const FittedSnapshot& snapshot) {
  EstimationState& est = run.estimation;
  const std::vector<double>* const from[3] = {&snapshot.fitted, &snapshot.predictor,
                                              &snapshot.design_parameters};
  std::vector<double>* const to[3] = {&est.FittedTable, &est.LinearPredictor,
                                      &est.DesignParameters};
  CopySubmodel(run, r, from, to);
}

double HessianStep(const RunState& run, int i) {
  const FreeParameter& parameter = run.estimation.free_parameters.parameters[i];
  if (parameter.design < 0) return kHessianStep;
  const DesignWork* work = FindDesignWork(run, parameter.submodel, parameter.design);
  if (work == nullptr) return kHessianStep;
  if (parameter.position < 0 || parameter.position >= static_cast<int>(work->free.size())) {
    return kHessianStep;
  }
  const double value =
      run.estimation.DesignParameters[work->offset + work->free[parameter.position]];
  return value > 0.95 && value < 1.05 ? kHessianStep / 3 : kHessianStep;
}

void PerturbParameter(RunState& run, int i, double delta) {
  NewtonState& newton = run.newton;
  const FreeParameter& parameter = run.estimation.free_parameters.parameters[i];
  if (parameter.design >= 0) {
    PerturbDesignParameter(run, parameter.submodel, parameter.design, parameter.position, delta);
    return;
  }
  if (delta == 0) return;
  EstimationState& est = run.estimation;
  if (parameter.shape) {
    est.DesignParameters[est.hazard.shape_offset + parameter.position] *= Exp(delta);
    return;
  }
  const int r = parameter.submodel;
  const Submodel& submodel = run.model.submodels[r];
  double* fitted = est.FittedTable.data() + submodel.first_cell;
  const std::int64_t cells = CellCount(submodel);
  const double before = SubmodelTotal(run, r, fitted);
  if (parameter.assoc >= 0) {
    // An association term's direction moves the log of every cell by its change.
    const std::vector<double> change =
        AssociationCellChange(run, r, parameter.assoc, parameter.position);
    for (std::int64_t c = 0; c < cells && c < static_cast<std::int64_t>(change.size()); ++c) {
      if (change[c] != 0) fitted[c] *= Exp(delta * change[c]);
    }
  } else {
    const std::vector<double> factor = EffectFactors(newton.effect_signs[i], delta);
    newton.effect_shapes[i].Scale(fitted, factor.data(), fitted);
  }
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
  if (report) {
    newton.BoundaryLogLinear = 0;
    newton.BoundaryHazard = 0;
  }
  // Parameters of submodels with marginal restrictions already hold covariances. Each pivot
  // is a pass over the matrix: the cancel check comes with it.
  auto skip = [&](int s) {
    CheckCancel(run.context);
    return mode == InversionMode::kStandardErrors && s < listed && IsMarParameter(run, s);
  };
  // A rejected pivot: the parameter is left out (variance 0).
  auto rejected = [&](int s, double pivot) {
    if (!report) return;
    const std::string what = pivot < -tolerance ? "not positive definite" : "not full rank";
    WriteLogLine(run.context, "  Warning: Information matrix is " + what + " (" +
                                  FormatReal(1, 0, s + 1) + "," + FormatReal(9, -1, pivot) + ")");
    if (s < listed && parameters[s].submodel == run.model.SubmodelCount) {
      ++newton.BoundaryHazard;
    } else {
      ++newton.BoundaryLogLinear;
    }
  };
  SweepInverse(matrix, n, tolerance, skip, rejected);
  if (mode != InversionMode::kStandardErrors) return;
  // The pivots are taken in order, and a direction that is nearly not identified need not
  // leave a small pivot behind (the matrix of a ridge is not quite singular at the end of the
  // iterations): the count is at least the number of eigenvalues not above the tolerance, the
  // number of directions the data do not determine.
  const auto flat = std::count_if(newton.eigenvalues.begin(), newton.eigenvalues.end(),
                                  [&](double value) { return !(value > tolerance); });
  const int counted = newton.BoundaryLogLinear + newton.BoundaryHazard;
  if (flat > counted) {
    WriteLogLine(run.context, "  Warning: " + FormatReal(1, 0, static_cast<double>(flat)) +
                                  " eigenvalues of the information matrix are not above" +
                                  FormatReal(1, -1, tolerance));
    const bool loglinear = std::any_of(parameters.begin(), parameters.end(), [&](const auto& p) {
      return p.submodel != run.model.SubmodelCount;
    });
    (loglinear ? newton.BoundaryLogLinear : newton.BoundaryHazard) +=
        static_cast<int>(flat) - counted;
  }
}

void DampInformation(std::vector<double>& matrix, int n, double& lambda,
                     const std::function<void()>& poll) {
  auto diagonal = [&](int r) -> double& { return matrix[static_cast<std::size_t>(r) * n + r]; };
  for (int r = 0; r < n; ++r) diagonal(r) *= 1 + lambda;
  for (;;) {
    const std::vector<double> values = compute_eigenvalues(matrix, n, poll);
    if (values.empty()) break;
    const double largest = *std::max_element(values.begin(), values.end());
    const double smallest = *std::min_element(values.begin(), values.end());
    if (lambda > 1 || n < 2 || smallest > -2e-5 * largest) break;
    lambda *= 10;
    for (int r = 0; r < n; ++r) diagonal(r) *= 1 + lambda;
  }
  if (lambda > 1e-10) lambda /= 100;
}

// For the standard errors, the entries that involve a design or hazard parameter are taken again
// from central differences, -(L(+r,+c) - L(+r,-c) - L(-r,+c) + L(-r,-c)) / (4 h_r h_c) and
// -(L(+r) - 2 L0 + L(-r)) / h_r^2 on the diagonal: the forward differences are only accurate
// to O(h), which thresholds far from 0 turn into an error in the third digit of a standard
// error. The parameters move from the saved tables base and are put back after each value.
void CentreDesignEntries(RunState& run, std::vector<double>& matrix, int n, double l0,
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
  for (int r = 0; r < n; ++r) {
    for (int c = r; c < n; ++c) {
      // The hazard part's rates enter the likelihood through exponentials of exposures, whose
      // curvature forward differences miss in the fourth digit too.
      const int hazard = run.estimation.hazard.table;
      const bool central_r = parameters[r].design >= 0 || parameters[r].submodel == hazard;
      const bool central_c = parameters[c].design >= 0 || parameters[c].submodel == hazard;
      if (!central_r && !central_c) continue;
      if (IsMarParameter(run, r) || IsMarParameter(run, c)) continue;
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

// The information matrix of the standard errors, once formed: the marginal restrictions' own
// blocks, the eigenvalues, then the inversion.
void FinishStandardErrorMatrix(RunState& run, std::vector<double>& matrix, int n) {
  NewtonState& newton = run.newton;
  if (run.model.AnyMar) WriteMarginalBlocks(run, matrix, n);
  newton.eigenvalues.clear();
  if (!run.model.AnyMar) {
    newton.eigenvalues = compute_eigenvalues(matrix, n, [&run] { CheckCancel(run.context); });
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
        DampInformation(matrix, n, newton.lambda, [&run] { CheckCancel(run.context); });
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
      if (std_errors && (IsMarParameter(run, r) || IsMarParameter(run, c))) continue;
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
      if (std_errors && (IsMarParameter(run, r) || IsMarParameter(run, c))) continue;
      at(r, c) = -(l0 + at(r, c) - f[c] - f[r]) / (step(r) * step(c));
      at(c, r) = at(r, c);
    }
  }
  if (std_errors) {
    CentreDesignEntries(run, matrix, n, l0, base, steps, evaluate);
    FinishStandardErrorMatrix(run, matrix, n);
    return;
  }
  if (newton.lambda != 0)
    DampInformation(matrix, n, newton.lambda, [&run] { CheckCancel(run.context); });
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
