#ifndef TAV_ENGINE_CORE_SYMMETRIC_EIGENSYSTEM_H_
#define TAV_ENGINE_CORE_SYMMETRIC_EIGENSYSTEM_H_

#include <vector>

namespace tav {

// Every eigenvalue of a real symmetric matrix with an orthonormal set of eigenvectors.
struct Eigensystem {
  std::vector<double> values;                // all n of them, largest first
  std::vector<std::vector<double>> vectors;  // vectors[k], of length n, goes with values[k]
};

// The complete eigensystem of the symmetric n x n matrix (row by row; only its upper triangle is
// read): A = sum_k values[k] vectors[k] vectors[k]'.
//
// Method: cyclic Jacobi. Sweeps run over the pairs (p, q), p < q, row by row; each rotation
// J in the plane (p, q) with tan(phi) = t, t = sign(theta) / (|theta| + sqrt(theta^2 + 1)),
// theta = (a_qq - a_pp) / (2 a_pq), makes a_pq of J'AJ zero, and the product of the rotations
// gathers the eigenvectors. A pair is left alone when |a_pq| <= eps sqrt(|a_pp a_qq|) (eps
// the rounding unit 2^-53), or when |a_pq| is below eps^2 times the Frobenius norm of A; the
// sweeps end with the first that rotates nothing (quadratic convergence: some 6 to 12 sweeps
// for n up to 100; at most 100). Every rotation is orthogonal to working precision, so the
// eigenvalues are those of a matrix within a small multiple of eps ||A|| of A, whatever their
// multiplicity, and the vectors are orthonormal to working precision.
//
// The values are sorted largest first. The vectors are made unique, so that the same matrix
// gives the same vectors whatever the order the rotations met its eigenvalues in:
//  * Tied eigenvalues, neighbours in that order that differ by at most 1e-11 times the largest
//    |value|, form one cluster whose eigenspace has no preferred basis. Its basis is taken in
//    echelon form: the first vector is, up to its sign, the unit vector of the space with the
//    largest component on the first coordinate i_1 the space reaches (the projection of e_i_1
//    on the space, normalised); the second the same within the rest of the space, orthogonal
//    to the first, on the first coordinate i_2 > i_1 that rest reaches; and so on. Vector j is
//    0 on i_1 .. i_{j-1} and on every coordinate before i_j. A coordinate counts as reached when
//    its part in the space (the length of its row in an orthonormal basis) exceeds 1e-6.
//  * A simple eigenvalue is a cluster of one: i_1 is its vector's first component of
//    magnitude above 1e-6.
//  * The sign makes component i_j of vector j negative.
//
// A matrix with an entry that is not finite gives values that are not numbers and the unit
// vectors; n <= 0 gives nothing.
Eigensystem DecomposeSymmetric(const std::vector<double>& matrix, int n);

}  // namespace tav

#endif  // TAV_ENGINE_CORE_SYMMETRIC_EIGENSYSTEM_H_
