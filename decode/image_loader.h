#pragma once

#include "decode/sample_file.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstdint>
#include <vector>

namespace sorvik {

// File bytes to pixels, equal to Qt's: the handler is chosen as Qt chooses it for
// the file, and images that Qt would fill in, that announce more than any sample
// should be, or that Qt would decode from memory it never wrote are refused.

// Images larger than this many pixels (4096 x 4096) are not decoded: a few bytes
// of a file can announce a size that would take gigabytes.
constexpr qint64 maxImagePixels = qint64(1) << 24;


// The image of a sample file as 32-bit ARGB, loaded without a format hint, or a
// null image and the reason ("is a damaged or truncated image"). Images larger
// than the caps above and images whose data ends before their header says are
// refused.
QImage loadSampleImage(const QString &path, QString &failure);

// The same through QImageReader on the file itself: the reference that the
// loading from memory is tested against.
QImage loadSampleImageReference(const QString &path, QString &failure);

// The blue value of every pixel of an image, row by row.
struct BluePixels {
    std::vector<std::uint8_t> values;
    int width = 0;
    int height = 0;
};

// The blue channel of a 32-bit ARGB image (any other format is read pixel by pixel).
BluePixels bluePixels(const QImage &image);

// The blue channel of a sample file (its path as the file system has it): the
// same as bluePixels(loadSampleImage(...)), with the same failures, but the plain
// PNG files that most sample sets hold decode without Qt. Empty on failure. Safe
// to call from several threads at once.
BluePixels loadSamplePixels(const QByteArray &path, QString &failure);

} // namespace sorvik
