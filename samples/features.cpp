#include "samples/features.h"

#include "base/kernels.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace sorvik {

std::vector<float> basicFunctionTable(int h)
{
    const double pi = 3.141592653589793;
    std::vector<float> table(h + 1);
    for (int k = 0; k <= h; ++k) {
        const double c = std::cos(pi * k / h);
        table[k] = float((c + 1) * 0.5);
    }
    return table;
}

int componentCount(int size, int h, int offset)
{
    // Nodes start at h + offset and step by h while the node is below size - h.
    const int room = size - 2 * h - offset;
    return room <= 0 ? 0 : (room + h - 1) / h;
}

Raster rasterOfPixels(BluePixels &&blue)
{
    Raster grey;
    grey.data = std::move(blue.values);
    grey.width = grey.sourceWidth = blue.width;
    grey.height = grey.sourceHeight = blue.height;
    return grey;
}

namespace {

// 128 bits hold the exact sums for any node spacing the program could use.
using Wide = unsigned __int128;

// The basic-function table scaled by a power of two so that every weight is a
// whole number; exact, since every weight is a single-precision number (for h = 4
// the scale is 2^26).
std::vector<std::uint64_t> integerWeights(int h)
{
    const std::vector<float> table = basicFunctionTable(h);
    int scale = 0;
    for (float a : table) {
        int exponent = 0;
        if (std::frexp(a, &exponent) != 0)
            scale = std::max(scale, 24 - exponent);
    }
    std::vector<std::uint64_t> weight(table.size());
    for (std::size_t k = 0; k < table.size(); ++k)
        weight[k] = std::uint64_t(std::ldexp(double(table[k]), scale));
    return weight;
}

// numerator / denominator for a quotient of at most 255, without a 64-bit
// division: the double estimate is at most one off and is then corrected.
inline std::uint64_t truncatedQuotient(std::uint64_t numerator, std::uint64_t denominator)
{
    std::uint64_t q = std::min<std::uint64_t>(255, std::uint64_t(double(numerator) / double(denominator)));
    if (q * denominator > numerator)
        --q;
    else if (numerator - q * denominator >= denominator)
        ++q;
    return q;
}

// sums[x] = the sum over the rows k of taps[k] * rows[k][x]: exact, from the high
// and low 13-bit parts of every tap summed in 32-bit lanes. Built for AVX2 where
// the processor has it; integer sums are the same on every path.
__attribute__((target_clones("avx2", "default")))
void weightedColumnSums(const std::uint8_t *rows, int width, const std::uint64_t *taps, int count, std::uint32_t *high,
                        std::uint32_t *low, std::uint64_t *sums)
{
    std::fill(high, high + width, 0u);
    std::fill(low, low + width, 0u);
    for (int k = 0; k < count; ++k) {
        const std::uint32_t tapHigh = std::uint32_t(taps[k] >> 13), tapLow = std::uint32_t(taps[k] & 0x1fff);
        const std::uint8_t *row = rows + std::size_t(k) * width;
        for (int x = 0; x < width; ++x) {
            high[x] += tapHigh * row[x];
            low[x] += tapLow * row[x];
        }
    }
    for (int x = 0; x < width; ++x)
        sums[x] = (std::uint64_t(high[x]) << 13) + low[x];
}

Raster emptyGrid(const Raster &input, int h, int offsetX, int offsetY)
{
    Raster result;
    result.width = componentCount(input.width, h, offsetX);
    result.height = componentCount(input.height, h, offsetY);
    result.label = input.label;
    result.sourceWidth = input.width;
    result.sourceHeight = input.height;
    result.data.resize(std::size_t(result.width) * std::size_t(result.height));
    return result;
}

} // namespace

Raster fTransformReference(const Raster &input, int h, int offsetX, int offsetY)
{
    // Products and sums of whole-number weights run in integers without any
    // rounding, and the integer quotient is the truncated exact quotient.
    const std::vector<std::uint64_t> weight = integerWeights(h);
    Raster result = emptyGrid(input, h, offsetX, offsetY);
    for (int j = 0; j < result.height; ++j) {
        const int yc = h + offsetY + j * h;
        for (int i = 0; i < result.width; ++i) {
            const int xc = h + offsetX + i * h;
            Wide numerator = 0;
            Wide denominator = 0;
            for (int y = yc - h; y <= yc + h; ++y) {
                const std::uint8_t *row = input.data.data() + std::size_t(y) * input.width;
                for (int x = xc - h; x <= xc + h; ++x) {
                    const Wide w = Wide(weight[std::abs(x - xc)]) * weight[std::abs(y - yc)];
                    numerator += row[x] * w;
                    denominator += w;
                }
            }
            result.data[std::size_t(j) * result.width + i] = std::uint8_t(numerator / denominator);
        }
    }
    return result;
}

namespace {

Raster fTransformFast(const Raster &input, int h, int offsetX, int offsetY)
{
    // The weight of a pixel is a product of a column weight and a row weight, so
    // the numerator is the column-weighted sum of row-weighted column sums. In
    // integers this is the same exact number as the direct double sum; it needs
    // 64 bits only while 255 * (sum of weights)^2 stays below 2^64; the split column
    // sums below need every weight below 2^27 and at most 15 rows. All true for h = 4,
    // whose weights are worked out once.
    static const std::vector<std::uint64_t> fixedWeights = integerWeights(transformH);
    const std::vector<std::uint64_t> otherWeights = h == transformH ? std::vector<std::uint64_t>() : integerWeights(h);
    const std::vector<std::uint64_t> &weight = h == transformH ? fixedWeights : otherWeights;
    Wide weightSum = 0;
    for (int k = -h; k <= h; ++k)
        weightSum += weight[std::abs(k)];
    if (weightSum * weightSum * 255 >= (Wide(1) << 64) || weight[0] >= (std::uint64_t(1) << 27) || h > 7)
        return fTransformReference(input, h, offsetX, offsetY);
    const std::uint64_t denominator = std::uint64_t(weightSum * weightSum);

    std::uint64_t taps[15];  // weight of the pixel k - h columns from a node
    for (int k = -h; k <= h; ++k)
        taps[k + h] = weight[std::abs(k)];

    Raster result = emptyGrid(input, h, offsetX, offsetY);
    // Scratch lines that stay with the thread from image to image.
    static thread_local std::vector<std::uint64_t> columnSums;
    static thread_local std::vector<std::uint32_t> high, low;
    const std::size_t width = std::size_t(std::max(input.width, 0));
    if (columnSums.size() < width) {
        columnSums.resize(width);
        high.resize(width);
        low.resize(width);
    }
    for (int j = 0; j < result.height; ++j) {
        const int yc = h + offsetY + j * h;
        // Each weight below 2^27 splits into high and low parts below 2^14, so the
        // column sums of either part stay below 2^32 and run in 32-bit lanes.
        weightedColumnSums(input.data.data() + std::size_t(yc - h) * input.width, input.width, taps, 2 * h + 1,
                           high.data(), low.data(), columnSums.data());
        for (int i = 0; i < result.width; ++i) {
            const int xc = h + offsetX + i * h;
            const std::uint64_t *sums = columnSums.data() + (xc - h);
            std::uint64_t numerator = 0;
            for (int k = 0; k <= 2 * h; ++k)
                numerator += taps[k] * sums[k];
            result.data[std::size_t(j) * result.width + i] = std::uint8_t(truncatedQuotient(numerator, denominator));
        }
    }
    return result;
}

} // namespace

Raster fTransform(const Raster &input, int h, int offsetX, int offsetY)
{
    return plainKernels ? fTransformReference(input, h, offsetX, offsetY) : fTransformFast(input, h, offsetX, offsetY);
}

} // namespace sorvik
