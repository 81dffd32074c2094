#pragma once

// The plots of a report, the figures with axes, all from what the model and the
// answers already hold: the variance of the components, the training projections
// and the nearest distances.

#include "tools/report/predictions.h"

#include "linalg/matrix.h"

#include <QImage>

#include <vector>

namespace sorvik {

// The share of each component in the variance that the kept components hold: the
// variance of a projection column is its component's eigenvalue.
std::vector<double> varianceShares(const Matrix &projections);

// The cumulative share of the variance over the leading components.
QImage varianceCurve(const std::vector<double> &shares);

// The first two projections of at most `most` training rows (every n-th), a
// colour per class with a key.
QImage projectionScatter(const Matrix &projections, const QStringList &labels, int most);

// The nearest distances (square roots of the squared ones) of the images read
// right and of those misread, each in its own panel over the same bins; distances
// that are not finite (a model of values too large for float arithmetic) are left
// out, and counted by unmeasuredDistances.
QImage distanceHistogram(const std::vector<Answer> &answers);
int unmeasuredDistances(const std::vector<Answer> &answers);

} // namespace sorvik
