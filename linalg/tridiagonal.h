#pragma once

// The pieces that the two halves of the eigen decomposition share: the reduction
// to tridiagonal form (tridiagonal.cpp, JAMA's tred2) and the QL iterations
// (eigen.cpp, tql2).

#include <cstddef>
#include <cstring>
#include <vector>

namespace sorvik {

namespace eigen_steps {

using Size = std::size_t;

// TNT's abs, which JAMA calls.
inline double magnitude(double a)
{
    return a > 0 ? a : -a;
}

#define SORVIK_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))

// Eight doubles side by side: each lane is its own value, with its own rounding.
using Lanes = double __attribute__((vector_size(8 * sizeof(double))));
#define SORVIK_LOAD(v, p) std::memcpy(&(v), (p), sizeof(Lanes))
#define SORVIK_STORE(p, v) std::memcpy((p), &(v), sizeof(Lanes))

// Householder reduction of the symmetric n x n matrix `s` to tridiagonal form, as
// tred2's first half: d and e as it leaves them, the diagonal it leaves in V, and
// the Householder vector of step i in row i of `s` (columns 0 .. i - 1).
void tridiagonalise(std::vector<double> &s, int n, std::vector<double> &d, std::vector<double> &e, std::vector<double> &diagonal);

// The accumulated transformations of tred2's second half, as the rows of q
// (n x n, row-major, V as JAMA holds it), from the Householder vectors in `s` and
// their divisors h in `d`.
void accumulate(const std::vector<double> &s, int n, const std::vector<double> &d, std::vector<double> &q);

} // namespace eigen_steps

} // namespace sorvik
