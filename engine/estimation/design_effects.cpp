#include "estimation/design_effects.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>

#include "core/distributions.h"
#include "core/elementary.h"
#include "core/random.h"
#include "core/stop_run.h"
#include "core/table_zero.h"
#include "data/design_reader.h"
#include "data/generated_designs.h"
#include "estimation/cumulative_model.h"
#include "estimation/hazard_model.h"

namespace tav {
namespace {

// Sweeps of the alternating projections that take the model terms out of the design values.
constexpr int kProjectionSweeps = 50;
// The relative size of the terms' means at which the projections of the sparse form stop.
constexpr double kSparseTolerance = 1e-9;
// The predictor of a cell whose fixed value or parameter is not positive.
constexpr double kNoPredictor = -1000;
// A joint step solves a system of its parameters, and its sums take the square of their number
// over the cells; beyond this many parameters (a cumulative model of hundreds of categories)
// the one-dimensional steps take its place.
constexpr int kLargestJointStep = 200;

// Design columns whose largest magnitude lies within [kLeastUnscaled, kMostUnscaled] are fitted
// as they are; the others are scaled (ColumnScale in the header).
constexpr double kLeastUnscaled = 1.0 / 1024;
constexpr double kMostUnscaled = 1024;

double SafeLog(double x) { return x > 0 ? Log(x) : kNoPredictor; }

// The power of two that brings the largest magnitude of the n values x into [1, 2), or 1 when
// it lies within the band that is fitted as it stands (or there is no value but 0).
double PowerOfTwoScale(const double* x, std::int64_t n) {
  double largest = 0;
  for (std::int64_t c = 0; c < n; ++c) largest = std::max(largest, std::fabs(x[c]));
  if (!(largest > 0) || !std::isfinite(largest)) return 1;
  if (largest >= kLeastUnscaled && largest <= kMostUnscaled) return 1;
  double scale = 1;
  while (largest / scale >= 2) scale *= 2;
  while (largest / scale < 1) scale /= 2;
  return scale;
}

// Scales the columns of a work (ColumnScale in the header).
void ScaleColumns(DesignWork& work) {
  work.scale.assign(work.parameters, 1.0);
  bool any = false;
  for (int k = 0; k < work.parameters; ++k) {
    double* x = work.x.data() + static_cast<std::ptrdiff_t>(k) * work.cells;
    const double scale = PowerOfTwoScale(x, work.cells);
    if (scale == 1) continue;
    any = true;
    work.scale[k] = scale;
    for (std::int64_t c = 0; c < work.cells; ++c) x[c] /= scale;
  }
  if (!any) work.scale.clear();
}

// The design values of design i of submodel r over the cells of its term, parameter by
// parameter (x[k * n + c]).
std::vector<double> DesignValues(EstimationRun& run, int r, int i, std::int64_t n, int p) {
  const Design& design = run.model.submodels[r].designs[i];
  const DesignStore& store = run.designs;
  DesignSlot slot;
  if (r < static_cast<int>(store.design_slots.size()) &&
      i < static_cast<int>(store.design_slots[r].size())) {
    slot = store.design_slots[r][i];
  }
  std::vector<double> x(static_cast<std::size_t>(n) * p, 0.0);
  if (design.family == DesignFamily::kCovariate && CovariateMark(run.model, design) == 1) {
    // The continuous covariates: the covariate's variable numbers the records (the last of
    // the term, running fastest), so that design cell c is (cell a of the term's other
    // variables, record i); parameter k takes covariate k + a of the record.
    const std::vector<double>& values = run.data.covariate_value;
    const std::int64_t records = std::max<std::int64_t>(run.history.RecordCount, 1);
    for (int k = 0; k < p; ++k) {
      for (std::int64_t c = 0; c < n; ++c) {
        const std::int64_t covariate = k + c / records;
        x[static_cast<std::size_t>(k) * n + c] =
            covariate < run.model.CovariateCount
                ? StoreValue(values, covariate * records + c % records)
                : 0.0;
      }
    }
    return x;
  }
  switch (design.family) {
    case DesignFamily::kCovariate:
      for (std::size_t a = 0; a < x.size(); ++a) {
        x[a] = StoreValue(store.real_design, slot.real_start + static_cast<std::int64_t>(a));
      }
      break;
    case DesignFamily::kEffect:
      for (std::size_t a = 0; a < x.size(); ++a) {
        x[a] = StoreValue(store.int_design, slot.int_start + static_cast<std::int64_t>(a));
      }
      break;
    case DesignFamily::kFactor:
      for (std::int64_t c = 0; c < n; ++c) {
        const double f = StoreValue(store.factor, slot.factor_start + c);
        if (f >= 1 && f <= p) x[static_cast<std::size_t>(f - 1) * n + c] = 1;
      }
      break;
    case DesignFamily::kSpecial:
      BuildPrespecifiedDesign(run.model, design, run.settings.dummy_reference, x.data());
      break;
    default:
      break;
  }
  return x;
}

// Adds the values of design i of submodel r, over the cells of its term, to the values of a
// work over the cells of the submodel it acts on.
void AddTermValues(EstimationRun& run, int r, int i, DesignWork& work) {
  const Submodel& table = run.model.submodels[work.table];
  const MarginShape shape(run.model, table, run.model.submodels[r].designs[i].Term());
  const std::int64_t n = shape.margin_cells();
  const std::vector<double> values = DesignValues(run, r, i, n, work.parameters);
  for (int k = 0; k < work.parameters; ++k) {
    double* x = work.x.data() + static_cast<std::ptrdiff_t>(k) * work.cells;
    const double* term = values.data() + static_cast<std::ptrdiff_t>(k) * n;
    shape.ForEach([&](std::int64_t cell, std::int64_t c) { x[cell] += term[c]; });
  }
}

// Spreads the values of the E parameters of a grouped design (x, over the submodel's cells)
// over its groups through weights w_j(c), j = 0 .. groups - 1: with group numbers written, 1
// for the group its grouping-variable cell was given (0 for none: the effect is absent there);
// without them, 1 for the grouping-variable cell itself; with real multipliers (a negative
// number of groups), the j-th multiplier of the cell's grouping-variable cell, and when the
// continuous covariate's variable groups the effect, covariate j of the cell's record.
// Interaction a: x_k(c) sum_j w_j(c), the same parameters everywhere; c: x_k(c) w_j(c) in
// columns j E + k, parameters of their own per group (per multiplier); b: the shared columns of
// a, then for j >= 1 a shift with the values w_j(c) sum_k x_k(c) (the log-linear parameters of
// group j then are beta_k + shift_j).
std::vector<double> GroupedValues(const EstimationRun& run, int r, int i, int table,
                                  const std::vector<double>& x, int e, std::int64_t cells,
                                  int& parameters) {
  const ModelState& model = run.model;
  const Design& design = model.submodels[r].designs[i];
  Membership grouping{};
  for (int v = 0; v < kVectorSize; ++v) grouping[v] = design.DesignVariables[v] == 255;
  const MarginShape shape(model, model.submodels[table], grouping);
  const std::int64_t grouping_cells = shape.margin_cells();
  const int groups = GroupCount(model, design);
  DesignSlot slot;
  if (r < static_cast<int>(run.designs.design_slots.size()) &&
      i < static_cast<int>(run.designs.design_slots[r].size())) {
    slot = run.designs.design_slots[r][i];
  }
  const bool by_covariate = CovariateMark(model, design) == -1;
  const std::int64_t records = std::max<std::int64_t>(run.history.RecordCount, 1);
  // w[j * cells + c]
  std::vector<double> w(static_cast<std::size_t>(groups) * cells, 0.0);
  shape.ForEach([&](std::int64_t cell, std::int64_t g) {
    if (by_covariate) {
      for (int j = 0; j < groups && j < model.CovariateCount; ++j) {
        w[static_cast<std::size_t>(j) * cells + cell] =
            StoreValue(run.data.covariate_value, j * records + g % records);
      }
    } else if (design.group_multiplier < 0) {
      for (int j = 0; j < groups; ++j) {
        w[static_cast<std::size_t>(j) * cells + cell] =
            StoreValue(run.designs.second_real, slot.second_start + j * grouping_cells + g);
      }
    } else {
      const auto number =
          design.group_multiplier >= 1
              ? static_cast<std::int64_t>(StoreValue(run.designs.group, slot.group_start + g))
              : g + 1;
      if (number >= 1 && number <= groups) {
        w[static_cast<std::size_t>(number - 1) * cells + cell] = 1;
      }
    }
  });
  switch (design.interaction) {
    case DesignInteraction::kC:
      parameters = groups * e;
      break;
    case DesignInteraction::kB:
      parameters = e + groups - 1;
      break;
    default:
      parameters = e;
      break;
  }
  std::vector<double> spread =
      AllocRealArray(run.context, static_cast<std::int64_t>(parameters) * cells);
  std::fill(spread.begin(), spread.end(), 0.0);
  const auto at = [cells](int column, std::int64_t cell) {
    return static_cast<std::size_t>(column) * cells + cell;
  };
  for (std::int64_t cell = 0; cell < cells; ++cell) {
    double weight = 0;
    for (int j = 0; j < groups; ++j) weight += w[at(j, cell)];
    double sum = 0;
    for (int k = 0; k < e; ++k) {
      const double value = x[at(k, cell)];
      sum += value;
      if (design.interaction == DesignInteraction::kC) {
        for (int j = 0; j < groups; ++j) spread[at(j * e + k, cell)] = value * w[at(j, cell)];
      } else {
        spread[at(k, cell)] = value * weight;
      }
    }
    if (design.interaction == DesignInteraction::kB) {
      for (int j = 1; j < groups; ++j) spread[at(e + j - 1, cell)] = sum * w[at(j, cell)];
    }
  }
  return spread;
}

// The values of parameter k of a work at the submodel's cells.
const double* Values(const DesignWork& work, int k) {
  return work.x.data() + static_cast<std::ptrdiff_t>(k) * work.cells;
}

DesignWork* FindWork(EstimationRun& run, int r, int i) {
  if (r < 0 || r >= static_cast<int>(DesignWorks(run).size())) return nullptr;
  for (DesignWork& work : DesignWorks(run)[r]) {
    if (work.design == i) return &work;
  }
  return nullptr;
}

// Solves h d = g in place (h is n x n, row by row; d replaces g) by Gauss-Jordan elimination
// with pivots on the diagonal. Returns false when a pivot is not clearly positive: the
// information of the parameters is (nearly) singular.
bool SolvePositiveSystem(std::vector<double>& h, std::vector<double>& g, int n) {
  double largest = 0;
  for (int i = 0; i < n; ++i) largest = std::max(largest, h[static_cast<std::size_t>(i) * n + i]);
  if (!(largest > 0) || !std::isfinite(largest)) return false;
  for (int s = 0; s < n; ++s) {
    const double pivot = h[static_cast<std::size_t>(s) * n + s];
    if (!(pivot > 1e-10 * largest)) return false;
    for (int j = 0; j < n; ++j) h[static_cast<std::size_t>(s) * n + j] /= pivot;
    g[s] /= pivot;
    for (int i = 0; i < n; ++i) {
      const double f = h[static_cast<std::size_t>(i) * n + s];
      if (i == s || f == 0) continue;
      for (int j = 0; j < n; ++j) {
        h[static_cast<std::size_t>(i) * n + j] -= f * h[static_cast<std::size_t>(s) * n + j];
      }
      g[i] -= f * g[s];
    }
  }
  for (double value : g) {
    if (!std::isfinite(value)) return false;
  }
  return true;
}

// The initial values of the start iteration (parameters still at 1 get 1 + u / d, d half the
// range of their values, the thresholds their spread), multiplied into the fitted cells or
// added to the predictor; the fixed effects' values likewise.
void StartDesign(EstimationRun& run, DesignWork& work) {
  const int r = work.table;
  const Submodel& submodel = run.model.submodels[r];
  EstimationState& est = run.estimation;
  double* tau = est.Multipliers.data() + work.offset;
  double* fitted = est.FittedTable.data() + submodel.first_cell;
  double* eta =
      submodel.IsCumulative() ? est.LinearPredictor.data() + submodel.first_cell : nullptr;
  if (work.fixed) {
    work.shape.ForEach([&](std::int64_t cell, std::int64_t c) {
      if (eta != nullptr) {
        eta[cell] += SafeLog(tau[c]);
      } else {
        fitted[cell] *= tau[c];
      }
    });
    return;
  }
  const double u = RandomStart(run.estimation.random, run.model, r);
  for (int k : work.free) {
    const bool given = tau[k] != 1.0;
    if (!given) {
      const double* x = Values(work, k);
      const auto [low, high] = std::minmax_element(x, x + work.cells);
      const double half_range = work.cells > 0 ? (*high - *low) / 2 : 0.0;
      tau[k] = 1 + u / (half_range > 0 ? half_range : 1.0);
    }
    if (work.thresholds && !given) {
      const CumulativeForm form = submodel.CumulativeModel;
      const auto t = static_cast<double>(ResponseCategories(run, r));
      if (form.FreeThresholds()) {
        tau[k] = Exp(8 / (t - 1) * (k + 0.5) - 4);
      } else {
        tau[k] = k > 0 ? Exp(1 / t) : 1.0;
      }
      if (form.link == CumulativeLink::kLogLog) tau[k] = 1 / tau[k];
    }
  }
  for (int k = 0; k < work.parameters; ++k) {
    const double* x = Values(work, k);
    for (std::int64_t cell = 0; cell < work.cells; ++cell) {
      if (x[cell] == 0) continue;
      if (eta != nullptr) {
        eta[cell] += x[cell] * SafeLog(tau[k]);
      } else {
        fitted[cell] *= Pow(tau[k], x[cell]);
      }
    }
  }
}

// One estimated parameter of a submodel's designs in the joint step.
struct JointParameter {
  DesignWork* work;
  int k;
};

// The values of the joint parameters at every cell of the submodel (cells x n).
std::vector<double> JointValues(const std::vector<JointParameter>& joint, std::int64_t cells) {
  const std::size_t n = joint.size();
  std::vector<double> x(static_cast<std::size_t>(cells) * n, 0.0);
  for (std::size_t p = 0; p < n; ++p) {
    const double* values = Values(*joint[p].work, joint[p].k);
    for (std::int64_t cell = 0; cell < cells; ++cell) {
      x[static_cast<std::size_t>(cell) * n + p] = values[cell];
    }
  }
  return x;
}

// The gradient g and information h of the joint step over the design parameters of log-linear
// submodel r.
void LogLinearSums(const EstimationRun& run, int r, const std::vector<JointParameter>& joint,
                   std::vector<double>& g, std::vector<double>& h) {
  const auto cells = static_cast<std::int64_t>(run.model.submodels[r].cell_count);
  ProfiledSums(run, r, JointValues(joint, cells), joint.size(), g, h);
}

// Multiplies parameter k of work by f (f = 0: the parameter and its cells become 0) and moves
// the submodel's cells or predictors with it.
void ApplyFactor(EstimationRun& run, DesignWork& work, int k, double f) {
  const Submodel& submodel = run.model.submodels[work.table];
  EstimationState& est = run.estimation;
  est.Multipliers[work.offset + k] *= f;
  const double* x = Values(work, k);
  if (submodel.IsCumulative()) {
    double* eta = est.LinearPredictor.data() + submodel.first_cell;
    const double change = f > 0 ? Log(f) : 0.0;
    for (std::int64_t cell = 0; cell < work.cells; ++cell) {
      if (x[cell] != 0) eta[cell] = f > 0 ? eta[cell] + x[cell] * change : kNoPredictor;
    }
    return;
  }
  double* fitted = est.FittedTable.data() + submodel.first_cell;
  for (std::int64_t cell = 0; cell < work.cells; ++cell) {
    if (x[cell] == 0 || !(fitted[cell] > 0)) continue;
    fitted[cell] = f > 0 ? fitted[cell] * Pow(f, x[cell]) : 0.0;
  }
}

// The one-dimensional Newton step of every parameter of a work in turn.
void OneDimensionalSteps(EstimationRun& run, DesignWork& work, double low, double high) {
  const int r = work.table;
  const Submodel& submodel = run.model.submodels[r];
  EstimationState& est = run.estimation;
  const bool cumulative = submodel.IsCumulative();
  for (int k : work.free) {
    const std::vector<JointParameter> one = {{&work, k}};
    std::vector<double> g, h, curvature;
    if (cumulative) {
      CumulativeSums(run, r, JointValues(one, work.cells), 1, g, h, curvature);
    } else {
      // Without the column totals: G = sum x (n - m), H = sum x^2 m over m > 0.
      const double* fitted = est.FittedTable.data() + submodel.first_cell;
      const double* expected = est.ExpectedTable.data() + submodel.first_cell;
      const double* x = Values(work, k);
      g.assign(1, 0.0);
      h.assign(1, 0.0);
      for (std::int64_t cell = 0; cell < work.cells; ++cell) {
        const double m = fitted[cell];
        if (x[cell] == 0 || !(m > 0)) continue;
        g[0] += x[cell] * (expected[cell] - m);
        h[0] += x[cell] * x[cell] * m;
      }
    }
    double f = 0;
    if (h[0] > 0 && std::isfinite(g[0]) && std::isfinite(h[0])) {
      f = std::clamp(1 + g[0] / h[0] / est.step_size, low, high);
    }
    ApplyFactor(run, work, k, f);
    if (cumulative) FormCumulativeProbabilities(run, r);
  }
}

// The factor bounds of a step: [0.8, 1.25] for the cumulative models a to h in iterations 1 to
// 10, [0.5, 2] otherwise.
std::pair<double, double> FactorBounds(const EstimationRun& run, int r) {
  const Submodel& submodel = run.model.submodels[r];
  const bool tight = submodel.IsCumulative() && !submodel.CumulativeModel.IsNormal() &&
                     run.estimation.iteration <= 10;
  return tight ? std::make_pair(0.8, 1.25) : std::make_pair(0.5, 2.0);
}

// The joint step over the estimated parameters of the works that act on submodel table.
void JointStep(EstimationRun& run, int table, std::vector<DesignWork>& works) {
  const Submodel& submodel = run.model.submodels[table];
  const bool cumulative = submodel.IsCumulative();
  std::vector<JointParameter> joint;
  for (DesignWork& work : works) {
    if (work.fixed || work.table != table) continue;
    for (int k : work.free) joint.push_back({&work, k});
  }
  if (joint.empty()) return;
  const int n = static_cast<int>(joint.size());
  if (n > kLargestJointStep) {
    const auto [low, high] = FactorBounds(run, table);
    for (DesignWork& work : works) {
      if (!work.fixed && work.table == table) OneDimensionalSteps(run, work, low, high);
    }
    return;
  }
  std::vector<double> g;
  std::vector<double> h;
  std::vector<double> curvature;
  if (cumulative) {
    CumulativeSums(run, table, JointValues(joint, static_cast<std::int64_t>(submodel.cell_count)),
                   joint.size(), g, h, curvature);
  } else {
    LogLinearSums(run, table, joint, g, h);
  }
  // A parameter without information (no positive fitted cell) becomes 0, as in the
  // one-dimensional step; a singular system falls back to that step. Cumulative submodels
  // take the Newton step of the observed information when it is positive definite, the
  // scoring step otherwise.
  bool usable = true;
  for (int p = 0; p < n && usable; ++p) usable = h[static_cast<std::size_t>(p) * n + p] > 0;
  std::vector<double> step = g;
  bool solved = false;
  if (usable && !curvature.empty()) {
    std::vector<double> observed = h;
    for (std::size_t a = 0; a < observed.size(); ++a) observed[a] += curvature[a];
    solved = SolvePositiveSystem(observed, step, n);
  }
  if (usable && !solved) {
    step = g;
    std::vector<double> system = h;
    solved = SolvePositiveSystem(system, step, n);
  }
  const auto [low, high] = FactorBounds(run, table);
  if (!solved) {
    for (DesignWork& work : works) {
      if (!work.fixed && work.table == table) OneDimensionalSteps(run, work, low, high);
    }
    return;
  }
  const double bound = Log(high);
  double longest = 0;
  for (double& d : step) {
    d /= run.estimation.step_size;
    longest = std::max(longest, std::fabs(d));
  }
  const double scale = longest > bound ? bound / longest : 1.0;
  for (int p = 0; p < n; ++p) {
    ApplyFactor(run, *joint[p].work, joint[p].k, Exp(step[p] * scale));
  }
  if (cumulative) FormCumulativeProbabilities(run, table);
}

}  // namespace

void ProfiledSums(const EstimationRun& run, int r, std::vector<double> x, std::size_t n,
                  std::vector<double>& g, std::vector<double>& h, bool sparse,
                  const MarginShape* further) {
  // The columns as given, for the sparse form of h.
  std::vector<double> given;
  if (sparse) given = x;
  const Submodel& submodel = run.model.submodels[r];
  const EstimationState& est = run.estimation;
  const double* fitted = est.FittedTable.data() + submodel.first_cell;
  const double* expected = est.ExpectedTable.data() + submodel.first_cell;
  const auto cells = static_cast<std::int64_t>(submodel.cell_count);
  std::vector<double> m(static_cast<std::size_t>(cells), 0.0);
  for (std::int64_t cell = 0; cell < cells; ++cell) m[cell] = fitted[cell] > 0 ? fitted[cell] : 0;
  // The terms: the conditioning margin (or the constant of the first submodel) and the model
  // terms.
  std::vector<const MarginShape*> terms;
  const MarginShape constant(run.model, submodel, Membership{});
  terms.push_back(r > 0 ? &est.condition_shapes[r] : &constant);
  for (const MarginShape& shape : est.margin_shapes[r]) terms.push_back(&shape);
  if (further != nullptr) terms.push_back(further);
  double scale = 0;
  for (double value : x) scale = std::max(scale, std::fabs(value));
  std::vector<double> column(static_cast<std::size_t>(cells));
  for (std::size_t p = 0; p < n; ++p) {
    for (std::int64_t cell = 0; cell < cells; ++cell) column[cell] = x[cell * n + p];
    for (int sweep = 0; sweep < kProjectionSweeps; ++sweep) {
      double largest = 0;
      for (const MarginShape* term : terms) {
        std::vector<double> sum(static_cast<std::size_t>(term->margin_cells()), 0.0);
        std::vector<double> weight(sum.size(), 0.0);
        term->ForEach([&](std::int64_t cell, std::int64_t t) {
          sum[t] += m[cell] * column[cell];
          weight[t] += m[cell];
        });
        for (std::size_t t = 0; t < sum.size(); ++t) {
          sum[t] = weight[t] > 0 ? sum[t] / weight[t] : 0.0;
          largest = std::max(largest, std::fabs(sum[t]));
        }
        term->ForEach([&](std::int64_t cell, std::int64_t t) { column[cell] -= sum[t]; });
      }
      if (largest <= (sparse ? kSparseTolerance : 1e-12) * scale) break;
    }
    for (std::int64_t cell = 0; cell < cells; ++cell) x[cell * n + p] = column[cell];
  }
  g.assign(n, 0.0);
  h.assign(n * n, 0.0);
  for (std::int64_t cell = 0; cell < cells; ++cell) {
    if (!(m[cell] > 0)) continue;
    const double* xc = x.data() + static_cast<std::size_t>(cell) * n;
    const double* left = sparse ? given.data() + static_cast<std::size_t>(cell) * n : xc;
    for (std::size_t p = 0; p < n; ++p) {
      if (xc[p] != 0) g[p] += xc[p] * (expected[cell] - m[cell]);
      if (left[p] == 0) continue;
      for (std::size_t q = 0; q < n; ++q) h[p * n + q] += left[p] * xc[q] * m[cell];
    }
  }
  if (sparse) {
    for (std::size_t p = 0; p < n; ++p) {
      for (std::size_t q = 0; q < p; ++q) {
        const double mean = (h[p * n + q] + h[q * n + p]) / 2;
        h[p * n + q] = h[q * n + p] = mean;
      }
    }
  }
}

const DesignWork* FindDesignWork(const EstimationRun& run, int r, int i) {
  if (r < 0 || r >= static_cast<int>(DesignWorks(run).size())) return nullptr;
  for (const DesignWork& work : DesignWorks(run)[r]) {
    if (work.design == i) return &work;
  }
  return nullptr;
}

int DesignParameterTable(const EstimationRun& run, const FreeParameter& parameter) {
  const DesignWork* work = FindDesignWork(run, parameter.submodel, parameter.design);
  return work != nullptr ? work->table : parameter.submodel;
}

ParameterDirection DesignParameterDirection(const EstimationRun& run,
                                            const FreeParameter& parameter) {
  ParameterDirection direction;
  const DesignWork* work = FindDesignWork(run, parameter.submodel, parameter.design);
  if (work == nullptr || work->fixed || work->x.empty() || work->table < 0 ||
      (work->table >= run.model.SubmodelCount && work->table != HazardWorkOf(run).table) ||
      parameter.position < 0 || parameter.position >= static_cast<int>(work->free.size())) {
    return direction;
  }
  const std::int64_t k = work->free[parameter.position];
  direction.kind = ParameterDirection::Kind::kCells;
  direction.table = work->table;
  direction.x.assign(work->x.begin() + k * work->cells, work->x.begin() + (k + 1) * work->cells);
  return direction;
}

double DesignParameterStep(const EstimationRun& run, const FreeParameter& parameter, double step) {
  const DesignWork* work = FindDesignWork(run, parameter.submodel, parameter.design);
  if (work == nullptr) return step;
  if (parameter.position < 0 || parameter.position >= static_cast<int>(work->free.size())) {
    return step;
  }
  const double value = run.estimation.Multipliers[work->offset + work->free[parameter.position]];
  return value > 0.95 && value < 1.05 ? step / 3 : step;
}

void AddDesignValues(const EstimationRun& run, int r, SubmodelValues& values) {
  if (r < 0 || r >= static_cast<int>(DesignWorks(run).size())) return;
  for (const DesignWork& work : DesignWorks(run)[r]) {
    values.ranges.emplace_back(work.offset, work.parameters);
    values.tables.push_back(work.table);
  }
}

double ColumnScale(const DesignWork& work, int k) {
  return k >= 0 && k < static_cast<int>(work.scale.size()) ? work.scale[k] : 1.0;
}

double FreeParameterScale(const EstimationRun& run, int i) {
  const std::vector<FreeParameter>& list = run.estimation.free_parameters.parameters;
  if (i < 0 || i >= static_cast<int>(list.size())) return 1;
  const FreeParameter& parameter = list[i];
  if (parameter.design < 0 || parameter.shape) return 1;
  const DesignWork* work = FindDesignWork(run, parameter.submodel, parameter.design);
  if (work == nullptr || parameter.position < 0 ||
      parameter.position >= static_cast<int>(work->free.size())) {
    return 1;
  }
  return ColumnScale(*work, work->free[parameter.position]);
}

double UserLogParameter(const EstimationRun& run, const DesignWork& work, int k) {
  const double tau = run.estimation.Multipliers[work.offset + k];
  return tau > 0 ? Log(tau) / ColumnScale(work, k) : std::numeric_limits<double>::quiet_NaN();
}

void SetUpDesignEffects(EstimationRun& run) {
  const ModelState& model = run.model;
  EstimationState& est = run.estimation;
  const int submodel_total = static_cast<int>(model.submodels.size());
  DesignWorks(run).assign(submodel_total, {});
  CumulativeState& cumulative = CumulativeStateOf(run);
  cumulative.cells.assign(submodel_total, {});
  cumulative.r_squared.assign(submodel_total, 0.0);
  bool any_cumulative = false;
  // The model's submodels, then the designs of `all`, which act on the submodels they are
  // aimed at.
  std::vector<int> sources;
  for (int r = 0; r < model.SubmodelCount; ++r) sources.push_back(r);
  const int hazard = HazardWorkOf(std::as_const(run)).table;
  if (hazard >= 0) sources.push_back(hazard);
  if (model.HasAllSubmodel && model.SubmodelCount + 1 < submodel_total) {
    sources.push_back(model.SubmodelCount + 1);
  }
  for (int r : sources) {
    const Submodel& submodel = model.submodels[r];
    const bool all = r > model.SubmodelCount;
    if (!all && (!(submodel.IsLogLinear() || submodel.IsCumulative()) || submodel.LinLogSubmodel)) {
      continue;
    }
    any_cumulative = any_cumulative || submodel.IsCumulative();
    for (int i = 0; i < submodel.DesignTermCount(); ++i) {
      const Design& design = submodel.designs[i];
      if (design.reserved || design.IsRestriction() || !IsFreeDesign(submodel, i)) continue;
      DesignWork work;
      work.design = i;
      work.last_design = i;
      while (work.last_design + 1 < submodel.DesignTermCount() &&
             !submodel.designs[work.last_design + 1].reserved &&
             !IsFreeDesign(submodel, work.last_design + 1)) {
        ++work.last_design;
      }
      work.table = all ? design.target_submodel : r;
      if (work.table < 0 || (work.table >= model.SubmodelCount && work.table != hazard)) continue;
      const Submodel& table = model.submodels[work.table];
      const auto cells = static_cast<std::int64_t>(table.cell_count);
      work.shape = MarginShape(model, table, design.Term());
      work.cells = cells;
      work.fixed = design.family == DesignFamily::kFixedWeights;
      work.thresholds = !all && submodel.IsCumulative() && i == 0;
      work.parameters =
          work.fixed ? static_cast<int>(work.shape.margin_cells()) : design.DesignCountParam;
      if (work.parameters <= 0) continue;
      if (!work.fixed) {
        work.x = AllocRealArray(run.context, static_cast<std::int64_t>(work.parameters) * cells);
        std::fill(work.x.begin(), work.x.end(), 0.0);
        for (int d = i; d <= work.last_design; ++d) AddTermValues(run, r, d, work);
        if (design.Grouped()) {
          work.x = GroupedValues(run, r, i, work.table, work.x, design.DesignCountParam, cells,
                                 work.parameters);
        }
        if (!work.thresholds) ScaleColumns(work);
      }
      // With the first level fixed, the first parameter of every set of E stays at 1: of
      // each group's own set (interaction c), of the shared set only (a and b).
      const int e = std::max(design.DesignCountParam, 1);
      for (int k = 0; k < work.parameters && !work.fixed; ++k) {
        const bool own_set = design.interaction == DesignInteraction::kC || k < e;
        if (!(design.FixesFirstLevel() && own_set && k % e == 0)) work.free.push_back(k);
      }
      work.offset = static_cast<std::int64_t>(est.Multipliers.size());
      est.Multipliers.resize(est.Multipliers.size() + work.parameters, 1.0);
      for (const StartValueRequest& request : run.settings.start_values) {
        if (request.submodel != r || request.design != i) continue;
        const std::size_t count =
            std::min(request.values.size(), static_cast<std::size_t>(work.parameters));
        std::copy_n(request.values.begin(), count, est.Multipliers.begin() + work.offset);
        // Given for the user's column: tau^scale for the scaled one.
        for (std::size_t k = 0; k < count && !work.scale.empty(); ++k) {
          double& tau = est.Multipliers[work.offset + static_cast<std::int64_t>(k)];
          if (tau > 0 && work.scale[k] != 1) tau = Exp(Log(tau) * work.scale[k]);
        }
      }
      DesignWorks(run)[r].push_back(std::move(work));
    }
    if (!all && submodel.IsCumulative()) {
      // The response orders the cells of each column, with or without thresholds ("nin").
      const MarginShape response(model, submodel, submodel.designs[0].Term());
      cumulative.cells[r] = CumulativeCells(run, r, response);
    }
  }
  if (any_cumulative) est.LinearPredictor.assign(est.FittedTable.size(), 0.0);
}

void FitDesignEffect(EstimationRun& run, int r, int i) {
  DesignWork* found = FindWork(run, r, i);
  if (found == nullptr) return;
  const int table = found->table;
  if (run.estimation.iteration <= 0) {
    StartDesign(run, *found);
    if (run.model.submodels[table].IsCumulative()) FormCumulativeProbabilities(run, table);
    return;
  }
  if (found->fixed) return;
  const auto [low, high] = FactorBounds(run, table);
  OneDimensionalSteps(run, *found, low, high);
}

void FitDesignEffects(EstimationRun& run, int r) {
  if (r < 0 || r >= static_cast<int>(DesignWorks(run).size())) return;
  std::vector<DesignWork>& works = DesignWorks(run)[r];
  if (works.empty()) return;
  // The designs of `all` aimed at a submodel with mar() restrictions are its marginal step's.
  const ModelState& model = run.model;
  auto marginal = [&](int table) {
    return table != r && table < model.SubmodelCount &&
           model.submodels[table].MarSubmodel != MarRestrictions::kNone;
  };
  if (run.estimation.iteration <= 0) {
    for (DesignWork& work : works) {
      if (!marginal(work.table)) FitDesignEffect(run, r, work.design);
    }
    return;
  }
  // One joint step per table the designs act on (the designs of `all` may aim at several).
  std::vector<int> tables;
  for (const DesignWork& work : works) {
    if (std::find(tables.begin(), tables.end(), work.table) == tables.end() &&
        !marginal(work.table)) {
      tables.push_back(work.table);
    }
  }
  for (int table : tables) JointStep(run, table, works);
}

void PerturbDesignParameter(EstimationRun& run, int r, int i, int position, double delta) {
  DesignWork* found = FindWork(run, r, i);
  if (found == nullptr || found->fixed) return;
  if (delta == 0 || position < 0 || position >= static_cast<int>(found->free.size())) return;
  const int k = found->free[position];
  const int table = found->table;
  const Submodel& submodel = run.model.submodels[table];
  EstimationState& est = run.estimation;
  if (submodel.IsCumulative()) {
    ApplyFactor(run, *found, k, Exp(delta));
    FormCumulativeProbabilities(run, table);
    return;
  }
  double* fitted = est.FittedTable.data() + submodel.first_cell;
  const double before = SubmodelTotal(run, table, fitted);
  ApplyFactor(run, *found, k, Exp(delta));
  RestoreSubmodelForm(run, table, fitted, before);
}

}  // namespace tav
