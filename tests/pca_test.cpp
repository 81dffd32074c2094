// Principal components: the worked examples, the number kept, and the properties
// of the eigenvectors of a random covariance.

#include "support.h"

#include "linalg/pca.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

double dot(const Matrix &a, int columnA, const Matrix &b, int columnB)
{
    double sum = 0;
    for (int i = 0; i < a.rows; ++i)
        sum += double(a(i, columnA)) * b(i, columnB);
    return sum;
}

} // namespace

TEST(PrincipalComponents, KeepsEightyFivePercentRounded)
{
    const int table[][2] = {{1, 1}, {2, 2}, {4, 3}, {10, 9}, {20, 17}, {25, 21}, {30, 26}, {50, 43}, {64, 54}, {100, 85}, {196, 167}, {900, 765}};
    for (const auto &row : table)
        EXPECT_EQ(row[1], keptComponentCount(row[0])) << row[0];
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
