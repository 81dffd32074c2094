#include "tools/report/predictions.h"

#include <charconv>

namespace sorvik {

namespace {

QByteArray shortest(float value)
{
    char text[32];
    return QByteArray(text, int(std::to_chars(text, text + sizeof text, value).ptr - text));
}

} // namespace

QByteArray csvField(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    if (!bytes.isEmpty() && QByteArray("=+-@'").contains(bytes.front()))
        bytes.prepend('\'');
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') || bytes.contains('\r'))
        bytes = '"' + bytes.replace("\"", "\"\"") + '"';
    return bytes;
}

QByteArray predictionsCsv(const std::vector<Answer> &answers, const QStringList &trainingFiles)
{
    QByteArray csv = "file,label,predicted,correct,squared_distance,nearest_row";
    csv += trainingFiles.isEmpty() ? "\r\n" : ",nearest_file\r\n";
    for (const Answer &a : answers) {
        csv += csvField(a.file) + ',' + csvField(a.hasClass ? a.label : QString()) + ',' + csvField(a.predicted) + ','
            + (a.hasClass ? (a.label == a.predicted ? "1" : "0") : "") + ',' + shortest(a.distance) + ',' + QByteArray::number(a.nearestRow);
        if (!trainingFiles.isEmpty())
            csv += ',' + csvField(trainingFiles.at(a.nearestRow));
        csv += "\r\n";
    }
    return csv;
}

} // namespace sorvik
