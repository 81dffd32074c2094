#pragma once

#include "decode/pixels.h"

#include <QByteArray>

namespace sorvik {

// The blue channel of the PNG files that need nothing beyond inflating and
// unfiltering: 8 bits a sample, grey, grey and alpha, RGB or RGBA, not
// interlaced, made of IHDR, an optional pHYs, IDAT and IEND only, every CRC and
// the zlib check right, and exactly as much image data as the header announces.
// For such a file Qt's PNG handler gives the same values. Returns false for every
// other file, which is then left to Qt.
bool decodePlainPng(const QByteArray &bytes, BluePixels &blue);

} // namespace sorvik
