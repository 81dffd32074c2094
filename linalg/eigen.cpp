#include "linalg/eigen.h"

#include <jama_eig.h>
#include <tnt_array2d.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

// JAMA's loops walk its matrices by columns through row pointers. Here the same
// operations run in an order that keeps each value's own sequence of operations:
// - the symmetric matrix under reduction is kept whole (both triangles, which the
//   rank-two update leaves equal, since a + b == b + a), so the product with the
//   Householder vector is a sum of rows, each element's sum in JAMA's order;
// - the transformations are accumulated a strip of columns at a time, each column
//   taking every step in turn while the strip stays in cache;
// - the QL rotations depend only on the tridiagonal values: they are computed and
//   recorded first, then applied to the rows of the transposed eigenvector matrix
//   a strip at a time, each element through the same rotations in the same order.

namespace {

using Size = std::size_t;

// TNT's abs, which JAMA calls.
double magnitude(double a)
{
    return a > 0 ? a : -a;
}

#define SORVIK_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))

// Eight doubles side by side: each lane is its own value, with its own rounding.
using Lanes = double __attribute__((vector_size(8 * sizeof(double))));
#define SORVIK_LOAD(v, p) std::memcpy(&(v), (p), sizeof(Lanes))
#define SORVIK_STORE(p, v) std::memcpy((p), &(v), sizeof(Lanes))
constexpr int stripWidth = 32;            // columns of a strip: four sets of lanes
constexpr int stripLanes = stripWidth / 8;
constexpr int sweepWidth = 64;            // columns that the rotations visit at a time
constexpr int sweepLanes = sweepWidth / 8;

// sums[j] += scalar * row[j]
SORVIK_CLONES void addScaledRow(double *__restrict sums, const double *__restrict row, double scalar, int n)
{
    for (int j = 0; j < n; ++j)
        sums[j] += scalar * row[j];
}

// row[c] -= d[c] * er + e[c] * dr: one row of the rank-two update.
SORVIK_CLONES void subtractRankTwo(double *__restrict row, const double *__restrict d, const double *__restrict e, double er, double dr, int n)
{
    for (int c = 0; c < n; ++c)
        row[c] -= (d[c] * er + e[c] * dr);
}

// The same row update, and the updated row's share of the next step's product:
// sums[c] += scalar * row[c] for the first n - 1 values.
SORVIK_CLONES void subtractRankTwoAndAdd(double *__restrict row, const double *__restrict d, const double *__restrict e, double er, double dr, int n,
                                         double *__restrict sums, double scalar)
{
    for (int c = 0; c + 1 < n; ++c) {
        const double updated = row[c] - (d[c] * er + e[c] * dr);
        row[c] = updated;
        sums[c] += scalar * updated;
    }
    row[n - 1] -= (d[n - 1] * er + e[n - 1] * dr);
}

// Takes the strip of columns [first, first + width) of q through every step of the
// accumulation: step i, for the columns j <= i, forms g = u' q over rows 0 .. i and
// subtracts (u / h) g' from those rows. Once every column of a full strip takes
// part, each step's update pass also sums the next step's g from the new rows.
SORVIK_CLONES void accumulateStrip(double *q, Size n, int first, int width, const double *s, const double *h, const double *scaled)
{
    const auto row = [&](int k) { return q + Size(k) * n + Size(first); };
    const int steps = int(n) - 1;
    int i = first;
    for (; i < steps && (width < stripWidth || i < first + stripWidth - 1); ++i) {
        if (h[i + 1] == 0.0)
            continue;
        const int active = std::min(width, i + 1 - first);
        const double *u = s + Size(i + 1) * n, *divided = scaled + Size(i) * Size(i + 1) / 2;
        double g[stripWidth] = {};
        for (int k = 0; k <= i; ++k)
            for (int j = 0; j < active; ++j)
                g[j] += u[k] * row(k)[j];
        for (int k = 0; k <= i; ++k)
            for (int j = 0; j < active; ++j)
                row(k)[j] -= g[j] * divided[k];
    }
    Lanes g[stripLanes];
    bool summed = false;
    for (; i < steps; ++i) {
        if (h[i + 1] == 0.0) {
            summed = false;
            continue;
        }
        const double *u = s + Size(i + 1) * n, *divided = scaled + Size(i) * Size(i + 1) / 2;
        if (!summed) {
            for (int v = 0; v < stripLanes; ++v)
                g[v] = Lanes{};
            for (int k = 0; k <= i; ++k)
                for (int v = 0; v < stripLanes; ++v) {
                    Lanes values;
                    SORVIK_LOAD(values, row(k) + 8 * v);
                    g[v] += u[k] * values;
                }
        }
        // The next step's g is summed on the way when there is a next step that uses it
        // (otherwise the sums go unused).
        summed = i + 1 < steps && h[i + 2] != 0.0;
        const double *next = summed ? s + Size(i + 2) * n : u;
        Lanes sums[stripLanes] = {};
        for (int k = 0; k <= i; ++k)
            for (int v = 0; v < stripLanes; ++v) {
                Lanes values;
                SORVIK_LOAD(values, row(k) + 8 * v);
                values -= g[v] * divided[k];
                SORVIK_STORE(row(k) + 8 * v, values);
                sums[v] += next[k] * values;
            }
        for (int v = 0; v < stripLanes; ++v) {
            Lanes values;
            SORVIK_LOAD(values, row(i + 1) + 8 * v);  // row i + 1 joins at the next step, as it is
            g[v] = sums[v] + next[i + 1] * values;
        }
    }
}

// The Householder vector of one step, made from d (row i) in place.
struct Householder {
    bool nonzero;  // false when row i is zero left of the diagonal
    double h;
    double ei;     // what tred2 stores in e[i]
};

Householder householder(std::vector<double> &d, int i)
{
    double scale = 0.0, h = 0.0;
    for (int k = 0; k < i; ++k)
        scale = scale + magnitude(d[Size(k)]);
    if (scale == 0.0)
        return {false, 0.0, d[Size(i - 1)]};
    for (int k = 0; k < i; ++k) {
        d[Size(k)] /= scale;
        h += d[Size(k)] * d[Size(k)];
    }
    const double f = d[Size(i - 1)];
    double g = std::sqrt(h);
    if (f > 0)
        g = -g;
    h = h - f * g;
    d[Size(i - 1)] = f - g;
    return {true, h, scale * g};
}

// Householder reduction of the symmetric n x n matrix `s` to tridiagonal form, as
// tred2's first half: d and e as it leaves them, the diagonal it leaves in V, and
// the Householder vector of step i in row i of `s` (columns 0 .. i - 1).
//
// Step i multiplies the leading i x i block by its vector and updates the block by
// rank two. The product of step i - 1 reads the block as step i leaves it, so it is
// summed in the same pass as that update: row i - 1 (the next vector) is updated
// first, then every other row, each added to the product as soon as it is new.
void tridiagonalise(std::vector<double> &s, int n, std::vector<double> &d, std::vector<double> &e, std::vector<double> &diagonal)
{
    const auto row = [&](int r) { return s.data() + Size(r) * Size(n); };
    std::vector<double> product(d.size());  // the next step's, when summed ahead
    bool summedAhead = false;
    for (int j = 0; j < n; ++j)
        d[Size(j)] = row(n - 1)[j];
    Householder step = n > 1 ? householder(d, n - 1) : Householder{};
    for (int i = n - 1; i > 0; --i) {
        diagonal[Size(i)] = row(i)[i];
        e[Size(i)] = step.ei;
        double *house = row(i);
        if (!step.nonzero) {
            for (int j = 0; j < i; ++j) {
                d[Size(j)] = row(i - 1)[j];
                house[j] = 0.0;
            }
            d[Size(i)] = 0.0;
            if (i > 1)
                step = householder(d, i - 1);
            summedAhead = false;
            continue;
        }
        if (summedAhead) {
            std::copy(product.begin(), product.begin() + i, e.begin());
        } else {
            std::fill(e.begin(), e.begin() + i, 0.0);
            for (int k = 0; k < i; ++k)
                addScaledRow(e.data(), row(k), d[Size(k)], i);
        }
        double f = 0.0;
        for (int j = 0; j < i; ++j) {
            e[Size(j)] /= step.h;
            f += e[Size(j)] * d[Size(j)];
        }
        const double hh = f / (step.h + step.h);
        for (int j = 0; j < i; ++j) {
            e[Size(j)] -= hh * d[Size(j)];
            house[j] = d[Size(j)];
        }
        subtractRankTwo(row(i - 1), house, e.data(), e[Size(i - 1)], house[i - 1], i);
        for (int j = 0; j < i; ++j)
            d[Size(j)] = row(i - 1)[j];
        d[Size(i)] = step.h;
        if (i == 1)
            break;
        step = householder(d, i - 1);
        summedAhead = step.nonzero;
        if (summedAhead)
            std::fill(product.begin(), product.begin() + (i - 1), 0.0);
        for (int r = 0; r < i - 1; ++r) {
            if (summedAhead)
                subtractRankTwoAndAdd(row(r), house, e.data(), e[Size(r)], house[r], i, product.data(), d[Size(r)]);
            else
                subtractRankTwo(row(r), house, e.data(), e[Size(r)], house[r], i);
        }
    }
    diagonal[0] = s[0];
}

// The accumulated transformations of tred2's second half, as the rows of q
// (n x n, row-major, V as JAMA holds it), from the Householder vectors in `s` and
// their divisors h in `d`.
void accumulate(const std::vector<double> &s, int n, const std::vector<double> &d, std::vector<double> &q)
{
    // The vectors divided by their h, as each step forms them: step i at i (i + 1) / 2.
    std::vector<double> scaled(Size(n) * Size(n + 1) / 2);
    for (int i = 0; i + 1 < n; ++i) {
        const double h = d[Size(i + 1)];
        double *divided = scaled.data() + Size(i) * Size(i + 1) / 2;
        const double *u = s.data() + Size(i + 1) * Size(n);
        if (h != 0.0)
            for (int k = 0; k <= i; ++k)
                divided[k] = u[k] / h;
    }
    q.assign(Size(n) * Size(n), 0.0);
    for (int j = 0; j < n; ++j)
        q[Size(j) * Size(n) + Size(j)] = 1.0;
    for (int first = 0; first < n; first += stripWidth)
        accumulateStrip(q.data(), Size(n), first, std::min(stripWidth, n - first), s.data(), d.data(), scaled.data());
}

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
                f = f + h;

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
                if (cs.size() >= recordLimit)
                    applySweeps(w, n, sweeps, cs);
            } while (magnitude(e[Size(l)]) > eps * tst1);
        }
        d[Size(l)] = d[Size(l)] + f;
        e[Size(l)] = 0.0;
    }
    applySweeps(w, n, sweeps, cs);

    // Eigenvalues in ascending order, their vectors with them.
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
