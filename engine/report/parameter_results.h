#ifndef TAV_ENGINE_REPORT_PARAMETER_RESULTS_H_
#define TAV_ENGINE_REPORT_PARAMETER_RESULTS_H_

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace tav {

// The values of the "*** LOG-LINEAR PARAMETERS ***" section (and of "*** HAZARD PARAMETERS
// ***"), computed from the fitted state before the text report, the results document and the
// covariance file render them.

// The Wald test of a group of free parameters: W = b' V^-1 b over their block of the covariance
// matrix, its degrees of freedom (0: no test) and its chi-squared tail probability.
struct WaldFigures {
  double w = 0;
  int df = 0;
  double p = 0;
};

// The figures of one parameter: beta (ln of a multiplicative parameter, or a value shown as it
// is), its standard error and z-value (NaN where the report shows asterisks or nothing) and
// exp(beta) (NaN for a value shown as it is); for a cell of a table its categories, from 1.
struct ParameterFigures {
  std::vector<int> categories;
  double beta = 0, std_err = NAN, z = NAN, exp_beta = 0;
};

// One cell of an effect in a submodel's table. Where a fitted margin cell gave no value the
// cell is not estimated: its beta and exp(beta) are NaN.
struct EffectCell {
  std::string label;  // "main" for the constant, else its categories, each and a blank
  bool estimated = false;
  // Its place in the free-parameter list when the table shows standard errors and it is a free
  // parameter away from the reference categories; -1 otherwise (blank columns).
  int position = -1;
  ParameterFigures figures;
};

// One effect of a submodel's table: its cells in mixed radix over its variables (the last
// fastest), unless it has too many to list, and the Wald test of those with standard errors.
struct EffectResults {
  std::string term;       // its variables' labels
  bool constant = false;  // no variables: the line "main" without a heading
  bool listed = true;
  std::vector<EffectCell> cells;
  WaldFigures wald;
};

// The table of one submodel.
struct TableResults {
  int submodel = 0;
  std::string term;               // the submodel's variables' labels
  bool labelled = false;          // a submodel of the model (not the hazard part)
  std::string label;              // its probability label, P(...), when labelled
  std::int64_t zero_margins = 0;  // fitted margin parameters that are exactly 0
  bool r_squared_shown = false;   // a normal cumulative model
  double r_squared = 0, r = 0;
  bool exp_beta = false;               // the table has the exp(beta) column
  std::vector<EffectResults> effects;  // in report order
};

// One parameter line of a block: its label (the line pads it to 12), whether ln x is shown (x
// positive; asterisks otherwise), its place in the free-parameter list (-1: blank standard-error
// columns) and its figures (beta ln x / scale, exp(beta) its exponential, infinite where that
// exceeds the range of a double).
struct BlockRow {
  std::string label;
  bool positive = false;
  int position = -1;
  ParameterFigures figures;
};

// One side of an association term's values (ScoreSide), with per value its standard error (NaN
// where its variance is not positive) and whether the term's free parameters move it.
struct SideResults {
  std::string label;
  std::vector<double> values;
  int n = 0;
  int group = 0;
  bool parameter = false;
  bool std_errors = false;  // lines of standard errors follow its lines
  std::vector<double> std_errs;
  std::vector<char> estimated;
  // The figures the results document lists, per value of its blocks (none for values shown on
  // their own): the value as beta, its standard error and z-value.
  std::vector<ParameterFigures> recorded;
};

// A block after a table: a family's (ParameterBlock, estimation/model_family.h) or the shape
// parameters of the hazard part.
struct BlockResults {
  enum class Kind {
    kTableHeading,  // "* ALL TABLES *" and a column header
    kParameters,    // parameter lines, with standard errors when shown, and a Wald test
    kRestrictions,  // parameter lines without standard-error columns
    kAssociation,   // an association term's sides, then an empty line
    kShapes,        // "alpha" lines, with their standard errors when estimated
  };
  Kind kind = Kind::kParameters;
  std::string table;  // for the results document: the table's term, or "all"
  std::string heading;
  bool heading_line = true;
  bool exp_beta = false;    // the lines have the exp(beta) column
  bool std_errors = false;  // the lines have standard-error columns
  std::vector<BlockRow> rows;
  WaldFigures wald;  // on the last row's line
  std::vector<std::string> notes;
  std::vector<SideResults> sides;
};

// A submodel's part of the section: its table (unless it has no parameters of its own), the
// blocks after it and those after the empty line that ends it.
struct SubmodelParameters {
  bool table_shown = true;
  TableResults table;
  std::vector<BlockResults> after_table;
  std::vector<BlockResults> after_end;
};

// The covariance file of the parameters shown with a standard error, in the order shown: their
// standard errors and, below the diagonal, correlations, then variances and covariances; NaN
// where the file shows asterisks. Rows are lower triangles (row i has i + 1 entries).
struct CovarianceResults {
  std::vector<int> positions;
  std::vector<std::vector<double>> correlations;  // the standard error on the diagonal
  std::vector<std::vector<double>> covariances;
};

struct ParameterResults {
  bool std_errors = false;     // standard errors were asked for and computed
  bool section_shown = false;  // the heading and the tables of submodels
  std::vector<SubmodelParameters> submodels;
  std::vector<BlockResults> after_submodels;
  bool hazard_shown = false;
  SubmodelParameters hazard_part;
  bool covariance_file = false;
  CovarianceResults covariances;
};

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_PARAMETER_RESULTS_H_
