#include "estimation/hazard_model.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "core/elementary.h"
#include "core/table_zero.h"
#include "estimation/estimate.h"

namespace tav {
namespace {

// The cumulative hazard of an episode is capped here before it is exponentiated.
constexpr double kLargestHazardSum = 500;

// The shape parameters bound each update to this fall and rise.
constexpr double kLargestShapeFall = 0.05;
constexpr double kLargestShapeRise = 0.25;
constexpr double kSmallestShape = 1e-5;

std::int64_t SlotsPerPattern(const EstimationRun& run) {
  return std::max(run.history.EpisodeCount, 1);
}

// The rates (or counts) of covariate cell c: interval j, risk k (from 1) at j * K + k - 1.
const double* CovariateBlock(const HazardWork& hazard, const double* table, std::int64_t c) {
  return table + c * hazard.time_points * hazard.risks;
}

const Submodel& HazardSubmodel(const EstimationRun& run, const HazardWork& hazard) {
  return run.model.submodels[hazard.table];
}

// The shape of risk k (from 1); 1 outside kinds 2 and 3.
double ShapeOf(const EstimationRun& run, const HazardWork& hazard, int k) {
  if (hazard.shape_offset < 0 || k < 1 || k > hazard.risks) return 1.0;
  return run.estimation.Multipliers[hazard.shape_offset + k - 1];
}

// x^alpha and its derivatives by alpha at a time x >= 0 (0 at x = 0).
struct PoweredTime {
  double value = 0;
  double slope = 0;
  double curvature = 0;
};

PoweredTime Power(double x, double alpha) {
  if (!(x > 0)) return {};
  const double p = Pow(x, alpha);
  const double l = Log(x);
  return {p, p * l, p * l * l};
}

// What an episode's time at risk adds to the exposure of risk q with shape alpha in interval j:
// the part [lo, hi] of [entry, exit] in the interval, as its length (kinds 0 and 1) or as
// hi^alpha - lo^alpha (kinds 2 and 3).
struct Spell {
  double lo;
  double hi;
};

Spell PartIn(const std::vector<double>& grid, int j, int j0, int j1, double entry, double exit) {
  const double lo = j == j0 ? entry : grid[j];
  const double hi = j == j1 ? exit : grid[j + 1];
  return {lo, hi};
}

// The cumulative hazard of an episode from entry to exit in origin state a through the
// intervals j0 .. j1, at the rates of one covariate cell: the sum over the risks q of a (its stay
// left out in discrete time) of the rate times the time at risk (kinds 2 and 3: the powered
// time) in every interval.
double CumulativeHazard(const EstimationRun& run, const HazardWork& hazard, const double* rates,
                        int j0, int j1, int origin, double exit, double entry) {
  const EventHistoryState& history = run.history;
  double sum = 0;
  for (int b = 0; b < history.StateCount; ++b) {
    const int q = history.RiskOf(origin, b);
    if (q <= 0 || q > hazard.risks || (hazard.kind == TimeModel::kDiscrete && b == origin))
      continue;
    const double alpha = ShapeOf(run, hazard, q);
    for (int j = j0; j <= j1; ++j) {
      const Spell part = PartIn(history.TimeValues, j, j0, j1, entry, exit);
      const double at_risk = !HasShapes(hazard.kind)
                                 ? part.hi - part.lo
                                 : Power(part.hi, alpha).value - Power(part.lo, alpha).value;
      sum += rates[static_cast<std::int64_t>(j) * hazard.risks + q - 1] * at_risk;
    }
  }
  return sum;
}

// The survival of kind 1 (DiscreteEpisodeSurvival) at the part's rates.
double DiscreteSurvival(const EstimationRun& run, const HazardWork& hazard, std::int64_t c, int j0,
                        int j1, int origin, double exit, double entry, const LogRates* log_rates) {
  const std::vector<double>& grid = run.history.TimeValues;
  const int q = origin >= 0 && origin < static_cast<int>(hazard.stay_risk.size())
                    ? hazard.stay_risk[origin]
                    : 0;
  if (q <= 0) return 0;
  const double* rates = CovariateBlock(
      hazard, run.estimation.FittedTable.data() + HazardSubmodel(run, hazard).first_cell, c);
  double sum = 0;
  double previous = entry;
  for (int j = j0; j < j1; ++j) {
    const double lambda = rates[static_cast<std::int64_t>(j) * hazard.risks + q - 1];
    if (!(lambda > 0)) return 0;
    sum += (log_rates ? log_rates->Of(c, j, q) : Log(lambda)) * (grid[j + 1] - previous);
    previous = grid[j + 1];
  }
  if (exit - previous > 0) {
    const double lambda = rates[static_cast<std::int64_t>(j1) * hazard.risks + q - 1];
    if (!(lambda > 0)) return 0;
    sum += (exit - previous) * (log_rates ? log_rates->Of(c, j1, q) : Log(lambda));
  }
  return Exp(sum);
}

}  // namespace

int ExitInterval(const EventHistoryState& history, double time) {
  int j = 0;
  for (int b = 1; b < history.TimePointCount; ++b) {
    if (history.TimeValues[b] < time) j = b;
  }
  return j;
}

int EntryInterval(const EventHistoryState& history, double time) {
  int j = 0;
  for (int b = 1; b < history.TimePointCount; ++b) {
    if (history.TimeValues[b] <= time) j = b;
  }
  return j;
}

double HazardShape(const EstimationRun& run, int k) { return ShapeOf(run, HazardWorkOf(run), k); }

void SetUpHazardPart(EstimationRun& run) {
  EstimationState& est = run.estimation;
  const ModelState& model = run.model;
  const EventHistoryState& history = run.history;
  // Without a hazard part the fit's hazard state stays as it was made, empty.
  if (!history.HazardModel || static_cast<int>(model.submodels.size()) <= model.SubmodelCount) {
    return;
  }
  HazardWork& hazard = HazardWorkOf(run);
  hazard = HazardWork{};
  hazard.table = model.SubmodelCount;
  hazard.kind = history.TimeKind;
  hazard.time_points = std::max(history.TimePointCount, 1);
  hazard.risks = std::max(history.RiskCount, 1);
  const Submodel& submodel = model.submodels[hazard.table];
  hazard.covariate_cells =
      static_cast<std::int64_t>(submodel.cell_count) / hazard.time_points / hazard.risks;
  // The covariates are the hazard submodel's variables before the time and risk variables.
  std::int64_t stride = 1;
  for (int v = model.VariableCount - 1; v >= 0; --v) {
    if (submodel.SubmodelVariables[v] == 0) continue;
    hazard.covariate_strides.emplace_back(v, stride);
    stride *= model.Dimension[v];
  }
  const auto cells = static_cast<std::size_t>(submodel.cell_count);
  const std::vector<Episode>& episodes = run.data.episodes;
  run.context.KeepMemory(MemoryUse::kHazardTables, 0);
  run.context.KeepMemory(MemoryUse::kHazardTables,
                         static_cast<double>(cells) * sizeof(double) +
                             2.0 * static_cast<double>(episodes.size()) * sizeof(std::int32_t));
  hazard.exposure.assign(cells, 0.0);
  if (hazard.kind == TimeModel::kEstimatedShapes) hazard.spells.assign(hazard.risks, {});
  hazard.event_count.assign(hazard.risks, 0.0);
  hazard.event_log_time.assign(hazard.risks, 0.0);
  hazard.risk_origin.assign(hazard.risks, 0);
  hazard.stay_risk.assign(std::max(history.StateCount, 1), 0);
  for (int a = 0; a < history.StateCount; ++a) {
    for (int b = 0; b < history.StateCount; ++b) {
      const std::int32_t k = history.RiskOf(a, b);
      if (k < 1 || k > hazard.risks) continue;
      hazard.risk_origin[k - 1] = a;
      if (a == b) hazard.stay_risk[a] = k;
    }
  }
  if (hazard.kind == TimeModel::kFixedShapes || hazard.kind == TimeModel::kEstimatedShapes) {
    hazard.shape_offset = static_cast<std::int64_t>(est.Multipliers.size());
    for (int k = 0; k < hazard.risks; ++k) {
      const bool given = hazard.kind == TimeModel::kFixedShapes &&
                         k < static_cast<int>(history.ShapeValues.size());
      est.Multipliers.push_back(given ? history.ShapeValues[k] : 1.0);
    }
  }
  hazard.entry_interval.resize(episodes.size());
  hazard.exit_interval.resize(episodes.size());
  for (std::size_t e = 0; e < episodes.size(); ++e) {
    hazard.entry_interval[e] = EntryInterval(history, episodes[e].start_time);
    hazard.exit_interval[e] = ExitInterval(history, episodes[e].end_time);
  }
}

void StartHazardPart(EstimationRun& run) {
  EstimationState& est = run.estimation;
  const HazardWork& hazard = HazardWorkOf(std::as_const(run));
  if (hazard.table < 0) return;
  const int r = hazard.table;
  const Submodel& submodel = HazardSubmodel(run, hazard);
  double* fitted = est.FittedTable.data() + submodel.first_cell;
  std::fill(fitted, fitted + static_cast<std::int64_t>(submodel.cell_count), 1.0);
  const std::vector<double>& grid = run.history.TimeValues;
  const double span = grid.empty() ? 1.0 : grid.back() - grid.front();
  const double scale = hazard.kind == TimeModel::kDiscrete ? 1 / 1.1 : 1 / (span > 0 ? span : 1.0);
  for (int i = 0; i < submodel.MarginCount(); ++i) {
    const std::int64_t offset = est.margin_parameter_offset[r][i];
    if (offset < 0) continue;
    double* parameters = est.MarginParameters.data() + offset;
    const std::int64_t size = est.margin_shapes[r][i].margin_cells();
    // Start values given with sth stay as they are.
    if (PerturbMargin(run, r, i) && i == 0) {
      for (std::int64_t k = 0; k < size; ++k) parameters[k] *= scale;
    }
    est.margin_shapes[r][i].Scale(fitted, parameters, fitted);
  }
  if (submodel.MarginCount() == 0) {
    std::fill(fitted, fitted + static_cast<std::int64_t>(submodel.cell_count), scale);
  }
  if (hazard.kind == TimeModel::kDiscrete) NormaliseTransitionBlocks(run, fitted);
}

LogRates::LogRates(const EstimationRun& run) : LogRates(run, HazardWorkOf(run)) {}

LogRates::LogRates(const EstimationRun& run, const HazardWork& hazard)
    : rates_(run.estimation.FittedTable.data() + HazardSubmodel(run, hazard).first_cell),
      block_(static_cast<std::int64_t>(hazard.time_points) * hazard.risks),
      risks_(hazard.risks),
      logs_(static_cast<std::size_t>(HazardSubmodel(run, hazard).cell_count),
            std::numeric_limits<double>::quiet_NaN()) {}

bool LogRates::Fits(const EstimationRun& run) {
  const HazardWork& hazard = HazardWorkOf(run);
  return hazard.table >= 0 && HazardSubmodel(run, hazard).cell_count <= (1 << 20);
}

double LogRates::Of(std::int64_t c, int j, int q) const {
  const std::int64_t i = c * block_ + static_cast<std::int64_t>(j) * risks_ + q - 1;
  double& value = logs_[static_cast<std::size_t>(i)];
  if (std::isnan(value)) value = Log(rates_[i]);
  return value;
}

HazardPattern::HazardPattern(const EstimationRun& run, const HazardWork& hazard,
                             std::int64_t pattern, const LogRates* log_rates)
    : run_(run),
      hazard_(hazard),
      log_rates_(log_rates),
      first_(pattern * SlotsPerPattern(run)),
      slots_(SlotsPerPattern(run)) {}

double HazardPattern::Factor(std::int64_t c) const {
  for (const auto& [cell, factor] : factors_) {
    if (cell == c) return factor;
  }
  factors_.emplace_back(c, ComputeFactor(c));
  return factors_.back().second;
}

double HazardPattern::ComputeFactor(std::int64_t c) const {
  const EstimationRun& run = run_;
  const HazardWork& hazard = hazard_;
  const double* rates = CovariateBlock(
      hazard, run.estimation.FittedTable.data() + HazardSubmodel(run, hazard).first_cell, c);
  const int risks = hazard.risks;
  auto rate = [&](int j, int q) { return rates[static_cast<std::int64_t>(j) * risks + q - 1]; };
  auto log_rate = [&](int j, int q) {
    return log_rates_ ? log_rates_->Of(c, j, q) : Log(rate(j, q));
  };
  double log_factor = 0;
  bool vanishes = false;
  ForEachEpisode([&](const Episode& episode, int j0, int j1) {
    const int k = episode.event;
    const double g = episode.weight;
    if (hazard.kind == TimeModel::kDiscrete) {
      if (k <= 0) return;
      const double survival =
          DiscreteSurvival(run, hazard, c, j0, j1, episode.origin, episode.end_time - 1,
                           episode.start_time, log_rates_);
      const double lambda = rate(j1, k);
      if (!(survival > 0) || !(lambda > 0)) vanishes = true;
      if (!vanishes) log_factor += Log(survival) + g * log_rate(j1, k);
      return;
    }
    const double sum = CumulativeHazard(run, hazard, rates, j0, j1, episode.origin,
                                        episode.end_time, episode.start_time);
    log_factor -= std::min(sum, kLargestHazardSum);
    if (k > 0 && k <= risks) {
      const double lambda = rate(j1, k);
      if (!(lambda > 0)) {
        vanishes = true;
        return;
      }
      log_factor += g * log_rate(j1, k);
      if (HasShapes(hazard.kind)) {
        const double alpha = ShapeOf(run, hazard, k);
        log_factor += g * (Log(alpha) + (alpha - 1) * Log(episode.end_time));
      }
    }
  });
  return vanishes ? 0.0 : Exp(log_factor);
}

void HazardPattern::AddCounts(double f, double* events, double* exposure) const {
  const EstimationRun& run = run_;
  const EventHistoryState& history = run.history;
  const HazardWork& hazard = hazard_;
  const std::vector<double>& grid = history.TimeValues;
  const int risks = hazard.risks;
  auto cell = [&](int j, int q) { return static_cast<std::int64_t>(j) * risks + q - 1; };
  ForEachEpisode([&](const Episode& episode, int j0, int j1) {
    const int k = episode.event;
    if (hazard.kind == TimeModel::kDiscrete && k <= 0) return;
    for (int b = 0; b < history.StateCount; ++b) {
      const int q = history.RiskOf(episode.origin, b);
      if (q <= 0 || q > risks) continue;
      const double alpha = ShapeOf(run, hazard, q);
      for (int j = j0; j <= j1; ++j) {
        const Spell part = PartIn(grid, j, j0, j1, episode.start_time, episode.end_time);
        if (!HasShapes(hazard.kind)) {
          exposure[cell(j, q)] += f * (part.hi - part.lo);
          continue;
        }
        exposure[cell(j, q)] += f * (Power(part.hi, alpha).value - Power(part.lo, alpha).value);
      }
    }
    if (k <= 0 || k > risks) return;
    const double g = episode.weight;
    events[cell(j1, k)] += g * f;
    if (hazard.kind == TimeModel::kDiscrete) {
      // The units survived before the last one are stays.
      const int q = hazard.stay_risk[episode.origin];
      if (q <= 0) return;
      double previous = episode.start_time;
      for (int j = j0; j < j1; ++j) {
        events[cell(j, q)] += (grid[j + 1] - previous) * f;
        previous = grid[j + 1];
      }
      const double last = episode.end_time - 1 - previous;
      if (last > 0) events[cell(j1, q)] += last * f;
    }
  });
}

void HazardPattern::Accumulate(EstimationRun& run, HazardWork& hazard, std::int64_t c,
                               double f) const {
  EstimationState& est = run.estimation;
  const int risks = hazard.risks;
  const std::int64_t block = c * hazard.time_points * risks;
  AddCounts(f, est.ExpectedTable.data() + HazardSubmodel(run, hazard).first_cell + block,
            hazard.exposure.data() + block);
  if (!HasShapes(hazard.kind)) return;
  // The shapes' M-step: the parts at risk (kind 3), the events and their log exit times.
  const std::vector<double>& grid = run.history.TimeValues;
  auto cell = [&](int j, int q) { return static_cast<std::int64_t>(j) * risks + q - 1; };
  ForEachEpisode([&](const Episode& episode, int j0, int j1) {
    const int k = episode.event;
    if (hazard.kind == TimeModel::kEstimatedShapes) {
      for (int b = 0; b < run.history.StateCount; ++b) {
        const int q = run.history.RiskOf(episode.origin, b);
        if (q <= 0 || q > risks) continue;
        for (int j = j0; j <= j1; ++j) {
          const Spell part = PartIn(grid, j, j0, j1, episode.start_time, episode.end_time);
          hazard.spells[q - 1].push_back({block + cell(j, q), part.lo, part.hi, f});
        }
      }
    }
    if (k <= 0 || k > risks) return;
    const double g = episode.weight;
    hazard.event_count[k - 1] += g * f;
    hazard.event_log_time[k - 1] += g * f * Log(episode.end_time);
  });
}

void ClearHazardExpectations(EstimationRun& run) {
  if (HazardWorkOf(std::as_const(run)).table < 0) return;
  HazardWork& hazard = HazardWorkOf(run);
  std::fill(hazard.exposure.begin(), hazard.exposure.end(), 0.0);
  for (std::vector<HazardWork::Spell>& spells : hazard.spells) spells.clear();
  std::fill(hazard.event_count.begin(), hazard.event_count.end(), 0.0);
  std::fill(hazard.event_log_time.begin(), hazard.event_log_time.end(), 0.0);
}

double EpisodeSurvival(const EstimationRun& run, std::int64_t c, int j0, int j1, int origin,
                       double exit, double entry) {
  const HazardWork& hazard = HazardWorkOf(run);
  const double* rates = CovariateBlock(
      hazard, run.estimation.FittedTable.data() + HazardSubmodel(run, hazard).first_cell, c);
  return Exp(-std::min(CumulativeHazard(run, hazard, rates, j0, j1, origin, exit, entry),
                       kLargestHazardSum));
}

double DiscreteEpisodeSurvival(const EstimationRun& run, std::int64_t c, int j0, int j1, int origin,
                               double exit, double entry, const LogRates* log_rates) {
  return DiscreteSurvival(run, HazardWorkOf(run), c, j0, j1, origin, exit, entry, log_rates);
}

void NormaliseTransitionBlocks(const EstimationRun& run, double* rates) {
  const HazardWork& hazard = HazardWorkOf(run);
  const int states = static_cast<int>(hazard.stay_risk.size());
  const int risks = hazard.risks;
  std::vector<double> sum(states);
  const std::int64_t blocks = hazard.covariate_cells * hazard.time_points;
  for (std::int64_t block = 0; block < blocks; ++block) {
    double* cells = rates + block * risks;
    std::fill(sum.begin(), sum.end(), 0.0);
    for (int k = 0; k < risks; ++k) sum[hazard.risk_origin[k]] += cells[k];
    for (int k = 0; k < risks; ++k) {
      const double total = sum[hazard.risk_origin[k]];
      if (total > 0) cells[k] /= total;
    }
  }
}

void HazardRatesToCounts(EstimationRun& run) {
  EstimationState& est = run.estimation;
  const HazardWork& hazard = HazardWorkOf(std::as_const(run));
  if (hazard.table < 0 || run.estimation.iteration <= 0) return;
  double* fitted = est.FittedTable.data() + HazardSubmodel(run, hazard).first_cell;
  for (std::size_t i = 0; i < hazard.exposure.size(); ++i) {
    fitted[i] = hazard.exposure[i] > 0 ? fitted[i] * hazard.exposure[i] : 0.0;
  }
}

void HazardCountsToRates(EstimationRun& run) {
  EstimationState& est = run.estimation;
  const HazardWork& hazard = HazardWorkOf(std::as_const(run));
  if (hazard.table < 0) return;
  double* fitted = est.FittedTable.data() + HazardSubmodel(run, hazard).first_cell;
  // Transition probabilities are normalised, also the start values, which the designs' start
  // may have moved; other start values are rates already.
  if (hazard.kind == TimeModel::kDiscrete) {
    NormaliseTransitionBlocks(run, fitted);
    return;
  }
  if (run.estimation.iteration <= 0) return;
  for (std::size_t i = 0; i < hazard.exposure.size(); ++i) {
    fitted[i] = hazard.exposure[i] <= kTableZero ? 0.0 : fitted[i] / hazard.exposure[i];
  }
}

void FitHazardBlocks(EstimationRun& run) {
  EstimationState& est = run.estimation;
  const HazardWork& hazard = HazardWorkOf(std::as_const(run));
  if (hazard.table < 0 || hazard.kind != TimeModel::kDiscrete || run.estimation.iteration <= 0) {
    return;
  }
  const std::int64_t first = HazardSubmodel(run, hazard).first_cell;
  double* fitted = est.FittedTable.data() + first;
  const double* expected = est.ExpectedTable.data() + first;
  const int states = static_cast<int>(hazard.stay_risk.size());
  const int risks = hazard.risks;
  std::vector<double> fitted_sum(states);
  std::vector<double> expected_sum(states);
  const std::int64_t blocks = hazard.covariate_cells * hazard.time_points;
  for (std::int64_t block = 0; block < blocks; ++block) {
    double* cells = fitted + block * risks;
    const double* target = expected + block * risks;
    std::fill(fitted_sum.begin(), fitted_sum.end(), 0.0);
    std::fill(expected_sum.begin(), expected_sum.end(), 0.0);
    for (int k = 0; k < risks; ++k) {
      fitted_sum[hazard.risk_origin[k]] += cells[k];
      expected_sum[hazard.risk_origin[k]] += target[k];
    }
    for (int k = 0; k < risks; ++k) {
      const int a = hazard.risk_origin[k];
      cells[k] *= TableRatio(expected_sum[a], fitted_sum[a]);
    }
  }
}

void UpdateHazardShape(EstimationRun& run) {
  EstimationState& est = run.estimation;
  const HazardWork& hazard = HazardWorkOf(std::as_const(run));
  if (hazard.table < 0 || hazard.kind != TimeModel::kEstimatedShapes) return;
  double* shapes = est.Multipliers.data() + hazard.shape_offset;
  if (run.estimation.iteration <= 0) {
    std::fill(shapes, shapes + hazard.risks, 1.0);
    return;
  }
  const int r = hazard.table;
  const Submodel& submodel = HazardSubmodel(run, hazard);
  double* fitted = est.FittedTable.data() + submodel.first_cell;
  // The margin whose parameters carry a risk's scale: the first that holds the risk variable
  // (any margin with one risk). Without one the rates keep their scale.
  int scale_margin = -1;
  const int risk_variable = hazard.risks > 1 ? run.model.VariableCount + 1 : -1;
  for (int i = 0; i < submodel.MarginCount() && scale_margin < 0; ++i) {
    if (est.margin_parameter_offset[r][i] < 0) continue;
    if (risk_variable < 0 || submodel.EffectVariables[i][risk_variable] != 0) scale_margin = i;
  }
  for (int k = 0; k < hazard.risks; ++k) {
    const double events = hazard.event_count[k];
    if (!(events > 0)) continue;
    // Each part at risk weighted by its rate at the shape in use.
    std::vector<Spell> parts;
    std::vector<double> weight;
    for (const HazardWork::Spell& spell : hazard.spells[k]) {
      const double exposure = hazard.exposure[spell.cell];
      if (!(exposure > kTableZero)) continue;
      parts.push_back({spell.lo, spell.hi});
      weight.push_back(spell.f * fitted[spell.cell] / exposure);
    }
    // S0, S1, S2: the sum of the rates times the exposure and its derivatives by the shape.
    auto sums = [&](double alpha, double out[3]) {
      out[0] = out[1] = out[2] = 0;
      for (std::size_t i = 0; i < parts.size(); ++i) {
        const PoweredTime hi = Power(parts[i].hi, alpha);
        const PoweredTime lo = Power(parts[i].lo, alpha);
        out[0] += weight[i] * (hi.value - lo.value);
        out[1] += weight[i] * (hi.slope - lo.slope);
        out[2] += weight[i] * (hi.curvature - lo.curvature);
      }
    };
    // The expected complete-data log-likelihood of the risk's events in the shape, its rates'
    // common scale taken at its best, E / S0 (held at 1 without a margin to carry it): E ln
    // alpha + (alpha - 1) sum ln x - E ln S0, or - S0 with the scale held.
    const bool profile = scale_margin >= 0;
    const double log_times = hazard.event_log_time[k];
    auto objective = [&](double alpha) {
      double s[3];
      sums(alpha, s);
      if (!(s[0] > 0)) return -HUGE_VAL;
      return events * Log(alpha) + (alpha - 1) * log_times - (profile ? events * Log(s[0]) : s[0]);
    };
    const double old_alpha = shapes[k];
    const double low = std::max(old_alpha - kLargestShapeFall, kSmallestShape);
    const double high = old_alpha + kLargestShapeRise;
    // Newton steps inside the bounds of this update, each halved until the objective rises.
    double alpha = old_alpha;
    double best = objective(alpha);
    for (int step = 0; step < 50; ++step) {
      double s[3];
      sums(alpha, s);
      if (!(s[0] > 0)) break;
      double gradient = events / alpha + log_times;
      double curvature = -events / (alpha * alpha);
      if (profile) {
        const double m1 = s[1] / s[0];
        gradient -= events * m1;
        curvature -= events * (s[2] / s[0] - m1 * m1);
      } else {
        gradient -= s[1];
        curvature -= s[2];
      }
      double change = curvature < 0 ? -gradient / curvature : (gradient > 0 ? high : low) - alpha;
      double next = std::clamp(alpha + change, low, high);
      double value = objective(next);
      for (int halving = 0; halving < 30 && !(value > best); ++halving) {
        next = alpha + (next - alpha) / 2;
        value = objective(next);
      }
      if (!(value > best)) break;
      const bool settled = std::fabs(next - alpha) < 1e-12 * std::max(1.0, alpha);
      alpha = next;
      best = value;
      if (settled) break;
    }
    if (alpha == old_alpha) continue;
    shapes[k] = alpha;
    if (!profile) continue;
    // The risk's rates take their best scale at the new shape; the counts are rates times the
    // exposures of the old shape, so they scale alike.
    double s[3];
    sums(alpha, s);
    const double scale = events / s[0];
    for (std::int64_t i = k; i < static_cast<std::int64_t>(hazard.exposure.size());
         i += hazard.risks) {
      fitted[i] *= scale;
    }
    const MarginShape& shape = est.margin_shapes[r][scale_margin];
    double* parameters = est.MarginParameters.data() + est.margin_parameter_offset[r][scale_margin];
    std::vector<double> factor(shape.margin_cells(), 1.0);
    // The risk variable runs fastest in the margin as in the table.
    for (std::int64_t m = 0; m < shape.margin_cells(); ++m) {
      if (risk_variable < 0 || m % hazard.risks == k) factor[m] = scale;
    }
    for (std::int64_t m = 0; m < shape.margin_cells(); ++m) parameters[m] *= factor[m];
  }
}

HazardFit HazardPartFit(const EstimationRun& run) {
  HazardFit fit;
  const EstimationState& est = run.estimation;
  const HazardWork& hazard = HazardWorkOf(run);
  if (hazard.table < 0) return fit;
  const std::int64_t first = HazardSubmodel(run, hazard).first_cell;
  const double* rates = est.FittedTable.data() + first;
  const double* events = est.ExpectedTable.data() + first;
  for (std::size_t i = 0; i < hazard.exposure.size(); ++i) {
    const double r = rates[i];
    const double f = events[i];
    const double m = r * hazard.exposure[i];
    if (!(m > 0)) {
      ++fit.zero_rates;
      continue;
    }
    fit.x_squared += (f - m) * (f - m) / m;
    if (f > 0) {
      fit.l_squared += 2 * f * Log(f / m);
      fit.log_likelihood += f * Log(r);
    }
    if (hazard.kind != TimeModel::kDiscrete) fit.log_likelihood -= m;
  }
  if (HasShapes(hazard.kind)) {
    for (int k = 0; k < hazard.risks; ++k) {
      const double alpha = HazardShape(run, k + 1);
      fit.log_likelihood +=
          hazard.event_count[k] * Log(alpha) + (alpha - 1) * hazard.event_log_time[k];
    }
  }
  return fit;
}

}  // namespace tav
