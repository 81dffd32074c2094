#include "linalg/pca.h"

#include <jama_eig.h>
#include <tnt_array2d.h>

#include <cmath>

int keptComponentCount(int featureCount)
{
    // The product is a double before it is rounded: 10 * 0.85 is exactly 8.5 there.
    const double product = double(featureCount) * componentFraction;
    return int(std::round(product));
}

Matrix principalComponents(const Matrix &covariance, int k)
{
    const int m = rowCount(covariance);
    if (m == 0)
        return Matrix();
    TNT::Array2D<double> a(m, m);
    for (int i = 0; i < m; ++i)
        for (int j = 0; j < m; ++j)
            a[i][j] = covariance(i, j);

    // A symmetric matrix takes the tridiagonal QL path, which returns the
    // eigenvalues in ascending order: the last columns of V are the largest.
    JAMA::Eigenvalue<double> decomposition(a);
    TNT::Array2D<double> v;
    decomposition.getV(v);

    Matrix components(m, k);
    for (int i = 0; i < m; ++i)
        for (int t = 0; t < k; ++t)
            components(i, t) = float(v[i][m - 1 - t]);
    return components;
}
