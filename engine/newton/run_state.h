#ifndef TAV_ENGINE_NEWTON_RUN_STATE_H_
#define TAV_ENGINE_NEWTON_RUN_STATE_H_

#include <memory>
#include <nlohmann/json_fwd.hpp>

#include "estimation/estimation_state.h"
#include "newton/newton_state.h"

namespace tav {

// Everything one run of the engine holds: the layers below (RunContext, DataRun,
// EstimationRun) and the Newton-type estimation with the standard errors. The report and the
// run driver work on it.
struct RunState : EstimationRun {
  NewtonState newton;
  // The JSON results document (wjs) while the report is written; empty when none is asked for.
  std::shared_ptr<nlohmann::ordered_json> results;
};

}  // namespace tav

#endif  // TAV_ENGINE_NEWTON_RUN_STATE_H_
