// The direct PNG decoder against Qt's PNG handler: files built byte by byte, the
// plain kinds it decodes and every near miss it must leave to Qt.

#include "support.h"

#include "samples/features.h"
#include "decode/image_loader.h"
#include "decode/png_decoder.h"
#include "samples/sample_reader.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <random>

#include <zlib.h>

using namespace sorvik;

namespace {

// A PNG file made by hand. Its scan lines are random bytes behind filter bytes
// that cycle through the five filters; `edit` changes any part before assembly.
struct Png {
    int width = 13, height = 11, colourType = 0, depth = 8, interlace = 0, windowBits = 15, pieces = 1;
    QByteArray header() const
    {
        const char fields[5] = {char(depth), char(colourType), 0, 0, char(interlace)};
        return bigEndian(quint32(width)) + bigEndian(quint32(height)) + QByteArray(fields, 5);
    }
    int channels() const { return colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1; }
    QByteArray scanLines(std::mt19937 &random) const
    {
        QByteArray lines;
        for (int y = 0; y < height; ++y) {
            lines += char(y % 5);
            for (int i = 0; i < (width * channels() * depth + 7) / 8; ++i)
                lines += char(random());
        }
        return lines;
    }
};

QByteArray deflated(const QByteArray &data, int windowBits)
{
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))), 0);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(int(stream.total_out));
    deflateEnd(&stream);
    return out;
}

struct Parts {
    QByteArray header, beforeData, stream, afterData, end = pngChunk("IEND", {}), trailer;
    int pieces = 1;
    QByteArray file() const
    {
        QByteArray bytes = QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + beforeData;
        const int step = (stream.size() + pieces - 1) / pieces;
        for (int at = 0; at < stream.size(); at += step)
            bytes += pngChunk("IDAT", stream.mid(at, step));
        return bytes + afterData + end + trailer;
    }
};

struct PngCase {
    const char *name;
    bool plain;  // decoded directly; all others go to Qt
    std::function<void(Png &)> image = nullptr;
    std::function<void(QByteArray &)> lines = nullptr;  // before compression
    std::function<void(Parts &)> parts = nullptr;
};

// Every plain kind of PNG file that is decoded directly, and the near misses left to Qt.
std::vector<PngCase> pngCases()
{
    static const QByteArray physical = pngChunk("pHYs", bigEndian(2835) + bigEndian(2835) + QByteArray(1, 1));
    static const auto repeatRows = [](QByteArray &lines) {
        for (int at = 12 * 29; at < lines.size(); ++at)
            lines[at] = lines[at - 12 * 29];
    };
    static const auto announceSmallWindow = [](Parts &p) { p.stream[0] = 0x08, p.stream[1] = 0x1d; };
    std::vector<PngCase> cases;
    for (int colourType : {0, 2, 4, 6})
        for (int window : {9, 12, 15})
            cases.push_back({"colour type and window", true, [=](Png &png) { png.colourType = colourType, png.windowBits = window; }});
    const std::vector<PngCase> more = {
        {"one pixel", true, [](Png &png) { png.width = png.height = 1; }},
        {"wide", true, [](Png &png) { png.width = 301, png.height = 3, png.colourType = 6; }},
        {"data in three chunks, pHYs", true, [](Png &png) { png.pieces = 3; }, {}, [&](Parts &p) { p.beforeData = physical; }},
        {"16 bits", false, [](Png &png) { png.depth = 16; }},
        {"1 bit", false, [](Png &png) { png.depth = 1; }},
        {"palette", false, [](Png &png) { png.colourType = 3; }, {}, [](Parts &p) { p.beforeData = pngChunk("PLTE", QByteArray(768, 64)); }},
        {"interlaced", false, [](Png &png) { png.interlace = 1; }},
        {"a line missing", false, [](Png &png) { png.height = 12; }, [](QByteArray &lines) { lines.chop(14); }},
        // Larger than any image before it, so that its scan lines get a buffer of their own.
        {"a byte too many", false, [](Png &png) { png.width = 400, png.height = 20; }, [](QByteArray &lines) { lines += '\0'; }},
        {"filter 5", false, {}, [](QByteArray &lines) { lines[0] = 5; }},
        // Rows repeating every 12 rows (348 bytes back) under a header announcing a
        // window of 256 bytes: in one chunk both take it; with the matches in a second
        // chunk zlib refuses it here, and Qt decides.
        {"matches beyond the window", true, [](Png &png) { png.width = png.height = 28; }, repeatRows, announceSmallWindow},
        {"matches beyond the window, in a second chunk", false, [](Png &png) { png.width = png.height = 28; }, repeatRows,
         [&](Parts &p) {
             announceSmallWindow(p);
             p.afterData = pngChunk("IDAT", p.stream.right(12));
             p.stream.chop(12);
         }},
        {"gamma", false, {}, {}, [](Parts &p) { p.beforeData = pngChunk("gAMA", bigEndian(100000)); }},
        {"transparency", false, {}, {}, [](Parts &p) { p.beforeData = pngChunk("tRNS", QByteArray(2, 0)); }},
        {"text", false, {}, {}, [](Parts &p) { p.beforeData = pngChunk("tEXt", QByteArray("Title\0x", 7)); }},
        {"pHYs after the data", false, {}, {}, [&](Parts &p) { p.afterData = physical; }},
        {"pHYs twice", false, {}, {}, [&](Parts &p) { p.beforeData = physical + physical; }},
        {"empty data chunk", false, {}, {}, [](Parts &p) { p.afterData = pngChunk("IDAT", {}); }},
        {"wrong CRC", false, {}, {}, [](Parts &p) { p.end = pngChunk("IEND", {}).left(8) + "XXXX"; }},
        {"wrong check value", false, {}, {}, [](Parts &p) { p.stream[p.stream.size() - 1] = char(p.stream.back() ^ 1); }},
        {"stream cut", false, {}, {}, [](Parts &p) { p.stream.chop(6); }},
        {"bytes after the stream", false, {}, {}, [](Parts &p) { p.stream += "x"; }},
        {"window of 64 KiB", false, {}, {}, [](Parts &p) { p.stream[0] = char(0x88), p.stream[1] = char(0x1c); }},
        {"no end chunk", false, {}, {}, [](Parts &p) { p.end.clear(); }},
        {"bytes after the end", false, {}, {}, [](Parts &p) { p.trailer = "junk"; }},
        {"end chunk cut", false, {}, {}, [](Parts &p) { p.end.chop(6); }},
        {"file cut", false, {}, {}, [](Parts &p) { p.end.clear(), p.stream.chop(p.stream.size() / 2); }},
    };
    cases.insert(cases.end(), more.begin(), more.end());
    return cases;
}

} // namespace

TEST(PngDecoder, DecodesThePlainFilesAsQtDoesAndLeavesTheRestToIt)
{
    const std::vector<PngCase> cases = pngCases();

    std::mt19937 random(7);
    QTemporaryDir dir;
    for (const PngCase &test : cases) {
        for (const char *suffix : {".png", ".PNG"}) {
            Png png;
            if (test.image)
                test.image(png);
            QByteArray lines = png.scanLines(random);
            if (test.lines)
                test.lines(lines);
            Parts parts;
            parts.header = png.header();
            parts.pieces = png.pieces;
            parts.stream = deflated(lines, png.windowBits);
            if (test.parts)
                test.parts(parts);
            const QString path = dir.path() + "/a-1" + suffix;
            writeFile(path, parts.file());

            BluePixels direct;
            EXPECT_EQ(test.plain, decodePlainPng(parts.file(), direct)) << test.name;
            QString failure, referenceFailure;
            const BluePixels loaded = loadSamplePixels(QFile::encodeName(path), failure);
            const QImage reference = loadSampleImageReference(path, referenceFailure);
            EXPECT_EQ(referenceFailure.toStdString(), failure.toStdString()) << test.name;
            const BluePixels expected = reference.isNull() ? BluePixels() : bluePixels(reference);
            EXPECT_TRUE(expected.values == loaded.values && expected.width == loaded.width && expected.height == loaded.height) << test.name;
        }
    }
}
