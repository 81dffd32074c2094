#include "samples/features.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdlib>

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

Raster imageToRaster(const QImage &image)
{
    Raster grey;
    grey.width = image.width();
    grey.height = image.height();
    grey.sourceWidth = grey.width;
    grey.sourceHeight = grey.height;
    grey.data.resize(std::size_t(grey.width) * std::size_t(grey.height));
    // For an ARGB32 image a scan line holds exactly the values QImage::pixel returns.
    const bool argb32 = image.format() == QImage::Format_ARGB32;
    for (int y = 0; y < grey.height; ++y) {
        std::uint8_t *out = grey.data.data() + std::size_t(y) * grey.width;
        if (argb32) {
            const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            for (int x = 0; x < grey.width; ++x)
                out[x] = std::uint8_t(line[x]);
        } else {
            for (int x = 0; x < grey.width; ++x)
                out[x] = std::uint8_t(image.pixel(x, y));
        }
    }
    return grey;
}

// 128 bits hold the exact sums for any node spacing the program could use.
using Wide = unsigned __int128;

Raster fTransform(const Raster &input, int h, int offsetX, int offsetY)
{
    // Every weight is a single-precision number, so scaling the table by a power of
    // two makes each weight a whole number (for h = 4 the scale is 2^26). Products and
    // sums then run in integers without any rounding, and the integer quotient is the
    // truncated exact quotient.
    const std::vector<float> table = basicFunctionTable(h);
    int scale = 0;
    for (float a : table) {
        int exponent = 0;
        if (std::frexp(a, &exponent) != 0)
            scale = std::max(scale, 24 - exponent);
    }
    std::vector<Wide> weight(table.size());
    for (std::size_t k = 0; k < table.size(); ++k)
        weight[k] = Wide(std::ldexp(double(table[k]), scale));

    Raster result;
    result.width = componentCount(input.width, h, offsetX);
    result.height = componentCount(input.height, h, offsetY);
    result.label = input.label;
    result.sourceWidth = input.width;
    result.sourceHeight = input.height;
    result.data.reserve(std::size_t(result.width) * std::size_t(result.height));

    for (int j = 0; j < result.height; ++j) {
        const int yc = h + offsetY + j * h;
        for (int i = 0; i < result.width; ++i) {
            const int xc = h + offsetX + i * h;
            Wide numerator = 0;
            Wide denominator = 0;
            for (int y = yc - h; y <= yc + h; ++y) {
                const std::uint8_t *row = input.data.data() + std::size_t(y) * input.width;
                for (int x = xc - h; x <= xc + h; ++x) {
                    const Wide w = weight[std::abs(x - xc)] * weight[std::abs(y - yc)];
                    numerator += row[x] * w;
                    denominator += w;
                }
            }
            result.data.push_back(std::uint8_t(numerator / denominator));
        }
    }
    return result;
}

Raster extractFeatures(const QImage &image)
{
    return fTransform(imageToRaster(image), transformH, transformOffsetX, transformOffsetY);
}
