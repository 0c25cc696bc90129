#include "input/sections.h"
#include "input/reader.h"

namespace tav {

void ParseEventHistorySection(RunState&) {}

void ParseRecordFormatSection(RunState&) {}

}  // namespace tav
