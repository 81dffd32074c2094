#pragma once

// The report's pictures as PNG files, through libpng.

#include <QByteArray>
#include <QImage>

namespace sorvik {

// A picture as a PNG file, grey or RGB, unfiltered and compressed lightly: plots of
// flat colour shrink nearly as much as at the strongest level, in a fraction of
// the time. Empty when it cannot be encoded.
QByteArray pngBytes(const QImage &image);

} // namespace sorvik
