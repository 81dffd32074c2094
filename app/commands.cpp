#include "app/commands.h"

#include "linalg/matrix.h"
#include "linalg/nearest.h"
#include "linalg/pca.h"
#include "model/model_file.h"
#include "samples/sample_reader.h"

#include <QElapsedTimer>

#include <iostream>

namespace {

void printSize(const char *name, const Matrix &matrix)
{
    std::cout << name << " matrix size: " << rowCount(matrix) << " x " << columnCount(matrix) << "\n";
}

} // namespace

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

void trainModel(QString trainingDirectory)
{
    std::cout << "reading images...\t";
    QList<Raster> samples;
    readSampleDirectory(trainingDirectory, samples);
    std::cout << "done\n";

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
    std::cout << "reading images...\t";
    QList<Raster> samples;
    readSampleDirectory(testDirectory, samples);
    std::cout << "done\n";

    std::cout << "reading config...\t";
    LabelList labels;
    Matrix e;
    Matrix p;
    if (!readModelFile(modelFile, labels, e, p)) {
        std::cout << "cannot open config name\n";
        return;
    }
    std::cout << "done\n";
    printSize("pca", p);
    printSize("eigen", e);
    std::cout << "recognition:\n";

    QElapsedTimer timer;
    timer.start();
    const int t = samples.size();
    const int m = samples.first().width * samples.first().height;
    int successes = 0;
    Matrix row(1, m);
    for (const Raster &sample : samples) {
        for (int j = 0; j < m; ++j)
            row(0, j) = float(sample.data[j]);
        const Matrix y = multiply(row, e);
        if (sample.label == labels.at(nearestRow(p, y.row(0))))
            ++successes;
    }
    const int firstReading = int(timer.elapsed());
    const float timePerImage = float(firstReading) / t;
    const int secondReading = int(timer.elapsed());
    std::cout << "recognized in " << secondReading << "ms = " << timePerImage << "ms per img\n";
    std::cout << "succ rate: " << double(successes) / t * 100 << "%\n";
}
