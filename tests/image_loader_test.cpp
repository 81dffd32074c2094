// The loader against Qt: every kind of image file the reader takes, under every
// suffix, gives Qt's pixels or fails for Qt's reason; two decodes of a file with
// the heap's memory filled with different bytes give the same pixels; no cut of
// a file loads.

#include "support.h"

#include "decode/image_loader.h"
#include "samples/features.h"
#include "samples/sample_reader.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QTemporaryDir>

#include <random>

#include <malloc.h>

using namespace sorvik;

namespace {

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format)) << format;
    return bytes;
}

// A 12 x 12 bitmap of 8-bit run-length code: each line a run of seven pixels,
// five pixels stored as they are with a byte of padding (the last pixel and the
// padding read as an end of bitmap if the five were taken for 4-bit pixels or
// the padding missed), and its end; the last line ends the bitmap.
QByteArray runLengthBitmap()
{
    const auto le = [](quint32 v, int bytes) { return QByteArray(reinterpret_cast<const char *>(&v), bytes); };
    QByteArray data;
    for (int y = 0; y < 12; ++y)
        data += QByteArray(1, 7) + char(y * 20) + QByteArray(1, 0) + char(5) + QByteArray("\x10\x30\x50\x70\x00\x01", 6) + QByteArray(1, 0) + char(y == 11 ? 1 : 0);
    QByteArray palette;
    for (int i = 0; i < 256; ++i)
        palette += le(quint32(i * 0x010101), 4);
    const QByteArray info = le(40, 4) + le(12, 4) + le(12, 4) + le(1, 2) + le(8, 2) + le(1, 4) + le(quint32(data.size()), 4) + QByteArray(8, 0) + le(256, 4) + le(0, 4);
    return "BM" + le(quint32(14 + 40 + 1024 + data.size()), 4) + le(0, 4) + le(14 + 40 + 1024, 4) + info + palette + data;
}

// An icon of two images (Qt writes one), so that the second entry of the
// directory is read too.
QByteArray twoImageIcon(const QByteArray &single)
{
    const QByteArray entry = single.mid(6, 16), data = single.mid(22);
    const auto at = [&](quint32 offset) { return entry.left(12) + QByteArray(reinterpret_cast<const char *>(&offset), 4); };
    return QByteArray("\0\0\1\0\2\0", 6) + at(38) + at(quint32(38 + data.size())) + data + data;
}


// A PNG file made byte by byte: random samples of any colour type and depth, each
// line under a random filter, a palette of every index its depth allows, and a
// tRNS chunk (a key colour of sample value 1, or palette alphas) where asked.
QByteArray handMadePng(int width, int height, int depth, int colourType, bool transparency, bool interlaced, unsigned seed)
{
    std::mt19937 random(seed);
    const int channels = colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
    QByteArray rows;
    const auto addLines = [&](int w, int h) {
        for (int y = 0; w > 0 && y < h; ++y) {
            rows += char(random() % 5);
            for (int i = 0; i < (w * channels * depth + 7) / 8; ++i)
                rows += char(random());
        }
    };
    if (!interlaced)
        addLines(width, height);
    static const int passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    for (const auto &p : passes)
        if (interlaced)
            addLines((width - p[0] + p[2] - 1) / p[2], (height - p[1] + p[3] - 1) / p[3]);
    QByteArray file = QByteArray("\x89PNG\r\n\x1a\n", 8)
        + pngChunk("IHDR", bigEndian(quint32(width)) + bigEndian(quint32(height)) + char(depth) + char(colourType) + QByteArray(2, 0) + char(interlaced));
    QByteArray palette, alphas;
    for (int i = 0; colourType == 3 && i < (1 << depth); ++i)
        palette += char(random()), palette += char(random()), palette += char(random()), alphas += char(random());
    if (colourType == 3)
        file += pngChunk("PLTE", palette);
    if (transparency)
        file += pngChunk("tRNS", colourType == 3 ? alphas : QByteArray(colourType == 2 ? "\0\1\0\1\0\1" : "\0\1", colourType == 2 ? 6 : 2));
    return file + pngChunk("IDAT", qCompress(rows).mid(4)) + pngChunk("IEND", {});
}

// An uncompressed BMP file of any depth with random pixels (and a random palette
// of every index up to 8 bits); 16 bits are 5-5-5.
QByteArray handMadeBmp(int width, int height, int bits, unsigned seed)
{
    std::mt19937 random(seed);
    const auto le = [](quint32 v, int bytes) { return QByteArray(reinterpret_cast<const char *>(&v), bytes); };
    QByteArray palette, pixels;
    for (int i = 0; bits <= 8 && i < (1 << bits); ++i)
        palette += le(random() & 0xffffff, 4);
    for (int i = 0; i < (width * bits + 31) / 32 * 4 * height; ++i)
        pixels += char(random());
    const quint32 offset = quint32(14 + 40 + palette.size());
    const QByteArray info = le(40, 4) + le(quint32(width), 4) + le(quint32(height), 4) + le(1, 2) + le(quint32(bits), 2) + le(0, 4)
                            + le(quint32(pixels.size()), 4) + le(2835, 4) + le(2835, 4) + le(0, 4) + le(0, 4);
    return "BM" + le(offset + quint32(pixels.size()), 4) + le(0, 4) + le(offset, 4) + info + palette + pixels;
}

// The same GIF with its global colour table moved into its image, as a local one
// (the file's image descriptor follows the global table directly).
QByteArray localTableGif(const QByteArray &gif)
{
    const char flags = gif[10];
    const int table = 3 << ((flags & 7) + 1), image = 13 + table;
    const QByteArray descriptor = gif.mid(image, 9) + char(0x80 | (flags & 7));
    return gif.left(10) + char(flags & 0x7f) + gif.mid(11, 2) + descriptor + gif.mid(13, table) + gif.mid(image + 10);
}

// The plain-text kinds of PBM, PGM and PPM.
QByteArray textPortableMap(const char *magic, int width, int height, int channels, int largest)
{
    QByteArray text = QByteArray(magic) + "\n" + QByteArray::number(width) + " " + QByteArray::number(height) + "\n";
    if (largest > 1)
        text += QByteArray::number(largest) + "\n";
    for (int i = 0; i < width * height * channels; ++i)
        text += QByteArray::number((i * 37 + i / 7) % (largest + 1)) + (i % 16 == 15 ? "\n" : " ");
    return text;
}

// Every kind of file the reader takes: PNG of every colour type and depth, with and
// without transparency, interlaced or not; BMP of every depth and run-length code;
// GIF; JPEG, TIFF, WebP and ICO of several pixel formats; PBM, PGM and PPM in both
// forms; XBM, XPM, TGA and WBMP; each format Qt writes also cut in half.
std::vector<std::pair<QString, QByteArray>> imageCorpus(const QImage &image)
{
    std::vector<std::pair<QString, QByteArray>> contents = {{"empty", QByteArray()}, {"text", "hello, not an image\n"}};
    const int w = image.width(), h = image.height();
    // A TGA file has no signature to recognise it by; Qt reads it but cannot write it.
    QByteArray tga("\0\0\2\0\0\0\0\0\0\0\0\0", 12);
    tga += char(w) + QByteArray(1, 0) + char(h) + QByteArray("\0\x18\x20", 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            tga.append(QByteArray(3, char(qBlue(image.pixel(x, y)))));
    contents.emplace_back("TGA", tga);
    unsigned seed = 1;
    for (const auto &[type, depths] : std::vector<std::pair<int, std::vector<int>>>{{0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}})
        for (const int depth : depths)
            for (const bool transparency : {false, true})
                for (const bool interlaced : {false, true})
                    contents.emplace_back(QString("PNG-type%1-depth%2%3%4").arg(type).arg(depth).arg(transparency ? "-tRNS" : "").arg(interlaced ? "-interlaced" : ""),
                                          handMadePng(w, h, depth, type, transparency, interlaced, seed++));
    for (const int bits : {1, 4, 8, 16, 24, 32})
        contents.emplace_back(QString("BMP-%1").arg(bits), handMadeBmp(w, h, bits, seed++));
    contents.emplace_back("BMP-RLE8", runLengthBitmap());
    for (const char *gif : {"pattern.gif", "extension.gif"})
        contents.emplace_back(gif, readFile(QString(SORVIK_SOURCE_DIR "/tests/fuzz/seeds-fuzz_image/") + gif));
    contents.emplace_back("PBM-text", textPortableMap("P1", w, h, 1, 1));
    contents.emplace_back("PGM-text", textPortableMap("P2", w, h, 1, 255));
    contents.emplace_back("PPM-text", textPortableMap("P3", w, h, 3, 65535));
    QImage colour = image.convertToFormat(QImage::Format_ARGB32);
    for (int x = 0; x < w; ++x)
        colour.setPixel(x, x % h, qRgba(x * 15, 255 - x * 9, x * 7, x * 11));
    const std::vector<std::pair<QString, QImage>> pictures = {
        {"grey", image}, {"ARGB", colour}, {"RGB", colour.convertToFormat(QImage::Format_RGB32)},
        {"palette", colour.convertToFormat(QImage::Format_Indexed8)}, {"mono", colour.convertToFormat(QImage::Format_Mono)},
        {"grey8", colour.convertToFormat(QImage::Format_Grayscale8)}, {"RGBA64", colour.convertToFormat(QImage::Format_RGBA64)}};
    for (const char *format : {"PNG", "JPEG", "BMP", "TIFF", "WEBP", "PBM", "PPM", "PGM", "XBM", "XPM", "ICO", "WBMP"}) {
        for (const auto &[kind, picture] : pictures) {
            const QByteArray bytes = encoded(picture, format);
            contents.emplace_back(QString(format) + "-" + kind, bytes);
            if (kind == "grey")
                contents.emplace_back(QString(format) + "-truncated", bytes.left(bytes.size() / 2));
        }
    }
    contents.emplace_back("ICO-two", twoImageIcon(encoded(image, "ICO")));
    return contents;
}

// A load of a file through both loaders, with the memory that the heap hands out
// filled with `fill` (and what it takes back with its complement) meanwhile.
struct Load {
    QImage image;
    BluePixels grey;
    QString failure;
};

Load loadWithHeapFill(const QString &path, int fill)
{
    mallopt(M_PERTURB, fill);
    Load load;
    QString rasterFailure;
    load.image = loadSampleImage(path, load.failure);
    load.grey = loadSamplePixels(QFile::encodeName(path), rasterFailure);
    mallopt(M_PERTURB, 0);
    return load;
}

} // namespace

TEST(ImageLoader, LoadsFromMemoryAsQtLoadsTheFile)
{
    // Every kind of file under every suffix, mislabelled ones included: the loader
    // must decode the same pixels as Qt, or fail for the same reason; and decoding
    // it with the heap filled with other bytes must change nothing, so that no pixel
    // comes from memory a decoder never wrote.
    QTemporaryDir dir;
    const QImage image = greyImage(17, 13, [](int x, int y) { return (x * 13 + y * 7) % 256; });
    const QStringList suffixes = {"png", "PNG", "jpg", "jpeg", "bmp", "tif", "tiff", "webp", "tga", "ppm", "pgm", "pbm", "xpm", "xbm",
                                  "ico", "gif", "wbmp", "txt", "", "tar.gz"};
    for (const auto &[kind, bytes] : imageCorpus(image)) {
        for (const QString &suffix : suffixes) {
            SCOPED_TRACE(kind.toStdString() + " ." + suffix.toStdString());
            const QString path = dir.path() + "/a-" + kind + (suffix.isEmpty() ? "" : "." + suffix);
            writeFile(path, bytes);
            QString referenceFailure;
            const QImage reference = loadSampleImageReference(path, referenceFailure);
            const Load first = loadWithHeapFill(path, 0x11), second = loadWithHeapFill(path, 0xee);
            EXPECT_EQ(referenceFailure.toStdString(), first.failure.toStdString());
            EXPECT_EQ(first.failure.toStdString(), second.failure.toStdString());
            EXPECT_TRUE(reference == first.image);
            EXPECT_TRUE(first.image == second.image);
            // The grey raster that training reads, through the direct PNG decoder where it applies.
            std::vector<std::uint8_t> blue;  // pixel by pixel, as plainly as it can be said
            for (int y = 0; y < reference.height(); ++y)
                for (int x = 0; x < reference.width(); ++x)
                    blue.push_back(std::uint8_t(qBlue(reference.pixel(x, y))));
            EXPECT_EQ(blue, first.grey.values);
            EXPECT_EQ(first.grey.values, second.grey.values);
        }
    }
}

TEST(ImageLoader, RefusesEveryImageCutShort)
{
    // Several decoders fill in what a cut file lacks (BMP, GIF, JPEG, XBM, the BMP
    // inside an icon, a PNG without its end); no cut of any format may load. The
    // second GIF has a local colour table, the third extension blocks, the bitmap
    // run-length code, the icon two images.
    QTemporaryDir dir;
    const QImage image = greyImage(37, 23, [](int x, int y) { return (x * 13 + y * 7) % 256; });
    const QByteArray gif = readFile(SORVIK_SOURCE_DIR "/tests/fuzz/seeds-fuzz_image/pattern.gif");
    std::vector<std::pair<QString, QByteArray>> files = {{"gif", gif}, {"gif", localTableGif(gif)},
                                                         {"gif", readFile(SORVIK_SOURCE_DIR "/tests/fuzz/seeds-fuzz_image/extension.gif")},
                                                         {"bmp", runLengthBitmap()}, {"ico", twoImageIcon(encoded(image, "ico"))}};
    for (const char *format : {"bmp", "cur", "ico", "jpg", "png", "pbm", "pgm", "ppm", "tif", "webp", "wbmp", "xbm", "xpm"})
        files.emplace_back(format, encoded(image, format));
    for (const auto &[suffix, bytes] : files) {
        const QString path = dir.path() + "/a-1." + suffix;
        QString failure;
        writeFile(path, bytes);
        EXPECT_FALSE(loadSampleImage(path, failure).isNull()) << suffix.toStdString() << ": " << failure.toStdString();
        std::vector<int> cuts;
        for (int percent : {25, 50, 75, 90, 99})
            cuts.push_back(bytes.size() * percent / 100);
        if (suffix == "xbm")  // within the last byte's hex digits
            cuts.push_back(bytes.lastIndexOf("0x") + 3);
        for (int cut : cuts) {
            writeFile(path, bytes.left(cut));
            EXPECT_TRUE(loadSampleImage(path, failure).isNull()) << suffix.toStdString() << " cut at " << cut << " bytes";
            EXPECT_TRUE(loadSampleImageReference(path, failure).isNull()) << suffix.toStdString() << " cut at " << cut << " bytes";
        }
    }
}
