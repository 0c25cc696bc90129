#include "estimation/ordinal_restrictions.h"

#include <algorithm>
#include <cmath>

#include "core/stop_run.h"
#include "estimation/cumulative_model.h"

namespace tav {
namespace {

// A multiplier that moves by more than this asks for another pass.
constexpr double kStillMoving = 1e-10;

// The submodel's layout for the M-step: its columns in restriction order, its cells column by
// column with the categories in restriction order.
struct OrdinalLayout {
  std::int64_t columns = 0;        // K
  std::int64_t categories = 0;     // J
  std::vector<std::int64_t> cell;  // cell[h * J + i]: the submodel cell of (h, i)
};

OrdinalLayout Layout(const EstimationRun& run, int r) {
  const ModelState& model = run.model;
  const Submodel& submodel = model.submodels[r];
  OrdinalLayout layout;
  const Membership response = submodel.Response(r > 0);
  const MarginShape shape(model, submodel, response);
  layout.categories = shape.margin_cells();
  layout.columns = run.estimation.condition_shapes[r].margin_cells();
  const std::vector<std::int64_t> natural = CumulativeCells(run, r, shape);
  // Type d reverses the order of the columns and, against the declared kind, that of the
  // categories; or2 reverses the categories.
  const bool reversed_columns = submodel.OrdinalType == OrdinalOrder::kReversedContinuation;
  const bool reversed_categories = (submodel.SubmodelKind == SubmodelKindCode::kOrdinal2) !=
                                   (submodel.OrdinalType == OrdinalOrder::kReversedContinuation);
  const std::int64_t k = layout.columns;
  const std::int64_t j = layout.categories;
  layout.cell.resize(natural.size());
  for (std::int64_t h = 0; h < k; ++h) {
    for (std::int64_t i = 0; i < j; ++i) {
      const std::int64_t column = reversed_columns ? k - 1 - h : h;
      const std::int64_t category = reversed_categories ? j - 1 - i : i;
      layout.cell[h * j + i] = natural[column * j + category];
    }
  }
  return layout;
}

bool ContinuationRatios(const Submodel& submodel, std::int64_t categories) {
  return categories == 2 || submodel.OrdinalType == OrdinalOrder::kContinuation ||
         submodel.OrdinalType == OrdinalOrder::kReversedContinuation;
}

// The working values n' of every (column, category) from the expected values n and the
// multipliers b.
std::vector<double> WorkingValues(const std::vector<double>& n, const std::vector<double>& b,
                                  std::int64_t k, std::int64_t j, bool continuation) {
  std::vector<double> w = n;
  const auto at = [j](std::int64_t h, std::int64_t i) { return h * j + i; };
  const auto multiplier = [&](std::int64_t h, std::int64_t i) {
    return h >= 0 && h < k - 1 && i >= 0 && i < j - 1 ? b[h * (j - 1) + i] : 0.0;
  };
  for (std::int64_t h = 0; h < k; ++h) {
    for (std::int64_t i = 0; i < j; ++i) {
      if (continuation) {
        w[at(h, i)] += multiplier(h - 1, i) - multiplier(h, i);
      } else {
        w[at(h, i)] += -multiplier(h, i) + multiplier(h, i - 1) + multiplier(h - 1, i) -
                       multiplier(h - 1, i - 1);
      }
    }
  }
  return w;
}

// One pass over the pairs and cuts; returns whether a multiplier moved, and counts the active
// restrictions. The working values are formed once and follow every multiplier that moves.
bool Pass(const std::vector<double>& n, std::vector<double>& b, std::int64_t k, std::int64_t j,
          bool continuation, int& active) {
  bool moved = false;
  active = 0;
  const auto at = [j](std::int64_t h, std::int64_t i) { return h * j + i; };
  std::vector<double> working = WorkingValues(n, b, k, j, continuation);
  for (std::int64_t h = 0; h + 1 < k; ++h) {
    double v = 0;
    double w = 0;
    for (std::int64_t i = 0; i < j; ++i) {
      v += n[at(h, i)];
      w += n[at(h + 1, i)];
    }
    for (std::int64_t i = 0; i + 1 < j; ++i) {
      double& multiplier = b[h * (j - 1) + i];
      const double old = multiplier;
      double updated = 0;
      if (continuation) {
        // The pair's working values without this multiplier.
        const double a = working[at(h, i)] + old;
        const double g = working[at(h + 1, i)] - old;
        if (g * (v - a) - a * (w - g) > 0 && v + w > 0) updated = (a * w - g * v) / (v + w);
        v -= n[at(h, i)];
        w -= n[at(h + 1, i)];
      } else {
        const double a = working[at(h, i)] + old;
        const double p = working[at(h, i + 1)] - old;
        const double q = working[at(h + 1, i)] - old;
        const double s = working[at(h + 1, i + 1)] + old;
        const double sum = a + p + q + s;
        if (p * q - a * s > 0 && sum > 0) updated = (a * s - p * q) / sum;
      }
      if (!std::isfinite(updated)) updated = 0;
      if (updated != 0) ++active;
      moved = moved || std::fabs(updated - old) > kStillMoving;
      multiplier = updated;
      const double change = updated - old;
      working[at(h, i)] -= change;
      working[at(h + 1, i)] += change;
      if (!continuation) {
        working[at(h, i + 1)] += change;
        working[at(h + 1, i + 1)] -= change;
      }
    }
  }
  return moved;
}

// Cumulative orderings (type a): p(h, i) = n(h, i) / den(h, i) with
// den(h, i) = D(h) - sum over the cuts c >= i of B(h - 1, c) + sum over c >= i of B(h, c);
// per pair and cut a Newton step B -= g / H / restriction_step on
// g = sum_{i <= c} (p(h, i) - p(h + 1, i)), H = -sum_{i <= c} n / den^2 over both columns,
// B kept at most 0 (a negative B is an active restriction); then per column a Newton step on
// D(h) that brings sum_i p(h, i) to 1. Returns whether B or D moved.
double CumulativeDenominator(const std::vector<double>& b, const std::vector<double>& d,
                             std::int64_t k, std::int64_t j, std::int64_t h, std::int64_t i) {
  double den = d[h];
  for (std::int64_t c = i; c < j - 1; ++c) {
    if (h > 0) den -= b[(h - 1) * (j - 1) + c];
    if (h < k - 1) den += b[h * (j - 1) + c];
  }
  return den;
}

bool CumulativePass(const std::vector<double>& n, std::vector<double>& b, std::vector<double>& d,
                    std::int64_t k, std::int64_t j, double step, int& active) {
  const auto at = [j](std::int64_t h, std::int64_t i) { return h * j + i; };
  bool moved = false;
  active = 0;
  for (std::int64_t h = 0; h + 1 < k; ++h) {
    for (std::int64_t c = 0; c + 1 < j; ++c) {
      double g = 0;
      double derivative = 0;
      for (std::int64_t i = 0; i <= c; ++i) {
        const double den_a = CumulativeDenominator(b, d, k, j, h, i);
        const double den_b = CumulativeDenominator(b, d, k, j, h + 1, i);
        if (den_a > 0) {
          g += n[at(h, i)] / den_a;
          derivative -= n[at(h, i)] / (den_a * den_a);
        }
        if (den_b > 0) {
          g -= n[at(h + 1, i)] / den_b;
          derivative -= n[at(h + 1, i)] / (den_b * den_b);
        }
      }
      double& lambda = b[h * (j - 1) + c];
      const double old = lambda;
      if (derivative != 0 && std::isfinite(g)) lambda -= g / derivative / step;
      if (!(lambda < 0) || !std::isfinite(lambda)) lambda = 0;
      if (lambda < 0) ++active;
      moved = moved || std::fabs(lambda - old) > kStillMoving;
    }
  }
  for (std::int64_t h = 0; h < k; ++h) {
    double sum = 0;
    double derivative = 0;
    for (std::int64_t i = 0; i < j; ++i) {
      const double den = CumulativeDenominator(b, d, k, j, h, i);
      if (!(den > 0)) continue;
      sum += n[at(h, i)] / den;
      derivative -= n[at(h, i)] / (den * den);
    }
    if (derivative == 0 || !std::isfinite(sum)) continue;
    const double old = d[h];
    d[h] -= (sum - 1) / derivative;
    moved = moved || std::fabs(d[h] - old) > kStillMoving;
  }
  return moved;
}

}  // namespace

void FitOrdinalRestrictions(EstimationRun& run) {
  const ModelState& model = run.model;
  EstimationState& est = run.estimation;
  OrdinalState& state = OrdinalStateOf(run);
  if (state.multipliers.size() != model.submodels.size()) {
    state.multipliers.assign(model.submodels.size(), {});
  }
  for (int r = 0; r < model.SubmodelCount; ++r) {
    const Submodel& submodel = model.submodels[r];
    if (!submodel.IsOrdinal() || submodel.cell_count <= 0) continue;
    const OrdinalLayout layout = Layout(run, r);
    const std::int64_t k = layout.columns;
    const std::int64_t j = layout.categories;
    // Orderings across the columns need two columns at least.
    if (k < 2) {
      StopRun("  Error: the ordinal restrictions of subtable " + submodel.term +
              " need a subtable with conditioning variables of two or more categories");
    }
    if (j < 1) continue;
    const bool continuation = ContinuationRatios(submodel, j);
    const bool cumulative = !continuation && submodel.OrdinalType == OrdinalOrder::kCumulative;
    double* fitted = est.FittedTable.data() + submodel.first_cell;
    const double* expected = est.ExpectedTable.data() + submodel.first_cell;
    std::vector<double> n(static_cast<std::size_t>(k * j));
    for (std::size_t c = 0; c < n.size(); ++c) n[c] = expected[layout.cell[c]];
    std::vector<double>& b = state.multipliers[r];
    const std::size_t multipliers = static_cast<std::size_t>(std::max<std::int64_t>(k - 1, 0)) *
                                    static_cast<std::size_t>(std::max<std::int64_t>(j - 1, 0));
    if (run.estimation.iteration <= 1 || b.size() != multipliers) b.assign(multipliers, 0.0);
    if (state.totals.size() != model.submodels.size()) {
      state.totals.assign(model.submodels.size(), {});
    }
    std::vector<double>& d = state.totals[r];
    if (cumulative && (run.estimation.iteration <= 1 || static_cast<std::int64_t>(d.size()) != k)) {
      d.assign(static_cast<std::size_t>(k), 0.0);
      for (std::int64_t h = 0; h < k; ++h) {
        for (std::int64_t i = 0; i < j; ++i) d[h] += n[h * j + i];
      }
    }
    int active = 0;
    for (int pass = 0; pass < run.settings.max_inner_iterations; ++pass) {
      const bool moved = cumulative ? CumulativePass(n, b, d, k, j, est.restriction_step, active)
                                    : Pass(n, b, k, j, continuation, active);
      if (!moved) break;
    }
    est.ActiveOrdinalRestrictions += active;

    if (cumulative) {
      // p(h, i) times the column's expected total.
      for (std::int64_t h = 0; h < k; ++h) {
        double total = 0;
        for (std::int64_t i = 0; i < j; ++i) total += n[h * j + i];
        for (std::int64_t i = 0; i < j; ++i) {
          const double den = CumulativeDenominator(b, d, k, j, h, i);
          fitted[layout.cell[h * j + i]] = den > 0 ? n[h * j + i] / den * total : 0.0;
        }
      }
      continue;
    }

    const std::vector<double> working = WorkingValues(n, b, k, j, continuation);
    for (std::int64_t h = 0; h < k; ++h) {
      const auto at = [&](std::int64_t i) { return static_cast<std::size_t>(h * j + i); };
      if (!continuation) {
        for (std::int64_t i = 0; i < j; ++i) fitted[layout.cell[at(i)]] = working[at(i)];
        continue;
      }
      double total = 0;
      for (std::int64_t i = 0; i < j; ++i) total += n[at(i)];
      double rest = 1;
      double v = total;
      for (std::int64_t i = 0; i + 1 < j; ++i) {
        double value = 0;
        if (v > 0) {
          const double share = working[at(i)] / v;
          value = share * rest * total;
          rest *= 1 - share;
          v -= n[at(i)];
        } else {
          rest = 0;
          v = 0;
        }
        fitted[layout.cell[at(i)]] = value;
      }
      fitted[layout.cell[at(j - 1)]] = rest * total;
    }
  }
}

}  // namespace tav
