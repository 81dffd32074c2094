#pragma once

#include <QByteArray>
#include <QSize>

namespace sorvik {

// Whether the bytes of an image hold all the data that its own header announces,
// for the formats whose Qt decoder fills in what is missing instead of failing:
// BMP (uncompressed and RLE), ICO and CUR, GIF (up to the end of the first image),
// XBM and PNG (up to the IEND chunk). `format` is the name of the handler that
// decoded it ("bmp", "gif", ...), `size` the size that it decoded. Other formats
// are judged by their decoders alone.
bool imageDataComplete(const QByteArray &bytes, const QByteArray &format, QSize size);

} // namespace sorvik
