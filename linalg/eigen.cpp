#include "linalg/eigen.h"

#include "linalg/tridiagonal.h"

#include <jama_eig.h>
#include <tnt_array2d.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace sorvik {

// JAMA's loops walk its matrices by columns through row pointers. Here the same
// operations run in an order that keeps each value's own sequence of operations
// (for the reduction to tridiagonal form, see tridiagonal.cpp):
// - the QL rotations depend only on the tridiagonal values: they are computed and
//   recorded first, then applied to the rows of the transposed eigenvector matrix
//   a strip at a time, each element through the same rotations in the same order.

namespace {

using namespace eigen_steps;

constexpr int sweepWidth = 64;  // columns that the rotations visit at a time
constexpr int sweepLanes = sweepWidth / 8;

// One QL sweep's rotations: rotation i (from high to low) with its c and s.
struct Sweep {
    int low;   // l
    int high;  // m
    Size first;  // index of rotation m - 1 in the record
};

// Applies recorded sweeps to the rows of w (the transposed V), a strip of columns
// at a time: along a sweep the new row i is carried from one rotation to the next.
SORVIK_CLONES void applySweepsToStrip(double *w, int n, int first, int width, const std::vector<Sweep> &sweeps, const std::vector<double> &cs)
{
    const auto row = [&](int r) { return w + Size(r) * Size(n) + Size(first); };
    if (width == sweepWidth) {
        for (const Sweep &sweep : sweeps) {
            const double *rotation = cs.data() + 2 * sweep.first;
            Lanes carry[sweepLanes];
            for (int v = 0; v < sweepLanes; ++v)
                SORVIK_LOAD(carry[v], row(sweep.high) + 8 * v);
            for (int i = sweep.high - 1; i >= sweep.low; --i, rotation += 2) {
                const double c = rotation[0], s = rotation[1];
                double *lower = row(i), *upper = row(i + 1);
                for (int v = 0; v < sweepLanes; ++v) {
                    Lanes a;
                    SORVIK_LOAD(a, lower + 8 * v);
                    const Lanes rotated = s * a + c * carry[v];
                    SORVIK_STORE(upper + 8 * v, rotated);
                    carry[v] = c * a - s * carry[v];
                }
            }
            for (int v = 0; v < sweepLanes; ++v)
                SORVIK_STORE(row(sweep.low) + 8 * v, carry[v]);
        }
        return;
    }
    double carry[sweepWidth];
    for (const Sweep &sweep : sweeps) {
        const double *rotation = cs.data() + 2 * sweep.first;
        for (int k = 0; k < width; ++k)
            carry[k] = row(sweep.high)[k];
        for (int i = sweep.high - 1; i >= sweep.low; --i, rotation += 2) {
            const double c = rotation[0], s = rotation[1];
            double *lower = row(i), *upper = row(i + 1);
            for (int k = 0; k < width; ++k) {
                const double a = lower[k];
                upper[k] = s * a + c * carry[k];
                carry[k] = c * a - s * carry[k];
            }
        }
        for (int k = 0; k < width; ++k)
            row(sweep.low)[k] = carry[k];
    }
}

void applySweeps(std::vector<double> &w, int n, std::vector<Sweep> &sweeps, std::vector<double> &cs)
{
    for (int first = 0; first < n; first += sweepWidth)
        applySweepsToStrip(w.data(), n, first, std::min(sweepWidth, n - first), sweeps, cs);
    sweeps.clear();
    cs.clear();
}

// One implicit QL step of tql2 on the block l .. m: the shift, then the rotations
// from m - 1 down to l, recorded for the rows of V. Returns the shift, which
// tql2 adds to f.
double qlStep(std::vector<double> &d, std::vector<double> &e, int l, int m, int n, std::vector<Sweep> &sweeps, std::vector<double> &cs)
{
    double g = d[Size(l)];
    double p = (d[Size(l + 1)] - g) / (2.0 * e[Size(l)]);
    double r = std::hypot(p, 1.0);
    if (p < 0)
        r = -r;
    d[Size(l)] = e[Size(l)] / (p + r);
    d[Size(l + 1)] = e[Size(l)] * (p + r);
    const double dl1 = d[Size(l + 1)];
    double h = g - d[Size(l)];
    for (int i = l + 2; i < n; ++i)
        d[Size(i)] -= h;
    const double shift = h;

    p = d[Size(m)];
    double c = 1.0, c2 = c, c3 = c;
    const double el1 = e[Size(l + 1)];
    double s = 0.0, s2 = 0.0;
    sweeps.push_back({l, m, cs.size() / 2});
    for (int i = m - 1; i >= l; --i) {
        c3 = c2;
        c2 = c;
        s2 = s;
        g = c * e[Size(i)];
        h = c * p;
        r = std::hypot(p, e[Size(i)]);
        e[Size(i + 1)] = s * r;
        s = e[Size(i)] / r;
        c = p / r;
        p = c * d[Size(i)] - s * g;
        d[Size(i + 1)] = h + s * (c * g + s * d[Size(i)]);
        cs.push_back(c);
        cs.push_back(s);
    }
    p = -s * s2 * c3 * el1 * e[Size(l)] / dl1;
    e[Size(l)] = s * p;
    d[Size(l)] = c * p;
    return shift;
}

// Eigenvalues in ascending order, their vectors (the rows of w) with them.
void sortAscending(std::vector<double> &d, int n, std::vector<double> &w)
{
    for (int i = 0; i < n - 1; ++i) {
        int k = i;
        double p = d[Size(i)];
        for (int j = i + 1; j < n; ++j) {
            if (d[Size(j)] < p) {
                k = j;
                p = d[Size(j)];
            }
        }
        if (k != i) {
            d[Size(k)] = d[Size(i)];
            d[Size(i)] = p;
            std::swap_ranges(w.begin() + std::ptrdiff_t(Size(i) * Size(n)), w.begin() + std::ptrdiff_t(Size(i + 1) * Size(n)),
                             w.begin() + std::ptrdiff_t(Size(k) * Size(n)));
        }
    }
}

// tql2 on d and e, its rotations applied to the rows of w (the transposed V).
void diagonalise(std::vector<double> &d, std::vector<double> &e, int n, std::vector<double> &w)
{
    for (int i = 1; i < n; ++i)
        e[Size(i - 1)] = e[Size(i)];
    e[Size(n - 1)] = 0.0;

    std::vector<Sweep> sweeps;
    std::vector<double> cs;  // c and s of every recorded rotation
    constexpr Size recordLimit = Size(1) << 21;  // values held before they are applied
    double f = 0.0;
    double tst1 = 0.0;
    const double eps = std::pow(2.0, -52.0);
    for (int l = 0; l < n; ++l) {
        tst1 = std::max(tst1, magnitude(d[Size(l)]) + magnitude(e[Size(l)]));
        int m = l;
        while (m < n) {
            if (magnitude(e[Size(m)]) <= eps * tst1)
                break;
            m++;
        }
        if (m > l) {
            do {
                f = f + qlStep(d, e, l, m, n, sweeps, cs);
                if (cs.size() >= recordLimit)
                    applySweeps(w, n, sweeps, cs);
            } while (magnitude(e[Size(l)]) > eps * tst1);
        }
        d[Size(l)] = d[Size(l)] + f;
        e[Size(l)] = 0.0;
    }
    applySweeps(w, n, sweeps, cs);
    sortAscending(d, n, w);
}

// Whether every value is finite and equal to its mirror, compared in tiles that
// stay in cache.
bool finiteAndSymmetric(const std::vector<double> &a, int n)
{
    constexpr int tile = 32;
    for (int i0 = 0; i0 < n; i0 += tile)
        for (int j0 = 0; j0 <= i0; j0 += tile)
            for (int i = i0; i < std::min(n, i0 + tile); ++i)
                for (int j = j0; j < std::min(i + 1, j0 + tile); ++j) {
                    const double x = a[Size(i) * Size(n) + Size(j)];
                    if (!std::isfinite(x) || x != a[Size(j) * Size(n) + Size(i)])
                        return false;
                }
    return true;
}

void transposeInPlace(std::vector<double> &q, int n)
{
    constexpr int tile = 32;
    for (int i0 = 0; i0 < n; i0 += tile)
        for (int j0 = i0; j0 < n; j0 += tile)
            for (int i = i0; i < std::min(n, i0 + tile); ++i)
                for (int j = std::max(j0, i + 1); j < std::min(n, j0 + tile); ++j)
                    std::swap(q[Size(i) * Size(n) + Size(j)], q[Size(j) * Size(n) + Size(i)]);
}

} // namespace

bool symmetricEigen(std::vector<double> &a, int n, SymmetricEigen &result)
{
    if (!finiteAndSymmetric(a, n))
        return false;
    result.n = n;
    if (n == 0) {
        result.values.clear();
        result.vectors.clear();
        return true;
    }
    const Size size = Size(n);
    std::vector<double> s = std::move(a), d(size), e(size), diagonal(size), q;
    tridiagonalise(s, n, d, e, diagonal);
    accumulate(s, n, d, q);
    s = std::vector<double>();
    d = diagonal;
    e[0] = 0.0;
    transposeInPlace(q, n);  // V transposed, for the rotations along its rows
    diagonalise(d, e, n, q);
    result.values = std::move(d);
    result.vectors = std::move(q);
    return true;
}

SymmetricEigen symmetricEigenReference(const std::vector<double> &a, int n)
{
    SymmetricEigen result;
    result.n = n;
    if (n == 0)
        return result;
    TNT::Array2D<double> matrix(n, n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            matrix[i][j] = a[Size(i) * Size(n) + Size(j)];
    JAMA::Eigenvalue<double> decomposition(matrix);
    TNT::Array1D<double> values;
    TNT::Array2D<double> v;
    decomposition.getRealEigenvalues(values);
    decomposition.getV(v);
    result.values.assign(&values[0], &values[0] + n);
    result.vectors.resize(Size(n) * Size(n));
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            result.vectors[Size(j) * Size(n) + Size(i)] = v[i][j];
    return result;
}

} // namespace sorvik
