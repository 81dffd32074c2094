#include "app/commands.h"

#include "linalg/matrix.h"
#include "linalg/nearest.h"
#include "linalg/pca.h"
#include "model/model_file.h"
#include "samples/sample_reader.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <iostream>

#include <unistd.h>

void printUsage(const char *programPath)
{
    std::cout << "Usage:\n"
              << "  training: " << programPath << " train path/to/class\n"
              << "  classification: " << programPath << " class path/to/class path/to/model\n"
              << "Example:\n"
              << "  training: sorvik.exe train data/train\n"
              << "  classification: sorvik.exe class data/class data/trained.out\n"
              << "Note: \n"
              << "  Parameter h is set fixed to 4\n"
              << "  Under the path folder have to be images c-xxx.yyy, \n  where c is one-character class name (1-9, a-z)\n";
}

namespace {

void printSize(const char *name, const Matrix &matrix)
{
    std::cout << name << " matrix size: " << rowCount(matrix) << " x " << columnCount(matrix) << "\n";
}

// Reads a sample directory between "reading images...\t" and "done\n", then names
// every file it passed over, one line each.
QList<Raster> readSamples(const QString &directory, DirectoryReport &report)
{
    std::cout << "reading images...\t" << std::flush;
    QList<Raster> samples;
    readSampleDirectory(directory, samples, &report);
    std::cout << "done\n";
    for (const SkippedFile &file : report.skipped)
        std::cout << "skipped " << printableName(file.path).toStdString() << ": " << file.reason.toStdString() << "\n";
    return samples;
}

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

// The memory that training needs at its peak, in bytes: the rasters and the data
// matrix throughout, its centred copy beside the covariance, then the covariance
// beside the two m x m double arrays of the eigen decomposition and the components,
// then the projection.
double trainingMemory(double n, double m)
{
    const double k = std::round(m * componentFraction);
    return 5 * n * m + std::max({4 * n * m + 4 * m * m, 20 * m * m + 4 * m * k, 4 * m * m + 4 * m * k + 4 * n * k});
}

double physicalMemory()
{
    return double(sysconf(_SC_PHYS_PAGES)) * double(sysconf(_SC_PAGESIZE));
}

// Why these samples cannot be trained on, or an empty string.
QString trainingProblem(const QString &directory, const QList<Raster> &samples, const DirectoryReport &report)
{
    if (!QFileInfo(directory).isDir())
        return QStringLiteral("cannot train: %1 is not a directory").arg(printableName(directory));
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

// Why these test samples cannot be classified with this model, or an empty string.
QString classificationProblem(const QString &directory, const QString &modelFile, const QList<Raster> &samples, const DirectoryReport &report,
                              const Matrix &e, const Matrix &p, const ModelFileReport &modelReport)
{
    const QString problem = modelProblem(e, p, modelReport);
    if (!problem.isEmpty())
        return QStringLiteral("cannot classify: model %1 %2").arg(printableName(modelFile), problem);
    const QString sizes = sizeProblem(directory, samples, report);
    if (!sizes.isEmpty())
        return QStringLiteral("cannot classify: ") + sizes;
    const Raster &sample = samples.first();
    if (sample.width * sample.height != rowCount(e))
        return QStringLiteral("cannot classify: image %1 is %2 pixels and gives %3 features; model %4 has %5 features per image")
            .arg(printableName(samplePath(directory, report.names.first())), sizeText(sample.sourceWidth, sample.sourceHeight))
            .arg(sample.width * sample.height)
            .arg(printableName(modelFile))
            .arg(rowCount(e));
    return QString();
}

} // namespace

void trainModel(QString trainingDirectory)
{
    DirectoryReport report;
    const QList<Raster> samples = readSamples(trainingDirectory, report);
    const QString problem = trainingProblem(trainingDirectory, samples, report);
    if (!problem.isEmpty()) {
        std::cout << problem.toStdString() << "\n";
        return;
    }

    std::cout << "starting training\n";
    QElapsedTimer timer;
    timer.start();
    const Matrix x = matrixFromRasters(samples);
    printSize("input", x);
    const Matrix s = covariance(centerColumns(x));
    printSize("covariance", s);
    const Matrix e = principalComponents(s, keptComponentCount(rowCount(s)));
    printSize("eigen", e);
    const Matrix p = multiply(x, e);
    printSize("pca", p);
    std::cout << "---------------------------------\n";
    std::cout << "training done in " << int(timer.elapsed()) << "ms\n";

    LabelList labels;
    for (const Raster &sample : samples)
        labels.append(sample.label);
    writeModelFile(QStringLiteral("trained.out"), labels, e, p);
}

void classifySamples(QString testDirectory, QString modelFile)
{
    DirectoryReport report;
    const QList<Raster> samples = readSamples(testDirectory, report);
    if (samples.isEmpty()) {
        std::cout << "cannot classify: " << printableName(testDirectory).toStdString()
                  << (QFileInfo(testDirectory).isDir() ? " holds no usable image" : " is not a directory") << "\n";
        return;
    }

    std::cout << "reading config...\t" << std::flush;
    LabelList labels;
    Matrix e;
    Matrix p;
    ModelFileReport modelReport;
    modelReport.keepUsableLabelsOnly = true;
    if (!readModelFile(modelFile, labels, e, p, &modelReport)) {
        std::cout << "cannot open config name\n";
        return;
    }
    std::cout << "done\n";
    const QString problem = classificationProblem(testDirectory, modelFile, samples, report, e, p, modelReport);
    if (!problem.isEmpty()) {
        std::cout << problem.toStdString() << "\n";
        return;
    }
    printSize("pca", p);
    printSize("eigen", e);
    std::cout << "recognition:\n";
    QElapsedTimer timer;
    timer.start();
    // Every test row is the raster read value by value, as in the data matrix, and
    // is projected uncentred; each row of the product is that row times E.
    const int t = samples.size();
    const std::vector<int> nearest = nearestRows(p, multiply(matrixFromRasters(samples), e));
    int successes = 0;
    for (int i = 0; i < t; ++i)
        if (samples.at(i).label == labels.at(nearest[std::size_t(i)]))
            ++successes;
    const int firstReading = int(timer.elapsed());
    const float timePerImage = float(firstReading) / t;
    const int secondReading = int(timer.elapsed());
    std::cout << "recognized in " << secondReading << "ms = " << timePerImage << "ms per img\n";
    std::cout << "succ rate: " << double(successes) / t * 100 << "%\n";
}
