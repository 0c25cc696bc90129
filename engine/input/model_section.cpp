#include "input/sections.h"

namespace tav {

void ParseModelSection(RunState&) {}

}  // namespace tav
