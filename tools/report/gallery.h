#pragma once

// Which test images the page shows.

#include "tools/report/predictions.h"

#include <vector>

namespace sorvik {

// Misread images from every confused pair (actual, predicted): the most frequent
// pairs first (then by labels), taking one image of each pair in turn, each pair's
// in listing order, up to `limit`; where no image carries a class, the first
// `limit` images in listing order. Indices into `answers`.
std::vector<int> galleryChoice(const std::vector<Answer> &answers, int limit);

// The first `perClass` images of every class in listing order, class by class in
// code unit order of the labels.
std::vector<int> thumbnailChoice(const std::vector<Answer> &answers, int perClass);

// The classes of test images that no training image carries, in code unit order.
QStringList unseenClasses(const std::vector<Answer> &answers, const QStringList &modelLabels);

} // namespace sorvik
