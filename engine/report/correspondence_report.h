#ifndef TAV_ENGINE_REPORT_CORRESPONDENCE_REPORT_H_
#define TAV_ENGINE_REPORT_CORRESPONDENCE_REPORT_H_

#include "newton/run_state.h"
#include "report/correspondence_analysis.h"

namespace tav {

// The report of a model with `cor`, which gets it instead of the ordinary one: the analysis
// of correspondence_analysis.h, rendered.
//
// The report: banner, input echo (unless nec), two empty lines, the title of the type, an
// empty line, then
//  * General *  one line per dimension: type 1 rho, the inertia lambda, the proportion, the
//    cumulative proportion and the X-squared left; type 2 lambda, lambda / K, the proportion and
//    the cumulative proportion; types 3 and 4 phi.
//  * Variables * (type 2), per shown dimension: per variable the discrimination measure and the
//    contribution, their totals (lambda and 1), and the lower triangle of the correlations.
//  * Categories *, per shown dimension: per category its weight, x, x sqrt(s), x s (not for
//    type 2) and (types 1 and 2) the contribution; rows first, then the columns.
//  * Objects * (type 2, CorrespondenceDim2 > 0): per cell of positive estimated frequency its
//    categories, the frequency and its scores; a line instead when they are not listed.
// then the plain-text result files that were asked for (wfi, wfr, wda, wco, wpa, wma), as the
// ordinary report writes them. The JSON document (wjs) gets the analysis under "correspondence"
// and no statistics section.
//
// A table the analysis cannot serve still gets its report, with the title and the line
// "WARNING: analysis left out: " and the reason, also written to the log as a warning; the run
// ends normally.

// Writes the report file run.context.OutputFileName for a model with `cor` of type t.
void WriteCorrespondenceReport(RunState& run, CorrespondenceKind t);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_CORRESPONDENCE_REPORT_H_
