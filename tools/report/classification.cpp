#include "tools/report/classification.h"

#include "base/printable_name.h"
#include "decode/image_loader.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <iostream>

#include <fcntl.h>
#include <unistd.h>

namespace sorvik {

namespace {

// Why a model file cannot be opened, as the system says it.
QString openFailure(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    const QString reason = fd >= 0 ? QStringLiteral("it cannot be read") : QString::fromLocal8Bit(std::strerror(errno));
    if (fd >= 0)
        ::close(fd);
    return QFileInfo(path).isDir() ? QStringLiteral("it is a directory") : reason;
}

// Whether a file name carries a class: a "-" in its base name, the part before
// its first ".".
bool carriesClass(const QString &name)
{
    const int dash = name.indexOf(QLatin1Char('-')), dot = name.indexOf(QLatin1Char('.'));
    return dash >= 0 && (dot < 0 || dash < dot);
}

} // namespace

void progress(const char *stage)
{
    if (isatty(STDERR_FILENO))
        std::cerr << "sorvik-report: " << stage << "...\n";
}

QImage samplePicture(const QString &path)
{
    QString failure;
    const BluePixels blue = loadSamplePixels(QFile::encodeName(path), failure);
    if (!failure.isEmpty() || blue.width <= 0 || blue.height <= 0)
        return QImage();
    QImage image(blue.width, blue.height, QImage::Format_Grayscale8);
    for (int y = 0; y < blue.height; ++y)
        std::memcpy(image.scanLine(y), blue.values.data() + std::size_t(y) * std::size_t(blue.width), std::size_t(blue.width));
    return image;
}

bool classify(const QString &testDirectory, const QString &modelFile, Classified &c)
{
    startModelRead(c.reading, modelFile);
    progress("reading the test images");
    readSampleDirectory(testDirectory, c.samples, &c.report);
    for (const SkippedFile &file : c.report.skipped)
        std::cout << "skipped " << printableName(file.path).toStdString() << ": " << file.reason.toStdString() << "\n";
    progress("reading the model");
    if (!c.samples.isEmpty() && !finishModelRead(c.reading)) {
        std::cout << "cannot classify: model " << printableName(modelFile).toStdString() << " cannot be opened: " << openFailure(modelFile).toStdString()
                  << "; give the model file that sorvik train wrote (trained.out)\n";
        return false;
    }
    const Model &model = c.reading.model;
    const QString problem = classificationProblem(testDirectory, modelFile, c.samples, c.report, model, c.reading.report);
    if (!problem.isEmpty()) {
        std::cout << problem.toStdString() << "\n";
        return false;
    }
    progress("classifying");
    const Matrix projected = projectSamples(model, c.samples);
    const std::vector<int> nearest = nearestTrainingRows(c.reading, projected);
    for (int i = 0; i < c.samples.size(); ++i) {
        const int row = nearest[std::size_t(i)];
        const QString &name = c.report.names.at(i);
        const Answer answer{name, carriesClass(name), c.samples.at(i).label, model.labels.at(row),
                            squaredDistance(model.projections.row(row), projected.row(i), projected.columns), row};
        if (answer.hasClass) {
            c.actual << answer.label;
            c.predicted << answer.predicted;
        }
        c.answers.push_back(answer);
    }
    return true;
}


} // namespace sorvik
