#include "estimation/cumulative_model.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/distributions.h"
#include "core/elementary.h"
#include "core/stop_run.h"
#include "core/table_zero.h"

namespace tav {
namespace {

// A cumulative probability below this is an inversion of the thresholds, not rounding.
constexpr double kInversionTolerance = 1e-12;

// The links of the cumulative models a to h.
double CumulativeProbability(CumulativeLink link, double eta) {
  switch (link) {
    case CumulativeLink::kLogit:
      return eta >= 0 ? 1 / (1 + Exp(-eta)) : Exp(eta) / (1 + Exp(eta));
    case CumulativeLink::kProbit:
      return NormalCdf(eta);
    case CumulativeLink::kComplementaryLogLog:
      return eta > 9 ? 1.0 : -Expm1(-Exp(eta));
    default:
      return eta > 9 ? 0.0 : Exp(-Exp(eta));
  }
}

// dF/deta written with F (and eta for the probit link).
double CumulativeDerivative(CumulativeLink link, double eta, double f) {
  switch (link) {
    case CumulativeLink::kLogit:
      return f * (1 - f);
    case CumulativeLink::kProbit:
      return NormalDensity(eta);
    case CumulativeLink::kComplementaryLogLog:
      return f >= 1 ? 0.0 : -Log1p(-f) * (1 - f);
    default:
      return f <= 0 ? 0.0 : f * Log(f);
  }
}

// d2F/deta2, written with dF/deta (d) and F.
double CumulativeSecondDerivative(CumulativeLink link, double eta, double f, double d) {
  switch (link) {
    case CumulativeLink::kLogit:
      return d * (1 - 2 * f);
    case CumulativeLink::kProbit:
      return -eta * NormalDensity(eta);
    default:
      return eta > 9 ? 0.0 : d * (1 - Exp(eta));
  }
}

}  // namespace

std::int64_t ResponseCategories(const EstimationRun& run, int r) {
  const Submodel& submodel = run.model.submodels[r];
  return static_cast<std::int64_t>(submodel.cell_count / std::max(submodel.condition_cells, 1.0));
}

std::vector<std::int64_t> CumulativeCells(const EstimationRun& run, int r,
                                          const MarginShape& response) {
  const MarginShape& columns = run.estimation.condition_shapes[r];
  const std::int64_t q = response.margin_cells();
  std::vector<std::int64_t> cells(static_cast<std::size_t>(columns.margin_cells() * q), 0);
  std::vector<std::int64_t> category(static_cast<std::size_t>(columns.cells()), 0);
  response.ForEach([&](std::int64_t cell, std::int64_t c) { category[cell] = c; });
  columns.ForEach([&](std::int64_t cell, std::int64_t column) {
    cells[static_cast<std::size_t>(column * q + category[cell])] = cell;
  });
  return cells;
}

void FormCumulativeProbabilities(EstimationRun& run, int r) {
  const Submodel& submodel = run.model.submodels[r];
  EstimationState& est = run.estimation;
  double* fitted = est.FittedTable.data() + submodel.first_cell;
  const double* expected = est.ExpectedTable.data() + submodel.first_cell;
  const double* eta = est.LinearPredictor.data() + submodel.first_cell;
  const std::vector<std::int64_t>& cells = CumulativeStateOf(run).cells[r];
  const std::int64_t q = ResponseCategories(run, r);
  const std::int64_t columns = q > 0 ? static_cast<std::int64_t>(cells.size()) / q : 0;
  const CumulativeForm form = submodel.CumulativeModel;
  if (form.IsNormal()) {
    const auto score = [&](std::int64_t c) {
      return static_cast<double>(c) - static_cast<double>(q - 1) / 2;
    };
    double sigma = 1;
    if (run.estimation.iteration > 0) {
      double sl = 0, sh = 0, shh = 0, se = 0;
      for (std::int64_t column = 0; column < columns; ++column) {
        for (std::int64_t c = 0; c < q; ++c) {
          const std::int64_t cell = cells[column * q + c];
          const double l = expected[cell];
          sl += l;
          sh += l * score(c);
          shh += l * score(c) * score(c);
          se += l * (score(c) - eta[cell]) * (score(c) - eta[cell]);
        }
      }
      const double spread = sl > 0 ? shh - sh * sh / sl : 0.0;
      CumulativeStateOf(run).r_squared[r] = spread > kTableZero ? 1 - se / spread : 0.0;
      const double total = run.data.total_count;
      sigma = total > 0 ? std::sqrt(se / total) : 0.0;
      if (!(sigma > kTableZero) || !std::isfinite(sigma)) {
        StopRun("  Error: the normal model of subtable " + submodel.term +
                " has no residual spread left");
      }
    }
    for (std::int64_t column = 0; column < columns; ++column) {
      for (std::int64_t c = 0; c < q; ++c) {
        const std::int64_t cell = cells[column * q + c];
        fitted[cell] = NormalDensity((score(c) - eta[cell]) / sigma) / sigma;
      }
    }
    return;
  }
  const CumulativeLink link = form.link;
  for (std::int64_t column = 0; column < columns; ++column) {
    double before = 0;
    for (std::int64_t c = 0; c < q; ++c) {
      const std::int64_t cell = cells[column * q + c];
      const double f = c < q - 1 ? CumulativeProbability(link, eta[cell]) : 1.0;
      double p = f - before;
      if (p < -kInversionTolerance || !std::isfinite(p)) {
        StopRun("  Error: the thresholds of subtable " + submodel.term +
                " are no longer in order; try a larger step size (ste) or other start values");
      }
      fitted[cell] = std::max(p, 0.0);
      before = f;
    }
  }
}

void CumulativeSums(const EstimationRun& run, int r, const std::vector<double>& x, std::size_t n,
                    std::vector<double>& g, std::vector<double>& h,
                    std::vector<double>& curvature) {
  const Submodel& submodel = run.model.submodels[r];
  const EstimationState& est = run.estimation;
  const double* fitted = est.FittedTable.data() + submodel.first_cell;
  const double* expected = est.ExpectedTable.data() + submodel.first_cell;
  const double* eta = est.LinearPredictor.data() + submodel.first_cell;
  const std::vector<std::int64_t>& order = CumulativeStateOf(run).cells[r];
  const std::int64_t q = ResponseCategories(run, r);
  g.assign(n, 0.0);
  h.assign(n * n, 0.0);
  curvature.assign(n * n, 0.0);
  const CumulativeLink link = submodel.CumulativeModel.link;
  std::vector<double> before(n), change(n);
  for (std::int64_t column = 0; column * q < static_cast<std::int64_t>(order.size()); ++column) {
    double f = 0;
    std::fill(before.begin(), before.end(), 0.0);
    const double* x_before = nullptr;
    double second_before = 0;
    for (std::int64_t c = 0; c < q; ++c) {
      const std::int64_t cell = order[column * q + c];
      const double* xc = x.data() + static_cast<std::size_t>(cell) * n;
      const double l = expected[cell];
      if (link == CumulativeLink::kNormal) {
        const double residual = static_cast<double>(c) - static_cast<double>(q - 1) / 2 - eta[cell];
        for (std::size_t a = 0; a < n; ++a) {
          g[a] += residual * xc[a] * l;
          for (std::size_t b = 0; b < n; ++b) h[a * n + b] += xc[a] * xc[b] * l;
        }
        continue;
      }
      const double p = fitted[cell];
      f += p;
      const double derivative = c < q - 1 ? CumulativeDerivative(link, eta[cell], f) : 0.0;
      const double second =
          c < q - 1 ? CumulativeSecondDerivative(link, eta[cell], f, derivative) : 0.0;
      for (std::size_t a = 0; a < n; ++a) {
        const double d = xc[a] * derivative;
        change[a] = d - before[a];
        before[a] = d;
      }
      if (p > 0) {
        for (std::size_t a = 0; a < n; ++a) {
          if (change[a] != 0) {
            g[a] += l / p * change[a];
            for (std::size_t b = 0; b < n; ++b) {
              h[a * n + b] += l / (p * p) * change[a] * change[b];
            }
          }
          for (std::size_t b = 0; b < n; ++b) {
            double d2 = xc[a] * xc[b] * second;
            if (x_before != nullptr) d2 -= x_before[a] * x_before[b] * second_before;
            curvature[a * n + b] -= l / p * d2;
          }
        }
      }
      x_before = xc;
      second_before = second;
    }
  }
}

CumulativeSlopes CumulativeCellSlopes(const EstimationRun& run, int r) {
  const Submodel& submodel = run.model.submodels[r];
  const EstimationState& est = run.estimation;
  const double* fitted = est.FittedTable.data() + submodel.first_cell;
  const double* eta = est.LinearPredictor.data() + submodel.first_cell;
  const std::vector<std::int64_t>& order = CumulativeStateOf(run).cells[r];
  const std::int64_t q = ResponseCategories(run, r);
  const CumulativeLink link = submodel.CumulativeModel.link;
  CumulativeSlopes slopes;
  const auto cells = static_cast<std::size_t>(submodel.cell_count);
  slopes.first.assign(cells, 0.0);
  slopes.second.assign(cells, 0.0);
  slopes.before.assign(cells, -1);
  for (std::int64_t column = 0; column * q < static_cast<std::int64_t>(order.size()); ++column) {
    double f = 0;
    for (std::int64_t c = 0; c < q; ++c) {
      const std::int64_t cell = order[column * q + c];
      f += fitted[cell];
      if (c > 0) slopes.before[cell] = order[column * q + c - 1];
      if (c == q - 1) continue;
      slopes.first[cell] = CumulativeDerivative(link, eta[cell], f);
      slopes.second[cell] = CumulativeSecondDerivative(link, eta[cell], f, slopes.first[cell]);
    }
  }
  return slopes;
}

}  // namespace tav
