#pragma once

// The pictures of a report, drawn with QPainter: the confusion matrix as a heat
// map, recall per class as bars, the leading components as images of the
// component grid, and a misread test image beside its nearest training image.

#include "tools/report/figures.h"

#include "linalg/matrix.h"

#include <QImage>

namespace sorvik {

QImage confusionPicture(const Figures &figures);
QImage recallPicture(const Figures &figures);

// Up to `count` columns of the components, each drawn as a grid of
// gridWidth x gridHeight cells, zero grey, positive light, negative dark.
QImage componentsPicture(const Matrix &components, int gridWidth, int gridHeight, int count);

// A test image, and beside it the nearest training image when there is one.
QImage pairPicture(const QImage &test, const QImage &nearest);

} // namespace sorvik
