#ifndef TAV_ENGINE_NEWTON_EIGENVALUES_H_
#define TAV_ENGINE_NEWTON_EIGENVALUES_H_

#include <functional>
#include <vector>

namespace tav {

// The eigenvalues of the symmetric n x n matrix (row by row), largest first: Householder
// reduction to tridiagonal form (elements below 1e-7 in magnitude are set to 0 after each
// reflection), then the implicit QL method with shifts, an off-diagonal element counting as
// zero when it is at most 1e-5 times the largest |d| + |e| met so far. After 30 iterations
// without convergence for one eigenvalue the values found so far are returned unsorted.
// poll, when given, is called once per row of the reduction and per eigenvalue (a run's cancel
// check; it may throw), on the calling thread. The reduction's products and updates are shared
// among `threads` threads; every entry takes the same operations in the same order whatever
// their number, so the values do not depend on it.
std::vector<double> compute_eigenvalues(const std::vector<double>& matrix, int n,
                                        const std::function<void()>& poll = {}, int threads = 1);

// A unit vector spanning the null space of a singular n x n matrix. matrix holds n rows of
// n + 1 values: the matrix in the first n columns, the result is written to the last column;
// the other columns are left unchanged. Gauss-Jordan elimination leaves one free index out
// (the first for which every other pivot exceeds 1e-10). For a regular matrix the result is
// no null vector; a vector that cannot be normalised gives zeros.
void null_vector(std::vector<double>& matrix, int n);

}  // namespace tav

#endif  // TAV_ENGINE_NEWTON_EIGENVALUES_H_
