#ifndef TAV_ENGINE_DATA_DATA_RUN_H_
#define TAV_ENGINE_DATA_DATA_RUN_H_

#include "core/run_context.h"
#include "data/data_store.h"
#include "data/design_store.h"
#include "data/settings.h"

namespace tav {

// The run as the settings section and the data and design readers fill it: the settings as
// parsed, the observed data and the user designs.
struct DataRun : RunContext {
  Settings settings;
  DataStore data;
  DesignStore designs;
};

}  // namespace tav

#endif  // TAV_ENGINE_DATA_DATA_RUN_H_
