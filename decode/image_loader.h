#pragma once

#include "decode/pixels.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstdint>
#include <vector>

namespace sorvik {

// File bytes to pixels, equal to Qt's: the handler is chosen as Qt chooses it for
// the file, and images that Qt would fill in, that announce more than any sample
// should be, or that Qt would decode from memory it never wrote are refused.

// The image of a sample file as 32-bit ARGB, loaded without a format hint, or a
// null image and the reason ("is a damaged or truncated image"). Images beyond
// sampleLimits (pixels.h) and images whose data ends before their header says
// are refused.
QImage loadSampleImage(const QString &path, QString &failure);

// The same through QImageReader on the file itself: the reference that the
// loading from memory is tested against.
QImage loadSampleImageReference(const QString &path, QString &failure);

// The blue channel of a 32-bit ARGB image (any other format is read pixel by pixel).
BluePixels bluePixels(const QImage &image);

// The blue channel of a sample file (its path as the file system has it): the
// same as bluePixels(loadSampleImage(...)), with the same failures, but the plain
// PNG files that most sample sets hold decode without Qt. Empty on failure. Safe
// to call from several threads at once.
BluePixels loadSamplePixels(const QByteArray &path, QString &failure);

} // namespace sorvik
