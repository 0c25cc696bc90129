#ifndef TAV_ENGINE_REPORT_REPORT_COMPUTATIONS_H_
#define TAV_ENGINE_REPORT_REPORT_COMPUTATIONS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "estimation/model_family.h"
#include "newton/run_state.h"

namespace tav {

// Observed tables of more cells than this are not listed cell by cell: no frequencies section
// and no count of zero estimated frequencies.
inline constexpr std::int64_t kLargestListedTable = 163800;
// Complete tables (subgroups times latent classes times manifest cells) of more cells than this
// get no latent class output.
inline constexpr double kLargestLatentClassTable = 163800;

// The cells of the observed tables of all subgroups together.
std::int64_t ObservedCells(const ModelState& model);

// The line that stands in a section's (or a submodel's) place when it is left out because its
// table is too large: "  Not listed: the <table> has more than <cells> cells."
std::string NotListedText(const std::string& table, double cells);

// The computations the report sections share. They read the model as estimation left it:
// FittedTable holds frequencies for submodel 0 and conditional probabilities for the others.

// The probability that a chi-squared variable with df degrees of freedom exceeds x. The lower
// tail comes from the gamma series, summed until a term no longer changes the sum.
// x <= 0 gives 1 (a statistic below 0 is a perfect fit up to rounding); df <= 0 or x not a
// number give 0; beyond 4 sqrt(2 df) of the mean (df > 100) and where the series' leading
// factor falls below e^-25 the answer is 0 or 1 at once. Beyond kLargestSeriesDf degrees of
// freedom, where the series' logarithms lose the digits, the Wilson-Hilferty normal
// approximation to the cube root of x / df gives the tail.
inline constexpr std::int64_t kLargestSeriesDf = 1000000;
double ChiSquaredProbability(std::int64_t df, double x);

// The data of the run were drawn from the model (sim): nothing in the report compares the model
// with observed data. What would stands as a line of NotComputedText.
bool DataSimulated(const RunState& run);
std::string NotComputedText();
// A section left out for simulated data: an empty line, its heading, an empty line, the line
// of NotComputedText and an empty line.
void WriteNotComputedSection(TextFile& out, const std::string& heading);

// The complete table is small enough for the latent class output.
bool LatentClassOutputFits(const ModelState& model);

// The cumulative model of submodel t; nullptr unless it is a `cum` submodel.
const CumulativeForm* CumulativeFormOf(const ModelState& model, int t);

// Submodel t is a `cum` submodel of the normal model (i).
bool IsNormalCumulative(const ModelState& model, int t);

// True when variable v is a dependent variable of submodel t (in it, and for every submodel
// but the first not in its conditioning margin).
bool IsDependentIn(const ModelState& model, int t, int v);

// The estimated frequency of one cell of the complete table (every variable, `res` variables
// first, the last variable fastest): the product of the fitted values of all submodels at the
// cell, 0 as soon as one of them is 0.
double EstimatedCellFrequency(const RunState& run, std::int64_t cell);

// The estimated frequency of cell `cell` of subgroup `subgroup`'s observed table, summed over
// its completions (latent classes outermost, then the carried unobserved manifest variables,
// the last fastest). completions receives the estimated frequency of every completion.
double EstimatedObservedFrequency(const RunState& run, int subgroup, double cell,
                                  std::vector<double>& completions);
double EstimatedObservedFrequency(const RunState& run, int subgroup, double cell);

// The same for a table of the subgroup's own choosing: pattern (indexed by manifest variable,
// as SubgroupPattern) marks the variables of the table 1, those summed over 2 and those left
// out 0; a variable may be left out only where MarginPattern would leave it out (or where the
// subgroup's own pattern does). cell counts in the table of the variables marked 1.
double EstimatedObservedFrequency(const RunState& run, int subgroup, const Membership& pattern,
                                  double cell, std::vector<double>& completions);

// Every cell of that table (the last variable fastest), each summed over its completions in
// the same order as EstimatedObservedFrequency sums them.
std::vector<double> EstimatedPatternTable(const RunState& run, int subgroup,
                                          const Membership& pattern);

// The pattern of the margin of the manifest variables that observed marks (indexed by
// variable number) with as few variables summed over as the model allows: 1 for the marked
// variables, 0 for every variable of a set D that can be left out, 2 for the rest. D is the
// largest set in which every submodel that holds a variable of D is a conditional one (not the
// first submodel, which holds frequencies) with all its dependent variables in D: summed over
// D, the product of those submodels is 1. For a latent class model with every item given the
// latent variables alone, D is every variable but the marked ones.
Membership MarginPattern(const ModelState& model, const Membership& observed);

// The number of cells of the complete table: the product of every variable's categories.
long double CompleteTableCells(const ModelState& model);

// Calls visit(category, frequency) for every cell of the complete table in cell order (the last
// variable fastest): category holds the cell's category (from 0) of every variable, indexed by
// variable number, and frequency is the cell's estimated frequency (EstimatedCellFrequency).
using CellVisitor = std::function<void(const std::vector<int>& category, double frequency)>;
void VisitCompleteTable(const RunState& run, const CellVisitor& visit);

// Fills target[offset ...] with the margin of the estimated complete table over the flagged
// variables (in variable order, the last fastest). target grows when it is too short.
void CollapseTable(const RunState& run, const Membership& flags, std::vector<double>& target,
                   std::int64_t offset);

// "P(" dependent labels "|" conditioning labels ")" of submodel t; "P(" labels ")" when it has
// no conditioning variables (always for the first submodel).
std::string ConditionalLabel(const RunState& run, int t);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_REPORT_COMPUTATIONS_H_
