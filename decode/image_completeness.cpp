#include "decode/image_completeness.h"

#include "decode/png_chunks.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace sorvik {

namespace {

struct Bytes {
    const unsigned char *data;
    std::int64_t size;

    unsigned at(std::int64_t i) const { return i < size ? data[i] : 0; }
    std::uint32_t le16(std::int64_t i) const { return at(i) | at(i + 1) << 8; }
    std::uint32_t le32(std::int64_t i) const { return le16(i) | le16(i + 2) << 16; }
};

// Walks RLE8 (or RLE4) codes from `p` to the end-of-bitmap code, or to the end of
// the last of `rows` lines.
bool rleComplete(const Bytes &b, std::int64_t p, bool fourBit, std::int64_t rows)
{
    for (std::int64_t lines = 0; p + 1 < b.size;) {
        const unsigned count = b.at(p), code = b.at(p + 1);
        p += 2;
        if (count != 0)
            continue;  // a run of one value
        if (code == 1)
            return true;  // end of bitmap
        if (code == 0) {
            if (++lines >= rows)
                return true;
        } else if (code == 2) {
            p += 2;  // a jump
        } else {
            const std::int64_t stored = fourBit ? (code + 1) / 2 : code;
            p += stored + (stored & 1);  // literal pixels, padded to a whole word
        }
    }
    return false;
}

bool bmpComplete(const Bytes &b)
{
    if (b.size < 26)
        return false;
    const std::int64_t offset = b.le32(10);
    const std::uint32_t headerSize = b.le32(14);
    std::int64_t width, height;
    std::uint32_t bits, compression = 0;
    if (headerSize == 12) {  // OS/2 core header
        width = b.le16(18);
        height = b.le16(20);
        bits = b.le16(24);
    } else {
        width = std::int32_t(b.le32(18));
        height = std::int32_t(b.le32(22));
        bits = b.le16(28);
        compression = b.le32(30);
    }
    width = std::llabs(width);
    height = std::llabs(height);
    if (compression == 1 || compression == 2)
        return rleComplete(b, offset, compression == 2, height);
    const std::int64_t rowBytes = (width * bits + 31) / 32 * 4;
    return b.size >= offset + rowBytes * height;
}

bool iconComplete(const Bytes &b)
{
    const std::int64_t count = b.le16(4);
    if (b.size < 6 + 16 * count)
        return false;
    for (std::int64_t i = 0; i < count; ++i) {
        const std::int64_t entry = 6 + 16 * i;
        if (std::int64_t(b.le32(entry + 12)) + b.le32(entry + 8) > b.size)
            return false;
    }
    return true;
}

// Skips the data sub-blocks at `p`; false when they run past the end.
bool skipSubBlocks(const Bytes &b, std::int64_t &p)
{
    while (p < b.size && b.at(p) != 0)
        p += b.at(p) + 1;
    return p++ < b.size;
}

bool gifComplete(const Bytes &b)
{
    if (b.size < 13)
        return false;
    std::int64_t p = 13;
    if (b.at(10) & 0x80)
        p += 3 << ((b.at(10) & 7) + 1);  // global colour table
    while (p < b.size) {
        const unsigned block = b.at(p);
        if (block == 0x21) {  // extension
            p += 2;
            if (!skipSubBlocks(b, p))
                return false;
        } else if (block == 0x2c) {  // image: complete once its data ends
            const unsigned flags = b.at(p + 9);
            p += 10;
            if (flags & 0x80)
                p += 3 << ((flags & 7) + 1);
            p += 1;  // the LZW code size
            return skipSubBlocks(b, p);
        } else {
            return true;  // the trailer, or what the decoder judges itself
        }
    }
    return false;
}

bool xbmComplete(const QByteArray &bytes, QSize size)
{
    // Every byte of the bitmap is written as "0x" and two hex digits, after the brace.
    const std::int64_t needed = std::int64_t((size.width() + 7) / 8) * size.height();
    std::int64_t found = 0;
    for (int p = bytes.indexOf('{'); p >= 0 && found < needed && (p = bytes.indexOf("0x", p)) >= 0 && p + 4 <= bytes.size(); p += 2)
        ++found;
    return found == needed;
}

bool pngComplete(const Bytes &b)
{
    // The whole end chunk, its check sum included.
    bool ended = false;
    forEachPngChunk(b.data, std::size_t(b.size), [&](const PngChunk &chunk) { return !(ended = chunk.named("IEND")); });
    return ended;
}

} // namespace

bool imageDataComplete(const QByteArray &bytes, const QByteArray &format, QSize size)
{
    const Bytes b{reinterpret_cast<const unsigned char *>(bytes.constData()), bytes.size()};
    if (format == "bmp")
        return bmpComplete(b);
    if (format == "ico" || format == "cur")
        return iconComplete(b);
    if (format == "gif")
        return gifComplete(b);
    if (format == "xbm")
        return xbmComplete(bytes, size);
    if (format == "png")
        return pngComplete(b);
    return true;
}

} // namespace sorvik
