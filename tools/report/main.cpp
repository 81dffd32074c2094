// sorvik-report: what a model reads each test image as, and how well. Classifies
// a test directory exactly as `sorvik class` does and writes, into one folder, the
// answer for every image (predictions.csv), the figures of each class
// (summary.txt, summary.json) and a page with pictures (index.html).

#include "tools/command_line.h"
#include "tools/report/figures.h"
#include "tools/report/page.h"
#include "tools/report/pictures.h"

#include "app/pipeline.h"
#include "linalg/nearest.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSaveFile>

#include <charconv>
#include <iostream>

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
                   .arg(printableName(directory)).arg(names.size()).arg(model.projections.rows);
        return QStringList();
    }
    return names;
}

bool save(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    std::cout << "cannot write " << printableName(path).toStdString() << "\n";
    return false;
}

bool savePicture(const QString &path, const QImage &image)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && image.save(&file, "PNG") && file.commit())
        return true;
    std::cout << "cannot write " << printableName(path).toStdString() << "\n";
    return false;
}

QImage picture(const QString &path)
{
    QString failure;
    return loadSampleImage(path, failure);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sorvik-report"));
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("TEST_DIR"), QStringLiteral("test images named c-xxx.yyy; images without a class are predicted only"));
    parser.addPositionalArgument(QStringLiteral("MODEL"), QStringLiteral("a model file written by sorvik train"));
    parser.addOption({QStringLiteral("train"), QStringLiteral("the model's training directory: names the nearest training image of each test image"),
                      QStringLiteral("TRAIN_DIR")});
    parser.addOption({QStringLiteral("out"), QStringLiteral("the folder of the report (default: report)"), QStringLiteral("DIR"), QStringLiteral("report")});
    parser.addOption({QStringLiteral("gallery"), QStringLiteral("misread images shown on the page (default: 100)"), QStringLiteral("N"), QStringLiteral("100")});
    const QStringList arguments = parseCommandLine(
        parser, QStringLiteral("Classifies TEST_DIR with MODEL as sorvik class does and writes the answer for every image, "
                               "the figures of every class and a page with pictures into one folder."), 2);
    const int galleryLimit = integerOption(parser, QStringLiteral("gallery"), 0);
    const QString testDirectory = arguments.at(0), modelFile = arguments.at(1), out = parser.value(QStringLiteral("out"));

    QList<Raster> samples;
    DirectoryReport report;
    readSampleDirectory(testDirectory, samples, &report);
    for (const SkippedFile &file : report.skipped)
        std::cout << "skipped " << printableName(file.path).toStdString() << ": " << file.reason.toStdString() << "\n";
    Model model;
    ModelFileReport modelReport;
    if (!samples.isEmpty() && !readModel(modelFile, model, modelReport)) {
        std::cout << "cannot classify: model " << printableName(modelFile).toStdString() << " cannot be opened\n";
        return 1;
    }
    const QString problem = classificationProblem(testDirectory, modelFile, samples, report, model, modelReport);
    if (!problem.isEmpty()) {
        std::cout << problem.toStdString() << "\n";
        return 1;
    }

    const Matrix projected = projectSamples(model, samples);
    const std::vector<int> nearest = nearestTrainingRows(model, projected);
    std::vector<Answer> answers;
    QStringList actual, predicted;
    for (int i = 0; i < samples.size(); ++i) {
        const int row = nearest[std::size_t(i)];
        const QString &name = report.names.at(i);
        const Answer answer{name, QFileInfo(name).baseName().contains(QLatin1Char('-')), samples.at(i).label, model.labels.at(row),
                            squaredDistance(model.projections.row(row), projected.row(i), projected.columns), row};
        if (answer.hasClass) {
            actual << answer.label;
            predicted << answer.predicted;
        }
        answers.push_back(answer);
    }
    QString trainingNote;
    const QString trainingDirectory = parser.value(QStringLiteral("train"));
    const QStringList training = trainingDirectory.isEmpty() ? QStringList() : trainingFiles(trainingDirectory, model, trainingNote);

    PageContent page{testDirectory, modelFile, classificationFigures(actual, predicted), int(samples.size() - actual.size()), false, {}, 0};
    const Figures &figures = page.figures;
    if (!QDir().mkpath(out)) {
        std::cout << "cannot write the report: cannot create the folder " << printableName(out).toStdString() << "\n";
        return 1;
    }
    const QDir folder(out);
    bool written = save(folder.filePath(QStringLiteral("predictions.csv")), predictionsCsv(answers, training))
        && save(folder.filePath(QStringLiteral("summary.txt")), figuresText(figures))
        && save(folder.filePath(QStringLiteral("summary.json")), figuresJson(figures))
        && savePicture(folder.filePath(QStringLiteral("confusion.png")), confusionPicture(figures))
        && savePicture(folder.filePath(QStringLiteral("recall.png")), recallPicture(figures));
    const QImage components = componentsPicture(model.components, samples.first().width, samples.first().height, 16);
    page.hasComponents = !components.isNull();
    written = written && (components.isNull() || savePicture(folder.filePath(QStringLiteral("components.png")), components));
    for (const Answer &a : answers) {
        if (!a.hasClass || a.label == a.predicted)
            continue;
        if (++page.misread > galleryLimit || !written)
            continue;
        const QString nearestFile = training.isEmpty() ? QString() : training.at(a.nearestRow);
        const QImage nearestImage = nearestFile.isEmpty() ? QImage() : picture(samplePath(trainingDirectory, nearestFile));
        const QString name = QStringLiteral("misread-%1.png").arg(page.gallery.size() + 1, 4, 10, QLatin1Char('0'));
        written = savePicture(folder.filePath(name), pairPicture(picture(samplePath(testDirectory, a.file)), nearestImage));
        page.gallery.push_back({name, printableName(a.file), a.label, a.predicted, printableName(nearestFile)});
    }
    written = written && save(folder.filePath(QStringLiteral("index.html")), indexPage(page));
    if (!written)
        return 1;

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
    return 0;
}
