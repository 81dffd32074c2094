// Listing a sample directory: which files count, their order, and their labels.

#include "support.h"

#include "samples/allocation_limit.h"
#include "samples/features.h"
#include "samples/sample_reader.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QTemporaryDir>

#include <cstdlib>

#include <sys/stat.h>

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

QStringList labelsOf(const QList<Raster> &samples)
{
    QStringList labels;
    for (const Raster &sample : samples)
        labels << sample.label;
    return labels;
}

} // namespace

TEST(SampleReader, ListsFilesInCaseInsensitiveOrderWithTheirLabels)
{
    QTemporaryDir dir;
    // Each file's single grey value tells which file a sample came from.
    const QStringList names = {"c-3.png", "a-9.png", "B-1.png", "a-10.png", "7-12.bmp", "ab-3.png",
                               "q-1.2.png", "x.png", "-5.png", "c-d-1.png", "Z-3.png", "a-2.png"};
    for (int i = 0; i < names.size(); ++i)
        saveImage(greyImage(15, 15, [i](int, int) { return 10 * (i + 1); }), dir.path(), names[i]);
    saveImage(greyImage(15, 15, [](int, int) { return 1; }), dir.path(), ".x-1.png");
    ASSERT_TRUE(QDir(dir.path()).mkdir("d-sub.png"));
    saveImage(greyImage(15, 15, [](int, int) { return 2; }), dir.path() + "/d-sub.png", "e-1.png");

    const QStringList expectedOrder = {"-5.png", "7-12.bmp", "a-10.png", "a-2.png", "a-9.png", "ab-3.png",
                                       "B-1.png", "c-3.png", "c-d-1.png", "q-1.2.png", "x.png", "Z-3.png"};
    const QStringList expectedLabels = {"", "7", "A", "A", "A", "AB", "B", "C", "C", "Q", "X", "Z"};
    for (const QString &path : {dir.path(), dir.path() + "/"}) {
        QList<Raster> samples;
        readSampleDirectory(path, samples);
        ASSERT_EQ(expectedOrder.size(), samples.size()) << path.toStdString();
        EXPECT_EQ(expectedLabels, labelsOf(samples));
        for (int i = 0; i < samples.size(); ++i) {
            const int value = 10 * (names.indexOf(expectedOrder[i]) + 1);
            EXPECT_EQ(std::vector<std::uint8_t>(4, std::uint8_t(value)), samples[i].data) << expectedOrder[i].toStdString();
        }
    }
}

TEST(SampleReader, ListsInTheOrderOfQtsCaseInsensitiveSort)
{
    QTemporaryDir dir;
    const QStringList names = QString::fromUtf8("b A a_ a- a. a0 Z9 z10 _x ~y [q Ä-1 ä_2 é E Ω-3 ω_4 İ ß-5 1 10 9 x-1.PNG X-2.png y.tar.gz").split(" ");
    for (const QString &name : names)
        writeFile(dir.path() + "/" + name, "not an image");
    QStringList listed;
    for (const DirectoryEntry &entry : listSampleDirectory(dir.path()))
        listed << entry.name;
    const QDir qtDir(dir.path(), QString(), QDir::Name | QDir::IgnoreCase, QDir::Files | QDir::NoDotAndDotDot);
    EXPECT_EQ(qtDir.entryList(), listed);
}

TEST(SampleReader, LoadsFromMemoryAsQtLoadsTheFile)
{
    // Every kind of content under every suffix, mislabelled ones included: the
    // loader must decode the same pixels, or fail for the same reason. The PNG
    // files come grey, RGB, RGBA, with a palette and with 16 bits a sample.
    QTemporaryDir dir;
    const QImage image = greyImage(17, 13, [](int x, int y) { return (x * 13 + y * 7) % 256; });
    std::vector<std::pair<QString, QByteArray>> contents = {{"empty", QByteArray()}, {"text", "hello, not an image\n"}};
    // A TGA file has no signature to recognise it by; Qt reads it but cannot write it.
    QByteArray tga("\0\0\2\0\0\0\0\0\0\0\0\0\x11\0\x0d\0\x18\x20", 18);
    for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 17; ++x)
            tga.append(QByteArray(3, char(qBlue(image.pixel(x, y)))));
    contents.emplace_back("TGA", tga);
    QImage colour = image.convertToFormat(QImage::Format_ARGB32);
    for (int x = 0; x < 17; ++x)
        colour.setPixel(x, x % 13, qRgba(x * 15, 255 - x * 9, x * 7, x * 11));
    const std::vector<std::pair<QString, QImage>> pngs = {{"PNG-RGBA", colour}, {"PNG-RGB", colour.convertToFormat(QImage::Format_RGB32)},
        {"PNG-palette", colour.convertToFormat(QImage::Format_Indexed8)}, {"PNG-16", colour.convertToFormat(QImage::Format_RGBA64)}};
    for (const auto &[kind, picture] : pngs)
        contents.emplace_back(kind, encoded(picture, "PNG"));
    for (const char *format : {"PNG", "JPEG", "BMP", "TIFF", "WEBP", "PPM", "PGM", "XPM", "ICO"}) {
        const QByteArray bytes = encoded(image, format);
        contents.emplace_back(format, bytes);
        contents.emplace_back(QString(format) + "-truncated", bytes.left(bytes.size() / 2));
    }
    const QStringList suffixes = {"png", "PNG", "jpg", "jpeg", "bmp", "tif", "tiff", "webp", "tga", "ppm", "pgm", "xpm", "ico",
                                  "gif", "txt", "", "tar.gz"};
    int compared = 0;
    for (const auto &[kind, bytes] : contents) {
        for (const QString &suffix : suffixes) {
            SCOPED_TRACE(kind.toStdString() + " ." + suffix.toStdString());
            const QString path = dir.path() + "/a-" + kind + (suffix.isEmpty() ? "" : "." + suffix);
            writeFile(path, bytes);
            QString failure, rasterFailure, referenceFailure;
            const QImage loaded = loadSampleImage(path, failure), reference = loadSampleImageReference(path, referenceFailure);
            // The grey raster that training reads, through the direct PNG decoder where it applies.
            const Raster grey = loadSampleRaster(QFile::encodeName(path), rasterFailure);
            EXPECT_EQ(referenceFailure.toStdString(), failure.toStdString());
            EXPECT_EQ(referenceFailure.toStdString(), rasterFailure.toStdString());
            // Qt leaves the missing rows of a truncated BMP as they were allocated, so
            // two loads of one such file differ there: only the size can be compared.
            if (kind == "BMP-truncated") {
                EXPECT_EQ(reference.size(), loaded.size());
            } else {
                EXPECT_TRUE(reference == loaded);
                EXPECT_EQ(reference.isNull() ? std::vector<std::uint8_t>() : imageToRaster(reference).data, grey.data);
            }
            ++compared;
        }
    }
    EXPECT_EQ(25 * 17, compared);
}

TEST(SampleReader, RefusesEveryImageCutShort)
{
    // Several decoders fill in what a cut file lacks (BMP, GIF, JPEG, XBM, the BMP
    // inside an icon, a PNG without its end); no cut of any format may load. The
    // second GIF has extension blocks, the bitmap run-length code, the icon two images.
    QTemporaryDir dir;
    const QImage image = greyImage(37, 23, [](int x, int y) { return (x * 13 + y * 7) % 256; });
    std::vector<std::pair<QString, QByteArray>> files = {{"gif", readFile(SORVIK_SOURCE_DIR "/tests/fuzz/seeds-fuzz_image/pattern.gif")},
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

TEST(SampleReader, PrintsNamesWithControlsAndForeignBytesEscaped)
{
    // Well-formed UTF-8 of two, three and four bytes stays; C0, DEL and C1 controls,
    // stray continuation bytes, overlong forms, surrogates and code points beyond
    // U+10FFFF are escaped byte by byte.
    EXPECT_EQ(QString::fromUtf8("a\xc3\xa9\xe2\x82\xac\xf0\x9d\x84\x9e"), printableName(QByteArray("a\xc3\xa9\xe2\x82\xac\xf0\x9d\x84\x9e")));
    EXPECT_EQ("\\n\\r\\t\\x7f\\xc2\\x85\\x80\\x80", printableName(QByteArray("\n\r\t\x7f\xc2\x85\x80\x80")).toStdString());
    EXPECT_EQ("\\xe0\\x80\\x80\\xed\\xa0\\x80\\xf4\\x90\\x80\\x80\\xc1\\xbf", printableName(QByteArray("\xe0\x80\x80\xed\xa0\x80\xf4\x90\x80\x80\xc1\xbf")).toStdString());
}

TEST(SampleReader, NeverWaitsOnAPipe)
{
    // A sample replaced by a pipe after the listing: refused at once, not waited on.
    QTemporaryDir dir;
    const QString path = dir.path() + "/a-1.png";
    ASSERT_EQ(0, mkfifo(QFile::encodeName(path).constData(), 0600));
    QString failure;
    EXPECT_TRUE(loadSampleImage(path, failure).isNull());
    EXPECT_EQ("is not a regular file", failure.toStdString());
}

TEST(SampleReader, RefusesAllocationsBeyondTheDecodingLimit)
{
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "AddressSanitizer owns malloc and sets its own limit";
#endif
#endif
    // Called through volatile pointers, so that the compiler cannot fold the calls away.
    void *(*volatile allocate)(std::size_t) = std::malloc;
    void *(*volatile allocateZeroed)(std::size_t, std::size_t) = std::calloc;
    const AllocationLimit limit(1 << 20);
    void *small = allocateZeroed(1024, 16);
    EXPECT_NE(nullptr, small);
    EXPECT_FALSE(limit.refused());
    EXPECT_EQ(nullptr, allocateZeroed(1024, 2048));
    EXPECT_EQ(nullptr, allocate(std::size_t(2) << 20));
    EXPECT_TRUE(limit.refused());
    std::free(small);
}
