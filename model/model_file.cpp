#include "model/model_file.h"

#include "model/model_bytes.h"
#include "model/model_number.h"
#include "model/model_parameters.h"

#include "base/kernels.h"

#include <QFile>
#include <QTextCodec>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
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
    report.parameters.clear();
    // The item of a model's parameters comes first, when there is one.
    const int first = line.indexOf(QLatin1Char(';'));
    if (first >= 0 && line.startsWith(parametersMark)) {
        report.parameters = line.left(first);
        start = first + 1;
    }
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
void parseModelTextReference(const QByteArray &text, LabelList &labels, Matrix &components, Matrix &projections, LabelsKept kept,
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
    labels = labelsOfLine(labelLine, kept == LabelsKept::UpToProjectionRows ? projections.rows : -1, report);
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

// Whether a text begins with the byte-order mark of UTF-16 or UTF-32, which the
// text stream decodes as such: a model in those the writer never makes.
bool wideText(const char *p, const char *end)
{
    return end - p >= 2 && ((p[0] == '\xfe' && p[1] == '\xff') || (p[0] == '\xff' && p[1] == '\xfe') || (end - p >= 4 && std::memcmp(p, "\0\0\xfe\xff", 4) == 0));
}

// The reading rules over the bytes of the text, applied to whole lines as they
// come, without carriage returns: the first line is kept for the labels, every
// other line is a row of its block, each piece before a ";" a number. Text is
// decoded as the text stream decodes it: in the locale's encoding, or in UTF-8
// behind a UTF-8 byte-order mark, which is dropped.
class ModelLines {
public:
    explicit ModelLines(ModelFileReport &report) : report(report) {}

    // Parses the lines of [p, end), each ending with a line end but perhaps the
    // last of the text, which goes on for `bytesAfter` more bytes; false, having
    // parsed nothing, for a text in UTF-16 or UTF-32, which is the text stream's.
    bool parse(const char *p, const char *end, qint64 bytesAfter)
    {
        if (std::memchr(p, '\r', std::size_t(end - p))) {
            withoutReturns.assign(p, end);
            withoutReturns.erase(std::remove(withoutReturns.begin(), withoutReturns.end(), '\r'), withoutReturns.end());
            p = withoutReturns.data();
            end = p + withoutReturns.size();
        }
        if (line == 1 && wideText(p, end))
            return false;
        parseLines(p, end, bytesAfter);
        return true;
    }

    // The labels and the two blocks of all lines parsed.
    void finish(LabelList &labels, Matrix &components, Matrix &projections, LabelsKept kept)
    {
        components = std::move(blocks[0].matrix);
        projections = std::move(blocks[1].matrix);
        labels = labelsOfLine(labelLine, kept == LabelsKept::UpToProjectionRows ? projections.rows : -1, report);
    }

private:
    // The text of [p, stop), decoded as the text stream decodes it within the whole
    // text: with the byte that ends it (";" or a line end, at `stop` unless it is
    // `end`), which ends a sequence left unfinished, and with a byte-order mark as
    // a character of it.
    QString decoded(const char *p, const char *stop, const char *end) const
    {
        QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
        const QTextCodec *codec = utf8 ? QTextCodec::codecForName("UTF-8") : QTextCodec::codecForLocale();
        QString text = codec->toUnicode(p, int(stop - p) + (stop < end), &state);
        if (stop < end)
            text.chop(1);
        return text;
    }

    void parseLines(const char *p, const char *end, qint64 bytesAfter)
    {
        if (line == 1 && p < end) {
            utf8 = end - p >= 3 && std::memcmp(p, "\xef\xbb\xbf", 3) == 0;
            p += utf8 ? 3 : 0;
            const char *labelEnd = static_cast<const char *>(std::memchr(p, '\n', std::size_t(end - p)));
            if (!labelEnd)
                labelEnd = end;
            labelLine = decoded(p, labelEnd, end);
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
                float value;
                values.push_back(readModelNumber(p, int(semicolon - p), value) ? value : decoded(p, semicolon, end).toFloat());
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

    ModelFileReport &report;
    RowCollector blocks[2] = {{Matrix(), report}, {Matrix(), report}};
    int block = 0;
    int line = 1;  // the next line to parse (1-based)
    QString labelLine;
    bool utf8 = false;
    std::vector<float> values;
    std::string withoutReturns;
};

// Reads the file one way whatever it is: pieces, whole lines, numbers. The lines
// are parsed as they arrive where `fast`; the plain build, and a text in UTF-16
// or UTF-32, collect them for the text stream. A file that was not read whole
// (too large, changed, stalled, a line too long) gives what an empty text gives.
bool readModelText(const QString &fileName, bool fast, LabelsKept kept, LabelList &labels, Matrix &components, Matrix &projections,
                   ModelFileReport *report)
{
    ModelFileReport local, parsed;
    ModelFileReport &read = report ? *report : local;
    ModelLines lines(parsed);
    QByteArray text;
    bool streamed = fast;
    const auto take = [&](const char *p, const char *end, qint64 bytesAfter) {
        if (!streamed || !(streamed = lines.parse(p, end, bytesAfter)))
            text.append(p, int(end - p));
    };
    if (!readModelLines(fileName, take, read))
        return false;
    if (read.tooLarge || read.changedWhileRead || read.stalled || read.longLine != 0) {
        parsed = ModelFileReport();
        ModelLines(parsed).finish(labels, components, projections, kept);
    } else if (streamed) {
        lines.finish(labels, components, projections, kept);
    } else {
        text.resize(int(std::remove(text.begin(), text.end(), '\r') - text.begin()));  // as reading in text mode drops them
        parseModelTextReference(text, labels, components, projections, kept, parsed);
    }
    read.parameters = parsed.parameters;
    read.labelCount = parsed.labelCount;
    read.raggedLine = parsed.raggedLine;
    read.raggedLength = parsed.raggedLength;
    read.expectedLength = parsed.expectedLength;
    read.nonFiniteLine = parsed.nonFiniteLine;
    return true;
}

} // namespace

bool readModelFileReference(const QString &fileName, LabelList &labels, Matrix &components, Matrix &projections, ModelFileReport *report,
                            LabelsKept kept)
{
    return readModelText(fileName, false, kept, labels, components, projections, report);
}

bool readModelFile(const QString &fileName, LabelList &labels, Matrix &components, Matrix &projections, ModelFileReport *report, LabelsKept kept)
{
    return readModelText(fileName, !plainKernels, kept, labels, components, projections, report);
}

} // namespace sorvik
