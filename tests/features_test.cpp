// The F-transform: the exact weights, component counts, the worked examples read
// back from real image files of several formats, and properties that catch wrong
// supports, wrong channels or inexact sums.

#include "support.h"

#include "samples/features.h"
#include "samples/sample_reader.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cmath>
#include <cstring>
#include <random>

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

Raster transform(const Raster &raster)
{
    return fTransform(raster, 4, 2, 2);
}

std::vector<std::uint8_t> bytes(std::initializer_list<int> values)
{
    return std::vector<std::uint8_t>(values.begin(), values.end());
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
        {"uniform", 15, 15, [](int, int) { return 100; }, 2, 2, bytes({100, 100, 100, 100})},
        {"step", 15, 11, [](int x, int) { return x >= 8 ? 255 : 0; }, 2, 1, bytes({41, 245})},
        // 115 is the truncation of 115.99999973, which only single-precision weights give.
        {"squares", 16, 16, [](int x, int y) { return (x * x + 3 * y * y) % 256; }, 2, 2, bytes({138, 153, 115, 121})},
        {"ramp", 19, 15, [](int x, int y) { return (17 * x + 5 * y) % 256; }, 3, 2, bytes({132, 196, 89, 152, 198, 61})},
    };
    return all;
}

} // namespace

TEST(BasicFunctions, AreTheSinglePrecisionRaisedCosine)
{
    const std::vector<float> expected = {1.0f, std::ldexp(7160125.0f, -23), 0.5f, std::ldexp(4913933.0f, -25), 0.0f};
    const std::vector<float> table = basicFunctionTable(4);
    ASSERT_EQ(expected.size(), table.size());
    EXPECT_EQ(0, std::memcmp(expected.data(), table.data(), sizeof(float) * expected.size()));
}

TEST(FTransform, CountsWholeSupportsOnly)
{
    const std::vector<int> expected = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3};
    for (int size = 0; size <= 20; ++size) {
        const Raster wide = transform(rasterOf(size, 12, [](int, int) { return 7; }));
        const Raster tall = transform(rasterOf(12, size, [](int, int) { return 7; }));
        EXPECT_EQ(expected[size], wide.width) << size;
        EXPECT_EQ(expected[size], tall.height) << size;
        EXPECT_EQ(std::size_t(wide.width) * wide.height, wide.data.size());
        EXPECT_EQ(size, wide.sourceWidth);
        EXPECT_EQ(12, wide.sourceHeight);
    }
}

TEST(FTransform, GivesTheWorkedExamplesExactly)
{
    for (const Example &example : examples()) {
        const Raster result = transform(rasterOf(example.width, example.height, example.value));
        EXPECT_EQ(example.componentsWide, result.width) << example.name;
        EXPECT_EQ(example.componentsHigh, result.height) << example.name;
        EXPECT_EQ(example.expected, result.data) << example.name;
    }
}

TEST(FTransform, IgnoresPixelsOutsideEverySupport)
{
    std::mt19937 random(7);
    const Raster original = rasterOf(22, 18, [&](int, int) { return int(random() % 256); });
    const Raster expected = transform(original);
    ASSERT_EQ(3, expected.width);
    ASSERT_EQ(2, expected.height);
    // Supports cover columns 3 .. 17 and rows 3 .. 13 only.
    Raster changed = original;
    for (int y = 0; y < changed.height; ++y)
        for (int x = 0; x < changed.width; ++x)
            if (x < 3 || y < 3 || x > 17 || y > 13)
                changed.data[y * changed.width + x] = std::uint8_t(random());
    EXPECT_EQ(expected.data, transform(changed).data);
    Raster inside = original;
    inside.data[4 * inside.width + 4] ^= 0xff;
    EXPECT_NE(expected.data, transform(inside).data);
    EXPECT_EQ(expected.data, transform(original).data);  // the input is left as it was
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

TEST(Features, ReadOnlyTheBlueChannel)
{
    std::mt19937 random(3);
    QImage noisy(19, 15, QImage::Format_ARGB32);
    const Example &ramp = examples()[3];
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 19; ++x)
            noisy.setPixel(x, y, qRgba(int(random() % 256), int(random() % 256), ramp.value(x, y), int(random() % 256)));
    EXPECT_EQ(ramp.expected, extractFeatures(noisy).data);
}

TEST(Features, ComeOutTheSameFromEveryLosslessFormat)
{
    QTemporaryDir dir;
    for (const char *suffix : {"png", "bmp", "tif", "webp"}) {
        for (std::size_t e = 0; e < examples().size(); ++e) {
            const Example &example = examples()[e];
            QImage image = greyImage(example.width, example.height, example.value);
            if (std::strcmp(suffix, "bmp") == 0) {  // colour: red and green must not count
                for (int y = 0; y < image.height(); ++y)
                    for (int x = 0; x < image.width(); ++x)
                        image.setPixel(x, y, qRgb((x * 37) % 256, (y * 91) % 256, example.value(x, y)));
            }
            ASSERT_TRUE(image.save(dir.path() + QStringLiteral("/%1-%2.%3").arg(e).arg(example.name, suffix), nullptr, 100));  // WebP lossless
        }
    }
    // A uniform JPEG decodes to its value exactly.
    QImage uniform(15, 15, QImage::Format_RGB32);
    uniform.fill(qRgb(100, 100, 100));
    saveImage(uniform, dir.path(), "0-uniform.jpg", "JPEG");

    QList<Raster> samples;
    readSampleDirectory(dir.path(), samples);
    ASSERT_EQ(int(4 * examples().size() + 1), samples.size());
    for (const Raster &sample : samples) {
        const int e = sample.label.toInt();
        const Example &example = examples()[e];
        EXPECT_EQ(example.expected, sample.data) << example.name << " " << sample.label.toStdString();
        EXPECT_EQ(example.componentsWide, sample.width);
        EXPECT_EQ(example.width, sample.sourceWidth);
        EXPECT_EQ(example.height, sample.sourceHeight);
    }
}
