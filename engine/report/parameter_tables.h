#ifndef TAV_ENGINE_REPORT_PARAMETER_TABLES_H_
#define TAV_ENGINE_REPORT_PARAMETER_TABLES_H_

#include <string>
#include <vector>

#include "newton/run_state.h"
#include "report/loglinear_effects.h"
#include "report/parameter_results.h"

namespace tav {

// The column-header line of a table: beta, with standard errors their columns and the Wald
// test's, and the exp(beta) column where the table has one.
std::string ColumnHeader(bool std_errors, bool exp_beta);
// The column-header line of submodel t's table.
std::string WriteColumnHeader(const RunState& run, int t);

// The "*** LOG-LINEAR PARAMETERS ***" section for submodels first .. SubmodelCount - 1 (the
// tables and the families' blocks), the blocks after all submodels, the "*** HAZARD PARAMETERS
// ***" of an event-history model, and the covariance file of the parameters shown with a
// standard error when `wse` asked for it.
ParameterResults ComputeParameters(const RunState& run, int first);
void WriteParameterSection(const ParameterResults& results, TextFile& out);
// The `wse` file: standard errors and correlations, then variances and covariances.
void WriteCovarianceFile(const CovarianceResults& covariances, TextFile& file);
// The section into the report and, when results asks for it, the covariance file.
void WriteParameterResults(RunState& run, const ParameterResults& results);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_PARAMETER_TABLES_H_
