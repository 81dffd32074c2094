#include "tools/report/predictions.h"

#include <charconv>

namespace sorvik {

namespace {

// Appends a field as RFC 4180 writes it, quoted where it needs to be. A field
// that a spreadsheet would run as a formula (one that begins with =, +, - or @),
// or one that begins with an apostrophe, gets an apostrophe in front, which
// spreadsheets show as text; a script drops the first character of a field that
// begins with one.
void appendField(QByteArray &csv, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    const bool guarded = !bytes.isEmpty() && QByteArray::fromRawData("=+-@'", 5).contains(bytes.front());
    const bool quoted = bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') || bytes.contains('\r');
    if (quoted)
        csv += '"';
    if (guarded)
        csv += '\'';
    csv += quoted ? QByteArray(bytes).replace("\"", "\"\"") : bytes;
    if (quoted)
        csv += '"';
}

template <typename Number>
void appendNumber(QByteArray &csv, Number value)
{
    char text[32];  // the shortest text that reads back as the same value
    csv.append(text, int(std::to_chars(text, text + sizeof text, value).ptr - text));
}

} // namespace

QByteArray predictionsCsv(const std::vector<Answer> &answers, const QStringList &trainingFiles)
{
    QByteArray csv = "file,label,predicted,correct,squared_distance,nearest_row";
    csv += trainingFiles.isEmpty() ? "\r\n" : ",nearest_file\r\n";
    csv.reserve(int(answers.size()) * 64);
    for (const Answer &a : answers) {
        appendField(csv, a.file);
        csv += ',';
        appendField(csv, a.hasClass ? a.label : QString());
        csv += ',';
        appendField(csv, a.predicted);
        csv += a.hasClass ? (a.label == a.predicted ? ",1," : ",0,") : ",,";
        appendNumber(csv, a.distance);
        csv += ',';
        appendNumber(csv, a.nearestRow);
        if (!trainingFiles.isEmpty()) {
            csv += ',';
            appendField(csv, trainingFiles.at(a.nearestRow));
        }
        csv += "\r\n";
    }
    return csv;
}

} // namespace sorvik
