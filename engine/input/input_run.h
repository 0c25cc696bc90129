#ifndef TAV_ENGINE_INPUT_INPUT_RUN_H_
#define TAV_ENGINE_INPUT_INPUT_RUN_H_

#include "core/event_history.h"
#include "core/model_state.h"
#include "core/run_context.h"

namespace tav {

// The run while its input file is read: the context every layer shares, and the model and
// the event-history set-up that the model, event-history and record-format sections fill. The
// parse hands them on in the parsed run (ParsedRun, data/parsed_run.h), which every later step
// reads only.
struct InputRun : RunContext {
  ModelState model;
  EventHistoryState history;
};

}  // namespace tav

#endif  // TAV_ENGINE_INPUT_INPUT_RUN_H_
