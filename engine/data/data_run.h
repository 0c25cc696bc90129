#ifndef TAV_ENGINE_DATA_DATA_RUN_H_
#define TAV_ENGINE_DATA_DATA_RUN_H_

#include "data/data_store.h"
#include "data/design_store.h"
#include "data/settings.h"
#include "input/input_run.h"

namespace tav {

// The run as the settings section and the data and design readers fill it: the settings as
// parsed, the observed data and the user designs.
struct DataRun : InputRun {
  Settings settings;
  DataStore data;
  DesignStore designs;
};

}  // namespace tav

#endif  // TAV_ENGINE_DATA_DATA_RUN_H_
