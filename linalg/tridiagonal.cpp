#include "linalg/tridiagonal.h"

#include <algorithm>
#include <cmath>

namespace sorvik {

// JAMA's tred2, laid out for contiguous memory with every value's own sequence of
// operations kept:
// - the symmetric matrix under reduction is kept whole (both triangles, which the
//   rank-two update leaves equal, since a + b == b + a), so the product with the
//   Householder vector is a sum of rows, each element's sum in JAMA's order;
// - the transformations are accumulated a strip of columns at a time, each column
//   taking every step in turn while the strip stays in cache.

namespace eigen_steps {

namespace {

constexpr int stripWidth = 32;  // columns of a strip: four sets of lanes
constexpr int stripLanes = stripWidth / 8;

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

} // namespace

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

} // namespace eigen_steps

} // namespace sorvik
