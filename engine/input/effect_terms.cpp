#include "input/effect_terms.h"

namespace tav {

void ParseRestrictedEffect(RunState&, int, int, const std::string&) {}
void ParseAssociation(RunState&, int, int, const std::string&) {}
int SpecialParamCount(const RunState&, int, const Membership&) { return 0; }

}  // namespace tav
