#include "linalg/matrix.h"

#include "base/kernels.h"
#include "base/parallel.h"

#include <algorithm>
#include <cmath>

namespace sorvik {

Matrix centerColumns(const Matrix &x)
{
    Matrix result = x;
    for (int c = 0; c < x.columns; ++c) {
        long double sum = 0;
        for (int r = 0; r < x.rows; ++r)
            sum += x(r, c);
        const double mean = double(sum / x.rows);
        for (int r = 0; r < x.rows; ++r)
            result(r, c) = float(static_cast<long double>(result(r, c)) - mean);
    }
    return result;
}

Matrix covarianceReference(const Matrix &x)
{
    const int n = x.rows;
    const int m = x.columns;
    Matrix result(m, m);
    for (int i = 0; i < m; ++i) {
        for (int j = 0; j < m; ++j) {
            long double s = 0;
            for (int r = 0; r < n; ++r)
                s += static_cast<long double>(x(r, i)) * x(r, j);
            result(i, j) = float(s / (n - 1));
        }
    }
    return result;
}

Matrix multiplyReference(const Matrix &a, const Matrix &b)
{
    const int p = a.columns;
    const int q = b.columns;
    Matrix result(a.rows, q);
    for (int i = 0; i < result.rows; ++i) {
        for (int j = 0; j < q; ++j) {
            long double s = 0;
            for (int t = 0; t < p; ++t)
                s += static_cast<long double>(a(i, t)) * b(t, j);
            result(i, j) = float(s);
        }
    }
    return result;
}

// The fast kernels keep the order of every sum (row by row, in long double) and
// only run several independent sums at once, so the x87 unit can overlap them.
namespace {

// Copies the columns of `x` into rows, so that a column can be read in sequence.
std::vector<float> transposed(const Matrix &x)
{
    std::vector<float> t(x.values.size());
    for (int r = 0; r < x.rows; ++r)
        for (int c = 0; c < x.columns; ++c)
            t[std::size_t(c) * x.rows + r] = x(r, c);
    return t;
}

// The long double sums over t < n of a[t] * b[k][t] for four columns b[k] at
// once; inlined, so that the four sums stay in registers of the x87 unit.
__attribute__((always_inline)) inline void dotFour(const float *a, const float *const (&b)[4], int n, long double (&sums)[4])
{
    long double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    for (int t = 0; t < n; ++t) {
        const long double x = a[t];
        s0 += x * b[0][t];
        s1 += x * b[1][t];
        s2 += x * b[2][t];
        s3 += x * b[3][t];
    }
    sums[0] = s0;
    sums[1] = s1;
    sums[2] = s2;
    sums[3] = s3;
}

long double dotOne(const float *a, const float *b, int n)
{
    long double s = 0;
    for (int t = 0; t < n; ++t)
        s += static_cast<long double>(a[t]) * b[t];
    return s;
}

} // namespace

namespace {

Matrix covarianceFast(const Matrix &x)
{
    // Entry (i, j) and entry (j, i) are the same sum of the same exact products, so
    // one triangle is computed and mirrored. The columns j are taken in tiles that
    // stay in cache while every column i up to the tile passes over them.
    const int n = x.rows;
    const int m = x.columns;
    Matrix result(m, m);
    const std::vector<float> columns = transposed(x);
    const auto column = [&](int c) { return columns.data() + std::size_t(c) * n; };
    const auto store = [&](int i, int j, long double s) { result(i, j) = result(j, i) = float(s / (n - 1)); };
    // Each piece of work is one column i against one tile, and writes entries no
    // other piece writes, so the pieces run side by side.
    const int tile = std::max(4, int(65536 / std::max(n, 1)) / 4 * 4);
    const int tiles = (m + tile - 1) / tile;
    forEachIndex(tiles * m, [&](int piece) {
        const int tileStart = piece / m * tile, tileEnd = std::min(m, tileStart + tile), i = piece % m;
        if (i >= tileEnd)
            return;
        int j = std::max(tileStart, i);
        for (; j + 4 <= tileEnd; j += 4) {
            const float *const others[4] = {column(j), column(j + 1), column(j + 2), column(j + 3)};
            long double sums[4];
            dotFour(column(i), others, n, sums);
            for (int k = 0; k < 4; ++k)
                store(i, j + k, sums[k]);
        }
        for (; j < tileEnd; ++j)  // the columns left over from the blocks
            store(i, j, dotOne(column(i), column(j), n));
    }, 1);
    return result;
}

} // namespace

Matrix covariance(const Matrix &x)
{
    return plainKernels ? covarianceReference(x) : covarianceFast(x);
}

namespace {

Matrix multiplyFast(const Matrix &a, const Matrix &b)
{
    // Feature rows are mostly zeros (the background of an image). A zero times a
    // finite number is a zero, and adding a zero leaves a sum as it was, so when b
    // is finite the zeros of a are passed over; the other terms keep their order.
    constexpr int ColumnBlock = 4;
    const int p = a.columns;
    const int q = b.columns;
    Matrix result(a.rows, q);
    if (result.values.empty())
        return result;
    std::vector<float> columns(std::size_t(q) * std::size_t(p));  // b's columns, each p long
    for (int t = 0; t < p; ++t)
        for (int j = 0; j < q; ++j)
            columns[std::size_t(j) * p + t] = b(t, j);
    const bool finite = std::all_of(columns.begin(), columns.end(), [](float v) { return std::isfinite(v); });

    // Rows are independent, so they are formed side by side.
    forEachIndex(result.rows, [&](int i) {
        static thread_local std::vector<int> terms;
        const float *row = a.row(i);
        terms.clear();
        for (int t = 0; t < p; ++t)
            if (row[t] != 0 || !finite)
                terms.push_back(t);
        int j = 0;
        for (; j + ColumnBlock <= q; j += ColumnBlock) {
            const float *c[ColumnBlock];
            long double s[ColumnBlock] = {};
            for (int k = 0; k < ColumnBlock; ++k)
                c[k] = columns.data() + std::size_t(j + k) * p;
            for (int t : terms) {
                const long double x = row[t];
                for (int k = 0; k < ColumnBlock; ++k)
                    s[k] += x * c[k][t];
            }
            for (int k = 0; k < ColumnBlock; ++k)
                result(i, j + k) = float(s[k]);
        }
        for (; j < q; ++j) {  // the columns left over from the blocks
            const float *c = columns.data() + std::size_t(j) * p;
            long double s = 0;
            for (int t : terms)
                s += static_cast<long double>(row[t]) * c[t];
            result(i, j) = float(s);
        }
    }, 256);
    return result;
}

} // namespace

Matrix multiply(const Matrix &a, const Matrix &b)
{
    return plainKernels ? multiplyReference(a, b) : multiplyFast(a, b);
}

} // namespace sorvik
