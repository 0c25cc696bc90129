#include "estimation/e_step.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/format_real.h"
#include "core/log.h"
#include "core/stop_run.h"
#include "core/table_zero.h"
#include "estimation/hazard_model.h"

namespace tav {
namespace {

int PatternSubgroup(const DataStore& data, std::int64_t p) {
  return data.entry_subgroup.empty() ? 0 : data.entry_subgroup[p];
}

double PatternWeight(const DataStore& data, std::int64_t p) {
  return data.entry_count_given ? data.entry_count[p] : 1.0;
}

// The passes over the data: the two of EStep, and the evaluation pass, which only returns the
// log-likelihood and half L-squared (no expected tables, fit sums, exclusion counts, stop
// criterion or log line).
enum class PassKind { kIterate, kPosteriors, kEvaluate };

Evaluation Pass(EstimationRun& run, PassKind kind, const PosteriorSink& sink) {
  const ModelState& model = run.model;
  const DataStore& data = run.data;
  EstimationState& est = run.estimation;
  const int n = model.SubmodelCount;
  const bool iterate = kind == PassKind::kIterate;
  const bool lsquared = iterate && est.lsquared_column;
  const bool half_lsquared = est.lsquared_column && (iterate || kind == PassKind::kEvaluate);
  Evaluation result;
  double excluded = 0;
  int excluded_patterns = 0;
  if (iterate) {
    est.PearsonSum = 0;
    est.CressieReadSum = 0;
    est.AbsResidualSum = 0;
    est.ExpectedTotal = 0;
  }
  bool ordinal = false;
  for (int r = 0; r < n; ++r) {
    ordinal = ordinal || model.submodels[r].IsOrdinal();
  }
  const HazardWork& hazard = est.hazard;
  const bool with_hazard = hazard.table >= 0;
  // The exposures of estimated shapes change with the shapes.
  const bool rebuild = iterate && (run.IterationCount == 0 || model.LatentCount > 0 ||
                                   model.ResCount > 0 || ordinal || hazard.kind == 3);
  if (rebuild) {
    std::fill(est.ExpectedTable.begin(), est.ExpectedTable.end(), 0.0);
    ClearHazardExpectations(run);
    est.expected_margins_valid = false;
  }
  const double* fitted = est.FittedTable.data();
  double* expected = est.ExpectedTable.data();
  std::vector<double>& p = est.posterior;
  const std::int64_t patterns = data.EntryCount();
  for (std::int64_t h = 0; h < patterns; ++h) {
    const int g = PatternSubgroup(data, h);
    const double weight = PatternWeight(data, h);
    const std::int32_t* map = est.cell_map.data() + est.pattern_start[h];
    const std::int64_t completions =
        (est.pattern_start[h + 1] - est.pattern_start[h]) / (n > 0 ? n : 1);
    const HazardPattern episodes(run, with_hazard ? h : 0);
    const std::int32_t* covariate_cell =
        with_hazard ? hazard.covariate_cell.data() + hazard.completion_start[h] : nullptr;
    double sum = 0;
    for (std::int64_t k = 0; k < completions; ++k) {
      double value = CompletionProduct(fitted, map + k * n, n);
      if (with_hazard && value != 0) value *= episodes.Factor(covariate_cell[k]);
      p[k] = value;
      sum += value;
    }
    if (sum <= kTableZero) {
      excluded += weight;
      ++excluded_patterns;
      continue;
    }
    if (rebuild) {
      const double scale = weight / sum;
      for (std::int64_t k = 0; k < completions; ++k) {
        const double share = p[k] * scale;
        const std::int32_t* cells = map + k * n;
        for (int r = 0; r < n; ++r) {
          if (cells[r] >= 0) expected[cells[r]] += share;
        }
        if (with_hazard && share != 0) episodes.Accumulate(run, covariate_cell[k], share);
      }
    } else if (kind == PassKind::kPosteriors) {
      for (std::int64_t k = 0; k < completions; ++k) p[k] /= sum;
      if (sink) sink(h, std::vector<double>(p.begin(), p.begin() + completions));
    }
    if (half_lsquared && weight > 0) result.half_lsquared += weight * std::log(weight / sum);
    if (lsquared) {
      if (weight > 0) {
        const double ratio = weight / sum;
        est.CressieReadSum += 1.8 * weight * (std::pow(ratio, 2.0 / 3.0) - 1);
        est.PearsonSum += weight * (ratio - 1);
      }
      est.AbsResidualSum += std::fabs(weight - sum);
      est.ExpectedTotal += sum;
    }
    const double total = data.subgroup_total.empty() ? 0.0 : data.subgroup_total[g];
    if (weight != 0 && total > 0) result.log_likelihood += weight * std::log(sum / total);
  }
  if (iterate) est.HalfLSquared = result.half_lsquared;
  if (kind != PassKind::kEvaluate) {
    est.ExcludedObservations = excluded;
    est.excluded_patterns = excluded_patterns;
  }
  return result;
}

}  // namespace

void BuildIndexMaps(EstimationRun& run) {
  const ModelState& model = run.model;
  const DataStore& data = run.data;
  EstimationState& est = run.estimation;
  const int n = model.SubmodelCount;
  const int first = model.FirstManifest();
  const std::int64_t patterns = data.EntryCount();

  // Per subgroup: the submodels that drop out (they hold a variable the subgroup neither
  // observes nor carries) and the number of completions.
  const int subgroups = static_cast<int>(model.SubgroupPattern.size());
  std::vector<std::vector<char>> drops(subgroups, std::vector<char>(n, 0));
  for (int g = 0; g < subgroups; ++g) {
    for (int r = 0; r < n; ++r) {
      for (int v = first; v < model.VariableCount; ++v) {
        if (model.submodels[r].SubmodelVariables[v] != 0 &&
            model.SubgroupPattern[g][v - first] == 0) {
          drops[g][r] = 1;
        }
      }
    }
  }

  est.pattern_start.assign(patterns + 1, 0);
  std::int64_t total = 0;
  for (std::int64_t p = 0; p < patterns; ++p) {
    est.pattern_start[p] = total;
    total += static_cast<std::int64_t>(model.complete_cell_count[PatternSubgroup(data, p)]) * n;
  }
  est.pattern_start[patterns] = total;
  // The index maps live beside the fitted and expected tables and the data: together they stay
  // within the memory budget.
  run.CheckMemory(static_cast<double>(total) * sizeof(std::int32_t) +
                  static_cast<double>(est.FittedTable.size() + est.ExpectedTable.size()) *
                      sizeof(double) +
                  static_cast<double>(patterns) * kEntryBytes);
  est.cell_map = AllocIntArray(run, total);
  HazardWork& hazard = est.hazard;
  const bool with_hazard = hazard.table >= 0;
  if (with_hazard) {
    hazard.completion_start.assign(patterns + 1, 0);
    std::int64_t completions = 0;
    for (std::int64_t p = 0; p < patterns; ++p) {
      hazard.completion_start[p] = completions;
      completions += static_cast<std::int64_t>(model.complete_cell_count[PatternSubgroup(data, p)]);
    }
    hazard.completion_start[patterns] = completions;
    hazard.covariate_cell = AllocIntArray(run, completions);
  }

  // Each submodel's cell is first_cell plus the sum of category times stride over its
  // variables (mixed radix, last variable fastest).
  struct Stride {
    int variable;
    std::int64_t stride;
  };
  std::vector<std::vector<Stride>> strides(n);
  for (int r = 0; r < n; ++r) {
    const Submodel& submodel = model.submodels[r];
    std::int64_t stride = 1;
    for (int v = kVectorSize - 1; v >= 0; --v) {
      if (submodel.SubmodelVariables[v] == 0) continue;
      strides[r].push_back({v, stride});
      stride *= model.Dimension[v];
    }
  }

  std::vector<int> category(kVectorSize, 0);
  double largest = 1;
  for (std::int64_t p = 0; p < patterns; ++p) {
    const int g = PatternSubgroup(data, p);
    const Membership& pattern = model.SubgroupPattern[g];
    // The res variables' categories come from the subgroup number, first most significant.
    int rest = g;
    for (int v = model.ResCount - 1; v >= 0; --v) {
      category[v] = rest % model.Dimension[v];
      rest /= model.Dimension[v];
    }
    // The observed categories come from the cell number, last variable fastest. Cell numbers
    // stay below 1E18, so they decode exactly as 64-bit integers.
    auto cell = static_cast<std::uint64_t>(std::max(0.0, data.entry_cell[p]));
    for (int v = model.VariableCount - 1; v >= first; --v) {
      if (pattern[v - first] != 1) continue;
      const auto dim = static_cast<std::uint64_t>(model.Dimension[v]);
      category[v] = static_cast<int>(cell % dim);
      cell /= dim;
    }
    const auto completions = static_cast<std::int64_t>(model.complete_cell_count[g]);
    largest = std::max(largest, static_cast<double>(completions));
    // Completions: the latent and carried variables form one mixed-radix number, the latent
    // variables outermost, the last variable fastest.
    for (int v = model.ResCount; v < model.VariableCount; ++v) {
      if (v < first || pattern[v - first] == 2) category[v] = 0;
    }
    std::int32_t* map = est.cell_map.data() + est.pattern_start[p];
    for (std::int64_t k = 0; k < completions; ++k) {
      for (int r = 0; r < n; ++r) {
        if (drops[g][r]) {
          map[k * n + r] = -1;
          continue;
        }
        std::int64_t index = model.submodels[r].first_cell;
        for (const Stride& s : strides[r]) index += category[s.variable] * s.stride;
        map[k * n + r] = static_cast<std::int32_t>(index);
      }
      if (with_hazard) {
        std::int64_t c = 0;
        for (const auto& [v, stride] : hazard.covariate_strides) c += category[v] * stride;
        hazard.covariate_cell[hazard.completion_start[p] + k] = static_cast<std::int32_t>(c);
      }
      for (int v = model.VariableCount - 1; v >= model.ResCount; --v) {
        if (v >= first && pattern[v - first] != 2) continue;
        if (++category[v] < model.Dimension[v]) break;
        category[v] = 0;
      }
    }
  }
  est.posterior.assign(static_cast<std::size_t>(largest), 0.0);
}

void WriteIterationHeader(EstimationRun& run) {
  if (run.estimation.lsquared_column) {
    WriteLogLine(run, "  iteration   log-likelihood      stop-criterion         L-squared");
  } else {
    WriteLogLine(run, "  iteration   log-likelihood      stop-criterion");
  }
}

namespace {

// The expected tables from the product of every completion (value(k, cells): k the completion's
// number over all patterns, cells its submodel cells).
template <typename Value>
void AccumulateExpected(const EstimationRun& run, Value value, double* expected,
                        std::vector<double>& posterior) {
  const ModelState& model = run.model;
  const DataStore& data = run.data;
  const EstimationState& est = run.estimation;
  const int n = model.SubmodelCount;
  std::fill(expected, expected + est.FittedTable.size(), 0.0);
  posterior.resize(est.posterior.size());
  double* p = posterior.data();
  const std::int64_t patterns = data.EntryCount();
  for (std::int64_t h = 0; h < patterns; ++h) {
    const double weight = PatternWeight(data, h);
    const std::int32_t* map = est.cell_map.data() + est.pattern_start[h];
    const std::int64_t completions =
        (est.pattern_start[h + 1] - est.pattern_start[h]) / (n > 0 ? n : 1);
    const std::int64_t first = est.pattern_start[h] / (n > 0 ? n : 1);
    double sum = 0;
    for (std::int64_t k = 0; k < completions; ++k) {
      p[k] = value(first + k, map + k * n);
      sum += p[k];
    }
    if (sum <= kTableZero) continue;
    const double scale = weight / sum;
    for (std::int64_t k = 0; k < completions; ++k) {
      const double share = p[k] * scale;
      if (share == 0) continue;
      const std::int32_t* cells = map + k * n;
      for (int r = 0; r < n; ++r) {
        if (cells[r] >= 0) expected[cells[r]] += share;
      }
    }
  }
}

}  // namespace

double CompletionProduct(const double* fitted, const std::int32_t* cells, int n) {
  double value = 1;
  for (int r = 0; r < n; ++r) {
    if (cells[r] >= 0) value *= fitted[cells[r]];
  }
  return value;
}

void ExpectedCompleteTables(const EstimationRun& run, const double* fitted, double* expected,
                            std::vector<double>& posterior) {
  const int n = run.model.SubmodelCount;
  AccumulateExpected(
      run,
      [&](std::int64_t, const std::int32_t* cells) { return CompletionProduct(fitted, cells, n); },
      expected, posterior);
}

std::vector<double> CompletionProducts(const EstimationRun& run, const double* fitted) {
  const int n = run.model.SubmodelCount;
  const EstimationState& est = run.estimation;
  const std::int64_t total = est.pattern_start.empty() ? 0 : est.pattern_start.back();
  std::vector<double> products(n > 0 ? total / n : 0);
  for (std::size_t k = 0; k < products.size(); ++k) {
    products[k] = CompletionProduct(fitted, est.cell_map.data() + k * n, n);
  }
  return products;
}

void ExpectedCompleteTablesAfterChange(const EstimationRun& run,
                                       const std::vector<double>& products, int t,
                                       const double* factor, double* expected,
                                       std::vector<double>& posterior) {
  const ModelState& model = run.model;
  const std::int64_t first = static_cast<std::int64_t>(model.submodels[t].first_cell);
  const std::vector<int> sharing = SubmodelsSharingCells(model, t);
  AccumulateExpected(
      run,
      [&](std::int64_t k, const std::int32_t* cells) {
        double value = products[k];
        for (int r : sharing) {
          if (cells[r] >= 0) value *= factor[cells[r] - first];
        }
        return value;
      },
      expected, posterior);
}

Evaluation EvaluateModel(EstimationRun& run) { return Pass(run, PassKind::kEvaluate, nullptr); }

void EStep(EstimationRun& run, EStepMode mode, const PosteriorSink& sink) {
  EstimationState& est = run.estimation;
  const double previous = est.LogLikelihood;
  const PassKind kind = mode == EStepMode::kIterate ? PassKind::kIterate : PassKind::kPosteriors;
  est.LogLikelihood = Pass(run, kind, sink).log_likelihood;
  if (mode != EStepMode::kIterate) return;
  const bool lsquared = est.lsquared_column;
  if (est.ExcludedObservations > 0) {
    WriteLogLine(run, "  Warning: " + FormatReal(2, 2, est.ExcludedObservations) +
                          " observations are not used as a result of a sum");
    WriteLogLine(run, "            of zero of the posterior probabilities in " +
                          FormatReal(1, 1, est.excluded_patterns) + " cells");
  }
  run.StopCriterion = est.LogLikelihood - previous;
  std::string line = FormatReal(8, 0, run.IterationCount) + FormatReal(20, 8, est.LogLikelihood) +
                     FormatReal(20, 8, run.StopCriterion);
  if (lsquared) line += FormatReal(18, 8, 2 * est.HalfLSquared);
  est.iteration_history.push_back(
      {run.IterationCount, est.LogLikelihood, run.StopCriterion, 2 * est.HalfLSquared, lsquared});
  WriteLogLine(run, line);
}

}  // namespace tav
