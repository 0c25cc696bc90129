#ifndef TAV_ENGINE_ESTIMATION_SUBMODEL_FORM_H_
#define TAV_ENGINE_ESTIMATION_SUBMODEL_FORM_H_

#include "estimation/estimation_state.h"

namespace tav {

// Moving a parameter keeps a submodel's form: SubmodelTotal is the total of the cells of
// submodel 0 (0 for the others), taken before the move; RestoreSubmodelForm then scales
// submodel 0 back to it, divides another submodel by its conditioning margin again, and leaves
// the hazard part's rates as they are (normalising its transition probabilities in discrete
// time).
double SubmodelTotal(const EstimationRun& run, int r, const double* cells);
void RestoreSubmodelForm(const EstimationRun& run, int r, double* cells, double total);

}  // namespace tav

#endif  // TAV_ENGINE_ESTIMATION_SUBMODEL_FORM_H_
