// sorvik-report: what a model reads each test image as, and how well. Classifies
// a test directory exactly as `sorvik class` does and writes, into one folder, the
// answer for every image (predictions.csv), the figures of each class
// (summary.txt, summary.json) and a page with pictures (index.html).

#include "tools/classification.h"
#include "tools/command_line.h"
#include "tools/report/figures.h"
#include "tools/report/gallery.h"
#include "tools/report/page.h"
#include "tools/report/pictures.h"
#include "tools/report/places.h"
#include "tools/report/plots.h"
#include "tools/report/predictions.h"
#include "tools/report/png_encoder.h"
#include "tools/report/report_folder.h"
#include "tools/report/training_check.h"

#include "app/pipeline.h"
#include "model/model_parameters.h"
#include "base/heap_tuning.h"
#include "base/opening.h"
#include "base/parallel.h"
#include "base/printable_name.h"
#include "base/run_end.h"

#include <QGuiApplication>
#include <QJsonArray>

#include <future>
#include <iostream>


using namespace sorvik;

namespace {

// The pictures of the page that the model and the answers give, by file name.
std::vector<std::pair<QString, QImage>> figurePictures(const Places &places, const Classified &c, const PageContent &page)
{
    const Model &model = c.reading.model;
    std::vector<std::pair<QString, QImage>> pictures = {
        {QStringLiteral("components.png"), componentsPicture(model.components, c.samples.first(), page.varianceShares, 16, c.transform)},
        {QStringLiteral("variance.png"), varianceCurve(page.varianceShares, model.components.rows)},
        {QStringLiteral("scatter.png"), projectionScatter(model.projections, model.labels, 5000)},
        {QStringLiteral("distances.png"), distanceHistogram(c.answers)}};
    if (page.figures.images > 0) {
        pictures.emplace_back(QStringLiteral("recall.png"), recallPicture(page.figures));
        const std::vector<RejectionRow> &curve = page.rejectionCurve;
        if (!curve.empty())
            pictures.emplace_back(QStringLiteral("rejection.png"), rejectionPlot(curve, page.rejection));
    }
    if (!page.grid.empty())
        pictures.emplace_back(QStringLiteral("grid.png"), gridPlot(page.grid, page.chosen));
    QStringList labels;
    std::vector<QImage> thumbnails;
    for (const int i : thumbnailChoice(c.answers, 3)) {
        labels << c.answers[std::size_t(i)].label;
        thumbnails.push_back(samplePicture(samplePath(places.testDirectory, c.answers[std::size_t(i)].file)));
    }
    if (!thumbnails.empty())
        pictures.emplace_back(QStringLiteral("thumbnails.png"), thumbnailSheet(labels, thumbnails));
    return pictures;
}

// What the report learns beside the drawing of its figures: the training
// directory proven against the model, then the answers as CSV.
struct Checked {
    TrainingFiles training;
    QByteArray proofs;  // training-proofs.txt
    QByteArray csv;
};

// The training directory (its listing, once made, held in `held`) proven against
// the model, and the answers as CSV.
Checked checkBeside(const Places &places, const Classified &c, std::future<std::vector<DirectoryEntry>> &listing, std::vector<DirectoryEntry> &held,
                    const QByteArray &modelIdentity, const ReportFolder &folder)
{
    Checked checked;
    if (listing.valid()) {
        held = listing.get();
        std::vector<int> named;
        for (const Answer &a : c.answers)
            named.push_back(a.nearestRow);
        checked.training = trainingFiles(places.trainingDirectory, held, c.reading.model, named, modelIdentity,
                                         folder.oldFile(QStringLiteral("training-proofs.txt"), qint64(64) << 20), checked.proofs);
    }
    checked.csv = predictionsCsv(c.answers, checked.training.names);
    return checked;
}

// The misread images the page shows, each drawn beside its nearest training image.
// Their pictures travel inside the page, as data: URLs: a hundred files more
// would cost the report a third of its writing.
void addGallery(const Places &places, const Classified &c, const QStringList &training, PageContent &page)
{
    const std::vector<int> chosen = galleryChoice(c.answers, places.galleryLimit);
    page.gallery.resize(chosen.size());
    forEachIndex(int(chosen.size()), [&](int g) {
        const Answer &a = c.answers[std::size_t(chosen[std::size_t(g)])];
        const QString nearestFile = training.isEmpty() ? QString() : training.at(a.nearestRow);
        const QImage nearest = nearestFile.isEmpty() ? QImage() : samplePicture(samplePath(places.trainingDirectory, nearestFile));
        const QImage drawn = pairPicture(samplePicture(samplePath(places.testDirectory, a.file)), nearest);
        const QByteArray png = pngBytes(drawn);
        GalleryItem &item = page.gallery[std::size_t(g)];
        item.picture = png.isEmpty() ? QString() : QStringLiteral("data:image/png;base64,") + QLatin1String(png.toBase64());
        item.size = drawn.size() * std::max(1, 128 / std::max(1, drawn.height()));  // shown enlarged, pixel by pixel
        item.testFile = printableName(a.file);
        item.actual = a.label;
        item.predicted = a.predicted;
        item.distance = a.distance;
        item.nearestFile = printableName(nearestFile);
    }, 4);
}

QJsonArray rejectionJson(const std::vector<RejectionRow> &rows)
{
    QJsonArray json;
    for (const RejectionRow &r : rows) {
        QJsonObject row{{"squared_distance", double(r.squaredDistance)}, {"answered", r.answered}, {"accuracy", r.accuracy}};
        if (r.target > 0)
            row.insert(QStringLiteral("accuracy_asked"), r.target);
        json.append(row);
    }
    return json;
}

QJsonObject aboutJson(const PageContent &page, const Model &model)
{
    const ReportOrigin &o = page.origin;
    const ModelParameters &p = model.parameters;
    const QJsonObject parameters{{"spacing", p.spacing}, {"offsets", QJsonArray{p.offsetX, p.offsetY}}, {"features", model.components.rows},
                                 {"components", model.components.columns}, {"neighbours", p.neighbours}};
    QJsonArray shares;
    for (const double share : page.varianceShares)
        shares.append(share);
    return {{"report", QJsonObject{{"date", o.date}, {"version", o.version}, {"command", o.command}, {"test_directory", o.testDirectory},
                                   {"model", o.modelFile}, {"training_directory", o.trainingDirectory}, {"out", o.out},
                                   {"unseen_classes", QJsonArray::fromStringList(page.unseenClasses)}, {"training_problem", page.trainingProblem},
                                   {"misread_shown", int(page.gallery.size())}, {"misread", page.misread}}},
            {"model", parameters}, {"variance_shares", shares}, {"rejection", rejectionJson(page.rejection)}};
}

// Writes every file of the report into its folder, the page last, and swaps the
// report in; false after one line that says why it cannot.
bool writeReport(const Places &places, const Classified &c, std::future<Checked> &beside, PageContent &page, ReportFolder &folder)
{
    progress("drawing the pictures");
    for (const Answer &a : c.answers)
        page.misread += a.hasClass && a.label != a.predicted;
    page.unmeasured = unmeasuredDistances(c.answers);
    std::vector<std::pair<QString, QImage>> pictures = figurePictures(places, c, page);
    // Encoded while the training check finishes, not after the gallery waits for it.
    std::vector<QByteArray> encoded(pictures.size());
    forEachIndex(int(pictures.size()), [&](int i) { encoded[std::size_t(i)] = pngBytes(pictures[std::size_t(i)].second); }, 4);
    const Checked checked = beside.get();
    const QStringList &training = checked.training.names;
    page.trainingProblem = checked.training.problem;
    addGallery(places, c, training, page);

    progress("writing the report");
    bool written = folder.add(QStringLiteral("predictions.csv"), checked.csv)
                && (checked.proofs.isEmpty() || folder.add(QStringLiteral("training-proofs.txt"), checked.proofs))
                && folder.add(QStringLiteral("summary.txt"), figuresText(page.figures))
                && folder.add(QStringLiteral("summary.json"), figuresJson(page.figures, aboutJson(page, c.reading.model)));
    for (std::size_t i = 0; written && i < pictures.size(); ++i) {
        if (pictures[i].second.isNull())
            continue;
        written = folder.add(pictures[i].first, encoded[i]);
        page.pictures.insert(pictures[i].first, pictures[i].second.size());
    }
    return written && folder.add(QStringLiteral("index.html"), indexPage(page)) && folder.commit();
}

// The table of a tuning, read whole from a file of at most 64 MiB; false after one
// line that says why it cannot serve. A pipe is opened without waiting for a
// program to write it: with none, it reads as empty.
bool readGrid(const QString &path, std::vector<Scored> &grid, Scored &chosen)
{
    QByteArray json;
    readUpTo(path, qint64(64) << 20, json);
    const GridFile read = readGridJson(json, grid, chosen);
    if (read == GridFile::Unscored)
        std::cout << "cannot draw the tuning: " << printableName(path).toStdString()
                  << " scores no configuration, as sorvik-tune --folds 0 writes it; give the JSON of a cross-validation, or no --grid\n";
    else if (read == GridFile::NotGrid)
        std::cout << "cannot draw the tuning: " << printableName(path).toStdString()
                  << " is not the JSON that sorvik-tune --json writes; give that file, or no --grid\n";
    return read == GridFile::Read;
}

// What the page says of the answers and the model, before its pictures.
PageContent pageContent(const Places &places, const Classified &c)
{
    PageContent page;
    const Model &model = c.reading.model;
    page.origin = originOf(places);
    page.origin.recipe = parametersInWords(model.parameters, model.components.columns);
    page.figures = classificationFigures(c.actual, c.predicted);
    page.unlabelled = int(c.samples.size() - c.actual.size());
    page.unseenClasses = unseenClasses(c.answers, model.labels);
    page.varianceShares = varianceShares(model.projections);
    page.features = model.components.rows;
    page.rejectionCurve = rejectionCurve(c.answers);
    page.rejection = rejectionThresholds(page.rejectionCurve);
    return page;
}

void printSummary(const PageContent &page, const QString &out)
{
    const Figures &figures = page.figures;
    if (figures.images > 0)
        std::cout << "accuracy: " << QByteArray::number(accuracyPercent(figures), 'f', 6).constData() << "% (" << figures.correct << " of "
                  << figures.images << " images)\n";
    else
        std::cout << "accuracy: no test image carries a class in its name\n";
    if (page.unlabelled > 0)
        std::cout << "images without a class in their names, predicted only: " << page.unlabelled << "\n";
    if (!page.unseenClasses.isEmpty())
        std::cout << "test classes that the model has never seen (their images can only be misread): "
                  << page.unseenClasses.join(QStringLiteral(", ")).toStdString() << "\n";
    if (!page.trainingProblem.isEmpty())
        std::cout << page.trainingProblem.toStdString() << "\n";
    std::cout << "report written to " << printableName(out).toStdString() << "/: index.html, predictions.csv, summary.txt, summary.json\n";
}

// Ends the report without waiting for a model or a listing that is still being
// read, and without handing back the samples, the model and the listing block by
// block: the system takes back all of the memory at once. What the run made of the
// report's folder and did not swap in goes first.
[[noreturn]] void endReport(int status)
{
    runEndActions();
    std::_Exit(consoleStatus(status));
}

[[noreturn]] void refuse(const QString &line)
{
    std::cout << line.toStdString() << "\n";
    endReport(1);
}

} // namespace

int main(int argc, char *argv[])
{
    beginTool();
    tuneHeap();  // as sorvik's: the same tens of thousands of small blocks and large matrices
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    nameTool("sorvik-report");
    QCommandLineParser parser;
    const Places places = parsePlaces(parser);
    // The folder is taken first: a report that cannot be written there is not made.
    ReportFolder folder(places.out, {places.testDirectory, places.trainingDirectory}, places.force);
    if (!folder.problem().isEmpty())
        refuse(folder.problem());
    // A wrong --grid is said before the images are read, not after.
    std::vector<Scored> grid;
    Scored chosen;
    if (!places.grid.isEmpty() && !readGrid(places.grid, grid, chosen))
        endReport(1);
    // The training directory is listed beside the classification: on a large set
    // the listing takes as long as reading the test images.
    std::future<std::vector<DirectoryEntry>> listing;
    if (!places.trainingDirectory.isEmpty())
        listing = std::async(std::launch::async | std::launch::deferred, listSampleDirectory, places.trainingDirectory);
    Classified c;
    QString problem;
    // The model file as it was read, where it did not change meanwhile.
    const QByteArray identityBefore = fileIdentity(places.modelFile);
    const bool classified = classify(places.testDirectory, places.modelFile, c, problem);
    const QByteArray modelIdentity = fileIdentity(places.modelFile) == identityBefore ? identityBefore : QByteArray();
    for (const SkippedFile &file : c.report.skipped)
        std::cout << "skipped " << printableName(file.path).toStdString() << ": " << file.reason.toStdString() << "\n";
    if (!classified)
        refuse(problem);
    PageContent page = pageContent(places, c);
    page.grid = std::move(grid);
    page.chosen = chosen;
    // The training directory is checked, and the answers written out, beside the
    // drawing of the figures. The listing is held to the end, not freed name by
    // name while the report waits.
    std::vector<DirectoryEntry> trainingListing;
    std::future<Checked> beside = std::async(std::launch::async | std::launch::deferred,
                                             [&] { return checkBeside(places, c, listing, trainingListing, modelIdentity, folder); });
    if (!writeReport(places, c, beside, page, folder))
        endReport(1);
    printSummary(page, places.out);
    endReport(0);
}
