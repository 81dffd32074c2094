#pragma once

// The plots of a report, the figures with axes, all from what the model and the
// answers already hold: the variance of the components, the training projections
// and the nearest distances.

#include "tools/report/predictions.h"
#include "tools/report/rejection.h"
#include "tools/grid.h"

#include "linalg/matrix.h"

#include <QImage>
#include <QPointF>
#include <QRect>

#include <vector>

namespace sorvik {

// The share of each component in the variance that the kept components hold: the
// variance of a projection column is its component's eigenvalue.
std::vector<double> varianceShares(const Matrix &projections);

// The cumulative share of the variance over the leading components, with where
// it first holds 90 and 99 %.
QImage varianceCurve(const std::vector<double> &shares, int features);

// The first two projections of at most `most` training rows (every n-th), a
// colour and marker per class: with a key for up to twelve classes, else each
// class named at its centre.
QImage projectionScatter(const Matrix &projections, const QStringList &labels, int most);

// The nearest squared distances of the images read right and of those misread,
// each as shares of its own kind over the same bins of one axis (of all images
// where none carries a class); distances that are not finite (a model of values
// too large for float arithmetic) are left out, and counted by
// unmeasuredDistances.
QImage distanceHistogram(const std::vector<Answer> &answers);
int unmeasuredDistances(const std::vector<Answer> &answers);

// The accuracy of the answers kept against the share of images answered as the
// rejection distance moves, the marked thresholds labelled with their distance.
QImage rejectionPlot(const std::vector<RejectionRow> &curve, const std::vector<RejectionRow> &marked);

// Where the label (`width` pixels wide) of a point marked at `at` goes: left of it
// below the curve, left of it above, then right of it below and above; the first
// place inside the plot's area (clear of the axes' labels) that none of the labels
// placed before overlaps.
QRect markLabelPlace(QPointF at, int width, const std::vector<QRect> &taken, const QRect &area);

// The cross-validated accuracy of a tuning grid against the components, a line
// per spacing (each point the best of its neighbour counts), the best circled.
QImage gridPlot(const std::vector<Scored> &grid, const Scored &best);

} // namespace sorvik
