#pragma once

#include "linalg/matrix.h"

namespace sorvik {

// Share of the features kept as principal components.
constexpr double componentFraction = 0.85;

// Number of components kept for m features: m * 0.85 rounded, halves away from zero.
int keptComponentCount(int featureCount);

// The eigenvectors of the k largest eigenvalues of a finite, exactly symmetric
// covariance matrix, as the columns of an m x k matrix, largest first.
Matrix principalComponents(const Matrix &covariance, int k);

} // namespace sorvik
