// sorvik-report: what a model reads each test image as, and how well. Classifies
// a test directory exactly as `sorvik class` does and writes, into one folder, the
// answer for every image (predictions.csv), the figures of each class
// (summary.txt, summary.json) and a page with pictures (index.html).

#include "tools/command_line.h"
#include "tools/report/figures.h"
#include "tools/report/page.h"
#include "tools/report/pictures.h"

#include "app/pipeline.h"
#include "base/run_end.h"
#include "decode/image_loader.h"
#include "search/nearest.h"
#include "base/whole_file.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QBuffer>

#include <charconv>
#include <iostream>
#include <memory>

using namespace sorvik;

namespace {

struct Answer {
    QString file;
    bool hasClass;      // the name carries a class: "c-xxx.yyy"
    QString label;
    QString predicted;
    float distance;     // squared distance to the nearest projection row
    int nearestRow;
};

// A CSV field as RFC 4180 writes it: quoted, quotes doubled, where it needs to be.
QByteArray csvField(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') || bytes.contains('\r'))
        bytes = '"' + bytes.replace("\"", "\"\"") + '"';
    return bytes;
}

QByteArray shortest(float value)
{
    char text[32];
    return QByteArray(text, int(std::to_chars(text, text + sizeof text, value).ptr - text));
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

// The file of every projection row: the usable files of the training directory in
// listing order. Listing alone suffices when the files and their classes match the
// model's rows one for one; otherwise every file is read, as training read them.
QStringList trainingFiles(const QString &directory, const Model &model, QString &note)
{
    QStringList names;
    for (const DirectoryEntry &entry : listSampleDirectory(directory))
        if (entry.kind == Entry::File)
            names << entry.name;
    bool matches = names.size() == model.projections.rows;
    for (int i = 0; matches && i < names.size(); ++i)
        matches = labelFromFileName(names.at(i)) == model.labels.at(i);
    if (!matches) {
        QList<Raster> samples;
        DirectoryReport report;
        readSampleDirectory(directory, samples, &report);
        names = report.names;
    }
    if (names.size() != model.projections.rows) {
        note = QStringLiteral("%1 holds %2 usable images for the model's %3 rows; predictions.csv names no nearest training file")
                   .arg(printableName(directory), QString::number(names.size()), QString::number(model.projections.rows));
        return QStringList();
    }
    return names;
}

// The files of a report, each written beside its place and all renamed into place
// only once every one of them is written whole: a full disk leaves the old report
// as it was. A failure is said once, naming the file and the reason.
class ReportFiles {
public:
    explicit ReportFiles(const QDir &folder) : folder(folder) {}

    bool add(const QString &name, const QByteArray &bytes)
    {
        if (failed)
            return false;
        files.push_back(std::make_unique<WholeFile>(folder.filePath(name)));
        return check(files.back()->write(bytes) && files.back()->finish());
    }

    bool addPicture(const QString &name, const QImage &image)
    {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        return !failed && buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "PNG") ? add(name, bytes) : check(false);
    }

    bool commit()
    {
        for (std::size_t i = 0; !failed && i < files.size(); ++i)
            check(files[i]->commit());
        return !failed;
    }

private:
    bool check(bool written)
    {
        if (!written && !failed) {
            const WholeFile *file = files.empty() ? nullptr : files.back().get();
            for (const auto &f : files)
                if (!f->reason().isEmpty())
                    file = f.get();
            const QString reason = file && !file->reason().isEmpty() ? file->reason() : QStringLiteral("the picture cannot be encoded");
            std::cout << (QStringLiteral("cannot write ") + printableName(file ? file->path() : folder.path()) + QStringLiteral(": ") + reason)
                             .toStdString() << "\n";
            failed = true;
        }
        return written;
    }

    QDir folder;
    std::vector<std::unique_ptr<WholeFile>> files;
    bool failed = false;
};

QImage picture(const QString &path)
{
    QString failure;
    return loadSampleImage(path, failure);
}

// The test directory classified as sorvik class classifies it, with the answer
// for every image; false, after one line that says why, when it cannot be.
struct Classified {
    QList<Raster> samples;
    DirectoryReport report;
    Model model;
    std::vector<Answer> answers;
    QStringList actual, predicted;  // of the images that carry a class
};

bool classify(const QString &testDirectory, const QString &modelFile, Classified &c)
{
    readSampleDirectory(testDirectory, c.samples, &c.report);
    for (const SkippedFile &file : c.report.skipped)
        std::cout << "skipped " << printableName(file.path).toStdString() << ": " << file.reason.toStdString() << "\n";
    ModelFileReport modelReport;
    if (!c.samples.isEmpty() && !readModel(modelFile, c.model, modelReport)) {
        std::cout << "cannot classify: model " << printableName(modelFile).toStdString() << " cannot be opened\n";
        return false;
    }
    const QString problem = classificationProblem(testDirectory, modelFile, c.samples, c.report, c.model, modelReport);
    if (!problem.isEmpty()) {
        std::cout << problem.toStdString() << "\n";
        return false;
    }
    const Matrix projected = projectSamples(c.model, c.samples);
    const std::vector<int> nearest = nearestTrainingRows(c.model, projected);
    for (int i = 0; i < c.samples.size(); ++i) {
        const int row = nearest[std::size_t(i)];
        const QString &name = c.report.names.at(i);
        const Answer answer{name, QFileInfo(name).baseName().contains(QLatin1Char('-')), c.samples.at(i).label, c.model.labels.at(row),
                            squaredDistance(c.model.projections.row(row), projected.row(i), projected.columns), row};
        if (answer.hasClass) {
            c.actual << answer.label;
            c.predicted << answer.predicted;
        }
        c.answers.push_back(answer);
    }
    return true;
}

// Where the report comes from and goes to.
struct Places {
    QString testDirectory, modelFile, trainingDirectory, out;
    int galleryLimit;
};

// Writes every file of the report, the page last; false after one line that says
// why one cannot be written.
bool writeReport(const Places &places, const Classified &c, const QStringList &training, PageContent &page)
{
    if (!QDir().mkpath(places.out)) {
        std::cout << "cannot write the report: cannot create the folder " << printableName(places.out).toStdString() << "\n";
        return false;
    }
    const Figures &figures = page.figures;
    ReportFiles files{QDir(places.out)};
    files.add(QStringLiteral("predictions.csv"), predictionsCsv(c.answers, training))
        && files.add(QStringLiteral("summary.txt"), figuresText(figures))
        && files.add(QStringLiteral("summary.json"), figuresJson(figures))
        && files.addPicture(QStringLiteral("confusion.png"), confusionPicture(figures))
        && files.addPicture(QStringLiteral("recall.png"), recallPicture(figures));
    const QImage components = componentsPicture(c.model.components, c.samples.first().width, c.samples.first().height, 16);
    page.hasComponents = !components.isNull();
    if (page.hasComponents)
        files.addPicture(QStringLiteral("components.png"), components);
    for (const Answer &a : c.answers) {
        if (!a.hasClass || a.label == a.predicted || ++page.misread > places.galleryLimit)
            continue;
        const QString nearestFile = training.isEmpty() ? QString() : training.at(a.nearestRow);
        const QImage nearestImage = nearestFile.isEmpty() ? QImage() : picture(samplePath(places.trainingDirectory, nearestFile));
        const QString name = QStringLiteral("misread-%1.png").arg(page.gallery.size() + 1, 4, 10, QLatin1Char('0'));
        if (!files.addPicture(name, pairPicture(picture(samplePath(places.testDirectory, a.file)), nearestImage)))
            return false;
        page.gallery.push_back({name, printableName(a.file), a.label, a.predicted, printableName(nearestFile)});
    }
    return files.add(QStringLiteral("index.html"), indexPage(page)) && files.commit();
}

void printSummary(const PageContent &page, const QString &trainingNote, const QString &out)
{
    const Figures &figures = page.figures;
    if (figures.images > 0)
        std::cout << "accuracy: " << QByteArray::number(accuracyPercent(figures), 'f', 6).constData() << "% (" << figures.correct << " of "
                  << figures.images << " images)\n";
    else
        std::cout << "accuracy: no test image carries a class in its name\n";
    if (page.unlabelled > 0)
        std::cout << "images without a class in their names, predicted only: " << page.unlabelled << "\n";
    if (!trainingNote.isEmpty())
        std::cout << trainingNote.toStdString() << "\n";
    std::cout << "report written to " << printableName(out).toStdString() << "/: index.html, predictions.csv, summary.txt, summary.json\n";
}

Places parsePlaces(QCommandLineParser &parser)
{
    parser.addPositionalArgument(QStringLiteral("TEST_DIR"), QStringLiteral("test images named c-xxx.yyy; images without a class are predicted only"));
    parser.addPositionalArgument(QStringLiteral("MODEL"), QStringLiteral("a model file written by sorvik train"));
    parser.addOption({QStringLiteral("train"), QStringLiteral("the model's training directory: names the nearest training image of each test image"),
                      QStringLiteral("TRAIN_DIR")});
    parser.addOption({QStringLiteral("out"), QStringLiteral("the folder of the report (default: report)"), QStringLiteral("DIR"), QStringLiteral("report")});
    parser.addOption({QStringLiteral("gallery"), QStringLiteral("misread images shown on the page (default: 100)"), QStringLiteral("N"), QStringLiteral("100")});
    const QStringList arguments = parseCommandLine(
        parser, QStringLiteral("Classifies TEST_DIR with MODEL as sorvik class does and writes the answer for every image, "
                               "the figures of every class and a page with pictures into one folder."), 2);
    return {arguments.at(0), arguments.at(1), parser.value(QStringLiteral("train")), parser.value(QStringLiteral("out")),
            integerOption(parser, QStringLiteral("gallery"), 0)};
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sorvik-report"));
    setRunEndPrefix("sorvik-report");
    QCommandLineParser parser;
    const Places places = parsePlaces(parser);
    Classified c;
    if (!classify(places.testDirectory, places.modelFile, c))
        return 1;
    QString trainingNote;
    const QStringList training = places.trainingDirectory.isEmpty() ? QStringList() : trainingFiles(places.trainingDirectory, c.model, trainingNote);
    PageContent page{places.testDirectory, places.modelFile, classificationFigures(c.actual, c.predicted),
                     int(c.samples.size() - c.actual.size()), false, {}, 0};
    if (!writeReport(places, c, training, page))
        return 1;
    printSummary(page, trainingNote, places.out);
    return 0;
}
