// Event-history (hazard) models (haz): the hazard part of the model, fitted in the visit of the
// hazard submodel (estimation/hazard_model.h). Its design effects, association terms and model
// terms are fitted by their families, which also count and list their parameters; this family
// adds the blocks of discrete time, repeats the part's steps until they settle, and fits and
// lists the shapes.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "core/elementary.h"
#include "estimation/association_model.h"
#include "estimation/design_effects.h"
#include "estimation/families/families.h"
#include "estimation/hazard_model.h"
#include "estimation/m_steps.h"

namespace tav {
namespace {

// The directions of the hazard part's parameters (kinds 0 to 2, whose rates or transition
// probabilities move as exp(delta x)) over the hazard cells. A pattern's complete-data score in
// covariate cell c is s_i = sum x_i(cell) r(cell) over the cells of c, with its events d and
// exposures y: r = d - lambda y in continuous time, r = d - p D_b in discrete time (D_b the
// pattern's transitions from the cell's origin in its interval, stays included).
struct HazardDirections {
  TimeModel kind = TimeModel::kPiecewiseConstant;
  std::int64_t first = 0;  // the hazard submodel's first cell
  std::int64_t cells = 0;
  std::int64_t block = 0;  // cells per covariate cell: time points x risks
  int risks = 1;
  int origins = 1;
  std::size_t count = 0;                 // directions
  std::vector<std::vector<double>> x;    // per direction, per cell
  const std::int32_t* origin = nullptr;  // per risk (from 0) its origin state
};

HazardDirections DirectionsOver(const EstimationRun& run, std::vector<std::vector<double>> x) {
  HazardDirections hd;
  const HazardWork& hazard = HazardWorkOf(run);
  hd.count = x.size();
  if (hd.count == 0) return hd;
  const Submodel& submodel = run.model.submodels[hazard.table];
  hd.kind = hazard.kind;
  hd.first = static_cast<std::int64_t>(submodel.first_cell);
  hd.cells = static_cast<std::int64_t>(submodel.cell_count);
  hd.risks = hazard.risks;
  hd.block = static_cast<std::int64_t>(hazard.time_points) * hazard.risks;
  hd.origin = hazard.risk_origin.data();
  for (int q = 0; q < hazard.risks; ++q) hd.origins = std::max(hd.origins, hd.origin[q] + 1);
  hd.x = std::move(x);
  return hd;
}

// r over the cells of one covariate cell, from its rates (or transition probabilities) and
// the events d and exposures y there.
void HazardResidual(const HazardDirections& hd, const double* rates, const double* d,
                    const double* y, double* r) {
  if (hd.kind != TimeModel::kDiscrete) {
    for (std::int64_t cell = 0; cell < hd.block; ++cell) r[cell] = d[cell] - rates[cell] * y[cell];
    return;
  }
  std::vector<double> moves(hd.origins);
  for (std::int64_t j = 0; j * hd.risks < hd.block; ++j) {
    const std::int64_t at = j * hd.risks;
    std::fill(moves.begin(), moves.end(), 0.0);
    for (int q = 0; q < hd.risks; ++q) moves[hd.origin[q]] += d[at + q];
    for (int q = 0; q < hd.risks; ++q) {
      r[at + q] = d[at + q] - rates[at + q] * moves[hd.origin[q]];
    }
  }
}

// s_a = sum x_a(cell) r(cell) over the cells of covariate cell c.
void HazardScore(const HazardDirections& hd, std::int64_t c, const double* r, double* s) {
  for (std::size_t a = 0; a < hd.count; ++a) {
    const double* x = hd.x[a].data() + c * hd.block;
    double sum = 0;
    for (std::int64_t cell = 0; cell < hd.block; ++cell) sum += x[cell] * r[cell];
    s[a] = sum;
  }
}

// The hazard part in the pass over the data patterns: a completion's factor is that of the
// pattern's episodes in the completion's covariate cell; its expected sums are the pattern's
// events and exposures in the cells of that covariate cell (the sums: events of every hazard
// cell, then exposures).
class HazardPatternPart : public PatternPart {
 public:
  HazardPatternPart(const EstimationRun& run, std::shared_ptr<const HazardDirections> directions)
      : run_(run),
        hazard_(HazardWorkOf(run)),
        hd_(std::move(directions)),
        block_(static_cast<std::int64_t>(hazard_.time_points) * hazard_.risks),
        cells_(static_cast<std::int64_t>(hazard_.exposure.size())) {}

  std::unique_ptr<PatternPart> ForThread() const override {
    return std::make_unique<HazardPatternPart>(run_, hd_);
  }

  void BeginPattern(std::int64_t h) override {
    // The rows of a thread's part are made with its first pattern.
    if (static_cast<std::int64_t>(d_.size()) != block_) {
      d_.assign(block_, 0.0);
      y_.assign(block_, 0.0);
      r_.assign(block_, 0.0);
    }
    episodes_.emplace(run_, hazard_, h);
    covariate_cell_ = hazard_.covariate_cell.data() + run_.estimation.completion_start[h];
    std::fill(d_.begin(), d_.end(), 0.0);
    std::fill(y_.begin(), y_.end(), 0.0);
    episodes_->AddCounts(1.0, d_.data(), y_.data());
  }

  double Factor(std::int64_t k) const override { return episodes_->Factor(covariate_cell_[k]); }

  void AddExpected(std::int64_t k, double share, double* sums) const override {
    const std::int64_t at = covariate_cell_[k] * block_;
    for (std::int64_t cell = 0; cell < block_; ++cell) {
      sums[at + cell] += share * d_[cell];
      sums[cells_ + at + cell] += share * y_[cell];
    }
  }

  void Score(std::int64_t k, double* s) override {
    const HazardDirections& hd = *hd_;
    const std::int64_t c = covariate_cell_[k];
    HazardResidual(hd, run_.estimation.FittedTable.data() + hd.first + c * hd.block, d_.data(),
                   y_.data(), r_.data());
    HazardScore(hd, c, r_.data(), s);
  }

  // The score at the expected events and exposures.
  void AddScore(const std::vector<double>& sums, double* g) const override {
    const HazardDirections& hd = *hd_;
    const double* rates = run_.estimation.FittedTable.data() + hd.first;
    std::vector<double> r(hd.block), s(hd.count);
    for (std::int64_t c = 0; c * hd.block < hd.cells; ++c) {
      HazardResidual(hd, rates + c * hd.block, sums.data() + c * hd.block,
                     sums.data() + cells_ + c * hd.block, r.data());
      HazardScore(hd, c, r.data(), s.data());
      for (std::size_t a = 0; a < hd.count; ++a) g[a] += s[a];
    }
  }

  // The complete-data information at the expected events and exposures: sum x_a x_b lambda Y
  // in continuous time, sum_b D_b Cov_b(x_a, x_b) over the blocks of covariate cell, interval
  // and origin in discrete time.
  void Information(const std::vector<double>& sums, std::vector<double>& block) const override {
    const HazardDirections& hd = *hd_;
    const std::size_t nh = hd.count;
    const double* rates = run_.estimation.FittedTable.data() + hd.first;
    const double* events = sums.data();
    const double* exposure = sums.data() + cells_;
    auto x = [&](std::size_t a, std::int64_t cell) { return hd.x[a][cell]; };
    std::vector<double> value(nh * nh, 0.0);
    if (hd.kind != TimeModel::kDiscrete) {
      for (std::int64_t cell = 0; cell < hd.cells; ++cell) {
        const double w = rates[cell] * exposure[cell];
        if (w == 0) continue;
        for (std::size_t a = 0; a < nh; ++a) {
          const double xa = x(a, cell);
          if (xa == 0) continue;
          for (std::size_t b = a; b < nh; ++b) value[a * nh + b] += w * xa * x(b, cell);
        }
      }
    } else {
      std::vector<double> mean(nh);
      for (std::int64_t at = 0; at < hd.cells; at += hd.risks) {
        for (int o = 0; o < hd.origins; ++o) {
          double moves = 0;
          std::fill(mean.begin(), mean.end(), 0.0);
          for (int q = 0; q < hd.risks; ++q) {
            if (hd.origin[q] != o) continue;
            moves += events[at + q];
            for (std::size_t a = 0; a < nh; ++a) mean[a] += rates[at + q] * x(a, at + q);
          }
          if (moves == 0) continue;
          for (int q = 0; q < hd.risks; ++q) {
            if (hd.origin[q] != o) continue;
            for (std::size_t a = 0; a < nh; ++a) {
              for (std::size_t b = a; b < nh; ++b) {
                value[a * nh + b] += moves * rates[at + q] * x(a, at + q) * x(b, at + q);
              }
            }
          }
          for (std::size_t a = 0; a < nh; ++a) {
            for (std::size_t b = a; b < nh; ++b) value[a * nh + b] -= moves * mean[a] * mean[b];
          }
        }
      }
    }
    block.assign(nh * nh, 0.0);
    for (std::size_t a = 0; a < nh; ++a) {
      for (std::size_t b = a; b < nh; ++b) {
        block[a * nh + b] = value[a * nh + b];
        block[b * nh + a] = value[a * nh + b];
      }
    }
  }

 private:
  const EstimationRun& run_;
  const HazardWork& hazard_;
  std::shared_ptr<const HazardDirections> hd_;
  std::int64_t block_;
  std::int64_t cells_;
  std::vector<double> d_, y_, r_;
  std::optional<HazardPattern> episodes_;
  const std::int32_t* covariate_cell_ = nullptr;
};

// The hazard part's M-step is repeated at most this often, until no fitted number of events
// changes by more than kSettled (relative to it, or absolutely below 1).
constexpr int kInnerPasses = 100;
constexpr double kSettled = 1e-10;

bool IsHazard(const EstimationRun& run, int r) {
  return run.history.HazardModel && r == run.model.SubmodelCount;
}

class Hazard : public ModelFamily {
 public:
  std::string_view Name() const override { return "event history models"; }

  // The hazard part of the fit (HazardWork), set up with the estimation's tables.
  std::unique_ptr<FamilyState> NewState() const override { return std::make_unique<HazardWork>(); }

  // While the Newton-type iterations estimate the hazard part, they move its shapes too.
  void FitSubmodel(EstimationRun& run, int r) const override {
    if (!IsHazard(run, r)) return;
    const Settings& settings = run.settings;
    const bool em_steps = run.estimation.iteration <= settings.newton_start_iteration ||
                          settings.newton_algorithm == NewtonAlgorithm::kNewtonRaphsonWithEm;
    if (!em_steps && run.estimation.free_parameters.Fits(r)) return;
    FitHazardBlocks(run);
    // The expected events and exposures stay what they are within the M-step, and the hazard
    // part's steps are cheap beside an E-step over the records: they are repeated until its
    // fitted events settle, so that an iteration ends near the maximum of the M-step.
    if (run.estimation.iteration > 0) {
      EstimationState& est = run.estimation;
      const Submodel& hazard = run.model.submodels[r];
      const auto first = est.FittedTable.begin() + hazard.first_cell;
      const auto cells = static_cast<std::int64_t>(hazard.cell_count);
      for (int pass = 0; pass < kInnerPasses; ++pass) {
        const std::vector<double> before(first, first + cells);
        FitDesignEffects(run, r);
        // The first step of the association terms gives them their start (iteration 1).
        if (run.estimation.iteration > 1) FitAssociationTerms(run, r);
        FitModelTerms(run, r);
        FitHazardBlocks(run);
        double change = 0;
        for (std::int64_t c = 0; c < cells; ++c) {
          change = std::max(change, std::fabs(first[c] - before[c]) / std::max(1.0, before[c]));
        }
        if (change < kSettled) break;
      }
    }
    UpdateHazardShape(run);
  }

  // The estimated shapes, one per risk.
  std::int64_t ParameterCount(const EstimationRun& run, int t) const override {
    return IsHazard(run, t) && run.history.TimeKind == TimeModel::kEstimatedShapes
               ? run.history.RiskCount
               : 0;
  }

  // An estimated shape (kind 3) is multiplied by exp(delta); the exposures follow it in the next
  // E-step. Its information stays with the finite differences of the log-likelihood, central
  // ones for the standard errors.
  bool Perturb(EstimationRun& run, const FreeParameter& parameter, double delta) const override {
    EstimationState& est = run.estimation;
    if (delta != 0) {
      est.Multipliers[HazardWorkOf(std::as_const(run)).shape_offset + parameter.position] *=
          Exp(delta);
    }
    return true;
  }
  bool CentralDifferences(const EstimationRun&, const FreeParameter&) const override {
    return true;
  }
  // The rates (or transition probabilities) of the hazard part enter the likelihood through
  // the factors of the patterns' episodes. Estimated shapes (kind 3) are not covered: the
  // exposures move with them.
  TableForm FormOfTable(const EstimationRun& run, int t, ParameterDirection::Kind) const override {
    const HazardWork& hazard = HazardWorkOf(run);
    if (t < 0 || t != hazard.table) return TableForm::kNotOwned;
    return hazard.kind == TimeModel::kEstimatedShapes ? TableForm::kUncovered
                                                      : TableForm::kPatterns;
  }
  bool FactorsCompletions(const EstimationRun& run) const override {
    return HazardWorkOf(run).table >= 0;
  }
  std::unique_ptr<PatternPart> NewPatternPart(const EstimationRun& run, int,
                                              std::vector<std::vector<double>> x) const override {
    if (HazardWorkOf(run).table < 0) return nullptr;
    return std::make_unique<HazardPatternPart>(
        run, std::make_shared<const HazardDirections>(DirectionsOver(run, std::move(x))));
  }
  std::int64_t PatternSumSize(const EstimationRun& run) const override {
    return 2 * static_cast<std::int64_t>(HazardWorkOf(run).exposure.size());
  }
  // A share's rows of events, exposures and residuals.
  double PatternWorkSize(const EstimationRun& run) const override {
    const HazardWork& hazard = HazardWorkOf(run);
    return hazard.table >= 0 ? 3.0 * hazard.time_points * hazard.risks : 0.0;
  }

  void AddSubmodelValues(const EstimationRun& run, int r, SubmodelValues& values) const override {
    const HazardWork& hazard = HazardWorkOf(run);
    if (r == hazard.table && hazard.shape_offset >= 0) {
      values.ranges.emplace_back(hazard.shape_offset, hazard.risks);
    }
  }

  void ListFreeParameters(const EstimationRun& run, ParameterGroup group,
                          FreeParameterList& list) const override {
    if (group != ParameterGroup::kSpecialEffects || !run.history.HazardModel ||
        run.history.TimeKind != TimeModel::kEstimatedShapes) {
      return;
    }
    FreeParameter shape;
    shape.submodel = run.model.SubmodelCount;
    shape.shape = true;
    list.AddEffect(shape, run.history.RiskCount);
  }
};

}  // namespace

const ModelFamily& HazardFamily() {
  static const Hazard family;
  return family;
}

HazardWork& HazardWorkOf(EstimationRun& run) { return StateOf<HazardWork>(run, HazardFamily()); }

const HazardWork& HazardWorkOf(const EstimationRun& run) {
  return StateOf<HazardWork>(run, HazardFamily());
}

}  // namespace tav
