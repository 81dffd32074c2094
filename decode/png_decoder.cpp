#include "decode/png_decoder.h"

#include "decode/png_chunks.h"


#include <zlib.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace sorvik {

namespace {

// One inflate state for each window a zlib header can announce (2^8 to 2^15
// bytes), kept from file to file; a stream goes to the state of its own window.
// Within one call zlib reaches back as far as the output goes, beyond the
// window, and Qt's handler takes such streams too; a distance beyond the window
// across two IDAT chunks fails here, and the file then goes to Qt, which decides.
class Inflaters {
public:
    ~Inflaters()
    {
        for (std::size_t i = 0; i < streams.size(); ++i)
            if (ready[i])
                inflateEnd(&streams[i]);
    }

    z_stream *forWindowBits(int bits)
    {
        const std::size_t i = std::size_t(bits - 8);
        if (ready[i])
            return inflateReset(&streams[i]) == Z_OK ? &streams[i] : nullptr;
        ready[i] = inflateInit2(&streams[i], bits) == Z_OK;
        return ready[i] ? &streams[i] : nullptr;
    }

private:
    std::array<z_stream, 8> streams{};
    std::array<bool, 8> ready{};
};

struct Span {
    const unsigned char *data;
    std::uint32_t size;
};

// The header fields that matter here, once checked.
struct Header {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int channels = 0;
};

bool readHeader(const unsigned char *body, Header &header)
{
    header.width = bigEndian32(body);
    header.height = bigEndian32(body + 4);
    const int depth = body[8], colourType = body[9], compression = body[10], filter = body[11], interlace = body[12];
    switch (colourType) {
    case 0: header.channels = 1; break;  // grey
    case 2: header.channels = 3; break;  // RGB
    case 4: header.channels = 2; break;  // grey and alpha
    case 6: header.channels = 4; break;  // RGBA
    default: return false;
    }
    // libpng refuses sides beyond a million pixels; larger images are Qt's to refuse.
    constexpr std::uint32_t largestSide = 1000000;
    return depth == 8 && compression == 0 && filter == 0 && interlace == 0 && header.width >= 1 && header.height >= 1
           && header.width <= largestSide && header.height <= largestSide
           && qint64(header.width) * header.height <= sampleLimits.pixels;
}

// The chunks of a plain file: IHDR first, at most one pHYs before the image data,
// one unbroken run of IDAT chunks, IEND last and nothing after it; every CRC right.
bool readChunks(const unsigned char *data, std::size_t size, Header &header, std::vector<Span> &imageData)
{
    if (!isPng(data, size))
        return false;
    imageData.clear();
    bool physical = false, dataEnded = false, plain = false;
    std::size_t index = 0;
    forEachPngChunk(data, size, [&](const PngChunk &chunk) {
        if (crc32(crc32(0, nullptr, 0), chunk.type, chunk.length + 4) != chunk.storedCrc())
            return false;
        if (index++ == 0)
            return chunk.named("IHDR") && chunk.length == 13 && readHeader(chunk.body, header);
        if (chunk.named("IDAT")) {
            if (dataEnded || chunk.length == 0)
                return false;
            imageData.push_back({chunk.body, chunk.length});
            return true;
        }
        dataEnded = !imageData.empty();
        if (chunk.named("pHYs") && !physical && !dataEnded && chunk.length == 9 && chunk.body[8] <= 1)
            return physical = true;
        plain = chunk.named("IEND") && chunk.length == 0 && dataEnded && chunk.last;
        return false;
    });
    return plain;
}

// zlib decodes at full speed only while it has room for a longest match (258
// bytes) after the current byte; the room after the image also shows data beyond it.
constexpr std::size_t roomAfterImage = 258;

// Inflates the image data into `lines`: it must hold exactly `expected` bytes and
// end the zlib stream, whose check value zlib verifies. `lines` has room for
// `roomAfterImage` bytes more.
bool inflateImageData(const std::vector<Span> &imageData, unsigned char *lines, std::size_t expected)
{
    static thread_local Inflaters inflaters;
    const unsigned char method = imageData.front().data[0];
    if ((method & 0x0f) != Z_DEFLATED || (method >> 4) > 7)
        return false;
    z_stream *stream = inflaters.forWindowBits((method >> 4) + 8);
    if (!stream)
        return false;
    stream->next_out = lines;
    stream->avail_out = uInt(expected + roomAfterImage);
    int status = Z_OK;
    for (const Span &span : imageData) {
        if (status == Z_STREAM_END)
            return false;
        stream->next_in = const_cast<unsigned char *>(span.data);
        stream->avail_in = span.size;
        status = inflate(stream, Z_NO_FLUSH);
        if ((status != Z_OK && status != Z_STREAM_END) || stream->avail_in != 0)
            return false;
    }
    return status == Z_STREAM_END && stream->total_out == expected;
}

inline unsigned char paeth(int a, int b, int c)
{
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return (unsigned char)(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Undoes the filter of one scan line in place, given the line above it (which
// lies elsewhere in memory).
bool unfilter(int filter, unsigned char *__restrict line, const unsigned char *__restrict above, std::size_t length, std::size_t pixelBytes)
{
    switch (filter) {
    case 0:
        return true;
    case 1:
        for (std::size_t i = pixelBytes; i < length; ++i)
            line[i] = (unsigned char)(line[i] + line[i - pixelBytes]);
        return true;
    case 2:
        for (std::size_t i = 0; i < length; ++i)
            line[i] = (unsigned char)(line[i] + above[i]);
        return true;
    case 3:
        for (std::size_t i = 0; i < length; ++i)
            line[i] = (unsigned char)(line[i] + ((i >= pixelBytes ? line[i - pixelBytes] : 0) + above[i]) / 2);
        return true;
    case 4:
        for (std::size_t i = 0; i < length; ++i) {
            const bool left = i >= pixelBytes;
            line[i] = (unsigned char)(line[i] + paeth(left ? line[i - pixelBytes] : 0, above[i], left ? above[i - pixelBytes] : 0));
        }
        return true;
    default:
        return false;
    }
}

} // namespace

bool decodePlainPng(const QByteArray &bytes, BluePixels &blue)
{
    static thread_local std::vector<Span> imageData;
    // Scan lines stay from image to image but for those of a large image.
    static thread_local std::unique_ptr<unsigned char[]> lines;
    static thread_local std::size_t capacity = 0;
    struct Release {
        ~Release()
        {
            if (capacity > (std::size_t(1) << 24))
                lines.reset(), capacity = 0;
        }
    } release;
    Header header;
    if (!readChunks(reinterpret_cast<const unsigned char *>(bytes.constData()), std::size_t(bytes.size()), header, imageData))
        return false;
    // Each scan line is its filter byte and the samples; a line of zeros above the
    // first one stands for the line that is not there.
    const std::size_t width = header.width, height = header.height, channels = std::size_t(header.channels);
    const std::size_t stride = 1 + width * channels;
    if (capacity < stride * (height + 1) + roomAfterImage) {
        capacity = stride * (height + 1) + roomAfterImage;
        lines.reset(new unsigned char[capacity]);
    }
    std::memset(lines.get(), 0, stride);
    if (!inflateImageData(imageData, lines.get() + stride, stride * height))
        return false;
    blue.width = int(width);
    blue.height = int(height);
    blue.values.resize(width * height);
    const std::size_t blueSample = channels >= 3 ? 2 : 0;  // grey stands for all three colours
    for (std::size_t y = 0; y < height; ++y) {
        unsigned char *line = lines.get() + (y + 1) * stride;
        if (!unfilter(line[0], line + 1, line + 1 - stride, stride - 1, channels))
            return false;
        std::uint8_t *out = blue.values.data() + y * width;
        if (channels == 1) {
            std::memcpy(out, line + 1, width);
            continue;
        }
        for (std::size_t x = 0; x < width; ++x)
            out[x] = line[1 + x * channels + blueSample];
    }
    return true;
}

} // namespace sorvik
