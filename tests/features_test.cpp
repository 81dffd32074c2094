// The F-transform: the worked examples exactly (their component counts, and a
// sum that only single-precision weights give), and the fast separable sums
// against the direct ones.

#include "support.h"

#include "samples/features.h"

#include <gtest/gtest.h>

#include <random>

using namespace sorvik;

namespace {

Raster rasterOf(int width, int height, const std::function<int(int, int)> &value)
{
    Raster raster;
    raster.width = width;
    raster.height = height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            raster.data.push_back(std::uint8_t(value(x, y)));
    return raster;
}

struct Example {
    const char *name;
    int width;
    int height;
    std::function<int(int, int)> value;
    int componentsWide;
    int componentsHigh;
    std::vector<std::uint8_t> expected;
};

const std::vector<Example> &examples()
{
    static const std::vector<Example> all = {
        {"uniform", 15, 15, [](int, int) { return 100; }, 2, 2, {100, 100, 100, 100}},
        {"step", 15, 11, [](int x, int) { return x >= 8 ? 255 : 0; }, 2, 1, {41, 245}},
        // 115 is the truncation of 115.99999973, which only single-precision weights give.
        {"squares", 16, 16, [](int x, int y) { return (x * x + 3 * y * y) % 256; }, 2, 2, {138, 153, 115, 121}},
        {"ramp", 19, 15, [](int x, int y) { return (17 * x + 5 * y) % 256; }, 3, 2, {132, 196, 89, 152, 198, 61}},
    };
    return all;
}

} // namespace


TEST(FTransform, GivesTheWorkedExamplesExactly)
{
    for (const Example &example : examples()) {
        const Raster result = fTransform(rasterOf(example.width, example.height, example.value), 4, 2, 2);
        EXPECT_EQ(example.componentsWide, result.width) << example.name;
        EXPECT_EQ(example.componentsHigh, result.height) << example.name;
        EXPECT_EQ(example.expected, result.data) << example.name;
    }
}

TEST(FTransform, SeparableSumsEqualTheDirectOnes)
{
    std::mt19937 random(13);
    for (int trial = 0; trial < 300; ++trial) {
        const int width = int(random() % 60), height = int(random() % 60);
        const int kind = trial % 3;  // noise, extremes 0 and 255, a single bright pixel
        const Raster raster = rasterOf(width, height, [&](int x, int y) {
            return kind == 0 ? int(random() % 256) : kind == 1 ? 255 * int(random() % 2) : (x == width / 2 && y == height / 2) * 255;
        });
        for (int h : {1, 2, 3, 4, 5, 7}) {
            const int offset = int(random() % 3);
            ASSERT_EQ(fTransformReference(raster, h, offset, 2 - offset).data, fTransform(raster, h, offset, 2 - offset).data)
                << width << "x" << height << " h " << h;
        }
    }
}

