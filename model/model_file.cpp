#include "model/model_file.h"

#include <QFile>
#include <QSaveFile>
#include <QTextStream>

#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <string>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

// ---------------------------------------------------------------------------
// Numbers

QByteArray formatModelNumberReference(float value)
{
    QString text;
    QTextStream stream(&text);
    stream << value;
    stream.flush();
    return text.toLatin1();
}

namespace {

using Wide = unsigned __int128;

constexpr int maxPowerOfFive = 41;

struct PowersOfFive {
    Wide value[maxPowerOfFive + 1];
    constexpr PowersOfFive() : value()
    {
        value[0] = 1;
        for (int i = 1; i <= maxPowerOfFive; ++i)
            value[i] = value[i - 1] * 5;
    }
};
constexpr PowersOfFive powersOfFive;

// The magnitude `mantissa * 2^binaryExponent` scaled by 10^(5 - decimalExponent):
// its whole part and whether the rest is at least one half. False when the numbers
// involved do not fit in 128 bits.
bool scaledDigits(std::uint32_t mantissa, int binaryExponent, int decimalExponent, std::uint64_t &whole, bool &roundUp)
{
    const int five = 5 - decimalExponent;  // 10^five = 5^five * 2^five
    const int two = binaryExponent + five;
    if (five > maxPowerOfFive || -five > maxPowerOfFive || two > 100 || -two > 120)
        return false;
    Wide numerator = mantissa;
    Wide denominator = 1;
    if (five >= 0)
        numerator *= powersOfFive.value[five];
    else
        denominator *= powersOfFive.value[-five];
    if (two >= 0)
        numerator <<= two;
    else
        denominator <<= -two;
    const Wide quotient = numerator / denominator;
    if (quotient >= Wide(1) << 60)
        return false;
    whole = std::uint64_t(quotient);
    roundUp = 2 * (numerator % denominator) >= denominator;
    return true;
}

// 10^e as the nearest double, for the exponents of floats and one beyond.
const std::array<double, 100> powersOfTen = [] {
    std::array<double, 100> table{};
    for (int i = 0; i < 100; ++i) {
        const std::string text = "1e" + std::to_string(i - 50);
        std::from_chars(text.data(), text.data() + text.size(), table[std::size_t(i)]);
    }
    return table;
}();

inline double powerOfTen(int e)
{
    return powersOfTen[std::size_t(e + 50)];
}

// "00" to "99", for writing two digits at a time.
constexpr char twoDigits[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                             "4041424344454647484950515253545556575859606162636465666768697071727374757677787980"
                             "81828384858687888990919293949596979899";

// 10^e for 0 <= e <= 22, where every power of ten is an exact double.
double exactPowerOfTen(int e)
{
    static constexpr double table[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    return table[e];
}

} // namespace

int formatModelNumber(float value, char *out)
{
    const auto slowRoad = [&] {
        const QByteArray text = formatModelNumberReference(value);
        std::memcpy(out, text.constData(), std::size_t(text.size()));
        return text.size();
    };
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const std::uint32_t field = (bits >> 23) & 0xff;
    const std::uint32_t fraction = bits & 0x7fffff;
    if (value == 0) {  // both zeros print as 0
        out[0] = '0';
        return 1;
    }
    if (field == 0xff || field == 0)  // infinities, NaNs and subnormals are rare
        return slowRoad();
    const std::uint32_t mantissa = fraction | 0x800000;
    const int binaryExponent = int(field) - 150;

    // The decimal exponent e with 10^e <= |value| < 10^(e + 1). A float is never
    // within a double's rounding of a power of ten unless it is one, so comparing
    // with the double powers of ten decides exactly.
    const double magnitude = std::fabs(double(value));
    int exponent = ((int(field) - 127) * 1233) >> 12;  // about log10(2^(field - 127)), rounded down
    while (magnitude >= powerOfTen(exponent + 1))
        ++exponent;
    while (magnitude < powerOfTen(exponent))
        --exponent;

    // The six digits: in double arithmetic, off by less than 10^-9, unless the
    // scaled magnitude is that close to a half (a possible tie) or to the ends of
    // the range; then exactly, in 128-bit integers.
    std::uint64_t whole;
    bool roundUp;
    const double scaled = exponent <= 5 ? magnitude * powerOfTen(5 - exponent) : magnitude / powerOfTen(exponent - 5);
    const std::uint64_t truncated = std::uint64_t(scaled);  // positive: truncation is the floor
    const double rest = scaled - double(truncated);
    if (std::fabs(rest - 0.5) > 1e-6 && truncated >= 100000 && truncated < 999999) {
        whole = truncated;
        roundUp = rest > 0.5;
    } else if (!scaledDigits(mantissa, binaryExponent, exponent, whole, roundUp) || whole < 100000 || whole >= 1000000) {
        return slowRoad();
    }
    // Halves round away from zero; 999999.5 and up carries into the next power of ten.
    std::uint32_t digits = std::uint32_t(whole) + (roundUp ? 1 : 0);
    if (digits == 1000000) {
        digits = 100000;
        ++exponent;
    }

    // The six digits as characters in one 64-bit word, the first in the lowest
    // byte; trailing zeros are dropped by writing fewer of them. Whole words are
    // stored and the pointer advanced by the characters that count.
    int significant = 6;
    for (std::uint32_t rest = digits; rest % 10 == 0 && significant > 1; rest /= 10)
        --significant;
    const auto pair = [](std::uint32_t twoDigitValue) {
        std::uint16_t chars;
        std::memcpy(&chars, twoDigits + 2 * twoDigitValue, 2);
        return std::uint64_t(chars);
    };
    const std::uint64_t text = pair(digits / 10000) | pair(digits / 100 % 100) << 16 | pair(digits % 100) << 32;
    const auto put = [](char *at, std::uint64_t word) { std::memcpy(at, &word, sizeof word); };

    char *p = out;
    if (bits >> 31)
        *p++ = '-';
    if (exponent < -4 || exponent >= 6) {
        put(p, text);
        p += 1;
        if (significant > 1) {
            *p = '.';
            put(p + 1, text >> 8);
            p += significant;
        }
        *p++ = 'e';
        *p++ = exponent < 0 ? '-' : '+';
        const int magnitude = std::abs(exponent);
        if (magnitude >= 100)
            *p++ = char('0' + magnitude / 100);
        *p++ = char('0' + magnitude / 10 % 10);
        *p++ = char('0' + magnitude % 10);
    } else if (exponent >= 0) {
        const int whole = exponent + 1;
        put(p, text);
        p += whole;
        if (significant > whole) {
            *p = '.';
            put(p + 1, text >> (8 * whole));
            p += 1 + significant - whole;
        }
    } else {
        std::memcpy(p, "0.000", 5);
        p += 1 - exponent;  // "0." and -exponent - 1 zeros
        put(p, text);
        p += significant;
    }
    return int(p - out);
}

namespace {

// The writer's own forms, -?d+(.d+)?(e[+-]d+)?, from `p` on: converted, rounded
// correctly to double as QString::toDouble rounds, then to float. True, with `p`
// just past the number, when the text has that form and the value lies in the
// normal float range (or is zero).
bool parsePlainNumber(const char *&p, const char *end, float &value)
{
    const bool negative = p < end && *p == '-';
    p += negative;
    std::uint64_t digits = 0;
    int digitCount = 0, scale = 0;
    const char *start = p;
    for (; p < end && *p >= '0' && *p <= '9'; ++p, ++digitCount)
        digits = digits * 10 + std::uint64_t(*p - '0');
    if (p == start)
        return false;
    if (p < end && *p == '.') {
        const char *fraction = ++p;
        for (; p < end && *p >= '0' && *p <= '9'; ++p, ++digitCount, --scale)
            digits = digits * 10 + std::uint64_t(*p - '0');
        if (p == fraction)
            return false;
    }
    if (p < end && *p == 'e') {
        ++p;
        const bool negativeExponent = p < end && *p == '-';
        p += (p < end && (*p == '+' || *p == '-'));
        int exponent = 0;
        const char *exponentStart = p;
        for (; p < end && *p >= '0' && *p <= '9' && exponent < 10000; ++p)
            exponent = exponent * 10 + (*p - '0');
        if (p == exponentStart)
            return false;
        scale += negativeExponent ? -exponent : exponent;
    }
    double number;
    // Few digits and a small power of ten: both are exact doubles, so one
    // multiplication or division rounds correctly.
    if (digitCount <= 15 && scale >= -22 && scale <= 22)
        number = scale >= 0 ? double(digits) * exactPowerOfTen(scale) : double(digits) / exactPowerOfTen(-scale);
    else if (std::from_chars(start, p, number).ec != std::errc())
        return false;
    const double magnitude = std::fabs(number);
    if (number != 0 && !(magnitude >= std::numeric_limits<float>::min() && magnitude <= std::numeric_limits<float>::max()))
        return false;
    value = float(negative ? -number : number);
    return true;
}

} // namespace

float parseModelNumber(const char *text, int length)
{
    // Anything but the writer's own forms, and anything beyond the normal float
    // range, goes through QString::toFloat itself.
    const char *end = text + length;
    const char *p = text;
    float value;
    if (parsePlainNumber(p, end, value) && p == end)
        return value;
    return QString::fromLatin1(text, length).toFloat();
}

// ---------------------------------------------------------------------------
// Writer

namespace {

// Writes the rows of a matrix to `file`, each value followed by ";", each row by
// a line end, through a buffer that is passed on whenever it is nearly full.
void writeRows(QIODevice &file, const Matrix &matrix, std::vector<char> &buffer)
{
    constexpr std::size_t room = 25;  // what formatModelNumber may touch, and the ";"
    char *out = buffer.data();
    const auto flush = [&] {
        file.write(buffer.data(), out - buffer.data());
        out = buffer.data();
    };
    for (int r = 0; r < matrix.rows; ++r) {
        const float *row = matrix.row(r);
        for (int c = 0; c < matrix.columns; ++c) {
            if (std::size_t(buffer.data() + buffer.size() - out) < room + 1)
                flush();
            out += formatModelNumber(row[c], out);
            *out++ = ';';
        }
        if (out == buffer.data() + buffer.size())
            flush();
        *out++ = '\n';
    }
    flush();
}

} // namespace

void writeModelFile(const QString &fileName, const LabelList &labels, const Matrix &components, const Matrix &projections)
{
#ifdef SORVIK_REFERENCE_KERNELS  // the plain build that the fast one is compared with
    return writeModelFileReference(fileName, labels, components, projections);
#endif
    // A model appears complete or not at all: the text goes to a temporary file
    // that replaces "fileName" only once it is fully written.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return;
    // The label line is encoded at once, as a text stream encodes all it is given.
    file.write((labels.isEmpty() ? QString() : labels.join(QLatin1Char(';')) + QLatin1Char(';')).toLocal8Bit() + '\n');
    std::vector<char> buffer(std::size_t(1) << 16);
    writeRows(file, components, buffer);
    file.write("\n", 1);
    writeRows(file, projections, buffer);
    file.commit();
}

void writeModelFileReference(const QString &fileName, const LabelList &labels, const Matrix &components, const Matrix &projections)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return;
    QTextStream stream(&file);
    for (const QString &label : labels)
        stream << label << ";";
    stream << "\n";
    for (int r = 0; r < components.rows; ++r) {
        for (int c = 0; c < components.columns; ++c)
            stream << components(r, c) << ";";
        stream << "\n";
    }
    stream << "\n";
    for (int r = 0; r < projections.rows; ++r) {
        for (int c = 0; c < projections.columns; ++c)
            stream << projections(r, c) << ";";
        stream << "\n";
    }
}

// ---------------------------------------------------------------------------
// Reader

namespace {

// Model files are read whole; anything larger is refused rather than risked.
constexpr qint64 maxModelBytes = qint64(1) << 30;

// No model has a longer line: a row holds at most one value per feature (about a
// million for the largest images, 13 characters each), and a label line of this
// length would name 33 million samples.
constexpr qint64 maxModelLineBytes = qint64(1) << 26;

// How long a pipe may keep the reader waiting for its next bytes.
constexpr int modelWaitMilliseconds = 60000;

// Collects the rows of one block into a matrix shaped by its first row.
struct RowCollector {
    Matrix matrix;
    ModelFileReport &report;
    std::size_t linesLeft = 0;  // when known, the lines and bytes still to come,
    std::size_t bytesLeft = 0;  // so that the matrix can be sized once

    void append(const std::vector<float> &values, int line)
    {
        const int length = int(values.size());
        if (matrix.rows == 0) {
            matrix.columns = length;
            // Every value takes at least two bytes ("0;"), so this never passes
            // twice the size of the text.
            if (length > 0)
                matrix.values.reserve(std::min(linesLeft, bytesLeft / (2 * std::size_t(length)) + 1) * std::size_t(length));
        } else if (length != matrix.columns && report.raggedLine == 0) {
            report.raggedLine = line;
            report.raggedLength = length;
            report.expectedLength = matrix.columns;
        }
        const int kept = std::min(length, matrix.columns);
        matrix.values.insert(matrix.values.end(), values.begin(), values.begin() + kept);
        matrix.values.insert(matrix.values.end(), std::size_t(matrix.columns - kept), 0.0f);
        ++matrix.rows;
        if (report.nonFiniteLine == 0 && !std::all_of(values.begin(), values.begin() + kept, [](float v) { return std::isfinite(v); }))
            report.nonFiniteLine = line;
    }
};

// Every piece of the label line but the last; with a limit, only that many are
// kept as strings (the count of all of them still goes to the report).
LabelList labelsOfLine(const QString &line, int limit, ModelFileReport &report)
{
    LabelList labels;
    int start = 0;
    report.labelCount = 0;
    for (int end; (end = line.indexOf(QLatin1Char(';'), start)) >= 0; start = end + 1) {
        if (limit < 0 || report.labelCount < limit)
            labels.append(line.mid(start, end - start));
        ++report.labelCount;
    }
    return labels;
}

// Follows the lines of a text that arrives in pieces, to stop at the first line
// longer than any model holds.
struct LineWatch {
    int line = 1;     // the line now arriving (1-based)
    qint64 length = 0;  // its bytes so far

    // False once the line arriving is too long.
    bool take(const char *p, const char *end)
    {
        for (;;) {
            const char *lineEnd = static_cast<const char *>(std::memchr(p, '\n', std::size_t(end - p)));
            length += (lineEnd ? lineEnd : end) - p;
            if (length > maxModelLineBytes)
                return false;
            if (!lineEnd)
                return true;
            ++line;
            length = 0;
            p = lineEnd + 1;
        }
    }
};

// Reads a model file in pieces as they come, stopping at once at a line longer
// than any model holds (so /dev/zero or a huge first line costs little) or at
// more bytes than a model can have, and never waiting more than a minute for the
// next piece of a pipe. `expected` is a regular file's size, -1 for a stream.
void readModelBytes(int fd, qint64 expected, QByteArray &text, ModelFileReport &report)
{
    // Pieces of at most 1 MiB, no larger than a regular file needs, in a buffer
    // that is never cleared: a small model costs little.
    const int piece = int(expected >= 0 ? std::min<qint64>(expected + 1, qint64(1) << 20) : qint64(1) << 16);
    const std::unique_ptr<char[]> buffer(new char[std::size_t(piece)]);
    if (expected >= 0)
        text.reserve(int(expected) + 1);
    LineWatch lines;
    while (text.size() <= maxModelBytes) {
        const ssize_t got = ::read(fd, buffer.get(), std::size_t(piece));
        if (got == 0)
            return;
        if (got < 0) {
            if (errno == EAGAIN) {
                pollfd wait{fd, POLLIN, 0};
                if (::poll(&wait, 1, modelWaitMilliseconds) == 0) {
                    report.stalled = true;
                    return;
                }
            } else if (errno != EINTR) {
                return;
            }
            continue;
        }
        text.append(buffer.get(), int(got));
        if (!lines.take(buffer.get(), buffer.get() + got)) {
            report.longLine = lines.line;
            return;
        }
    }
    report.tooLarge = true;
}

// The whole text of a model file, without its carriage returns (as reading in
// text mode drops them), or nothing when the report says why it was not read.
bool openModelText(const QString &fileName, QByteArray &text, ModelFileReport &report)
{
    // Opened without waiting: a pipe with no writer reads as empty instead of
    // blocking; whether it is a file at all is asked of what was opened.
    const int fd = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat info;
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return false;
    }
    // A regular file's size decides before anything is read; one that changes
    // while it is read is refused rather than parsed half old, half new.
    const bool regular = S_ISREG(info.st_mode);
    if (regular && info.st_size > maxModelBytes)
        report.tooLarge = true;
    else
        readModelBytes(fd, regular ? qint64(info.st_size) : -1, text, report);
    struct stat after;
    if (regular && !report.tooLarge && report.longLine == 0
        && (text.size() != info.st_size || ::fstat(fd, &after) != 0 || after.st_size != info.st_size
            || after.st_mtim.tv_sec != info.st_mtim.tv_sec || after.st_mtim.tv_nsec != info.st_mtim.tv_nsec))
        report.changedWhileRead = true;
    ::close(fd);
    if (report.tooLarge || report.stalled || report.changedWhileRead || report.longLine != 0) {
        text.clear();
        return true;
    }
    if (std::memchr(text.constData(), '\r', std::size_t(text.size())))
        text.resize(int(std::remove(text.begin(), text.end(), '\r') - text.begin()));
    return true;
}

// The reading rules, line by line through a QTextStream with QString::toFloat.
void parseModelTextReference(const QByteArray &text, LabelList &labels, Matrix &components, Matrix &projections,
                             ModelFileReport &report)
{
    QTextStream stream(text);
    RowCollector blocks[2] = {{Matrix(), report}, {Matrix(), report}};
    const QString labelLine = stream.readLine();
    int block = 0;
    for (int line = 2; !stream.atEnd(); ++line) {
        const QStringList pieces = stream.readLine().split(QLatin1Char(';'), Qt::KeepEmptyParts);
        if (pieces.size() == 1) {
            block = 1;
            continue;
        }
        std::vector<float> values;
        for (int c = 0; c < pieces.size() - 1; ++c)
            values.push_back(pieces.at(c).toFloat());
        blocks[block].append(values, line);
    }
    components = std::move(blocks[0].matrix);
    projections = std::move(blocks[1].matrix);
    labels = labelsOfLine(labelLine, report.keepUsableLabelsOnly ? projections.rows : -1, report);
}

// The same rules over plain ASCII bytes, converting numbers without a QString.
void parseModelText(const QByteArray &text, LabelList &labels, Matrix &components, Matrix &projections, ModelFileReport &report)
{
    const char *p = text.constData();
    const char *end = p + text.size();
    const char *labelEnd = static_cast<const char *>(std::memchr(p, '\n', std::size_t(end - p)));
    if (!labelEnd)
        labelEnd = end;
    const QString labelLine = QString::fromLatin1(p, int(labelEnd - p));
    p = labelEnd == end ? end : labelEnd + 1;

    RowCollector blocks[2] = {{Matrix(), report}, {Matrix(), report}};
    int block = 0;
    std::vector<float> values;
    for (int line = 2; p < end; ++line) {
        // Every piece followed by ";" is a value; the piece after the last ";" is not.
        values.clear();
        for (;;) {
            const char *piece = p;
            float value;
            if (parsePlainNumber(p, end, value) && p < end && *p == ';') {  // the common case, in one pass
                values.push_back(value);
                ++p;
                continue;
            }
            p = piece;
            while (p < end && *p != ';' && *p != '\n')
                ++p;
            if (p == end || *p == '\n')
                break;
            values.push_back(parseModelNumber(piece, int(p - piece)));
            ++p;
        }
        p += p < end;  // the line end
        if (values.empty()) {  // a line without ";"
            if (block == 0) {
                blocks[1].linesLeft = std::size_t(std::count(p, end, '\n')) + 1;
                blocks[1].bytesLeft = std::size_t(end - p);
            }
            block = 1;
            continue;
        }
        blocks[block].append(values, line);
    }
    components = std::move(blocks[0].matrix);
    projections = std::move(blocks[1].matrix);
    labels = labelsOfLine(labelLine, report.keepUsableLabelsOnly ? projections.rows : -1, report);
}

bool isPlainAscii(const QByteArray &text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

bool readModelFileReference(const QString &fileName, LabelList &labels, Matrix &components, Matrix &projections, ModelFileReport *report)
{
    ModelFileReport local;
    ModelFileReport &r = report ? *report : local;
    QByteArray text;
    if (!openModelText(fileName, text, r))
        return false;
    parseModelTextReference(text, labels, components, projections, r);
    return true;
}

bool readModelFile(const QString &fileName, LabelList &labels, Matrix &components, Matrix &projections, ModelFileReport *report)
{
#ifdef SORVIK_REFERENCE_KERNELS  // the plain build that the fast one is compared with
    return readModelFileReference(fileName, labels, components, projections, report);
#endif
    ModelFileReport local;
    ModelFileReport &r = report ? *report : local;
    QByteArray text;
    if (!openModelText(fileName, text, r))
        return false;
    // Plain ASCII is parsed here directly; anything else (a byte-order mark,
    // labels in another script) is decoded by the text stream itself.
    if (isPlainAscii(text))
        parseModelText(text, labels, components, projections, r);
    else
        parseModelTextReference(text, labels, components, projections, r);
    return true;
}

QString modelProblem(const Matrix &components, const Matrix &projections, const ModelFileReport &report)
{
    if (report.tooLarge)
        return QStringLiteral("is larger than %1 bytes").arg(maxModelBytes);
    if (report.changedWhileRead)
        return QStringLiteral("changed while it was read; read it again once it is complete");
    if (report.stalled)
        return QStringLiteral("sent nothing for %1 seconds").arg(modelWaitMilliseconds / 1000);
    if (report.longLine != 0)
        return QStringLiteral("has a line (line %1) longer than %2 bytes, more than any model holds").arg(report.longLine).arg(maxModelLineBytes);
    if (report.labelCount == 0)
        return QStringLiteral("has no labels on its first line");
    if (rowCount(components) == 0 || columnCount(components) == 0)
        return QStringLiteral("has no component rows before its empty line");
    if (rowCount(projections) == 0)
        return QStringLiteral("has no projection rows after its empty line");
    if (report.raggedLine != 0)
        return QStringLiteral("has %1 values on line %2 where the rows before it have %3")
            .arg(report.raggedLength).arg(report.raggedLine).arg(report.expectedLength);
    if (columnCount(projections) != columnCount(components))
        return QStringLiteral("has %1 values in each projection row but %2 in each component row; both must have one per component")
            .arg(columnCount(projections)).arg(columnCount(components));
    if (report.labelCount < rowCount(projections))
        return QStringLiteral("has %1 labels for %2 projection rows; every projection row needs its label")
            .arg(report.labelCount).arg(rowCount(projections));
    if (report.nonFiniteLine != 0)
        return QStringLiteral("has a value on line %1 that is not a finite number").arg(report.nonFiniteLine);
    return QString();
}
