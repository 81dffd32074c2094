#pragma once

#include <vector>

namespace sorvik {

// The eigen decomposition of a finite, exactly symmetric matrix, value for value
// as JAMA::Eigenvalue<double> computes it: Householder tridiagonalisation (tred2),
// the QL algorithm (tql2), eigenvalues in ascending order. Every sum keeps its
// order and every product and quotient is formed in double as there; only the
// layout differs, so that independent work runs over contiguous memory.
struct SymmetricEigen {
    int n = 0;
    std::vector<double> values;   // ascending
    std::vector<double> vectors;  // transposed: row t holds column t of JAMA's V
};

// The decomposition of the n x n matrix `a` (row-major), which serves as working
// storage and is left empty. False, with `a` untouched and nothing computed, when
// `a` holds a value that is not finite or is not exactly symmetric: JAMA takes
// another path for such a matrix.
bool symmetricEigen(std::vector<double> &a, int n, SymmetricEigen &result);

// The same through JAMA itself: the reference the fast one is tested against.
SymmetricEigen symmetricEigenReference(const std::vector<double> &a, int n);

} // namespace sorvik
