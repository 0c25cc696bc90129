#include "input/setup_passes.h"

namespace tav {

void LayOutSubmodels(RunState&) {}
void SizeAssociationArrays(RunState&) {}
void InitialiseParameterArrays(RunState&) {}
void IndexRestrictedSubmodels(RunState&) {}
void FinishLayout(RunState&) {}
void IndexDataRecords(RunState&) {}

}  // namespace tav
