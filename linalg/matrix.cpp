#include "linalg/matrix.h"

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

Matrix covariance(const Matrix &x)
{
    return covarianceReference(x);
}

Matrix multiply(const Matrix &a, const Matrix &b)
{
    return multiplyReference(a, b);
}
