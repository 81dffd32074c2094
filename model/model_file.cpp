#include "model/model_file.h"

#include <QFile>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

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

} // namespace

int formatModelNumber(float value, char *out)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const std::uint32_t field = (bits >> 23) & 0xff;
    const std::uint32_t fraction = bits & 0x7fffff;
    if (field == 0xff || (field == 0 && fraction != 0) || value == 0) {
        if (value == 0) {  // both zeros print as 0
            out[0] = '0';
            return 1;
        }
        // Infinities, NaNs and subnormals are rare enough to take the slow road.
        const QByteArray text = formatModelNumberReference(value);
        std::memcpy(out, text.constData(), std::size_t(text.size()));
        return text.size();
    }
    const std::uint32_t mantissa = fraction | 0x800000;
    const int binaryExponent = int(field) - 150;

    // Find the decimal exponent e that puts the magnitude between 10^5 and 10^6
    // once scaled by 10^(5 - e); the logarithm is at most one off.
    int exponent = int(std::floor(std::log10(std::fabs(double(value)))));
    std::uint64_t whole = 0;
    bool roundUp = false;
    for (int attempt = 0;; ++attempt) {
        if (attempt == 4 || !scaledDigits(mantissa, binaryExponent, exponent, whole, roundUp)) {
            const QByteArray text = formatModelNumberReference(value);
            std::memcpy(out, text.constData(), std::size_t(text.size()));
            return text.size();
        }
        if (whole < 100000)
            --exponent;
        else if (whole >= 1000000)
            ++exponent;
        else
            break;
    }
    // Halves round away from zero; 999999.5 and up carries into the next power of ten.
    std::uint32_t digits = std::uint32_t(whole) + (roundUp ? 1 : 0);
    if (digits == 1000000) {
        digits = 100000;
        ++exponent;
    }

    char *p = out;
    if (bits >> 31)
        *p++ = '-';
    char digit[6];
    for (int i = 5; i >= 0; --i) {
        digit[i] = char('0' + digits % 10);
        digits /= 10;
    }
    int significant = 6;
    while (significant > 1 && digit[significant - 1] == '0')
        --significant;

    if (exponent < -4 || exponent >= 6) {
        *p++ = digit[0];
        if (significant > 1) {
            *p++ = '.';
            for (int i = 1; i < significant; ++i)
                *p++ = digit[i];
        }
        *p++ = 'e';
        *p++ = exponent < 0 ? '-' : '+';
        const int magnitude = std::abs(exponent);
        if (magnitude >= 100)
            *p++ = char('0' + magnitude / 100);
        *p++ = char('0' + magnitude / 10 % 10);
        *p++ = char('0' + magnitude % 10);
    } else if (exponent >= 0) {
        for (int i = 0; i <= exponent; ++i)
            *p++ = digit[i];
        if (significant > exponent + 1) {
            *p++ = '.';
            for (int i = exponent + 1; i < significant; ++i)
                *p++ = digit[i];
        }
    } else {
        *p++ = '0';
        *p++ = '.';
        for (int i = 0; i < -exponent - 1; ++i)
            *p++ = '0';
        for (int i = 0; i < significant; ++i)
            *p++ = digit[i];
    }
    return int(p - out);
}

float parseModelNumber(const char *text, int length)
{
    // The writer's own forms, -?d+(.d+)?(e[+-]d+)?, convert directly: from_chars
    // rounds correctly to double, as QString::toDouble does. Anything else, and
    // anything beyond the float range, goes through QString::toFloat itself.
    const char *end = text + length;
    const char *p = text;
    if (p < end && *p == '-')
        ++p;
    auto skipDigits = [&](const char *q) {
        while (q < end && *q >= '0' && *q <= '9')
            ++q;
        return q;
    };
    const char *q = skipDigits(p);
    bool plain = q > p && length <= 32;
    if (plain && q < end && *q == '.') {
        const char *r = skipDigits(q + 1);
        plain = r > q + 1;
        q = r;
    }
    if (plain && q < end && *q == 'e') {
        ++q;
        if (q < end && (*q == '+' || *q == '-'))
            ++q;
        const char *r = skipDigits(q);
        plain = r > q;
        q = r;
    }
    if (plain && q == end) {
        double number = 0;
        const auto parsed = std::from_chars(text, end, number);
        const double magnitude = std::fabs(number);
        if (parsed.ec == std::errc() && parsed.ptr == end
            && (number == 0 || (magnitude >= std::numeric_limits<float>::min() && magnitude <= std::numeric_limits<float>::max())))
            return float(number);
    }
    return QString::fromLatin1(text, length).toFloat();
}

// ---------------------------------------------------------------------------
// Writer

namespace {

void appendRows(QByteArray &text, const Matrix &matrix)
{
    char number[32];
    for (int r = 0; r < matrix.rows; ++r) {
        const float *row = matrix.row(r);
        for (int c = 0; c < matrix.columns; ++c) {
            const int length = formatModelNumber(row[c], number);
            number[length] = ';';
            text.append(number, length + 1);
        }
        text.append('\n');
    }
}

} // namespace

void writeModelFile(const QString &fileName, const LabelList &labels, const Matrix &components, const Matrix &projections)
{
    QByteArray text;
    text.reserve(int(std::min<std::size_t>(std::size_t(12) * (components.values.size() + projections.values.size()) + 4096, 1u << 30)));
    for (const QString &label : labels)
        text.append(label.toLocal8Bit()).append(';');
    text.append('\n');
    appendRows(text, components);
    text.append('\n');
    appendRows(text, projections);

    // A model appears complete or not at all: the text goes to a temporary file
    // that replaces "fileName" only once it is fully written.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return;
    file.write(text);
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

// Collects the rows of one block into a matrix shaped by its first row.
struct RowCollector {
    Matrix matrix;
    ModelFileReport &report;

    float *startRow(int length, int line)
    {
        if (matrix.rows == 0) {
            matrix.columns = length;
        } else if (length != matrix.columns && report.raggedLine == 0) {
            report.raggedLine = line;
            report.raggedLength = length;
            report.expectedLength = matrix.columns;
        }
        ++matrix.rows;
        matrix.values.resize(std::size_t(matrix.rows) * std::size_t(matrix.columns), 0.0f);
        return matrix.row(matrix.rows - 1);
    }
    void check(const float *row, int line)
    {
        if (report.nonFiniteLine == 0 && !std::all_of(row, row + matrix.columns, [](float v) { return std::isfinite(v); }))
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

// Opens the file in text mode (carriage returns dropped) and reads it whole, up to
// the size limit; a device without end is cut there.
bool readModelText(const QString &fileName, QByteArray &text, ModelFileReport &report)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    // A regular file is read at once; a pipe or device in pieces until it ends.
    qint64 piece = file.isSequential() ? qint64(1) << 16 : std::max<qint64>(file.size(), 1);
    while (text.size() <= maxModelBytes) {
        const QByteArray chunk = file.read(std::min(maxModelBytes + 1 - text.size(), piece));
        if (chunk.isEmpty())
            break;
        text.append(chunk);
        piece = qint64(1) << 16;
    }
    report.tooLarge = text.size() > maxModelBytes;
    if (report.tooLarge)
        text.clear();
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
        RowCollector &rows = blocks[block];
        float *row = rows.startRow(pieces.size() - 1, line);
        for (int c = 0; c < pieces.size() - 1 && c < rows.matrix.columns; ++c)
            row[c] = pieces.at(c).toFloat();
        rows.check(row, line);
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
    auto nextLine = [&](const char *&lineEnd) {
        const char *start = p;
        lineEnd = static_cast<const char *>(std::memchr(p, '\n', std::size_t(end - p)));
        if (!lineEnd)
            lineEnd = end;
        p = lineEnd == end ? end : lineEnd + 1;
        return start;
    };

    const char *labelEnd;
    const char *labelStart = nextLine(labelEnd);
    RowCollector blocks[2] = {{Matrix(), report}, {Matrix(), report}};
    int block = 0;
    int line = 1;
    while (p < end) {
        ++line;
        const char *lineEnd;
        const char *start = nextLine(lineEnd);
        const int pieces = 1 + int(std::count(start, lineEnd, ';'));
        if (pieces == 1) {
            block = 1;
            continue;
        }
        RowCollector &rows = blocks[block];
        float *row = rows.startRow(pieces - 1, line);
        const char *piece = start;
        for (int c = 0; c < pieces - 1 && c < rows.matrix.columns; ++c) {
            const char *separator = static_cast<const char *>(std::memchr(piece, ';', std::size_t(lineEnd - piece)));
            row[c] = parseModelNumber(piece, int(separator - piece));
            piece = separator + 1;
        }
        rows.check(row, line);
    }
    components = std::move(blocks[0].matrix);
    projections = std::move(blocks[1].matrix);
    labels = labelsOfLine(QString::fromLatin1(labelStart, int(labelEnd - labelStart)),
                          report.keepUsableLabelsOnly ? projections.rows : -1, report);
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
    if (!readModelText(fileName, text, r))
        return false;
    parseModelTextReference(text, labels, components, projections, r);
    return true;
}

bool readModelFile(const QString &fileName, LabelList &labels, Matrix &components, Matrix &projections, ModelFileReport *report)
{
    ModelFileReport local;
    ModelFileReport &r = report ? *report : local;
    QByteArray text;
    if (!readModelText(fileName, text, r))
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
