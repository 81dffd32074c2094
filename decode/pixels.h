#pragma once

#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sorvik {

// The blue value of every pixel of an image, row by row: what a sample decodes to.
struct BluePixels {
    std::vector<std::uint8_t> values;
    int width = 0;
    int height = 0;
};

// What decoding one sample may take, as a decoder context carries its limits: a
// few bytes of a file can announce an image of gigabytes. The file is held to
// `fileBytes` before it is read, the size its header announces to `pixels` before
// anything is allocated, and every single allocation of the decoders to
// `allocation` while they run (decode_limit.h).
struct DecodeLimits {
    qint64 pixels;
    qint64 fileBytes;
    std::size_t allocation;
};

// 4096 x 4096 pixels; 256 MiB, more than any image of that many pixels needs; 8
// bytes a pixel (the widest format Qt decodes into) and 1 MiB of row padding.
constexpr DecodeLimits sampleLimits{qint64(1) << 24, qint64(1) << 28, (std::size_t(1) << 24) * 8 + (std::size_t(1) << 20)};

} // namespace sorvik
