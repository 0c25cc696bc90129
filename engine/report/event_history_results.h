#ifndef TAV_ENGINE_REPORT_EVENT_HISTORY_RESULTS_H_
#define TAV_ENGINE_REPORT_EVENT_HISTORY_RESULTS_H_

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "newton/run_state.h"

namespace tav {

// The hazard part of an event-history model at the fitted values, as the results document and
// the plots show it.
//
// Covariate cell g (from 0) of the hazard submodel, interval t (from 0) of the time grid
// t_0 < ... < t_T and risk k (from 1) have the estimated rate lambda(g, t, k) (in discrete
// time the transition probability), the expected number of events and the exposure (both from
// the data, NaN when the data were simulated). A state a that can be left (some risk a -> b,
// b != a) has the survival S_g,a(x) of an episode of cell g that starts in a at t_0 and is
// still there at x (EpisodeSurvival): in continuous time exp(-sum_q Lambda_q(x)) over the risks
// of leaving a, Lambda_q growing within interval t by lambda(g, t, q) (x - t_t) (with a shape
// alpha_q by lambda(g, t, q) (x^alpha_q - t_t^alpha_q)); in discrete time the product of the
// stay probabilities of the units up to x.
//
// The survival curve of cell g and state a is what a plot draws of S_g,a: it starts at
// (t_0, 1); in continuous time each interval [t_t, t_(t+1)] adds the points at
// t_t + (t_(t+1) - t_t) j / kSurvivalCurveSteps for j = 1 .. kSurvivalCurveSteps (the last one
// the interval's end, the others S_g,a(t_t) times the survival from t_t to the point, which is
// S_g,a there while the cumulative hazard stays below EpisodeSurvival's cap of 500); in
// discrete time, where the survival falls only at the ends of the
// units, each interval adds the step at its end, (t_(t+1), S before) and (t_(t+1), S at the
// end). An interval whose end survival is not finite is left out.
inline constexpr int kSurvivalCurveSteps = 16;

struct EventHistoryResults {
  bool hazard_part = false;  // the rest is empty without one
  TimeModel kind = TimeModel::kPiecewiseConstant;
  std::vector<double> time_boundaries;
  struct Risk {
    int risk = 0;  // from 1
    int origin = 0;
    int destination = 0;
    double shape = NAN;  // with shapes (kinds 2 and 3) only
  };
  std::vector<Risk> risks;  // by risk number
  bool shapes = false;
  std::vector<std::string> covariates;  // the labels of the covariates, in variable order
  struct Cell {
    std::vector<int> covariates;  // the categories (from 1), in the order of covariates
    int interval = 0;             // from 1
    int risk = 0;                 // from 1
    double rate = 0;
    double events = 0;
    double exposure = 0;
  };
  std::vector<Cell> cells;  // covariate cell by covariate cell, interval by interval, by risk
  struct Survival {
    std::vector<int> covariates;
    int interval = 0;  // from 1
    int origin = 0;
    double survival = 0;  // to the end of the interval
  };
  std::vector<Survival> survival;  // covariate cell, interval, then origin, each ascending
  struct Curve {
    std::vector<int> covariates;
    int origin = 0;
    std::vector<std::pair<double, double>> points;  // (time, survival)
  };
  std::vector<Curve> curves;  // covariate cell, then origin, each ascending
};

// The states that can be left (some risk to another state), ascending.
std::vector<int> LeavableStates(const EventHistoryState& history);

// S_g,a at the end of interval t (from 0).
double IntervalEndSurvival(const RunState& run, std::int64_t g, int t, int a);

// The hazard part's results; empty (no cells) without a hazard part.
EventHistoryResults ComputeEventHistory(const RunState& run);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_EVENT_HISTORY_RESULTS_H_
