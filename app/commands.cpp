#include "app/commands.h"

#include "app/pipeline.h"
#include "model/model_writer.h"

#include "base/run_end.h"

#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace sorvik {

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
    // The one place where a matrix without rows is 0 wide, whatever its shape: the
    // size printed is that of a list of rows, measured by its first row.
    std::cout << name << " matrix size: " << matrix.rows << " x " << (matrix.rows == 0 ? 0 : matrix.columns) << "\n";
}

// Reads a sample directory between "reading images...\t" and "done\n", then names
// every file it passed over, one line each.
QList<Raster> readSamples(const QString &directory, DirectoryReport &report)
{
    std::cout << "reading images...\t" << std::flush;
    setConsoleMidLine(true);
    QList<Raster> samples;
    readSampleDirectory(directory, samples, &report);
    std::cout << "done\n";
    setConsoleMidLine(false);
    for (const SkippedFile &file : report.skipped)
        std::cout << "skipped " << printableName(file.path).toStdString() << ": " << file.reason.toStdString() << "\n";
    return samples;
}

// Ends the process once a command has done all it does. Its samples and model are
// not handed back block by block (tens of thousands of them, some milliseconds of
// work): the system takes back all of the memory at once.
[[noreturn]] void endProcess()
{
    std::cout.flush();
    std::fflush(stdout);
    std::_Exit(1);
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
    const Model model = trainOnSamples(samples, printSize);
    std::cout << "---------------------------------\n";
    std::cout << "training done in " << int(timer.elapsed()) << "ms\n";
    // A model that cannot be written whole leaves the old one in place, and says why.
    const QString modelFile = QStringLiteral("trained.out");
    QString reason;
    if (!writeModelFile(modelFile, model.labels, model.components, model.projections, &reason))
        std::cout << (QStringLiteral("cannot write ") + modelFile + QStringLiteral(": ") + reason).toStdString() << "\n";
    endProcess();
}

void classifySamples(QString testDirectory, QString modelFile)
{
    // A model in a regular file is read while the images are, beside them; anything
    // else (a pipe, a device) only once there are images to classify.
    ModelReading reading;
    startModelRead(reading, modelFile);

    DirectoryReport report;
    const QList<Raster> samples = readSamples(testDirectory, report);
    if (samples.isEmpty()) {  // refused before the model is looked at, and not waited for
        std::cout << classificationProblem(testDirectory, modelFile, samples, report, Model(), ModelFileReport()).toStdString() << "\n";
        endProcess();
    }

    std::cout << "reading config...\t" << std::flush;
    setConsoleMidLine(true);
    if (!finishModelRead(reading)) {
        std::cout << "cannot open config name\n";
        return;
    }
    const Model &model = reading.model;
    const ModelFileReport &modelReport = reading.report;
    std::cout << "done\n";
    setConsoleMidLine(false);
    const QString problem = classificationProblem(testDirectory, modelFile, samples, report, model, modelReport);
    if (!problem.isEmpty()) {
        std::cout << problem.toStdString() << "\n";
        return;
    }
    printSize("pca", model.projections);
    printSize("eigen", model.components);
    std::cout << "recognition:\n";
    QElapsedTimer timer;
    timer.start();
    const int t = samples.size();
    const std::vector<int> nearest = nearestTrainingRows(reading, projectSamples(model, samples));
    int successes = 0;
    for (int i = 0; i < t; ++i)
        if (samples.at(i).label == model.labels.at(nearest[std::size_t(i)]))
            ++successes;
    const int firstReading = int(timer.elapsed());
    const float timePerImage = float(firstReading) / t;
    const int secondReading = int(timer.elapsed());
    std::cout << "recognized in " << secondReading << "ms = " << timePerImage << "ms per img\n";
    std::cout << "succ rate: " << double(successes) / t * 100 << "%\n";
    endProcess();
}

} // namespace sorvik
