#include "app/pipeline.h"

#include "base/kernels.h"
#include "base/parallel.h"
#include "model/model_parameters.h"
#include "model/model_problem.h"
#include "search/neighbours.h"
#include "linalg/pca.h"

#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cmath>

#include <unistd.h>

namespace sorvik {

namespace {

QString sizeText(int width, int height)
{
    return QStringLiteral("%1 x %2").arg(width).arg(height);
}

// Why the images of a directory cannot serve together: the first one whose size
// differs from the first image's, or an empty string.
QString sizeProblem(const QString &directory, const QList<Raster> &samples, const DirectoryReport &report)
{
    const Raster &first = samples.first();
    for (int i = 1; i < samples.size(); ++i) {
        const Raster &sample = samples.at(i);
        if (sample.sourceWidth != first.sourceWidth || sample.sourceHeight != first.sourceHeight)
            return QStringLiteral("image %1 is %2 pixels; the first image of the directory, %3, is %4")
                .arg(printableName(samplePath(directory, report.names.at(i))), sizeText(sample.sourceWidth, sample.sourceHeight),
                     printableName(samplePath(directory, report.names.first())), sizeText(first.sourceWidth, first.sourceHeight));
    }
    return QString();
}

QString gigabytes(double bytes)
{
    return QString::number(bytes / 1e9, 'f', 1) + QStringLiteral(" GB");
}

double physicalMemory()
{
    return double(sysconf(_SC_PHYS_PAGES)) * double(sysconf(_SC_PAGESIZE));
}

} // namespace

QString unlisted(const QString &directory)
{
    const QFileInfo info(directory);
    if (!info.exists())
        return QStringLiteral("does not exist");
    if (!info.isDir())
        return QStringLiteral("is not a directory");
    return info.isReadable() ? QString() : QStringLiteral("is a directory that this user may not read");
}

Matrix matrixFromRasters(const QList<Raster> &rasters)
{
    if (rasters.isEmpty())
        return Matrix();
    const int length = rasters.first().width * rasters.first().height;
    Matrix x(rasters.size(), length);
    for (int r = 0; r < x.rows; ++r) {
        const std::vector<std::uint8_t> &data = rasters.at(r).data;
        float *out = x.row(r);
        for (int j = 0; j < length; ++j)
            out[j] = float(data[j]);
    }
    return x;
}

// At the peak: the rasters (one byte a feature) and the data matrix throughout,
// beside the largest of: its centred copy and the covariance; the covariance, the
// two m x m double arrays of the eigen decomposition and the components; the
// covariance, the components and the projection.
double trainingMemory(double n, double m)
{
    const double k = std::round(m * componentFraction);
    return 5 * n * m + std::max({4 * n * m + 4 * m * m, 20 * m * m + 4 * m * k, 4 * m * m + 4 * m * k + 4 * n * k});
}

QString trainingProblem(const QString &directory, const QList<Raster> &samples, const DirectoryReport &report)
{
    if (const QString why = unlisted(directory); !why.isEmpty())
        return QStringLiteral("cannot train: %1 %2").arg(printableName(directory), why);
    if (samples.size() < 2)
        return QStringLiteral("cannot train: %1 holds %2 usable image%3; training needs at least two")
            .arg(printableName(directory), samples.isEmpty() ? QStringLiteral("no") : QStringLiteral("only one"), samples.isEmpty() ? "s" : "");
    const QString sizes = sizeProblem(directory, samples, report);
    if (!sizes.isEmpty())
        return QStringLiteral("cannot train: ") + sizes;
    const Raster &first = samples.first();
    const double m = double(first.width) * first.height;
    const double needed = trainingMemory(samples.size(), m);
    if (needed > physicalMemory())
        return QStringLiteral("cannot train: images of %1 pixels give %2 features, and training on %3 of them needs %4 of memory; this machine has %5")
            .arg(sizeText(first.sourceWidth, first.sourceHeight)).arg(qint64(m)).arg(samples.size())
            .arg(gigabytes(needed), gigabytes(physicalMemory()));
    return QString();
}

QString classificationProblem(const QString &directory, const QString &modelFile, const QList<Raster> &samples,
                              const DirectoryReport &report, const Model &model, const ModelFileReport &modelReport, TunedModels tuned,
                              Sizes sizes)
{
    if (samples.isEmpty()) {
        const QString why = unlisted(directory);
        return QStringLiteral("cannot classify: %1 %2").arg(printableName(directory), why.isEmpty() ? QStringLiteral("holds no usable image") : why);
    }
    const Matrix &e = model.components;
    const QString problem = modelProblem(e, model.projections, modelReport);
    if (!problem.isEmpty())
        return QStringLiteral("cannot classify: model %1 %2").arg(printableName(modelFile), problem);
    if (tuned == TunedModels::Refused && !modelReport.parameters.isEmpty())
        return QStringLiteral("cannot classify: model %1 was made by sorvik-tune with %2, not with the fixed spacing of 4 that this "
                              "program reads; read it with sorvik-label or sorvik-report")
            .arg(printableName(modelFile), parametersInWords(model.parameters, e.columns));
    const QString differing = sizes == Sizes::OneForAll ? sizeProblem(directory, samples, report) : QString();
    if (!differing.isEmpty())
        return QStringLiteral("cannot classify: ") + differing;
    const Raster &sample = samples.first();
    if (sample.width * sample.height != e.rows)
        return QStringLiteral("cannot classify: image %1 is %2 pixels and gives %3 features; model %4 has %5 features per image")
            .arg(printableName(samplePath(directory, report.names.first())), sizeText(sample.sourceWidth, sample.sourceHeight),
                 QString::number(sample.width * sample.height), printableName(modelFile), QString::number(e.rows));
    return QString();
}

Transform transformOf(const ModelParameters &p)
{
    return {p.spacing, p.offsetX, p.offsetY};
}

Model trainOnSamples(const QList<Raster> &samples, const TrainingStep &stepDone, const Recipe &recipe)
{
    const auto done = [&](const char *name, const Matrix &matrix) {
        if (stepDone)
            stepDone(name, matrix);
    };
    Model model;
    const Matrix x = matrixFromRasters(samples);
    done("input", x);
    const Matrix s = covariance(centerColumns(x));
    done("covariance", s);
    model.components = principalComponents(s, keptComponentCount(s.rows, recipe.keep));
    done("eigen", model.components);
    model.projections = multiply(x, model.components);
    done("pca", model.projections);
    for (const Raster &sample : samples)
        model.labels.append(sample.label);
    model.parameters = recipe.parameters;
    return model;
}

namespace {

// Reads a model file, keeping no more labels than projection rows, and arranges
// its projections for the search; false when the file cannot be opened.
bool readModel(ModelReading &reading)
{
    Model &model = reading.model;
    if (!readModelFile(reading.file, model.labels, model.components, model.projections, &reading.report, LabelsKept::UpToProjectionRows))
        return false;
    if (!reading.report.parameters.isEmpty())  // one that cannot serve is refused by modelProblem
        readParametersItem(reading.report.parameters, model.components.columns, model.parameters);
    if (!plainKernels)
        reading.search = nearestIndex(model.projections);
    return true;
}

} // namespace

void startModelRead(ModelReading &reading, const QString &file)
{
    reading.file = file;
    if (!plainKernels && QFileInfo(file).isFile() && freeDescriptors() >= 16)  // in this thread if no other can start
        reading.opened = std::async(std::launch::async | std::launch::deferred, [&reading] { return readModel(reading); });
}

bool finishModelRead(ModelReading &reading)
{
    // Asked again, it answers as before: a pipe cannot be read twice.
    if (reading.finished)
        return reading.readable;
    reading.finished = true;
    if (reading.opened.valid() && reading.opened.get())
        return reading.readable = true;
    reading.model = Model();
    reading.search = NearestIndex();
    reading.report = ModelFileReport();
    return reading.readable = readModel(reading);
}

Matrix projectSamples(const Model &model, const QList<Raster> &samples)
{
    // Every test row is the raster read value by value, as in the data matrix, and
    // is projected uncentred; each row of the product is that row times E.
    return multiply(matrixFromRasters(samples), model.components);
}

std::vector<int> nearestTrainingRows(const ModelReading &reading, const Matrix &projectedSamples)
{
    return nearestRows(reading.model.projections, reading.search, projectedSamples);
}

namespace {

// The class of every stored row: its label's place among the labels as they come.
std::vector<int> classesOf(const Model &model)
{
    std::vector<int> classOf;
    QHash<QString, int> classes;
    for (int r = 0; r < model.projections.rows; ++r)
        classOf.push_back(classes.insert(model.labels.at(r), classes.value(model.labels.at(r), classes.size())).value());
    return classOf;
}

} // namespace

std::vector<Neighbourhood> neighbourhoods(const ModelReading &reading, const Matrix &projectedSamples, int neighbours, bool otherClass)
{
    const Model &model = reading.model;
    // Classes are needed only for a vote or for the nearest row of another class.
    const std::vector<int> classOf = neighbours > 1 || otherClass ? classesOf(model) : std::vector<int>();
    std::vector<Neighbourhood> found(std::size_t(projectedSamples.rows));
    if (neighbours <= 1 && (!otherClass || plainKernels)) {
        const std::vector<int> nearest = nearestTrainingRows(reading, projectedSamples);
        for (std::size_t i = 0; i < found.size(); ++i)
            found[i].nearest = found[i].labelRow = nearest[i];
    }
    if (neighbours <= 1 && !otherClass)
        return found;
    forEachIndex(projectedSamples.rows, [&](int q) {
        Neighbourhood &n = found[std::size_t(q)];
        const float *query = projectedSamples.row(q);
        if (neighbours > 1) {
            const std::vector<int> rows = plainKernels ? kNearestRows(model.projections, query, neighbours)
                                                       : kNearestRows(model.projections, reading.search, query, neighbours);
            n.nearest = rows.empty() ? 0 : rows.front();
            n.labelRow = rows.empty() ? 0 : rows[std::size_t(votedPosition(rows, classOf))];
        }
        if (!otherClass)
            return;
        if (plainKernels) {
            n.otherRow = nearestRowOutsideReference(model.projections, query, classOf, classOf[std::size_t(n.labelRow)]);
            return;
        }
        // One search gives the nearest row and the nearest of any other class than
        // its: the other class of the label, or the nearest row itself where the
        // neighbours voted for another class than that row's.
        const NearestTwo two = nearestRowAndOtherClass(model.projections, reading.search, query, classOf);
        if (neighbours <= 1)
            n.nearest = n.labelRow = two.row;
        n.otherRow = classOf[std::size_t(two.row)] == classOf[std::size_t(n.labelRow)] ? two.otherRow : two.row;
    }, 16);
    return found;
}

} // namespace sorvik
