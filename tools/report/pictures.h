#pragma once

// The pictures of a report, the figures made of bars and images: recall per
// class as bars, the leading components as images, test images by class, and a
// misread test image beside its nearest training image. (The confusion matrix is
// a table of the page, whose cells tell their counts as one points at them.)

#include "tools/report/figures.h"

#include "linalg/matrix.h"
#include "samples/features.h"
#include "samples/raster.h"

#include <QImage>

namespace sorvik {

QImage recallPicture(const Figures &figures);

// Component t taken back to pixels through the basic functions of the F-transform:
// each pixel the sum of the component's values weighted as the transform weighs
// that pixel, drawn on the component's own scale (zero grey, light positive, dark
// negative, its largest magnitude full white or black).
QImage componentImage(const Matrix &components, int t, const Raster &grid, const Transform &transform);

// Up to `count` leading components, each taken back to an image of the size the
// grid of F-transform components came from (through the basic functions of
// `transform`) and titled with its index and its share of the variance.
QImage componentsPicture(const Matrix &components, const Raster &grid, const std::vector<double> &shares, int count,
                         const Transform &transform = Transform());

// Rows of images, one row per class, each headed by its label.
QImage thumbnailSheet(const QStringList &labels, const std::vector<QImage> &images);

// A test image, and beside it the nearest training image when there is one, at
// their own size for the page to enlarge.
QImage pairPicture(const QImage &test, const QImage &nearest);

} // namespace sorvik
