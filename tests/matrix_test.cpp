// Matrix operations: the worked examples, exact symmetry, and the fast kernels
// against the plain loops bit for bit on random and adversarial data.

#include "support.h"

#include "linalg/matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

using namespace sorvik;

namespace {

bool sameBits(const Matrix &a, const Matrix &b)
{
    return a.rows == b.rows && a.columns == b.columns && a.values.size() == b.values.size()
        && (a.values.empty() || std::memcmp(a.values.data(), b.values.data(), a.values.size() * sizeof(float)) == 0);
}

// Random matrices of the kinds that break careless kernels: huge and tiny values,
// constant columns, negative zeros, and few rows.
Matrix adversarial(int rows, int columns, std::mt19937 &random, int kind)
{
    Matrix m(rows, columns);
    std::uniform_real_distribution<float> unit(-1, 1);
    std::uniform_int_distribution<int> exponent(-60, 60);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            float v = unit(random);
            switch (kind) {
            case 0: v = std::floor((v + 1) * 128); break;                  // pixel-like whole numbers
            case 1: v = std::ldexp(v, exponent(random)); break;             // all magnitudes
            case 2: v = c % 3 == 0 ? 42.5f : v * 1e-3f + 1e4f; break;       // constant columns, large offsets
            case 3: v = (r + c) % 5 == 0 ? -0.0f : std::ldexp(v, -140); break; // subnormals and -0
            case 4: v = (r * 7 + c) % 3 == 0 ? v * 255 : 0.0f; break;           // mostly zeros, like image features
            case 5: v = r == c ? INFINITY : ((r + c) % 2 ? 0.0f : v); break;    // zeros beside infinities
            default: break;
            }
            m(r, c) = v;
        }
    return m;
}

} // namespace

TEST(Matrix, WorkedExamples)
{
    const Matrix x = matrixOf({{1, 2, 5}, {3, 6, 5}});
    EXPECT_EQ(matrixOf({{-1, -2, 0}, {1, 2, 0}}), centerColumns(x));
    EXPECT_EQ(matrixOf({{1, 2, 5}, {3, 6, 5}}), x);
    // The mean 1/3 is rounded to double before it is subtracted from each float.
    const Matrix thirds = centerColumns(matrixOf({{1}, {0}, {0}}));
    EXPECT_EQ(float(1.0L - (long double)(1.0 / 3)), thirds(0, 0));
    EXPECT_EQ(float(0.0L - (long double)(1.0 / 3)), thirds(1, 0));

    // Covariance divides by the rows less one.
    EXPECT_EQ(matrixOf({{2, 4}, {4, 8}}), covariance(matrixOf({{-1, -2}, {1, 2}})));
    EXPECT_EQ(matrixOf({{1, 0}, {0, 0}}), covariance(matrixOf({{-1, 0}, {0, 0}, {1, 0}})));
    EXPECT_EQ(0, covariance(Matrix()).rows);

    // A product reads only the rows of b that a has columns for.
    EXPECT_EQ(matrixOf({{4, 5}}), multiply(matrixOf({{1, 2, 3}}), matrixOf({{1, 0}, {0, 1}, {1, 1}})));
    EXPECT_EQ(matrixOf({{3}}), multiply(matrixOf({{1, 2}}), matrixOf({{1}, {1}, {100}})));
    EXPECT_EQ(0, multiply(Matrix(), matrixOf({{1}})).rows);
    const Matrix empty = multiply(matrixOf({{1, 2}, {3, 4}}), Matrix());
    EXPECT_EQ(2, empty.rows);
    EXPECT_EQ(0, empty.columns);
}


TEST(Matrix, FastKernelsEqualThePlainLoopsBitForBit)
{
    std::mt19937 random(5);
    const int shapes[][3] = {{2, 1, 1}, {2, 7, 3}, {3, 25, 21}, {61, 33, 17}, {129, 70, 59}, {5, 196, 167}, {2, 9, 8}, {3000, 30, 7}};  // the last in several tiles
    for (int kind = 0; kind < 7; ++kind) {
        for (const auto &shape : shapes) {
            const Matrix x = adversarial(shape[0], shape[1], random, kind);
            const Matrix e = adversarial(shape[1] + 2, shape[2], random, kind);
            const Matrix centred = centerColumns(x);
            EXPECT_TRUE(sameBits(covarianceReference(centred), covariance(centred))) << kind << " " << shape[0] << "x" << shape[1];
            EXPECT_TRUE(sameBits(multiplyReference(x, e), multiply(x, e))) << kind << " " << shape[0] << "x" << shape[1];
        }
    }
}
