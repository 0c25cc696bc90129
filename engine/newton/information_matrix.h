#ifndef TAV_ENGINE_NEWTON_INFORMATION_MATRIX_H_
#define TAV_ENGINE_NEWTON_INFORMATION_MATRIX_H_

#include <functional>
#include <vector>

#include "newton/newton_state.h"
#include "newton/run_state.h"

namespace tav {

// Finite-difference steps of the log-likelihood.
inline constexpr double kHessianStep = 0.00015;
inline constexpr double kGradientStep = 1e-7;

// Adds delta to free parameter i. A log-linear parameter multiplies the fitted cells of its
// submodel by exp(delta) raised to the parameter's coding exponent of the cell's effect cell
// (1 at the parameter's categories, -1 where effect coding puts the opposite sign), then
// restores the submodel's form: submodel 0 keeps its total, the others are divided by their
// conditioning margin again. A design parameter is multiplied by exp(delta) and its submodel's
// cells (or the predictor of a cumulative submodel) move with it (estimation/design_effects.h).
void PerturbParameter(RunState& run, int i, double delta);

// The finite-difference step of the curvature of free parameter i: kHessianStep, and a third
// of it for a design parameter whose value lies strictly between 0.95 and 1.05.
double HessianStep(const RunState& run, int i);

// Saves everything a parameter's perturbation changes (the fitted tables, the design
// parameters, the predictors of cumulative submodels) into snapshot; restores all of it, or
// only what belongs to submodel r.
// The bytes a snapshot of the fitted tables takes.
double SnapshotBytes(const RunState& run);
void SaveFitted(const RunState& run, FittedSnapshot& snapshot);
void RestoreFitted(RunState& run, const FittedSnapshot& snapshot);
void RestoreFittedSubmodel(RunState& run, int r, const FittedSnapshot& snapshot);

// PerturbParameter, then the log-likelihood of the model as evaluate finds it.
double perturb_and_evaluate(RunState& run, int i, double delta, const ModelEvaluator& evaluate);

// The finite-difference information matrix of the free parameters at log-likelihood l0 into
// run.newton.information_matrix. Steepest descent: only the diagonal, holding the inverse
// curvature (1 where the curvature is not above 1e-5), not inverted. Otherwise the full
// matrix; Levenberg-Marquardt damping for Newton steps with a lambda other than 0; the
// eigenvalues for the standard errors; then the inversion in place. run.newton.gradient holds
// L(theta + h e_r) afterwards. The fitted tables are left as they were.
void build_information_matrix(RunState& run, NewtonAlgorithm algorithm, double l0,
                              const ModelEvaluator& evaluate);

// Levenberg-Marquardt damping of the information matrix (n x n) with the run's lambda: the
// diagonal is multiplied by 1 + lambda, then, while lambda is at most 1, there are at least two
// parameters and the smallest eigenvalue is not above -2e-5 times the largest, lambda grows
// tenfold and the diagonal is multiplied by 1 + lambda again. Afterwards lambda is divided by
// 100 for the next iteration (when above 1e-10). poll goes to the eigenvalues (a cancel check),
// and so do the threads.
void DampInformation(std::vector<double>& matrix, int n, double& lambda,
                     const std::function<void()>& poll = {}, int threads = 1);

// What a matrix is inverted for.
enum class InversionMode {
  kInternal,        // a matrix of the report or the marginal step: no warnings, no counts
  kStandardErrors,  // the information matrix of the standard errors
  kNewtonStep,      // the information matrix of a Newton-type step
};

// Gauss-Jordan inversion in place of the symmetric n x n matrix (row by row), pivots on the
// diagonal in order. A pivot below the tolerance is rejected: its row and column become 0.
// Tolerance: 1e-10 for internal matrices, 0.001 for Newton steps, and for standard errors 1e-4
// times the largest eigenvalue in run.newton.eigenvalues, kept within 0.001 .. 0.1. Except for
// internal matrices, every rejected pivot writes "  Warning: Information matrix is not
// positive definite (" or "... not full rank (" with its number and value, and is counted in
// run.newton.boundary_by_table under the table of its parameter (reset first). For standard
// errors, when more eigenvalues than rejected pivots are not above the tolerance, the log says so
// and the difference is counted under the table of the first parameter that acts on a table
// other than number SubmodelCount (the one after the model's submodels), or under table
// SubmodelCount when there is no such parameter.
void InvertInformation(RunState& run, std::vector<double>& matrix, int n, InversionMode mode);

// The tolerance of InvertInformation for mode.
double InversionTolerance(const RunState& run, InversionMode mode);

// Delta-method standard errors of the fitted probabilities of every submodel with at most 128
// cells that is neither tied to another by eq1 nor a fixed saturated margin, from the covariance
// matrix left by the standard-error inversion, into run.newton.probability_std_errors (per
// FittedTable cell; 0 elsewhere). Submodel 0 holds frequencies: its derivatives are divided by the
// sample size.
void probability_standard_errors(RunState& run);

}  // namespace tav

#endif  // TAV_ENGINE_NEWTON_INFORMATION_MATRIX_H_
