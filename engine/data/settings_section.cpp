#include "input/sections.h"

namespace tav {

void ParseSettings(RunState&) {}

}  // namespace tav
