#pragma once

#include "decode/pixels.h"
#include "samples/raster.h"

#include <algorithm>
#include <array>

namespace sorvik {

// The F-transform feature extractor: raised-cosine basic functions whose nodes lie
// h pixels apart, averaged over the blue channel of an image.

// Node spacing and the offsets of the first support of the fixed recipe.
constexpr int transformH = 4;
constexpr int transformOffsetX = 2;
constexpr int transformOffsetY = 2;

// The parameters of a transform: nodes `spacing` pixels apart (at least 1), the
// first support `offsetX` and `offsetY` pixels in. The default is the recipe's.
struct Transform {
    int spacing = transformH;
    int offsetX = transformOffsetX;
    int offsetY = transformOffsetY;
};

// The smallest side that gives one component either way.
inline int leastSide(const Transform &t)
{
    return 2 * t.spacing + std::max(t.offsetX, t.offsetY) + 1;
}

// The single-precision weights a[0] .. a[h] of a basic function: a[k] weighs a
// pixel k pixels away from its node.
std::vector<float> basicFunctionTable(int h);

// Number of whole supports that fit along a side of `size` pixels.
int componentCount(int size, int h, int offset);

// The grey raster of decoded pixels, which it takes over.
Raster rasterOfPixels(BluePixels &&blue);

// The direct two-dimensional F-transform of `input`, one byte per node: the
// weighted mean of the pixels under each basic function, formed exactly and
// truncated.
Raster fTransform(const Raster &input, int h, int offsetX, int offsetY);
inline Raster fTransform(const Raster &input, const Transform &t)
{
    return fTransform(input, t.spacing, t.offsetX, t.offsetY);
}

// The same, summing all (2h + 1)^2 weighted pixels of each node one by one: the
// reference that the fast transform is tested against.
Raster fTransformReference(const Raster &input, int h, int offsetX, int offsetY);

} // namespace sorvik
