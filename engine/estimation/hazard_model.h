#ifndef TAV_ENGINE_ESTIMATION_HAZARD_MODEL_H_
#define TAV_ENGINE_ESTIMATION_HAZARD_MODEL_H_

#include <cstdint>
#include <utility>
#include <vector>

#include "estimation/estimation_state.h"
#include "estimation/family_state.h"

namespace tav {

// The hazard part of an event-history model (haz).
//
// The hazard submodel's cells are (covariate cell c, interval j, risk k), the risk running
// fastest: cell (c * T + j) * K + k - 1 for the T intervals [t_j, t_(j+1)) of the time grid and
// the K risks (numbered from 1; a risk is a modelled transition a -> b of the transition
// table). Its fitted cells hold the rates lambda(c, j, k) between iterations; during the M-step
// they hold the fitted numbers of events, rate x exposure, and its expected cells the expected
// numbers of events of the E-step, so that its model terms are fitted by proportional fitting
// like any log-linear submodel (a Poisson model with the log exposure as offset).
//
// An episode runs in origin state a from its entry e to its exit x and ends with risk k (0: no
// event), its event counted g times (g = 1 but in single-spell mode). Its factor in the
// likelihood of a complete cell of covariate cell c is, by the kind of hazard:
//   0  piecewise-constant rates: exp(-Lambda) lambda(j1, k)^g, Lambda being the sum over the
//      risks q of state a and the intervals j of lambda(j, q) times the time spent in interval
//      j between e and x (Lambda capped at 500); j1 is the interval of the exit;
//   2, 3  rates with shapes alpha_q: the same, with the time spent in interval j replaced by
//      hi^alpha_q - lo^alpha_q (lo, hi the part of [e, x] in the interval), and the event's
//      factor (alpha_k x^(alpha_k - 1) lambda(j1, k))^g: the Weibull model with proportional
//      hazards when T = 1. Kind 2 keeps the shapes the input gives, kind 3 estimates them;
//   1  discrete time: the rates are the transition probabilities of each unit of time, those
//      of one origin state summing to 1 over its risks, its stay included. An episode
//      contributes the stay probabilities of every unit from e up to x - 1 and then
//      lambda(j1, k)^g; an episode that ends in its state (censored at x) has k = the stay.
//      Units are the length 1 of the grid; an interval longer than 1 has one probability for
//      all its units.
// The events, the exposures (the time at risk, kinds 2 and 3 the powered time above, kind 1 the
// units at risk) and the log times of the events that the E-step gives each complete cell, in
// proportion to its posterior probability, are the sufficient statistics of the M-step.
//
// The M-step in the visit of the hazard submodel: its design effects and the proportional
// fitting of its model terms (their families), then for kind 1 the scaling of every block of
// one covariate cell, interval and origin state to its expected total, so that the fit is the
// multinomial logit model of the transitions (the model terms without the risk variable are not
// identified in it); these steps are repeated until the fitted events settle. Then for kind 3
// the shape of every risk: Newton steps, each halved until it gains, on the expected
// complete-data log-likelihood of its events, E ln alpha + (alpha - 1) sum ln x - E ln S0(alpha)
// with S0 the sum of rate x exposure at alpha and the risk's common rate scale taken at its best
// (E / S0, carried by a margin that holds the risk variable; without one the scale is held and
// the last term is -S0), the whole update bounded to [-0.05, +0.25] per iteration. The episodes'
// parts at risk (HazardWork::spells) give S0 and its derivatives at any shape exactly.

// The hazard part of a fit as the E-step and its M-step use it: the state of the hazard family
// (families/hazard.cpp), made fresh for every fit and copied with it.
struct HazardWork : CopyableFamilyState<HazardWork> {
  int table = -1;  // the hazard submodel (SubmodelCount); -1 without a hazard part
  TimeModel kind = TimeModel::kPiecewiseConstant;
  std::int64_t covariate_cells = 0;
  int time_points = 1;
  int risks = 1;
  // Per hazard cell: the expected exposure.
  std::vector<double> exposure;
  // Kind 3, per risk (from 0): every part of an episode at risk of it, in a hazard cell (its
  // index in the covariate cell's block), from lo to hi, with the expected frequency f of its
  // complete cell; the shape's M-step evaluates the exposures at other shapes from them.
  struct Spell {
    std::int64_t cell = 0;
    double lo = 0;
    double hi = 0;
    double f = 0;
  };
  std::vector<std::vector<Spell>> spells;
  // Per risk (from 0): the expected number of events and the sum of their log exit times.
  std::vector<double> event_count, event_log_time;
  std::int64_t shape_offset = -1;  // the shapes of kinds 2 and 3, one per risk, in Multipliers
  std::vector<std::int32_t> risk_origin;  // per risk (from 0): its origin state
  std::vector<std::int32_t> stay_risk;    // per state: its stay risk (from 1), 0 for none
  // Per episode slot of the data: its entry and exit interval.
  std::vector<std::int32_t> entry_interval, exit_interval;
  // The covariate cell of completion number k (EstimationState::completion_start) at
  // covariate_cell[k] (filled by BuildIndexMaps), and the strides of the hazard submodel's
  // covariates.
  std::vector<std::int32_t> covariate_cell;
  std::vector<std::pair<int, std::int64_t>> covariate_strides;
};

// The hazard part of the run's fit (families/hazard.cpp). Through a run that cannot change, a
// fit without one (no hazard part, or not set up yet) reads an empty one, whose table is -1.
HazardWork& HazardWorkOf(EstimationRun& run);
const HazardWork& HazardWorkOf(const EstimationRun& run);

// Sets up the run's hazard part (HazardWorkOf): the intervals of every episode, the shapes, the
// exposures. Nothing without a hazard part.
void SetUpHazardPart(EstimationRun& run);

// Start values of the hazard submodel: its margins perturbed at random and multiplied
// together, the first margin scaled to a rate of about one event over the time grid (kind 1:
// probabilities, normalised per origin state); margins given with sth are taken as they are.
void StartHazardPart(EstimationRun& run);

// The logarithms of the hazard rates of the fitted table as it stands, each taken once, when it
// is first asked for: the E-step takes the same few rates for every record of a covariate
// cell. One per thread, and only while the rates do not change.
class LogRates {
 public:
  explicit LogRates(const EstimationRun& run);
  // Whether the hazard part is small enough for one per thread (2^20 cells).
  static bool Fits(const EstimationRun& run);
  // ln of the rate in interval j for risk q (from 1) of the block rates (CovariateBlock) of
  // covariate cell c; the rate must be positive.
  double Of(std::int64_t c, int j, int q) const;

 private:
  LogRates(const EstimationRun& run, const HazardWork& hazard);

  const double* rates_;
  std::int64_t block_;
  int risks_;
  mutable std::vector<double> logs_;  // NaN where not taken yet
};

// The E-step's part: the episodes of one observed pattern, their factor for a covariate cell,
// and the expected events and exposures they add.
class HazardPattern {
 public:
  // hazard is the run's hazard part (HazardWorkOf). With log_rates (which may be null) the
  // factors take their logarithms of the rates from it.
  HazardPattern(const EstimationRun& run, const HazardWork& hazard, std::int64_t pattern,
                const LogRates* log_rates = nullptr);
  // The hazard factor of the pattern's episodes in covariate cell c at the current rates,
  // computed once per covariate cell (a pattern's completions often share their cell).
  double Factor(std::int64_t c) const;
  // Adds f times the pattern's events and exposures to the expected tables of covariate cell c:
  // the events to the run's ExpectedTable, the exposures (kind 3 also the parts at risk) and
  // the events' counts and log times to hazard, the run's hazard part.
  void Accumulate(EstimationRun& run, HazardWork& hazard, std::int64_t c, double f) const;
  // Adds f times the pattern's events (in discrete time with the stays) and exposures to the
  // blocks events and exposure (time points x risks, of any covariate cell: they do not depend
  // on it): what Accumulate adds to the expected tables, into tables of the caller's.
  void AddCounts(double f, double* events, double* exposure) const;

 private:
  // Calls f(episode, entry interval, exit interval) for every episode of the pattern's slots
  // that holds one.
  template <typename F>
  void ForEachEpisode(F f) const {
    const EstimationRun& run = run_;
    for (int s = 0; s < slots_; ++s) {
      const std::size_t at = static_cast<std::size_t>(first_ + s);
      if (at >= run.data.episodes.size()) break;
      const Episode& episode = run.data.episodes[at];
      if (episode.event < 0) continue;
      f(episode, hazard_.entry_interval[at], hazard_.exit_interval[at]);
    }
  }

  const EstimationRun& run_;
  const HazardWork& hazard_;
  const LogRates* log_rates_;
  std::int64_t first_ = 0;  // of the pattern's episode slots
  int slots_ = 0;
  mutable std::vector<std::pair<std::int64_t, double>> factors_;  // per covariate cell
  double ComputeFactor(std::int64_t c) const;
};

// Sets the hazard part's expected tables (events in ExpectedTable, exposures and log times) to
// 0 before the E-step adds to them.
void ClearHazardExpectations(EstimationRun& run);

// The conversions between rates (between iterations) and fitted numbers of events (during the
// M-step): rate x exposure, and back (kind 1 normalises each origin's transition probabilities).
void HazardRatesToCounts(EstimationRun& run);
void HazardCountsToRates(EstimationRun& run);

// Kind 1: divides the rates of every origin state in every block of covariate cell and interval
// by their sum (blocks with sum 0 are left alone).
void NormaliseTransitionBlocks(const EstimationRun& run, double* rates);

// The hazard part's steps after its model terms were fitted (kind 1 block totals, kind 3
// shapes), with the fitted cells holding numbers of events; the shape update rescales the
// risk's fitted events and margin parameters to the best scale at the new shape.
void FitHazardBlocks(EstimationRun& run);
void UpdateHazardShape(EstimationRun& run);

// The survival of an episode of covariate cell c from entry to exit in origin state a, through
// the intervals j0 .. j1: exp(-Lambda) (kinds 0, 2, 3, Lambda capped at 500), and for kind 1
// the product of the stay probabilities of the units from entry up to exit (0 when one is not
// positive).
double EpisodeSurvival(const EstimationRun& run, std::int64_t c, int j0, int j1, int origin,
                       double exit, double entry);
// With log_rates, the logarithms of the stay probabilities come from it.
double DiscreteEpisodeSurvival(const EstimationRun& run, std::int64_t c, int j0, int j1, int origin,
                               double exit, double entry, const LogRates* log_rates = nullptr);

// The interval of a time: the number of inner boundaries t_1 .. t_(T-1) below it (exit) or not
// above it (entry).
int ExitInterval(const EventHistoryState& history, double time);
int EntryInterval(const EventHistoryState& history, double time);

// The fit of the hazard part on its own: over the hazard cells with expected events r * e > 0,
// Pearson's X^2 = sum (f - r e)^2 / (r e) and L^2 = 2 sum f ln(f / (r e)) of the events f, and
// the log-likelihood of the event histories given the covariates: sum f ln r - r e, plus for
// kinds 2 and 3 the sum over events of ln alpha + (alpha - 1) ln x, and for kind 1 sum f ln r
// over all transitions, the stays included (the likelihood of the binomial or multinomial
// model; r e sums to the units at risk, which no likelihood holds). zero_rates counts the cells
// with r e <= 0.
struct HazardFit {
  double x_squared = 0;
  double l_squared = 0;
  double log_likelihood = 0;
  std::int64_t zero_rates = 0;
};
HazardFit HazardPartFit(const EstimationRun& run);

// The shape of risk k (from 1); 1 outside kinds 2 and 3.
double HazardShape(const EstimationRun& run, int k);

}  // namespace tav

#endif  // TAV_ENGINE_ESTIMATION_HAZARD_MODEL_H_
