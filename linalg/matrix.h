#pragma once

#include <vector>

namespace sorvik {

// A dense matrix of 32-bit floats, stored row after row in one block.
struct Matrix {
    int rows = 0;
    int columns = 0;
    std::vector<float> values;  // rows * columns; element (r, c) at r * columns + c

    Matrix() = default;
    Matrix(int rowCount, int columnCount) : rows(rowCount), columns(columnCount), values(std::size_t(rowCount) * std::size_t(columnCount)) {}

    float *row(int r) { return values.data() + std::size_t(r) * std::size_t(columns); }
    const float *row(int r) const { return values.data() + std::size_t(r) * std::size_t(columns); }
    float &operator()(int r, int c) { return row(r)[c]; }
    float operator()(int r, int c) const { return row(r)[c]; }

    friend bool operator==(const Matrix &a, const Matrix &b) { return a.rows == b.rows && a.columns == b.columns && a.values == b.values; }
};


// Matrix operations. Products, sums, differences and quotients are formed in
// long double (64-bit significand), every sum in increasing index order, and each
// result is rounded once to float.

// Every column minus its mean over the rows (the mean rounded to double first).
Matrix centerColumns(const Matrix &x);

// Column covariance with divisor n - 1 of already centred data; exactly symmetric.
Matrix covariance(const Matrix &x);

// The product a * b, reading only the first a.columns rows of b (which has at least as many).
Matrix multiply(const Matrix &a, const Matrix &b);

// The same operations as plain loops, the reference that the fast ones are tested against.
Matrix covarianceReference(const Matrix &x);
Matrix multiplyReference(const Matrix &a, const Matrix &b);

} // namespace sorvik
