#ifndef TAV_ENGINE_INPUT_EFFECT_TERMS_H_
#define TAV_ENGINE_INPUT_EFFECT_TERMS_H_

#include <string>

#include "input/input_run.h"
#include "input/reader.h"

namespace tav {

// Reads a restricted effect specification (cov, eff, fac, fix, wei, lin, log, mar, spe) whose
// first word is in reader.word, and adds its designs to submodel number submodel. The
// submodel's variables are the first variable_count variables marked in its
// SubmodelVariables; submodel_term names it in messages. Leaves reader.word at the
// specification's closing ")".
void ParseRestrictedEffect(Reader& reader, InputRun& run, int submodel, int variable_count,
                           const std::string& submodel_term);

// Reads an association model (ass, ass1, ass2, ass3) whose first word is in reader.word
// and adds its row and column effects to submodel number submodel.
void ParseAssociation(Reader& reader, InputRun& run, int submodel, int variable_count,
                      const std::string& submodel_term);

// The number of parameters of the prespecified (spe) model for the variables marked in term
// (per variable, over all variables).
int SpecialParamCount(const InputRun& run, SpecialModel special, const Membership& term);

}  // namespace tav

#endif  // TAV_ENGINE_INPUT_EFFECT_TERMS_H_
