#ifndef TAV_ENGINE_DATA_PARSED_RUN_H_
#define TAV_ENGINE_DATA_PARSED_RUN_H_

#include "core/event_history.h"
#include "core/model_state.h"
#include "data/data_run.h"
#include "data/data_store.h"
#include "data/design_store.h"
#include "data/settings.h"

namespace tav {

// What the input file says, read once: the model, the event-history set-up and record format,
// the settings, the observed data and the user designs. The estimation, the report and the
// random starts take it read-only; what a fit changes lives in its own state
// (EstimationState, estimation/estimation_state.h).
struct ParsedRun {
  ModelState model;
  EventHistoryState history;
  Settings settings;
  DataStore data;
  DesignStore designs;
};

// Moves what the parse left in run (ParseInput, data/parse_input.h) into a parsed run.
ParsedRun TakeParsedRun(DataRun& run);

}  // namespace tav

#endif  // TAV_ENGINE_DATA_PARSED_RUN_H_
