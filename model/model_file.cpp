#include "model/model_file.h"

#include "model/model_bytes.h"
#include "model/model_number.h"

#include "base/kernels.h"

#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <emmintrin.h>

namespace sorvik {

namespace {

// Collects the rows of one block into a matrix shaped by its first row.
struct RowCollector {
    Matrix matrix;
    ModelFileReport &report;
    std::size_t bytesLeft = 0;  // when known, the bytes still to come, so that the matrix can be sized once

    void append(const std::vector<float> &values, int line)
    {
        const int length = int(values.size());
        if (matrix.rows == 0) {
            matrix.columns = length;
            // Every value takes at least two bytes ("0;"), so this never passes
            // twice the size of the text; memory that is never touched costs nothing.
            if (length > 0)
                matrix.values.reserve((bytesLeft / (2 * std::size_t(length)) + 1) * std::size_t(length));
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
    // A model holds few distinct labels, each many times: the list shares one
    // string per label instead of allocating one per row.
    QVector<QString> distinct;
    int start = 0;
    report.labelCount = 0;
    for (int end; (end = line.indexOf(QLatin1Char(';'), start)) >= 0; start = end + 1) {
        if (limit < 0 || report.labelCount < limit) {
            const QStringRef piece = line.midRef(start, end - start);
            const auto known = std::find(distinct.begin(), distinct.end(), piece);
            if (known != distinct.end()) {
                labels.append(*known);
            } else {
                labels.append(piece.toString());
                if (distinct.size() < 64)
                    distinct.append(labels.last());
            }
        }
        ++report.labelCount;
    }
    return labels;
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

// Calls found(semicolon) for every ";" of [p, lineEnd) in order, sixteen bytes
// compared at once while `end` lies that far ahead.
template <class Found>
void forEachSemicolon(const char *p, const char *lineEnd, const char *end, const Found &found)
{
    for (; p < lineEnd; p += 16) {
        unsigned semicolons = 0;
        if (end - p >= 16) {
            const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
            semicolons = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(chars, _mm_set1_epi8(';'))));
        } else {
            for (int i = 0; i < int(end - p); ++i)
                semicolons |= unsigned(p[i] == ';') << i;
        }
        if (lineEnd - p < 16)
            semicolons &= (1u << (lineEnd - p)) - 1;
        for (; semicolons != 0; semicolons &= semicolons - 1)
            found(p + __builtin_ctz(semicolons));
    }
}

// The same rules over plain ASCII bytes, converting numbers without a QString,
// applied to whole lines as they come: the first line is kept for the labels,
// every other line is a row of its block.
class PlainLines {
public:
    explicit PlainLines(ModelFileReport &report) : report(report) {}

    // Parses the lines of [p, end), each ending with a line end but perhaps the
    // last of the text, which goes on for `bytesAfter` more bytes.
    void parse(const char *p, const char *end, qint64 bytesAfter)
    {
        if (line == 1 && p < end) {
            const char *labelEnd = static_cast<const char *>(std::memchr(p, '\n', std::size_t(end - p)));
            if (!labelEnd)
                labelEnd = end;
            labelLine = QString::fromLatin1(p, int(labelEnd - p));
            p = labelEnd == end ? end : labelEnd + 1;
            line = 2;
        }
        for (; p < end; ++line) {
            // Every piece followed by ";" is a value; the piece after the last ";" is not.
            const char *lineEnd = static_cast<const char *>(std::memchr(p, '\n', std::size_t(end - p)));
            if (!lineEnd)
                lineEnd = end;
            values.clear();
            forEachSemicolon(p, lineEnd, end, [&](const char *semicolon) {
                values.push_back(parseModelNumber(p, int(semicolon - p)));
                p = semicolon + 1;
            });
            p = lineEnd + (lineEnd < end);
            if (values.empty()) {  // a line without ";"
                if (block == 0)
                    blocks[1].bytesLeft = std::size_t(end - p) + std::size_t(bytesAfter);
                block = 1;
                continue;
            }
            blocks[block].append(values, line);
        }
    }

    // The labels and the two blocks of all lines parsed.
    void finish(LabelList &labels, Matrix &components, Matrix &projections)
    {
        components = std::move(blocks[0].matrix);
        projections = std::move(blocks[1].matrix);
        labels = labelsOfLine(labelLine, report.keepUsableLabelsOnly ? projections.rows : -1, report);
    }

private:
    ModelFileReport &report;
    RowCollector blocks[2] = {{Matrix(), report}, {Matrix(), report}};
    int block = 0;
    int line = 1;  // the next line to parse (1-based)
    QString labelLine;
    std::vector<float> values;
};

// Plain ASCII without carriage returns.
bool isPlainText(const char *p, const char *end)
{
    const std::size_t size = std::size_t(end - p);
    unsigned char any = 0;  // every byte or'ed together: a loop without exits, in vectors
    for (std::size_t i = 0; i < size; ++i)
        any |= static_cast<unsigned char>(p[i]);
    return any < 0x80 && !std::memchr(p, '\r', size);
}

// A regular file of plain ASCII without carriage returns is parsed piece by piece
// as it is read; any other file is left to be read whole (NotRegular, Refused).
ModelLines readPlainLines(const QString &fileName, LabelList &labels, Matrix &components, Matrix &projections, ModelFileReport &report)
{
    ModelFileReport parsed = report;
    PlainLines lines(parsed);
    const auto take = [&](const char *p, const char *end, qint64 bytesAfter) {
        if (!isPlainText(p, end))
            return false;
        lines.parse(p, end, bytesAfter);
        return true;
    };
    const ModelLines read = readModelLines(fileName, take, report);
    if (read != ModelLines::Read)
        return read;
    if (report.tooLarge || report.changedWhileRead || report.longLine != 0) {
        PlainLines(report).finish(labels, components, projections);  // as for an empty text
    } else {
        lines.finish(labels, components, projections);
        report = parsed;
    }
    return read;
}

// Reads the file, then parses plain ASCII directly where `fast`; anything else (a
// byte-order mark, labels in another script) is decoded by the text stream.
bool readModelText(const QString &fileName, bool fast, LabelList &labels, Matrix &components, Matrix &projections, ModelFileReport *report)
{
    ModelFileReport local;
    ModelFileReport &r = report ? *report : local;
    const ModelLines read = fast ? readPlainLines(fileName, labels, components, projections, r) : ModelLines::NotRegular;
    if (read == ModelLines::Read || read == ModelLines::NotOpened)
        return read == ModelLines::Read;
    QByteArray text;
    if (!readModelBytes(fileName, text, r))
        return false;
    if (fast && isPlainText(text.constData(), text.constData() + text.size())) {
        PlainLines lines(r);
        lines.parse(text.constData(), text.constData() + text.size(), 0);
        lines.finish(labels, components, projections);
    } else {
        parseModelTextReference(text, labels, components, projections, r);
    }
    return true;
}

} // namespace

bool readModelFileReference(const QString &fileName, LabelList &labels, Matrix &components, Matrix &projections, ModelFileReport *report)
{
    return readModelText(fileName, false, labels, components, projections, report);
}

bool readModelFile(const QString &fileName, LabelList &labels, Matrix &components, Matrix &projections, ModelFileReport *report)
{
    return readModelText(fileName, !plainKernels, labels, components, projections, report);
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
    if (components.rows == 0 || components.columns == 0)
        return QStringLiteral("has no component rows before its empty line");
    if (projections.rows == 0)
        return QStringLiteral("has no projection rows after its empty line");
    if (report.raggedLine != 0)
        return QStringLiteral("has %1 values on line %2 where the rows before it have %3")
            .arg(report.raggedLength).arg(report.raggedLine).arg(report.expectedLength);
    if (projections.columns != components.columns)
        return QStringLiteral("has %1 values in each projection row but %2 in each component row; both must have one per component")
            .arg(projections.columns).arg(components.columns);
    if (report.labelCount < projections.rows)
        return QStringLiteral("has %1 labels for %2 projection rows; every projection row needs its label")
            .arg(report.labelCount).arg(projections.rows);
    if (report.nonFiniteLine != 0)
        return QStringLiteral("has a value on line %1 that is not a finite number").arg(report.nonFiniteLine);
    return QString();
}

} // namespace sorvik
