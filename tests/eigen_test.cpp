// The fast eigen decomposition against JAMA, bit for bit: eigenvalues and every
// element of V, on random symmetric matrices of every kind that principal
// components meet and on one large matrix (the plain build's JAMA meets the
// covariances of real data in reference_test); and the principal components
// taken from it: orthonormal, in decreasing order.

#include "support.h"

#include "linalg/eigen.h"
#include "linalg/matrix.h"
#include "linalg/pca.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

using namespace sorvik;

namespace {

void expectSameBits(const std::vector<double> &a, int n, const std::string &what)
{
    const SymmetricEigen plain = symmetricEigenReference(a, n);
    SymmetricEigen fast;
    std::vector<double> work = a;
    ASSERT_TRUE(symmetricEigen(work, n, fast)) << what;
    ASSERT_EQ(plain.values.size(), fast.values.size()) << what;
    ASSERT_EQ(plain.vectors.size(), fast.vectors.size()) << what;
    EXPECT_EQ(0, std::memcmp(plain.values.data(), fast.values.data(), plain.values.size() * sizeof(double))) << what << ": eigenvalues";
    EXPECT_EQ(0, std::memcmp(plain.vectors.data(), fast.vectors.data(), plain.vectors.size() * sizeof(double))) << what << ": eigenvectors";
}

// A random symmetric matrix of one of the kinds below, of size n.
std::vector<double> randomSymmetric(int n, int kind, std::mt19937_64 &random)
{
    std::normal_distribution<double> normal;
    std::vector<double> a(std::size_t(n) * std::size_t(n));
    const auto at = [&](int i, int j) -> double & { return a[std::size_t(i) * std::size_t(n) + std::size_t(j)]; };
    const int rank = std::max(1, n / 3);
    std::vector<double> basis(std::size_t(rank) * std::size_t(n));
    for (double &x : basis)
        x = normal(random);
    const double scale = kind == 4 ? 1e150 : kind == 5 ? 1e-150 : 1.0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j) {
            double x = 0;
            switch (kind) {
            case 0: x = normal(random); break;                                       // full rank
            case 1:                                                                    // rank n / 3: a covariance
                for (int r = 0; r < rank; ++r)
                    x += basis[std::size_t(r) * std::size_t(n) + std::size_t(i)] * basis[std::size_t(r) * std::size_t(n) + std::size_t(j)];
                break;
            case 2: x = i == j ? double(1 + i % 3) : 0.0; break;                     // diagonal, repeated eigenvalues
            case 3: x = (i % 4 == 0 || j % 4 == 0) ? 0.0 : float(normal(random)); break;  // zero rows and columns, float values
            default: x = normal(random) * scale; break;                                // huge or tiny
            }
            at(i, j) = at(j, i) = x;
        }
    return a;
}

double dot(const Matrix &a, int columnA, const Matrix &b, int columnB)
{
    double sum = 0;
    for (int i = 0; i < a.rows; ++i)
        sum += double(a(i, columnA)) * b(i, columnB);
    return sum;
}

} // namespace

TEST(Eigen, EqualsJamaBitForBitOnRandomSymmetricMatrices)
{
    std::mt19937_64 random(7);
    for (int n : {1, 2, 3, 4, 5, 7, 8, 9, 16, 31, 32, 33, 63, 64, 65, 100, 127, 200, 300}) {
        for (int kind = 0; kind < 6; ++kind)
            for (int repeat = 0; repeat < (n <= 65 ? 2 : 1); ++repeat)
                expectSameBits(randomSymmetric(n, kind, random), n, "n " + std::to_string(n) + " kind " + std::to_string(kind));
    }
    std::vector<double> zero(25, 0.0);
    expectSameBits(zero, 5, "zero matrix");
}


TEST(Eigen, EqualsJamaOnALargeMatrix)
{
#ifdef SORVIK_SANITIZED
    GTEST_SKIP() << "the bits are the plain build's to prove; under the sanitizers JAMA alone takes minutes here";
#endif
    std::mt19937_64 random(11);
    expectSameBits(randomSymmetric(1600, 1, random), 1600, "n 1600");
}

TEST(PrincipalComponents, AreOrthonormalEigenvectorsInDecreasingOrder)
{
    std::mt19937 random(2);
    std::uniform_real_distribution<float> value(0, 255);
    Matrix x(80, 30);
    for (float &v : x.values)
        v = std::floor(value(random));
    const Matrix s = covariance(centerColumns(x));
    const int k = keptComponentCount(30);
    const Matrix e = principalComponents(s, k);
    ASSERT_EQ(30, e.rows);
    ASSERT_EQ(26, e.columns);

    const Matrix se = multiply(s, e);
    double previous = INFINITY;
    for (int t = 0; t < k; ++t) {
        for (int u = 0; u <= t; ++u)
            EXPECT_NEAR(t == u ? 1.0 : 0.0, dot(e, t, e, u), 1e-5) << t << "," << u;
        const double lambda = dot(e, t, se, t);
        EXPECT_LE(lambda, previous * (1 + 1e-6));
        previous = lambda;
        for (int i = 0; i < 30; ++i)
            EXPECT_NEAR(lambda * e(i, t), se(i, t), 1e-3 * std::fabs(lambda) + 1e-3);
    }
}
