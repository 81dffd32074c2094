#include "linalg/pca.h"

#include "linalg/eigen.h"
#include "base/kernels.h"

#include <algorithm>
#include <cmath>

namespace sorvik {

int keptComponentCount(int featureCount, double share)
{
    // The product is a double before it is rounded: 10 * 0.85 is exactly 8.5 there.
    const double product = double(featureCount) * share;
    return featureCount < 1 ? 0 : std::clamp(int(std::round(product)), 1, featureCount);
}

Matrix principalComponents(const Matrix &covariance, int k)
{
    const int m = covariance.rows;
    if (m == 0)
        return Matrix();
    std::vector<double> a(std::size_t(m) * std::size_t(m));
    for (int i = 0; i < m; ++i)
        for (int j = 0; j < m; ++j)
            a[std::size_t(i) * std::size_t(m) + std::size_t(j)] = covariance(i, j);

    // A symmetric matrix takes the tridiagonal QL path, which returns the
    // eigenvalues in ascending order: the last columns of V are the largest.
    SymmetricEigen decomposition;
    if (plainKernels || !symmetricEigen(a, m, decomposition))  // a refused matrix is left as it was
        decomposition = symmetricEigenReference(a, m);
    Matrix components(m, k);
    for (int i = 0; i < m; ++i)
        for (int t = 0; t < k; ++t)
            components(i, t) = float(decomposition.vectors[std::size_t(m - 1 - t) * std::size_t(m) + std::size_t(i)]);
    return components;
}

} // namespace sorvik
