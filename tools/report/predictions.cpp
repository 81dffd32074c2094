#include "tools/report/predictions.h"

#include "tools/csv.h"

namespace sorvik {


QByteArray predictionsCsv(const std::vector<Answer> &answers, const QStringList &trainingFiles)
{
    QByteArray csv = "file,label,predicted,correct,squared_distance,nearest_row";
    csv += trainingFiles.isEmpty() ? "\r\n" : ",nearest_file\r\n";
    csv.reserve(int(answers.size()) * 64);
    for (const Answer &a : answers) {
        appendCsvField(csv, a.file);
        csv += ',';
        appendCsvField(csv, a.hasClass ? a.label : QString());
        csv += ',';
        appendCsvField(csv, a.predicted);
        csv += a.hasClass ? (a.label == a.predicted ? ",1," : ",0,") : ",,";
        appendCsvNumber(csv, a.distance);
        csv += ',';
        appendCsvNumber(csv, a.nearestRow);
        if (!trainingFiles.isEmpty()) {
            csv += ',';
            appendCsvField(csv, trainingFiles.at(a.nearestRow));
        }
        csv += "\r\n";
    }
    return csv;
}

} // namespace sorvik
