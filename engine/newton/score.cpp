#include "newton/score.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/elementary.h"
#include "core/log.h"
#include "core/parallel.h"
#include "estimation/e_step.h"
#include "estimation/model_family.h"
#include "estimation/submodel_form.h"
#include "newton/observed_information.h"
#include "newton/parameter_effects.h"
#include "newton/score_layout.h"

namespace tav {
namespace {

// The differences of the score give each thread copies of the tables, within kWorkerBudget
// doubles (1 GB) together.
constexpr std::int64_t kWorkerBudget = std::int64_t{1} << 27;

// Moves parameter i by delta in the fitted tables `fitted` (the run's layout), as
// PerturbParameter does.
void Move(const RunState& run, const ScoreLayout& layout, int i, double delta, double* fitted) {
  const Direction& direction = layout.directions[i];
  const int t = direction.table;
  const TableSpan span = TableSpanOf(run, t);
  double* f = fitted + span.first;
  const double before = SubmodelTotal(run, t, f);
  if (direction.group >= 0) {
    const std::vector<double> factor = EffectFactors(run.newton.effect_signs[i], delta);
    layout.groups[direction.group].shape->Scale(f, factor.data(), f);
  } else {
    for (std::int64_t c = 0; c < span.cells; ++c) {
      if (direction.x[c] != 0 && f[c] > 0) f[c] *= Exp(delta * direction.x[c]);
    }
  }
  RestoreSubmodelForm(run, t, f, before);
}

// What one thread works with: its own copy of the fitted tables and the E-step's tables.
struct Worker {
  std::vector<double> fitted;
  std::vector<double> expected;
  std::vector<double> residual;
  std::vector<double> posterior;
  std::vector<double> margin;
};

// The score at the fitted tables of worker (whose expected tables the E-step has just filled)
// into g (n values; 0 for the parameters left out).
void ScoreOf(const RunState& run, const ScoreLayout& layout, Worker& worker, double* g) {
  for (int t : layout.tables) {
    // ComputeScore adds the scores of the parameters of the tables of other forms.
    if (layout.FormOf(t) != TableForm::kLogLinear) continue;
    const TableSpan span = TableSpanOf(run, t);
    double* r = worker.residual.data() + span.first;
    const double* e = worker.expected.data() + span.first;
    BlockFittedCounts(run, t, worker.fitted.data() + span.first, e, r);
    for (std::int64_t c = 0; c < span.cells; ++c) r[c] = e[c] - r[c];
  }
  const int n = static_cast<int>(layout.directions.size());
  std::fill(g, g + n, 0.0);
  for (const EffectGroup& group : layout.groups) {
    if (layout.FormOf(group.table) != TableForm::kLogLinear) continue;
    worker.margin.assign(group.shape->margin_cells(), 0.0);
    group.shape->MarginOf(worker.residual.data() + TableSpanOf(run, group.table).first,
                          worker.margin.data());
    for (int i : group.parameters) {
      const std::vector<signed char>& signs = run.newton.effect_signs[i];
      double sum = 0;
      for (std::size_t e = 0; e < signs.size(); ++e) {
        if (signs[e] != 0) sum += signs[e] * worker.margin[e];
      }
      g[i] = sum;
    }
  }
  for (int i = 0; i < n; ++i) {
    const Direction& direction = layout.directions[i];
    if (direction.table < 0 || direction.group >= 0) continue;
    if (layout.FormOf(direction.table) != TableForm::kLogLinear) continue;
    const double* r = worker.residual.data() + TableSpanOf(run, direction.table).first;
    double sum = 0;
    for (std::size_t c = 0; c < direction.x.size(); ++c) {
      if (direction.x[c] != 0) sum += direction.x[c] * r[c];
    }
    g[i] = sum;
  }
}

void Prepare(const RunState& run, Worker& worker) {
  if (!worker.fitted.empty()) return;
  worker.fitted = run.estimation.FittedTable;
  worker.expected.assign(worker.fitted.size(), 0.0);
  worker.residual.assign(worker.fitted.size(), 0.0);
}

}  // namespace

bool ScoreAvailable(const RunState& run) {
  const ScoreLayout layout = ScoreLayoutOf(run);
  if (!layout.complete || layout.tables.empty()) return false;
  // The differences of the score move only tables of the log-linear form, and they leave out
  // the factors of the completions that only the posterior-covariance form's pass forms.
  if (AnyCompletionFactors(run)) return PosteriorCovarianceFits(run, layout);
  return !layout.linked || SingleCompletions(run) || PosteriorCovarianceFits(run, layout);
}

bool ScoredNewton(const RunState& run) {
  return !AnyCovariancesOwnStep(run) && ScoreAvailable(run);
}

std::vector<double> ComputeScore(const RunState& run) {
  const ScoreLayout layout = ScoreLayoutOf(run);
  std::vector<double> g(layout.directions.size(), 0.0);
  std::vector<double> pattern_score(g.size(), 0.0);
  Worker worker;
  Prepare(run, worker);
  if (AnyCompletionFactors(run)) {
    worker.expected = ExpectedTablesAndPatternScore(run, layout, pattern_score);
  } else {
    ExpectedCompleteTables(run, worker.fitted.data(), worker.expected.data(), worker.posterior);
  }
  ScoreOf(run, layout, worker, g.data());
  if (layout.linked) AddLinkedScore(run, layout, worker.expected.data(), g);
  for (std::size_t i = 0; i < g.size(); ++i) g[i] += pattern_score[i];
  return g;
}

void ScoreInformation(const RunState& run, std::vector<double>& matrix,
                      ScoreInformationMethod method) {
  const ScoreLayout layout = ScoreLayoutOf(run);
  const int n = static_cast<int>(layout.directions.size());
  matrix.assign(static_cast<std::size_t>(n) * n, 0.0);
  const std::vector<double>& base = run.estimation.FittedTable;

  const bool automatic = method == ScoreInformationMethod::kAutomatic;
  const bool factors = AnyCompletionFactors(run);
  if (method == ScoreInformationMethod::kPosteriorCovariance ||
      (automatic && (factors || !SingleCompletions(run)) && PosteriorCovarianceFits(run, layout))) {
    PosteriorCovarianceInformation(run, layout, matrix);
    return;
  }
  if (automatic && SingleCompletions(run)) {
    std::vector<double> expected(base.size());
    std::vector<double> posterior;
    ExpectedCompleteTables(run, base.data(), expected.data(), posterior);
    CompleteDataInformation(run, layout, expected.data(), matrix);
    return;
  }

  // Row j of minus_derivative: -(g(theta + h e_j) - g(theta - h e_j)) / (2h).
  std::vector<int> moved;
  for (int j = 0; j < n; ++j) {
    if (layout.directions[j].table >= 0) moved.push_back(j);
  }
  std::vector<double> minus_derivative(static_cast<std::size_t>(n) * n, 0.0);
  const std::vector<double> products = CompletionProducts(run, base.data());
  // Every worker holds three tables as large as the fitted tables: no more workers than 1 GB
  // holds.
  const auto table_size = std::max<std::int64_t>(1, static_cast<std::int64_t>(base.size()));
  // Each worker's rows are its own, so fewer workers (within the memory budget too) give the
  // same numbers; the fourth table is the factors of a moved table.
  const double worker_bytes = 4.0 * static_cast<double>(table_size) * sizeof(double);
  const auto fitting = std::max<std::int64_t>(
      1, std::min<std::int64_t>(
             kWorkerBudget / (3 * table_size),
             static_cast<std::int64_t>(run.context.MemoryAvailable() / worker_bytes)));
  const auto worker_count = std::min<std::int64_t>(ThreadCount(run.Threads()), fitting);
  const MemoryReservation reserved(run.context, static_cast<double>(worker_count) * worker_bytes);
  std::vector<Worker> workers(worker_count);
  ParallelFor(static_cast<int>(moved.size()), static_cast<int>(workers.size()), [&](int k, int w) {
    CheckCancel(run.context, w);
    Worker& worker = workers[w];
    Prepare(run, worker);
    const int j = moved[k];
    const TableSpan span = TableSpanOf(run, layout.directions[j].table);
    std::vector<double> plus(n), minus(n);
    std::vector<double> factor(span.cells);
    for (int side = 0; side < 2; ++side) {
      Move(run, layout, j, side == 0 ? kScoreStep : -kScoreStep, worker.fitted.data());
      for (std::int64_t c = 0; c < span.cells; ++c) {
        const double before = base[span.first + c];
        factor[c] = before > 0 ? worker.fitted[span.first + c] / before : 0.0;
      }
      ExpectedCompleteTablesAfterChange(run, products, layout.directions[j].table, factor.data(),
                                        worker.expected.data(), worker.posterior);
      ScoreOf(run, layout, worker, side == 0 ? plus.data() : minus.data());
      std::copy_n(base.begin() + span.first, span.cells, worker.fitted.begin() + span.first);
    }
    double* row = minus_derivative.data() + static_cast<std::size_t>(j) * n;
    for (int i = 0; i < n; ++i) row[i] = -(plus[i] - minus[i]) / (2 * kScoreStep);
  });
  for (int i : moved) {
    for (int j : moved) {
      matrix[static_cast<std::size_t>(i) * n + j] =
          0.5 * (minus_derivative[static_cast<std::size_t>(i) * n + j] +
                 minus_derivative[static_cast<std::size_t>(j) * n + i]);
    }
  }
}

}  // namespace tav
