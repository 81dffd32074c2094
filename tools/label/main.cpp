// sorvik-label: the label a model gives every image of a folder, whatever the
// images are named, with how sure it is: the squared distance of the nearest
// stored row, and of the nearest row of any other class. One CSV row (or JSON
// line) per file in listing order on standard output; a file that cannot be read
// gets its row with its reason.

#include "tools/classification.h"
#include "tools/command_line.h"
#include "tools/csv.h"

#include "base/heap_tuning.h"
#include "base/printable_name.h"
#include "base/run_end.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>

#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

using namespace sorvik;

namespace {

struct Options {
    QString images, modelFile;
    bool jsonLines = false;
    int neighbours = 0;          // 0: the model's own
    double rejectDistance = -1;  // below 0: none
};

// One row: the answer of a usable image, or the reason a file gave none.
struct Row {
    QString file;
    const Answer *answer = nullptr;
    QString reason;
};

// The rows of every file of the folder, in listing order: the files that were
// not passed over gave the answers, in the same order.
std::vector<Row> rowsOf(const QString &directory, const Classified &c)
{
    QHash<QByteArray, QString> reasons;
    for (const SkippedFile &file : c.report.skipped)
        reasons.insert(file.path, file.reason);
    const QByteArray prefix = QFile::encodeName(directory) + '/';
    std::vector<Row> rows;
    std::size_t next = 0;
    for (const DirectoryEntry &entry : c.report.listing) {
        Row row;
        row.file = entry.kind == Entry::UndecodableName ? printableName(entry.bytes) : entry.name;  // as the reader names it
        const auto skipped = reasons.constFind(prefix + entry.bytes);
        if (skipped != reasons.constEnd())
            row.reason = *skipped;
        else if (next < c.answers.size() && c.answers[next].file == row.file)
            row.answer = &c.answers[next++];
        else
            row.reason = QStringLiteral("cannot be read");
        rows.push_back(row);
    }
    return rows;
}

// The label of an answer, or none when its nearest row lies beyond the rejection distance.
QString labelOf(const Answer &a, const Options &options, QString &reason)
{
    if (options.rejectDistance >= 0 && !(double(a.distance) <= options.rejectDistance)) {
        reason = QStringLiteral("its nearest squared distance lies beyond --reject-distance");
        return QString();
    }
    return a.predicted;
}

QByteArray csvOf(const std::vector<Row> &rows, const Model &model, const Options &options)
{
    QByteArray out = "file,label,squared_distance,nearest_row,nearest_class,other_row,other_class,other_squared_distance,reason\r\n";
    for (const Row &row : rows) {
        QString reason = row.reason;
        const Answer *a = row.answer;
        appendCsvField(out, row.file);
        out += ',';
        if (a) {
            appendCsvField(out, labelOf(*a, options, reason));
            out += ',';
            appendCsvNumber(out, a->distance);
            out += ',';
            appendCsvNumber(out, a->nearestRow);
            out += ',';
            appendCsvField(out, model.labels.at(a->nearestRow));
            out += ',';
            if (a->otherRow >= 0) {
                appendCsvNumber(out, a->otherRow);
                out += ',';
                appendCsvField(out, model.labels.at(a->otherRow));
                out += ',';
                appendCsvNumber(out, a->otherDistance);
            } else {
                out += ",,";
            }
        } else {
            out += ",,,,,,";
        }
        out += ',';
        appendCsvField(out, reason);
        out += "\r\n";
    }
    return out;
}

void appendJsonNumber(QByteArray &json, float value)
{
    if (std::isfinite(value))
        appendCsvNumber(json, value);
    else
        json += "null";  // JSON has no infinity
}

QByteArray jsonLinesOf(const std::vector<Row> &rows, const Model &model, const Options &options)
{
    QByteArray out;
    for (const Row &row : rows) {
        QString reason = row.reason;
        const Answer *a = row.answer;
        out += "{\"file\":";
        appendJsonString(out, row.file);
        out += ",\"label\":";
        if (a) {
            const QString label = labelOf(*a, options, reason);
            label.isEmpty() ? void(out += "null") : appendJsonString(out, label);
            out += ",\"squared_distance\":";
            appendJsonNumber(out, a->distance);
            out += ",\"nearest_row\":" + QByteArray::number(a->nearestRow) + ",\"nearest_class\":";
            appendJsonString(out, model.labels.at(a->nearestRow));
            if (a->otherRow >= 0) {
                out += ",\"other_row\":" + QByteArray::number(a->otherRow) + ",\"other_class\":";
                appendJsonString(out, model.labels.at(a->otherRow));
                out += ",\"other_squared_distance\":";
                appendJsonNumber(out, a->otherDistance);
            }
        } else {
            out += "null";
        }
        if (!reason.isEmpty()) {
            out += ",\"reason\":";
            appendJsonString(out, reason);
        }
        out += "}\n";
    }
    return out;
}

Options parseOptions(QCommandLineParser &parser)
{
    parser.addPositionalArgument(QStringLiteral("IMAGES"), QStringLiteral("a folder of images, named any way"));
    parser.addPositionalArgument(QStringLiteral("MODEL"), QStringLiteral("a model written by sorvik train or sorvik-tune"));
    parser.addOption({QStringLiteral("format"), QStringLiteral("csv (default) or jsonl, one JSON object a line"), QStringLiteral("FORMAT"), QStringLiteral("csv")});
    parser.addOption({QStringLiteral("neighbours"), QStringLiteral("how many nearest stored rows vote for a label (default: the model's own)"),
                      QStringLiteral("N")});
    parser.addOption({QStringLiteral("reject-distance"), QStringLiteral("leave the label empty where the nearest squared distance exceeds D"),
                      QStringLiteral("D")});
    const QStringList arguments = parseCommandLine(
        parser, QStringLiteral("Labels every image of IMAGES with MODEL: the label, the nearest stored row and its squared distance, and "
                               "the nearest row of any other class, one row per file in listing order."), 2);
    Options options;
    options.images = arguments.at(0);
    options.modelFile = arguments.at(1);
    const QString format = parser.value(QStringLiteral("format"));
    if (format != QLatin1String("csv") && format != QLatin1String("jsonl"))
        refuseCommandLine(QStringLiteral("--format takes csv or jsonl, not \"%1\"").arg(format));
    options.jsonLines = format == QLatin1String("jsonl");
    if (parser.isSet(QStringLiteral("neighbours")))
        options.neighbours = integerOption(parser, QStringLiteral("neighbours"), 1);
    if (parser.isSet(QStringLiteral("reject-distance"))) {
        bool ok = false;
        options.rejectDistance = parser.value(QStringLiteral("reject-distance")).toDouble(&ok);
        if (!ok || !std::isfinite(options.rejectDistance) || options.rejectDistance < 0)
            refuseCommandLine(QStringLiteral("--reject-distance needs a squared distance of 0 or more, not \"%1\"")
                                  .arg(parser.value(QStringLiteral("reject-distance"))));
    }
    return options;
}

} // namespace

int main(int argc, char *argv[])
{
    beginTool();
    tuneHeap();
    QCoreApplication app(argc, argv);
    nameTool("sorvik-label");
    setRunEndOnError(3);  // as every other failure of the run: status 1 says a file could not be read
    QCommandLineParser parser;
    const Options options = parseOptions(parser);
    Classifying how;
    how.neighbours = options.neighbours;
    how.otherClass = true;
    how.eachOnItsOwn = true;
    Classified c;
    QString problem;
    // A folder of which no file could be read still gets its rows, each with its reason.
    if (!classify(options.images, options.modelFile, c, problem, how) && !(c.samples.isEmpty() && !c.report.skipped.isEmpty())) {
        std::cerr << "sorvik-label: " << problem.toStdString() << "\n";
        std::cout.flush();
        std::_Exit(3);
    }
    const std::vector<Row> rows = rowsOf(options.images, c);
    const QByteArray out = options.jsonLines ? jsonLinesOf(rows, c.reading.model, options) : csvOf(rows, c.reading.model, options);
    // The labels are the product: a full disk is said; a reader that stopped
    // reading (a broken pipe) wanted no more of them.
    errno = 0;
    if ((std::fwrite(out.constData(), 1, std::size_t(out.size()), stdout) != std::size_t(out.size()) || std::fflush(stdout) != 0) && errno != EPIPE) {
        std::cerr << "sorvik-label: cannot write the labels: " << std::strerror(errno) << "\n";
        std::_Exit(3);
    }
    // The samples, the model and the answers go back to the system at once.
    std::_Exit(c.report.skipped.isEmpty() ? 0 : 1);
}
