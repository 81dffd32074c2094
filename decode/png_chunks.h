#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace sorvik {

// The chunks of a PNG file, walked once for all who read them: the direct
// decoder, the completeness check and the screen before Qt.

inline std::uint32_t bigEndian32(const unsigned char *bytes)
{
    return std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 | std::uint32_t(bytes[2]) << 8 | bytes[3];
}

// Whether the bytes begin with the PNG signature.
inline bool isPng(const unsigned char *data, std::size_t size)
{
    return size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0;
}

struct PngChunk {
    const unsigned char *type;  // four letters, followed by the body
    const unsigned char *body;
    std::uint32_t length;
    bool last;                  // it ends exactly where the bytes end

    bool named(const char *name) const { return std::memcmp(type, name, 4) == 0; }
    std::uint32_t storedCrc() const { return bigEndian32(body + length); }
};

// Calls visit(chunk) for every whole chunk after the signature, in order, while
// visit returns true; the walk stops at a chunk that runs past the end of the
// bytes, whose length PNG does not allow, or whose header is cut.
template <class Visit>
void forEachPngChunk(const unsigned char *data, std::size_t size, const Visit &visit)
{
    for (std::size_t at = 8; at < size && size - at >= 12;) {
        const std::uint32_t length = bigEndian32(data + at);
        if (length > 0x7fffffff || length > size - at - 12)
            return;
        const std::size_t end = at + 12 + std::size_t(length);
        if (!visit(PngChunk{data + at + 4, data + at + 8, length, end == size}))
            return;
        at = end;
    }
}

} // namespace sorvik
