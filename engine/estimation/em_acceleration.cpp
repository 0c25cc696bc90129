#include "estimation/em_acceleration.h"

#include <algorithm>
#include <cmath>

#include "core/elementary.h"
#include "core/table_zero.h"
#include "estimation/e_step.h"
#include "estimation/model_family.h"

namespace tav {
namespace {

// The variables of submodel r's conditioning margin lie in margin i.
bool HoldsConditioning(const Submodel& submodel, int i) {
  for (int v = 0; v < kVectorSize; ++v) {
    if (submodel.SubmodelVariables[v] != 0 && submodel.EffectVariables[0][v] != 0 &&
        submodel.EffectVariables[i][v] == 0) {
      return false;
    }
  }
  return true;
}

// r and v of one value from its three points, or false when one of them is not positive (a
// zero has no logarithm: the value then stays at theta2).
bool Differences(double x0, double x1, double x2, double& r, double& v) {
  if (!(x0 > 0 && x1 > 0 && x2 > 0)) return false;
  const double l0 = Log(x0);
  const double l1 = Log(x1);
  const double l2 = Log(x2);
  r = l1 - l0;
  v = (l2 - l1) - r;
  return true;
}

// The bound of the step length grows by this factor after a step at the bound that was kept,
// and shrinks by it (not below 1) after one that was not.
constexpr double kBoundFactor = 4;

}  // namespace

std::string AccelerationRefusal(const EstimationRun& run) {
  const ModelState& model = run.model;
  const Settings& settings = run.settings;
  if (run.families != nullptr && run.families != &ModelFamilies()) {
    return "model families of its own";
  }
  if (run.history.HazardModel) return "a hazard part (haz)";
  if (settings.newton_start_iteration < settings.max_iterations) {
    return "Newton-type iterations (new)";
  }
  if (model.HasAllSubmodel) return "restrictions for all subgroups (all)";
  for (int r = 0; r < model.SubmodelCount; ++r) {
    const Submodel& submodel = model.submodels[r];
    if (submodel.SubmodelKind == SubmodelKindCode::kEqualityRestricted) {
      return "eq2 or eq3 restrictions";
    }
    if (submodel.IsOrdinal()) return "or1 or or2 restrictions";
    if (submodel.IsCumulative()) return "a cumulative model (cum)";
    if (!submodel.IsLogLinear() && !submodel.IsTied()) return "a fixed saturated margin";
    // Restrictions come with designs of their own: they are named first.
    if (submodel.LinLogSubmodel) return "lin or log restrictions";
    if (submodel.MarSubmodel != MarRestrictions::kNone) return "mar restrictions";
    if (!submodel.assoc.empty()) return "association terms";
    if (!submodel.designs.empty()) return "design effects";
  }
  return "";
}

EmAccelerator::EmAccelerator(EstimationRun& run)
    : run_(run), reserved_(run.context, TableBytes(run.estimation)) {
  const ModelState& model = run.model;
  const EstimationState& est = run.estimation;
  const auto fitted = static_cast<std::int64_t>(est.FittedTable.size());
  const auto parameters = static_cast<std::int64_t>(est.MarginParameters.size());
  for (Point* point : {&theta0_, &theta1_, &theta2_}) {
    point->fitted.resize(fitted);
    point->parameters.resize(parameters);
  }
  expected2_.resize(fitted);

  // The conditional submodels whose parameters have a margin that holds the conditioning
  // variables: the first such margin keeps the level of the parameters.
  for (int r = 1; r < model.SubmodelCount; ++r) {
    const Submodel& submodel = model.submodels[r];
    if (!submodel.IsLogLinear() || submodel.MarginCount() < 2) continue;
    for (int i = 1; i < submodel.MarginCount(); ++i) {
      if (est.margin_parameter_offset[r][i] < 0 || !HoldsConditioning(submodel, i)) continue;
      Level level;
      level.submodel = r;
      level.margin = i;
      const MarginShape& shape = est.margin_shapes[r][i];
      std::vector<std::int64_t> condition_of_cell(shape.cells());
      est.condition_shapes[r].ForEach(
          [&](std::int64_t cell, std::int64_t condition) { condition_of_cell[cell] = condition; });
      level.condition_cell.assign(shape.margin_cells(), 0);
      shape.ForEach([&](std::int64_t cell, std::int64_t margin_cell) {
        level.condition_cell[margin_cell] = condition_of_cell[cell];
      });
      levels_.push_back(std::move(level));
      break;
    }
  }
}

double EmAccelerator::TableBytes(const EstimationState& est) {
  const auto fitted = static_cast<double>(est.FittedTable.size());
  const auto parameters = static_cast<double>(est.MarginParameters.size());
  return (3 * (fitted + parameters) + fitted) * sizeof(double);
}

void EmAccelerator::Capture(Point& point) const {
  const EstimationState& est = run_.estimation;
  std::copy(est.FittedTable.begin(), est.FittedTable.end(), point.fitted.begin());
  std::copy(est.MarginParameters.begin(), est.MarginParameters.end(), point.parameters.begin());
}

void EmAccelerator::Restore(const Point& point) {
  EstimationState& est = run_.estimation;
  std::copy(point.fitted.begin(), point.fitted.end(), est.FittedTable.begin());
  std::copy(point.parameters.begin(), point.parameters.end(), est.MarginParameters.begin());
}

std::vector<double> EmAccelerator::LevelOf(int r, const double* parameters) const {
  const EstimationState& est = run_.estimation;
  const Submodel& submodel = run_.model.submodels[r];
  std::vector<double> product(static_cast<std::size_t>(submodel.cell_count), 1.0);
  for (int i = 1; i < submodel.MarginCount(); ++i) {
    const std::int64_t offset = est.margin_parameter_offset[r][i];
    if (offset >= 0)
      est.margin_shapes[r][i].Scale(product.data(), parameters + offset, product.data());
  }
  std::vector<double> level(est.condition_shapes[r].margin_cells());
  est.condition_shapes[r].MarginOf(product.data(), level.data());
  return level;
}

bool EmAccelerator::Extrapolate(double alpha) {
  const ModelState& model = run_.model;
  EstimationState& est = run_.estimation;
  // theta' - theta2 = (alpha + 1) ((alpha - 1) v - 2 r): exactly theta2 at alpha = -1.
  const auto extrapolate = [alpha](const Point& p0, const Point& p1, const Point& p2,
                                   const std::vector<double> Point::*values,
                                   std::vector<double>& target) {
    const std::vector<double>& x0 = p0.*values;
    const std::vector<double>& x1 = p1.*values;
    const std::vector<double>& x2 = p2.*values;
    for (std::size_t c = 0; c < target.size(); ++c) {
      double r = 0;
      double v = 0;
      if (!Differences(x0[c], x1[c], x2[c], r, v)) {
        target[c] = x2[c];
        continue;
      }
      const double value = Exp(Log(x2[c]) + (alpha + 1) * ((alpha - 1) * v - 2 * r));
      if (!std::isfinite(value)) return false;
      target[c] = value;
    }
    return true;
  };
  if (!extrapolate(theta0_, theta1_, theta2_, &Point::fitted, est.FittedTable) ||
      !extrapolate(theta0_, theta1_, theta2_, &Point::parameters, est.MarginParameters)) {
    return false;
  }

  // The first submodel keeps the total of theta2, with the parameters of its first margin.
  if (model.SubmodelCount > 0) {
    const Submodel& first = model.submodels[0];
    const auto cells = static_cast<std::int64_t>(first.cell_count);
    double* fitted = est.FittedTable.data() + first.first_cell;
    const double* fitted2 = theta2_.fitted.data() + first.first_cell;
    double sum = 0;
    double sum2 = 0;
    for (std::int64_t c = 0; c < cells; ++c) {
      sum += fitted[c];
      sum2 += fitted2[c];
    }
    if (sum2 > kTableZero) {
      if (!(sum > kTableZero) || !std::isfinite(sum)) return false;
      const double factor = sum2 / sum;
      for (std::int64_t c = 0; c < cells; ++c) fitted[c] *= factor;
      if (first.MarginCount() > 0 && est.margin_parameter_offset[0][0] >= 0) {
        double* parameters = est.MarginParameters.data() + est.margin_parameter_offset[0][0];
        const std::int64_t size = est.margin_shapes[0][0].margin_cells();
        for (std::int64_t k = 0; k < size; ++k) parameters[k] *= factor;
      }
    }
  }

  // Every conditional distribution sums to 1 again (or to 0 where it did at theta2).
  for (int r = 1; r < model.SubmodelCount; ++r) {
    const Submodel& submodel = model.submodels[r];
    if (!submodel.IsLogLinear()) continue;
    const MarginShape& shape = est.condition_shapes[r];
    double* fitted = est.FittedTable.data() + submodel.first_cell;
    std::vector<double> sums(shape.margin_cells());
    std::vector<double> sums2(shape.margin_cells());
    shape.MarginOf(fitted, sums.data());
    shape.MarginOf(theta2_.fitted.data() + submodel.first_cell, sums2.data());
    for (std::size_t m = 0; m < sums.size(); ++m) {
      if (sums2[m] <= kTableZero) {
        sums[m] = 0;
        continue;
      }
      if (!(sums[m] > kTableZero) || !std::isfinite(sums[m])) return false;
      sums[m] = 1 / sums[m];
    }
    shape.Scale(fitted, sums.data(), fitted);
  }

  // The parameters' level per conditioning cell, which the fitted probabilities do not
  // determine, stays that of theta2.
  for (const Level& level : levels_) {
    const std::vector<double> wanted = LevelOf(level.submodel, theta2_.parameters.data());
    std::vector<double> factor = LevelOf(level.submodel, est.MarginParameters.data());
    for (std::size_t m = 0; m < factor.size(); ++m) {
      if (!(wanted[m] > kTableZero)) {
        factor[m] = 1;
        continue;
      }
      if (!(factor[m] > kTableZero) || !std::isfinite(factor[m])) return false;
      factor[m] = wanted[m] / factor[m];
    }
    double* parameters =
        est.MarginParameters.data() + est.margin_parameter_offset[level.submodel][level.margin];
    for (std::size_t k = 0; k < level.condition_cell.size(); ++k) {
      parameters[k] *= factor[level.condition_cell[k]];
    }
  }
  return true;
}

void EmAccelerator::Iterate(const std::function<void()>& m_step) {
  EstimationState& est = run_.estimation;
  const double start = est.LogLikelihood;
  Capture(theta0_);
  m_step();
  ExpectationStep(run_);
  Capture(theta1_);
  m_step();
  ExpectationStep(run_);
  Capture(theta2_);
  std::copy(est.ExpectedTable.begin(), est.ExpectedTable.end(), expected2_.begin());
  const double excluded2 = est.ExcludedObservations;

  // The step length from the logarithms of the fitted cells, within the bound.
  double rr = 0;
  double vv = 0;
  for (std::size_t c = 0; c < est.FittedTable.size(); ++c) {
    double r = 0;
    double v = 0;
    if (!Differences(theta0_.fitted[c], theta1_.fitted[c], theta2_.fitted[c], r, v)) continue;
    rr += r * r;
    vv += v * v;
  }
  double alpha = -1;
  if (vv > 0 && std::isfinite(rr) && std::isfinite(vv)) alpha = -std::sqrt(rr / vv);
  const bool at_bound = !(alpha > -step_bound_);
  alpha = std::min(std::max(alpha, -step_bound_), -1.0);
  last_alpha_ = alpha;
  last_kept_ = false;
  if (alpha < -1) {
    if (Extrapolate(alpha)) {
      const double log_likelihood = ExpectationStep(run_);
      last_kept_ = std::isfinite(log_likelihood) && log_likelihood >= start &&
                   est.ExcludedObservations <= excluded2;
    }
    if (!last_kept_) {
      Restore(theta2_);
      std::copy(expected2_.begin(), expected2_.end(), est.ExpectedTable.begin());
      est.ForgetExpectedMargins();
    }
  }
  if (at_bound) {
    step_bound_ = last_kept_ || alpha == -1 ? step_bound_ * kBoundFactor
                                            : std::max(1.0, step_bound_ / kBoundFactor);
  }
  // The stabilising EM step, whose E-step writes the iteration's line.
  m_step();
  EStep(run_);
}

}  // namespace tav
