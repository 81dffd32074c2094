#include "decode/png_screen.h"

#include "decode/png_chunks.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <memory>

namespace sorvik {

namespace {

// The bytes of the filtered scan lines that a header announces, passes of an
// interlaced image included.
std::uint64_t scanLineBytes(std::uint64_t width, std::uint64_t height, int colourType, int depth, bool interlaced)
{
    const int channels = colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
    const auto lines = [&](std::uint64_t w, std::uint64_t h) { return w == 0 || h == 0 ? 0 : h * (1 + (w * std::uint64_t(channels * depth) + 7) / 8); };
    if (!interlaced)
        return lines(width, height);
    // Adam7: each pass's first column and row, and its steps.
    static const int pass[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    std::uint64_t total = 0;
    for (const auto &p : pass)
        total += lines(width > std::uint64_t(p[0]) ? (width - p[0] + p[2] - 1) / p[2] : 0,
                       height > std::uint64_t(p[1]) ? (height - p[1] + p[3] - 1) / p[3] : 0);
    return total;
}

// Whether the image data chunks inflate to more than `limit` bytes; inflating
// stops there, at the end of the stream, or at data zlib refuses (Qt's to judge).
bool inflatesBeyond(const unsigned char *data, std::size_t size, std::uint64_t limit)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return false;
    constexpr std::size_t room = std::size_t(1) << 16;
    const std::unique_ptr<unsigned char[]> scratch(new unsigned char[room]);
    int status = Z_OK;
    forEachPngChunk(data, size, [&](const PngChunk &chunk) {
        if (chunk.named("IDAT")) {
            stream.next_in = const_cast<unsigned char *>(chunk.body);
            stream.avail_in = chunk.length;
            while (status == Z_OK && stream.avail_in > 0 && stream.total_out <= limit) {
                stream.next_out = scratch.get();
                stream.avail_out = uInt(room);
                status = inflate(&stream, Z_NO_FLUSH);
            }
        }
        return status == Z_OK && stream.total_out <= limit;
    });
    const bool beyond = stream.total_out > limit;
    inflateEnd(&stream);
    return beyond;
}

} // namespace

QString pngRefusal(const QByteArray &bytes)
{
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    const std::size_t size = std::size_t(bytes.size());
    if (size < 33 || std::memcmp(data, "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16) != 0)
        return QString();
    const std::uint32_t width = bigEndian32(data + 16), height = bigEndian32(data + 20);
    const int depth = data[24], colourType = data[25];
    bool keyColour = false;
    forEachPngChunk(data, size, [&](const PngChunk &chunk) {
        keyColour = keyColour || chunk.named("tRNS");
        return !chunk.named("IDAT");
    });
    if (keyColour && colourType == 2 && depth == 16)
        return QStringLiteral("is a PNG of 16-bit colour with a transparent key colour (tRNS), which this reader cannot decode");
    // A few times its rows, and room for what an encoder may leave after them.
    const std::uint64_t rows = scanLineBytes(width, height, colourType, depth, data[28] != 0);
    if (inflatesBeyond(data, size, 4 * rows + 4096))
        return QStringLiteral("is a damaged image: its image data unpacks to far more than its %1 x %2 pixels").arg(width).arg(height);
    return QString();
}

} // namespace sorvik
