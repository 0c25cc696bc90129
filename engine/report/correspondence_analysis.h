#ifndef TAV_ENGINE_REPORT_CORRESPONDENCE_ANALYSIS_H_
#define TAV_ENGINE_REPORT_CORRESPONDENCE_ANALYSIS_H_

#include <string>
#include <vector>

#include "newton/run_state.h"

namespace tav {

// Correspondence analysis (type 1), multiple correspondence analysis (type 2) and association
// analysis (types 3 and 4, the second with uniform weights) of the estimated complete table.
// A model with `cor` gets its report (correspondence_report.h) instead of the ordinary one.
//
// The table. p is the estimated complete table as proportions: each estimated frequency divided
// by N, the total of the estimated complete table (the sample size whenever the model
// reproduces it). Types 1, 3 and 4 take a table of two variables: the rows are the categories
// of the first (I of them), the columns those of the second (J). Type 2 takes every variable of
// the complete table (K of them): rows and columns are alike all categories of all variables
// (I = J = their sum) and p is the Burt matrix divided by N, p_ij the proportion of the cells
// that have both categories (on a variable's own block the diagonal of its one-way margin).
//
// The weights w (masses) are the marginal proportions of each variable's categories, for type 4
// 1/I for every row and 1/J for every column.
//
// Z, I x J, is 0 where a weight is not positive and otherwise
//   types 1 and 2:  z_ij = (p_ij - w_i w_j) / sqrt(w_i w_j)
//   types 3 and 4:  z_ij = sqrt(w_i w_j) (l_ij - l_i. - l_.j + l..),  l = ln p, with the weighted
//                   means l_i. = sum_j w_j l_ij, l_.j = sum_i w_i l_ij, l.. = sum_ij w_i w_j l_ij.
// M = Z Z' (type 2: M = Z, the Burt matrix' own decomposition), with eigenvalues lambda_1 >=
// lambda_2 >= ... . For type 1 they are the principal inertias and sqrt(lambda) the canonical
// correlations; for type 2 they are K times the principal inertias of the indicator matrix (the
// eigenvalues of its homogeneity analysis times K); for types 3 and 4 sqrt(lambda) are the
// association parameters phi.
//
// Dimensions. D = min(I, J) - 1 (type 2: I - K), less every trailing eigenvalue of at most
// 1E-10. The general table shows all D; scores are computed for the first CorrespondenceDim1
// of them (and for type 2 also for the first CorrespondenceDim2, which the object scores use).
//
// Eigenvalues and vectors: the complete eigensystem of M (DecomposeSymmetric, cyclic Jacobi),
// every eigenvalue to working precision, tied ones included, largest first. v_d is the unit
// eigenvector of lambda_d in the unique form that routine gives it: the sign makes its first
// component of magnitude above 1e-6 negative, and the vectors of tied eigenvalues (the
// eigenvalue 1 that MCA gives a variable's contrasts uncorrelated with all other variables, a
// table of identical blocks) are the echelon basis of their eigenspace, the first the unit
// vector of the space with the largest part on the first category the space reaches.
//
// Scores on dimension d. Row scores x_i = v_i / sqrt(w_i), 0 where w_i <= 0: standard
// coordinates, sum_i w_i x_i = 0 and sum_i w_i x_i^2 = 1. Types 1, 3 and 4: column scores
// y_j = u_j / sqrt(w_j) with u = Z'v / sqrt(lambda_d), the unit eigenvector of Z'Z for
// lambda_d whose sign makes sqrt(lambda_d) x_i y_j reproduce z_ij better than its opposite.
//
// The figures, with T the sum of the D eigenvalues:
//  per dimension d: lambda_d, sqrt(lambda_d) (rho for type 1, phi for types 3 and 4),
//    lambda_d / K, the proportion lambda_d / T, the cumulative proportion c_d and the X-squared
//    that the dimensions before d leave, N (lambda_d + ... + lambda_D), taken as
//    N (T - (lambda_1 + ... + lambda_d) + lambda_d);
//  type 2, per scored dimension: per variable its contribution V = sum w x^2 - (sum w x)^2 over
//    its categories (the V add up to 1) and its discrimination measure V lambda_d; and per
//    shown dimension the correlations of the variables' scores under their estimated two-way
//    margins, (sum p_uv x_u x_v - m_u m_v) / sqrt(V_u V_v), m the weighted means, clamped to
//    [-1, 1]; 0 when a variable's scores do not vary on the dimension (V = 0);
//  per shown dimension and category: x, x sqrt(s) and x s with s = sqrt(lambda_d) (type 2:
//    s = lambda_d), and (types 1 and 2) the contribution x^2 w / V, V being the variance of the
//    scores within its variable (type 1) or sum x^2 w over all categories (type 2), 0 when V is
//    not positive;
//  type 2 with CorrespondenceDim2 > 0, the objects: per cell of positive estimated frequency
//    (cell order, the last variable fastest) its categories, the frequency and its scores
//    sum_k x_k / sqrt(lambda_d) on the first CorrespondenceDim2 dimensions: the standard row
//    coordinates of the indicator matrix, weighted mean 0 and variance 1. A complete table of
//    more than 163,800 cells has them not listed (objects_listed false).
//
// A table the analysis cannot serve gets no figures, only the reason (left_out): more than two
// variables for types 1, 3 and 4, a single variable for them, more than 90 row or column
// categories, a complete table of more than 12,500,000 cells (the largest table of the
// estimation), estimated frequencies that are not finite, no observations, for types 3 and 4
// an estimated frequency of 0 (whose logarithm does not exist), and no eigenvalue above 1E-10
// (nothing to decompose: no association at all, or no variable with two categories).

struct CorrespondenceAnalysis {
  CorrespondenceKind type = CorrespondenceKind::kNone;
  std::string left_out;  // why the analysis was left out; empty when it was made
  double total = 0;      // N
  int variables = 0;     // the variables analysed: K for type 2, else 2
  // The categories of the rows, then (types 1, 3 and 4) of the columns: their variable, the
  // category (from 0), the weight and the scores x on each scored dimension.
  struct Category {
    int variable = 0;
    int category = 0;
    bool column = false;
    double weight = 0;
    std::vector<double> scores;
  };
  std::vector<Category> categories;
  std::vector<double> eigenvalues;  // of the D dimensions, largest first
  int shown = 0;                    // dimensions of the categories block
  int objects = 0;                  // dimensions of the object scores (type 2)

  // Per dimension of the general table.
  struct Dimension {
    double eigenvalue = 0;
    double root = 0;  // sqrt(lambda): rho or phi
    double per_variable = 0;
    double proportion = 0;
    double cumulative_proportion = 0;
    double x_squared = 0;
  };
  std::vector<Dimension> dimensions;
  // Type 2: per scored dimension the contribution V and the discrimination measure V lambda of
  // every variable, and per shown dimension the correlations [u][w], w < u.
  std::vector<std::vector<double>> contributions;
  std::vector<std::vector<double>> discriminations;
  std::vector<std::vector<std::vector<double>>> correlations;
  // Per shown dimension, per category (in the order of categories).
  struct CategoryFigures {
    double x = 0;
    double x_root_s = 0;  // x sqrt(s)
    double x_s = 0;       // x s
    double contribution = 0;
  };
  std::vector<std::vector<CategoryFigures>> category_figures;
  // The objects (type 2, objects > 0).
  struct Object {
    std::vector<int> categories;  // of every variable, from 0
    double frequency = 0;
    std::vector<double> scores;  // on the first `objects` dimensions
  };
  bool objects_listed = false;
  std::vector<Object> object_list;
};

// The analysis of type t (1 to 4) of the estimated complete table.
CorrespondenceAnalysis AnalyseCorrespondence(const RunState& run, CorrespondenceKind t);

}  // namespace tav

#endif  // TAV_ENGINE_REPORT_CORRESPONDENCE_ANALYSIS_H_
