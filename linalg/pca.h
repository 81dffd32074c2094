#pragma once

#include "linalg/matrix.h"

namespace sorvik {

// Share of the features kept as principal components.
constexpr double componentFraction = 0.85;

// Number of components kept for m features: m * share rounded, halves away from
// zero (the recipe's share is 0.85), and at least one, at most m.
int keptComponentCount(int featureCount, double share = componentFraction);

// The eigenvectors of the k largest eigenvalues of a finite, exactly symmetric
// covariance matrix, as the columns of an m x k matrix, largest first.
Matrix principalComponents(const Matrix &covariance, int k);

} // namespace sorvik
