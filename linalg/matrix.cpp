#include "linalg/matrix.h"

#include <algorithm>
#include <cmath>

Matrix matrixFromRasters(const QList<Raster> &rasters)
{
    if (rasters.isEmpty())
        return Matrix();
    const int length = rasters.first().width * rasters.first().height;
    Matrix x(rasters.size(), length);
    for (int r = 0; r < x.rows; ++r) {
        const std::vector<std::uint8_t> &data = rasters.at(r).data;
        float *out = x.row(r);
        for (int j = 0; j < length; ++j)
            out[j] = float(data[j]);
    }
    return x;
}

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
    const int n = rowCount(x);
    const int m = columnCount(x);
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
    const int p = columnCount(a);
    const int q = columnCount(b);
    Matrix result(rowCount(a), q);
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
// Each inner step loads RowBlock + ColumnBlock values and forms every product
// between the two groups.
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

// sum[a][b] = the long double sum over t < length of left[a][t] * right[b][t].
// Inlined, so that the sums stay in registers of the x87 unit.
template <int RowBlock, int ColumnBlock>
__attribute__((always_inline)) inline void dotBlock(const float *const *left, const float *const *right, int length,
                                                    long double (&sum)[RowBlock][ColumnBlock])
{
    const float *l[RowBlock];
    const float *r[ColumnBlock];
    long double s[RowBlock][ColumnBlock];
    for (int a = 0; a < RowBlock; ++a) {
        l[a] = left[a];
        for (int b = 0; b < ColumnBlock; ++b)
            s[a][b] = 0;
    }
    for (int b = 0; b < ColumnBlock; ++b)
        r[b] = right[b];
    for (int t = 0; t < length; ++t) {
        long double x[RowBlock];
        for (int a = 0; a < RowBlock; ++a)
            x[a] = l[a][t];
        for (int b = 0; b < ColumnBlock; ++b) {
            const long double y = r[b][t];
            for (int a = 0; a < RowBlock; ++a)
                s[a][b] += x[a] * y;
        }
    }
    for (int a = 0; a < RowBlock; ++a)
        for (int b = 0; b < ColumnBlock; ++b)
            sum[a][b] = s[a][b];
}

// store(a, b, sum) for every row a of `left` and row b of `right` (b >= a only,
// when `upperOnly`), where sum is the dot product of the two rows of `length`.
// The right rows are taken in tiles that stay in cache while every left row
// passes over them.
template <int RowBlock, int ColumnBlock, typename Store>
void dotAll(const std::vector<float> &left, int leftCount, const std::vector<float> &right, int rightCount, int length,
            bool upperOnly, Store store)
{
    const auto leftRow = [&](int a) { return left.data() + std::size_t(a) * length; };
    const auto rightRow = [&](int b) { return right.data() + std::size_t(b) * length; };
    const int tile = std::max(ColumnBlock, (int(262144 / sizeof(float)) / std::max(length, 1)) / ColumnBlock * ColumnBlock);
    for (int tileStart = 0; tileStart < rightCount; tileStart += tile) {
        const int tileEnd = std::min(rightCount, tileStart + tile);
        const int lastLeft = upperOnly ? std::min(leftCount, tileEnd) : leftCount;
        for (int a = 0; a < lastLeft; a += RowBlock) {
            const int rows = std::min(RowBlock, lastLeft - a);
            int b = upperOnly ? std::max(tileStart, a - (a - tileStart) % ColumnBlock) : tileStart;
            for (; b < tileEnd; b += ColumnBlock) {
                const int columns = std::min(ColumnBlock, tileEnd - b);
                if (rows == RowBlock && columns == ColumnBlock) {
                    const float *l[RowBlock];
                    const float *r[ColumnBlock];
                    for (int i = 0; i < RowBlock; ++i)
                        l[i] = leftRow(a + i);
                    for (int j = 0; j < ColumnBlock; ++j)
                        r[j] = rightRow(b + j);
                    long double sum[RowBlock][ColumnBlock];
                    dotBlock<RowBlock, ColumnBlock>(l, r, length, sum);
                    for (int i = 0; i < RowBlock; ++i)
                        for (int j = 0; j < ColumnBlock; ++j)
                            store(a + i, b + j, sum[i][j]);
                    continue;
                }
                // The edges of the matrices, one sum at a time.
                for (int i = 0; i < rows; ++i)
                    for (int j = 0; j < columns; ++j) {
                        const float *l[1] = {leftRow(a + i)};
                        const float *r[1] = {rightRow(b + j)};
                        long double sum[1][1];
                        dotBlock<1, 1>(l, r, length, sum);
                        store(a + i, b + j, sum[0][0]);
                    }
            }
        }
    }
}

} // namespace

Matrix covariance(const Matrix &x)
{
#ifdef SORVIK_REFERENCE_KERNELS  // the plain build that the fast one is compared with
    return covarianceReference(x);
#endif
    // Entry (i, j) and entry (j, i) are the same sum of the same exact products, so
    // one triangle is computed and mirrored.
    const int n = rowCount(x);
    const int m = columnCount(x);
    Matrix result(m, m);
    const std::vector<float> columns = transposed(x);
    dotAll<1, 4>(columns, m, columns, m, n, true, [&](int i, int j, long double s) {
        if (j >= i)
            result(i, j) = result(j, i) = float(s / (n - 1));
    });
    return result;
}

Matrix multiply(const Matrix &a, const Matrix &b)
{
#ifdef SORVIK_REFERENCE_KERNELS  // the plain build that the fast one is compared with
    return multiplyReference(a, b);
#endif
    // Feature rows are mostly zeros (the background of an image). A zero times a
    // finite number is a zero, and adding a zero leaves a sum as it was, so when b
    // is finite the zeros of a are passed over; the other terms keep their order.
    constexpr int ColumnBlock = 4;
    const int p = columnCount(a);
    const int q = columnCount(b);
    Matrix result(rowCount(a), q);
    if (result.values.empty())
        return result;
    std::vector<float> columns(std::size_t(q) * std::size_t(p));  // b's columns, each p long
    for (int t = 0; t < p; ++t)
        for (int j = 0; j < q; ++j)
            columns[std::size_t(j) * p + t] = b(t, j);
    const bool finite = std::all_of(columns.begin(), columns.end(), [](float v) { return std::isfinite(v); });

    std::vector<int> terms;
    for (int i = 0; i < result.rows; ++i) {
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
    }
    return result;
}
