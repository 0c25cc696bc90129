#include "estimation/restricted_submodels.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/elementary.h"
#include "core/format_real.h"
#include "core/log.h"
#include "core/stop_run.h"
#include "data/design_reader.h"

namespace tav {
namespace {

constexpr double kCellFloor = 1e-10;
// A restriction whose value at the estimates is further than this from its target is not met.
constexpr double kMetTolerance = 1e-4;
// Steps divided by more than this move nothing a double can show.
constexpr double kLargestStepDivisor = 1e12;

// The restriction values of design d of submodel source (a term of a lin() or log() item)
// added to the work's values over the cells of submodel r, which it restricts.
void AddTermValues(const EstimationRun& run, int source, int d, int r, RestrictionWork& work) {
  const ModelState& model = run.model;
  const MarginShape shape(model, model.submodels[r], model.submodels[source].designs[d].Term());
  const std::int64_t n = shape.margin_cells();
  const std::int64_t start = run.designs.design_slots[source][d].real_start;
  for (int k = 0; k < work.parameters; ++k) {
    double* z = work.z.data() + static_cast<std::ptrdiff_t>(k) * work.cells;
    shape.ForEach([&](std::int64_t cell, std::int64_t c) {
      z[cell] += StoreValue(run.designs.real_design, start + k * n + c);
    });
  }
}

// The submodel's state a failed step goes back to.
struct Saved {
  std::vector<double> tau;
  std::vector<double> additive;
  std::vector<double> denominator;
};

// The tables of submodel r that a pass changes, with the multipliers of its restrictions.
class SubmodelTables {
 public:
  // The first submodel's frequencies enter as proportions of their total, so that its
  // restrictions, like those of the other submodels, are on probabilities.
  SubmodelTables(EstimationRun& run, int r)
      : run_(run),
        state_(LinLogStateOf(run)),
        first_(run.model.submodels[r].first_cell),
        cells_(static_cast<std::int64_t>(run.model.submodels[r].cell_count)) {
    if (r == 0) {
      double total = 0;
      for (std::int64_t c = 0; c < cells_; ++c) total += Expected()[c];
      total_ = total > 0 ? total : 1.0;
    }
  }
  double* Additive() { return state_.additive.data() + first_; }
  double* Denominator() { return state_.denominator.data() + first_; }
  const double* Expected() const { return run_.estimation.ExpectedTable.data() + first_; }
  // The expected value of cell c (a proportion in the first submodel).
  double Count(std::int64_t c) const { return Expected()[c] / total_; }
  double Probability(std::int64_t c) {
    return (Count(c) + kCellFloor + Additive()[c]) / Denominator()[c];
  }
  // The fitted value of cell c: the probability, a frequency in the first submodel.
  double Fitted(std::int64_t c) { return Probability(c) * total_; }
  std::int64_t cells() const { return cells_; }

  void Save(int r, Saved& saved) {
    saved.tau.clear();
    for (const RestrictionWork& work : state_.restrictions[r]) {
      const auto begin = run_.estimation.Multipliers.begin() + work.offset;
      saved.tau.insert(saved.tau.end(), begin, begin + work.parameters);
    }
    saved.additive.assign(Additive(), Additive() + cells_);
    saved.denominator.assign(Denominator(), Denominator() + cells_);
  }
  void Restore(int r, const Saved& saved) {
    std::size_t at = 0;
    for (const RestrictionWork& work : state_.restrictions[r]) {
      std::copy_n(saved.tau.begin() + static_cast<std::ptrdiff_t>(at), work.parameters,
                  run_.estimation.Multipliers.begin() + work.offset);
      at += static_cast<std::size_t>(work.parameters);
    }
    std::copy(saved.additive.begin(), saved.additive.end(), Additive());
    std::copy(saved.denominator.begin(), saved.denominator.end(), Denominator());
  }

 private:
  EstimationRun& run_;
  LinLogState& state_;
  std::int64_t first_;
  std::int64_t cells_;
  double total_ = 1;
};

// One step of the restrictions of work, the columns' denominators first. Sets more when
// something still moves; returns false when the step failed.
bool RestrictionStep(EstimationRun& run, int r, const RestrictionWork& work, bool& more) {
  EstimationState& est = run.estimation;
  SubmodelTables tables(run, r);
  double* a = tables.Additive();
  double* b = tables.Denominator();
  const double step = est.restriction_step;
  const double still = 1e-10 / step * 2;
  {
    // The columns: the cells of the conditioning margin, all cells for the first submodel.
    const MarginShape& columns = est.condition_shapes[r];
    const std::int64_t count = columns.margin_cells();
    std::vector<double> s(count, -1.0);
    std::vector<double> t(count, 0.0);
    columns.ForEach([&](std::int64_t c, std::int64_t column) {
      const double m = tables.Probability(c);
      s[column] += m;
      t[column] += m / b[c];
    });
    bool failed = false;
    columns.ForEach([&](std::int64_t c, std::int64_t column) {
      if (run.estimation.iteration == 1 && b[c] == 1.0) {
        b[c] = s[column] + 1;
      } else if (t[column] != 0) {
        b[c] += 2 * s[column] / t[column] / step;
      }
      failed = failed || !(b[c] > 0);
    });
    for (std::int64_t column = 0; column < count; ++column) {
      if (t[column] != 0 && std::fabs(s[column] / t[column]) > still) more = true;
    }
    if (failed) return false;
  }
  double* tau = est.Multipliers.data() + work.offset;
  for (int k = 0; k < work.parameters; ++k) {
    const double* z = work.z.data() + static_cast<std::ptrdiff_t>(k) * work.cells;
    double s1 = -work.target[k];
    double s2 = 0;
    for (std::int64_t c = 0; c < work.cells; ++c) {
      if (z[c] == 0) continue;
      const double m = tables.Probability(c);
      if (work.log_form) {
        s1 += z[c] * (m > 0 ? Log(m) : -1e300);
        s2 += z[c] * z[c] / (tables.Count(c) + kCellFloor + a[c]);
      } else {
        s1 += z[c] * m;
        s2 += z[c] * z[c] * m / b[c];
      }
    }
    double delta = s2 != 0 && std::isfinite(s1) && std::isfinite(s2) ? 2 * s1 / s2 / step : 0.0;
    const double log_tau = Log(tau[k]);
    if (work.boundary && log_tau - delta <= 0) {
      delta = log_tau;
      ++est.BoundaryAdjustments;
    }
    tau[k] /= Exp(delta);
    bool failed = false;
    for (std::int64_t c = 0; c < work.cells; ++c) {
      if (z[c] == 0) continue;
      if (work.log_form) {
        a[c] -= z[c] * delta;
      } else {
        b[c] += z[c] * delta;
      }
      failed = failed || !(tables.Count(c) + kCellFloor + a[c] > 0) || !(b[c] > 0);
    }
    if (failed) return false;
    if (std::fabs(delta) > still) more = true;
  }
  return true;
}

}  // namespace

void SetUpRestrictedSubmodels(EstimationRun& run) {
  const ModelState& model = run.model;
  EstimationState& est = run.estimation;
  LinLogState& state = LinLogStateOf(run);
  state.restrictions.assign(model.submodels.size(), {});
  const int all = model.SubmodelCount + 1;
  const bool has_all = model.HasAllSubmodel && all < static_cast<int>(model.submodels.size());
  bool any = false;
  for (int r = 0; r < model.SubmodelCount; ++r) {
    const Submodel& submodel = model.submodels[r];
    if (!submodel.LinLogSubmodel || submodel.MarSubmodel != MarRestrictions::kNone) continue;
    const auto cells = static_cast<std::int64_t>(submodel.cell_count);
    // The submodel's own items, then those of `all` aimed at it.
    std::vector<int> sources = {r};
    if (has_all) sources.push_back(all);
    for (int source : sources) {
      const Submodel& items = model.submodels[source];
      for (int i = 0; i < items.DesignTermCount(); ++i) {
        const Design& design = items.designs[i];
        if (design.reserved || design.family != DesignFamily::kLinLog || !IsFreeDesign(items, i) ||
            design.DesignCountParam <= 0 || (source == all && design.target_submodel != r)) {
          continue;
        }
        any = true;
        RestrictionWork work;
        work.source = source;
        work.design = i;
        work.cells = cells;
        work.parameters = design.DesignCountParam;
        work.log_form = design.loglinear;
        const bool targets = design.DesignRestriction.WithTargets();
        work.boundary = design.DesignRestriction.Inequality();
        work.z = AllocRealArray(run.context, static_cast<std::int64_t>(work.parameters) * cells);
        std::fill(work.z.begin(), work.z.end(), 0.0);
        work.target.assign(work.parameters, 0.0);
        // The terms of the item, then the targets that the letters c and d reserve one
        // block of per term.
        for (int d = i; d < items.DesignTermCount(); ++d) {
          const Design& term = items.designs[d];
          if (d > i && (term.family != DesignFamily::kLinLog || IsFreeDesign(items, d))) break;
          if (!term.reserved) {
            AddTermValues(run, source, d, r, work);
          } else if (targets) {
            const std::int64_t start = run.designs.design_slots[source][d].real_start;
            for (int k = 0; k < work.parameters; ++k) {
              work.target[k] += StoreValue(run.designs.real_design, start + k);
            }
          }
        }
        work.offset = static_cast<std::int64_t>(est.Multipliers.size());
        est.Multipliers.resize(est.Multipliers.size() + work.parameters, 1.0);
        state.restrictions[r].push_back(std::move(work));
      }
    }
  }
  if (any) {
    state.additive.assign(est.FittedTable.size(), 0.0);
    state.denominator.assign(est.FittedTable.size(), 1.0);
  }
}

void FitRestrictedSubmodel(EstimationRun& run, int r) {
  EstimationState& est = run.estimation;
  LinLogState& state = LinLogStateOf(run);
  if (r < 0 || r >= static_cast<int>(state.restrictions.size()) || state.restrictions[r].empty()) {
    return;
  }
  SubmodelTables tables(run, r);
  if (run.estimation.iteration <= 0) {
    // The multipliers given as start values enter A or B.
    for (const RestrictionWork& work : state.restrictions[r]) {
      const double* tau = est.Multipliers.data() + work.offset;
      for (int k = 0; k < work.parameters; ++k) {
        const double log_tau = Log(tau[k]);
        const double* z = work.z.data() + static_cast<std::ptrdiff_t>(k) * work.cells;
        for (std::int64_t c = 0; c < work.cells; ++c) {
          if (work.log_form) {
            tables.Additive()[c] += z[c] * log_tau;
          } else {
            tables.Denominator()[c] += z[c] * log_tau;
          }
        }
      }
    }
    return;
  }
  const int boundary_on_entry = est.BoundaryAdjustments;
  const int active_on_entry = est.ActiveOrdinalRestrictions;
  Saved saved;
  bool more = true;
  int passes = 0;
  while ((more && passes < run.settings.max_inner_iterations) || est.restriction_step < 0) {
    more = false;
    if (est.restriction_step >= 0) {
      tables.Save(r, saved);
      ++passes;
    } else {
      tables.Restore(r, saved);
      est.restriction_step = std::fabs(est.restriction_step);
      WriteLogLine(run.context,
                   "  new stepsize for restrictions = " + FormatReal(2, 2, est.restriction_step));
    }
    est.BoundaryAdjustments = boundary_on_entry;
    est.ActiveOrdinalRestrictions = active_on_entry;
    for (const RestrictionWork& work : state.restrictions[r]) {
      if (!(est.restriction_step > 0)) break;
      if (!RestrictionStep(run, r, work, more)) {
        est.restriction_step *= -2;
        more = true;
        break;
      }
    }
    // Steps that fail however small they are: the restrictions ask for probabilities that
    // cannot be.
    if (est.restriction_step < -kLargestStepDivisor) {
      StopRun("  Error: the lin() and log() restrictions of subtable " +
              run.model.submodels[r].term + " cannot be met");
    }
  }
  double* fitted = est.FittedTable.data() + run.model.submodels[r].first_cell;
  for (std::int64_t c = 0; c < tables.cells(); ++c) fitted[c] = tables.Fitted(c);
}

void CheckRestrictionsMet(EstimationRun& run) {
  LinLogState& state = LinLogStateOf(run);
  for (int r = 0; r < static_cast<int>(state.restrictions.size()); ++r) {
    if (state.restrictions[r].empty()) continue;
    SubmodelTables tables(run, r);
    for (const RestrictionWork& work : state.restrictions[r]) {
      for (int k = 0; k < work.parameters; ++k) {
        const double* z = work.z.data() + static_cast<std::ptrdiff_t>(k) * work.cells;
        double value = -work.target[k];
        for (std::int64_t c = 0; c < work.cells; ++c) {
          if (z[c] == 0) continue;
          const double m = tables.Probability(c);
          value += z[c] * (work.log_form ? (m > 0 ? Log(m) : -1e300) : m);
        }
        const bool met =
            work.boundary ? value >= -kMetTolerance : std::fabs(value) <= kMetTolerance;
        if (!met || !std::isfinite(value)) {
          StopRun("  Error: the lin() and log() restrictions of subtable " +
                  run.model.submodels[r].term + " cannot be met");
        }
      }
    }
  }
}

}  // namespace tav
