// The direct PNG decoder against Qt's PNG handler: files built byte by byte, the
// plain kinds it decodes and every near miss it must leave to Qt.

#include "support.h"

#include "samples/features.h"
#include "samples/inflate_whole.h"
#include "samples/png_decoder.h"
#include "samples/sample_reader.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <random>

#include <zlib.h>

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

QByteArray deflated(const QByteArray &data, int windowBits, int level = 9, int memLevel = 8, int strategy = Z_DEFAULT_STRATEGY)
{
    z_stream stream{};
    deflateInit2(&stream, level, Z_DEFLATED, windowBits, memLevel, strategy);
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

} // namespace

TEST(PngDecoder, DecodesThePlainFilesAsQtDoesAndLeavesTheRestToIt)
{
    const QByteArray physical = pngChunk("pHYs", bigEndian(2835) + bigEndian(2835) + QByteArray(1, 1));
    struct Case {
        const char *name;
        bool plain;  // decoded directly; all others go to Qt
        std::function<void(Png &)> image = nullptr;
        std::function<void(QByteArray &)> lines = nullptr;  // before compression
        std::function<void(Parts &)> parts = nullptr;
    };
    const auto repeatRows = [](QByteArray &lines) {
        for (int at = 12 * 29; at < lines.size(); ++at)
            lines[at] = lines[at - 12 * 29];
    };
    const auto announceSmallWindow = [](Parts &p) { p.stream[0] = 0x08, p.stream[1] = 0x1d; };
    std::vector<Case> cases;
    for (int colourType : {0, 2, 4, 6})
        for (int window : {9, 12, 15})
            cases.push_back({"colour type and window", true, [=](Png &png) { png.colourType = colourType, png.windowBits = window; }});
    const std::vector<Case> more = {
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

    std::mt19937 random(7);
    QTemporaryDir dir;
    int decodedHere = 0;
    for (const Case &test : cases) {
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

            Raster direct;
            EXPECT_EQ(test.plain, decodePlainPng(parts.file(), direct)) << test.name;
            decodedHere += test.plain;
            QString failure, referenceFailure;
            const Raster loaded = loadSampleRaster(QFile::encodeName(path), failure);
            const QImage reference = loadSampleImageReference(path, referenceFailure);
            EXPECT_EQ(referenceFailure.toStdString(), failure.toStdString()) << test.name;
            const Raster expected = reference.isNull() ? Raster() : imageToRaster(reference);
            EXPECT_TRUE(expected.data == loaded.data && expected.width == loaded.width && expected.height == loaded.height) << test.name;
        }
    }
    EXPECT_EQ(2 * 16, decodedHere);
}

namespace {

// zlib's verdict as the decoder asks for it: the whole stream in one call, with
// room for more than `size` bytes; true when it ends the stream with exactly
// `size` bytes and no input left. Without `check`, the check value is not
// compared, and `size` becomes what came out.
bool zlibInflates(const QByteArray &stream, int &size, QByteArray &out, bool check = true)
{
    const int windowBits = stream.size() >= 1 && (stream[0] & 0x0f) == 8 && (quint8(stream[0]) >> 4) <= 7 ? (quint8(stream[0]) >> 4) + 8 : 15;
    z_stream z{};
    if (inflateInit2(&z, windowBits) != Z_OK)
        return false;
    if (!check)
        inflateValidate(&z, 0);
    out = QByteArray(size + 258 + 1024, 0);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(stream.constData()));
    z.avail_in = uInt(stream.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    const int status = inflate(&z, Z_NO_FLUSH);
    const bool ended = status == Z_STREAM_END && z.avail_in == 0;
    if (!check && ended)
        size = int(z.total_out);
    const bool whole = ended && int(z.total_out) == size;
    out.resize(int(z.total_out));
    inflateEnd(&z);
    return whole;
}

bool inflatesHere(const QByteArray &stream, int size, QByteArray &out)
{
    out = QByteArray(size + int(inflateSpareRoom), 0);
    const bool whole = inflateWhole(reinterpret_cast<const unsigned char *>(stream.constData()), std::size_t(stream.size()),
                                    reinterpret_cast<unsigned char *>(out.data()), std::size_t(size));
    out.resize(size);
    return whole;
}

// Deflate's bits, the first in the lowest bit of each byte; codes go highest bit first.
struct BitWriter {
    QByteArray bytes;
    quint64 pending = 0;
    int count = 0;
    void put(quint32 value, int n)
    {
        pending |= quint64(value) << count;
        for (count += n; count >= 8; count -= 8, pending >>= 8)
            bytes += char(pending & 0xff);
    }
    void code(quint32 value, int n)
    {
        for (int i = n - 1; i >= 0; --i)
            put((value >> i) & 1, 1);
    }
    // The fixed code of a literal/length symbol.
    void fixedSymbol(int symbol)
    {
        if (symbol < 144)
            code(0x30 + quint32(symbol), 8);
        else if (symbol < 256)
            code(0x190 + quint32(symbol - 144), 9);
        else if (symbol < 280)
            code(quint32(symbol - 256), 7);
        else
            code(0xc0 + quint32(symbol - 280), 8);
    }
    // A zlib stream around these bits, with the check value of `data`.
    QByteArray zlib(const QByteArray &data)
    {
        QByteArray stream("\x78\x01", 2);
        stream += bytes;
        if (count > 0)
            stream += char(pending & 0xff);
        return stream + bigEndian(quint32(adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size()))));
    }
};

} // namespace

TEST(InflateWhole, GivesZlibsBytesOrLeavesTheStreamToZlib)
{
    std::mt19937 random(11);
    // What zlib's deflate makes, at every level and strategy and for many windows:
    // all of it is inflated here, to the same bytes.
    std::vector<QByteArray> made;
    int inflated = 0;
    for (int trial = 0; trial < 400; ++trial) {
        QByteArray data;
        const int size = 1 + int(random() % 3000), kind = trial % 4;
        for (int i = 0; i < size; ++i)
            data += char(kind == 0 ? random() : kind == 1 ? random() % 4 * 60 : kind == 2 ? (i / 29 % 3 == 0 ? random() % 256 : 0) : i * 7 % 251);
        const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
        const int windowBits = 9 + int(random() % 7), level = int(random() % 10), memLevel = 1 + int(random() % 9);
        const QByteArray stream = deflated(data, windowBits, level, memLevel, strategies[random() % 5]);
        QByteArray out;
        inflated += inflatesHere(stream, size, out) && out == data;
        made.push_back(stream);
    }
    EXPECT_EQ(400, inflated);

    // Streams built bit by bit, at the edges of what zlib takes.
    const auto fixedBlock = [](const std::vector<int> &symbols, const QByteArray &data, bool last = true) {
        BitWriter bits;
        bits.put(last, 1), bits.put(1, 2);
        for (int symbol : symbols)
            symbol >= 1000 ? bits.code(quint32(symbol - 1000), 5) : bits.fixedSymbol(symbol);  // 1000 + d: distance symbol d
        bits.fixedSymbol(256);
        return bits.zlib(data);
    };
    std::vector<std::pair<QByteArray, int>> crafted = {
        {fixedBlock({'a', 'b', 'c', 257, 1002}, "abcabc"), 6},        // a match as far back as the output goes
        {fixedBlock({'a', 'b', 'c', 257, 1003}, "abcabc"), 6},        // one byte farther
        {fixedBlock({'a', 265, 1000}, "aaaaaaaaaaaa"), 12},           // a run from one byte back, with its extra bit
        {fixedBlock({'a', 285, 1000}, QByteArray(259, 'a')), 259},    // the longest match
        {fixedBlock({'a', 285, 1000}, QByteArray(259, 'a')), 258},    // more than the image holds
        {fixedBlock({'a', 286, 1000}, "aaaa"), 4},                    // a length symbol no stream may use
        {fixedBlock({'a', 257, 1030}, "aaaa"), 4},                    // a distance symbol no stream may use
        {fixedBlock({'x'}, "x").append('!'), 1},                      // a byte after the check value
        {fixedBlock({'x'}, "x").left(8), 1},                          // the check value cut
        {fixedBlock({'x'}, "y"), 1},                                  // the wrong check value
        {QByteArray("\x78\x01\x01\x03\x00\xfc\xffxyz", 10) + bigEndian(quint32(adler32(1, reinterpret_cast<const Bytef *>("xyz"), 3))), 3},  // stored
        {QByteArray("\x78\x01\x01\x03\x00\xfc\xfexyz", 10) + bigEndian(quint32(adler32(1, reinterpret_cast<const Bytef *>("xyz"), 3))), 3},  // its length's complement wrong
        {QByteArray("\x78\x20") + fixedBlock({'x'}, "x").mid(2), 1},  // a preset dictionary
        {QByteArray("\x78\x02") + fixedBlock({'x'}, "x").mid(2), 1},  // the header check wrong
        {QByteArray("\x78\x01\x07\x00"), 0},                          // block type 3
    };
    // Blocks with their own codes: literals "a" and the end, each one bit, and one
    // distance code of one bit. zlib takes this incomplete distance code; this
    // decoder leaves it to zlib. The code lengths are written with 0 "00", 1 "01",
    // 16 "10" and 18 "11"; the second block begins with a repeat of nothing.
    for (const bool repeatFirst : {false, true}) {
        BitWriter bits;
        bits.put(1, 1), bits.put(2, 2), bits.put(0, 5), bits.put(0, 5), bits.put(14, 4);
        const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        for (int i = 0; i < 18; ++i)
            bits.put(order[i] == 0 || order[i] == 1 || order[i] == 16 || order[i] == 18 ? 2 : 0, 3);
        const auto zeros = [&](int n) { bits.code(3, 2), bits.put(quint32(n - 11), 7); };
        if (repeatFirst)
            bits.code(2, 2), bits.put(0, 2);
        zeros(86), zeros(11), bits.code(1, 2), zeros(138), zeros(20), bits.code(1, 2), bits.code(1, 2);
        bits.code(0, 1), bits.code(0, 1), bits.code(0, 1), bits.code(1, 1);  // "aaa", end of block
        crafted.push_back({bits.zlib("aaa"), 3});
    }
    int leftToZlib = 0;
    for (const auto &[stream, size] : crafted) {
        int expected = size;
        QByteArray here, there;
        const bool byZlib = zlibInflates(stream, expected, there);
        if (inflatesHere(stream, size, here))
            EXPECT_TRUE(byZlib && here == there) << stream.toHex().constData();
        else
            leftToZlib += byZlib;
    }
    EXPECT_EQ(1, leftToZlib);  // the incomplete code; every other stream zlib takes is taken here too

    // Damaged streams: bits flipped, bytes changed, cut or added, and the check value
    // then made right for whatever zlib inflates, so that many of them are valid.
    int bothTake = 0, zlibTakes = 0;
    for (int trial = 0; trial < 50000; ++trial) {
        QByteArray stream = made[std::size_t(trial) % made.size()].left(400);
        const int edits = 1 + int(random() % 3);
        for (int e = 0; e < edits && !stream.isEmpty(); ++e) {
            const int at = int(random() % quint32(stream.size()));
            switch (random() % 4) {
            case 0: stream[at] = char(stream[at] ^ (1 << (random() % 8))); break;
            case 1: stream[at] = char(random()); break;
            case 2: stream.chop(1 + int(random() % 4)); break;
            default: stream.insert(at, char(random())); break;
            }
        }
        int size = 0;
        QByteArray out;
        if (random() % 2 && zlibInflates(stream, size, out, false) && stream.size() >= 4)
            stream = stream.left(stream.size() - 4) + bigEndian(quint32(adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef *>(out.constData()), uInt(out.size()))));
        else
            size = int(random() % 4000);
        QByteArray here, there;
        int expected = size;
        const bool byZlib = zlibInflates(stream, expected, there);
        zlibTakes += byZlib;
        if (inflatesHere(stream, size, here)) {
            EXPECT_TRUE(byZlib && here == there) << stream.toHex().constData();
            ++bothTake;
        }
    }
    EXPECT_GT(bothTake, 1000);
    EXPECT_LE(zlibTakes - bothTake, zlibTakes / 100);  // the few left to zlib hold a code of one symbol
}
