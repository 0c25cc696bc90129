#include "data/data_reader.h"

namespace tav {

void ReadData(RunState&, TextFile&, bool) {}

}  // namespace tav
