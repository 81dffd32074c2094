#pragma once

#include <QByteArray>
#include <QString>

namespace sorvik {

// Why a PNG file must not reach Qt's PNG handler, or an empty string. Two kinds
// are refused before it decodes them:
// - image data that inflates to far more than the image's rows hold (a few
//   kilobytes of pixels behind a gigabyte of data), which it would inflate to
//   the end before it accepts the image;
// - 16-bit RGB with a transparent key colour (tRNS), which it decodes into rows
//   whose last quarter it never writes, so that the pixels depend on what the
//   heap held before.
// Any other file, PNG or not, gives an empty string and is Qt's to judge.
QString pngRefusal(const QByteArray &bytes);

} // namespace sorvik
