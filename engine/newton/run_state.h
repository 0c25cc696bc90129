#ifndef TAV_ENGINE_NEWTON_RUN_STATE_H_
#define TAV_ENGINE_NEWTON_RUN_STATE_H_

#include <cstdint>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "estimation/estimation_state.h"
#include "newton/newton_state.h"

namespace tav {

// Two random starts whose log-likelihoods, extrapolated to where their fits were heading
// (RandomStartOutcome::limit), lie this close reached the same maximum (StartsAtBest). EM stops
// short of a maximum by about the last change times r / (1 - r), r its rate of convergence: with
// the default criterion that can be 0.001 and more, so the log-likelihoods themselves cannot tell
// two maxima that lie 0.001 apart, while their extrapolations agree to 1E-5 and better.
inline constexpr double kSameMaximum = 1e-4;

// One fit of a run with random starts (`rst`).
struct RandomStartOutcome {
  int start = 0;  // from 1
  std::int32_t seed = 0;
  // The fit stopped on an error (its message, without the margin, in error).
  bool failed = false;
  std::string error;
  double log_likelihood = 0;
  // The log-likelihood the fit was heading for: with the last two stop criteria s1 (the one
  // before) and s2 both above 0 and r = s2 / s1 below 1, log_likelihood + s2 r / (1 - r)
  // (Aitken's extrapolation of linear convergence), else log_likelihood itself.
  double limit = 0;
  int iterations = 0;
  bool converged = false;
};

// A fit with everything the report needs of it: the estimation (EstimationRun), the
// Newton-type estimation with the standard errors, and what the run did beside the fit. The
// report and the run driver work on it.
struct RunState : EstimationRun {
  using EstimationRun::EstimationRun;

  NewtonState newton;
  // The JSON results document (wjs) while the report is written; empty when none is asked for.
  std::shared_ptr<nlohmann::ordered_json> results;
  // The fits of the random starts in start order, when `rst` asked for them; the run's tables
  // then hold the best of them, fitted again from its seed.
  std::vector<RandomStartOutcome> random_starts;
  // With random starts: the start (from 1) whose fit the run's tables hold.
  int best_start = 0;
  // After data were simulated (sim): the number of records drawn, or the total weight of the
  // expected data, which the report gives as the sample size. The model keeps the total of 1
  // it was evaluated with.
  double simulated_total = 0;
};

// The parts a run owns besides its fit: its context, which the parse reads the input through,
// and the parsed run.
struct RunParts {
  DataRun input;
  ParsedRun parsed_input;
};

// A run that owns its context and its parsed input beside the fit, as the program and the tests
// hold one: the input is parsed through `input` (its RunContext is the fit's context) and then
// returned into `parsed_input` (ParseInput), which the fit reads as `parsed`.
struct ProgramRun : RunParts, RunState {
  ProgramRun() : RunState(input, parsed_input) {}
};

}  // namespace tav

#endif  // TAV_ENGINE_NEWTON_RUN_STATE_H_
