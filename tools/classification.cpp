#include "tools/classification.h"

#include "base/opening.h"
#include "base/printable_name.h"
#include "decode/image_loader.h"
#include "model/model_bytes.h"
#include "model/model_parameters.h"
#include "model/model_problem.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <iostream>

#include <unistd.h>

namespace sorvik {

namespace {

// Why a model file cannot be opened, as the system says it.
QString openFailure(const QString &path)
{
    const int fd = openToRead(path);
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

bool sameTransform(const Transform &a, const Transform &b)
{
    return a.spacing == b.spacing && a.offsetX == b.offsetX && a.offsetY == b.offsetY;
}

// The transform the test images are read with: the model's, from the head of a
// regular file, so that they are read beside the rest of it; for a pipe, the
// model is read first.
Transform readingTransform(const QString &modelFile, ModelReading &reading)
{
    QString item;
    ModelParameters parameters;
    if (!peekParametersItem(modelFile, item))
        return finishModelRead(reading) ? transformOf(reading.model.parameters) : Transform();
    if (!item.isEmpty())
        readParametersItem(item, -1, parameters);
    return transformOf(parameters);
}

// Passes over the images that do not give the model's features, with their reason.
void passOverMisfits(const QString &directory, Classified &c)
{
    const int features = c.reading.model.components.rows;
    QList<Raster> fitting;
    QStringList names;
    for (int i = 0; i < c.samples.size(); ++i) {
        const Raster &r = c.samples.at(i);
        if (r.width * r.height == features || features == 0) {
            fitting.append(r);
            names << c.report.names.at(i);
            continue;
        }
        c.report.skipped.append({QFile::encodeName(samplePath(directory, c.report.names.at(i))),
                                 QStringLiteral("is %1 x %2 pixels and gives %3; the model has %4")
                                     .arg(r.sourceWidth).arg(r.sourceHeight).arg(counted(r.width * r.height, "feature")).arg(features)});
    }
    c.samples = fitting;
    c.report.names = names;
}

void answer(Classified &c, const Matrix &projected, const std::vector<Neighbourhood> &found)
{
    const Model &model = c.reading.model;
    for (int i = 0; i < c.samples.size(); ++i) {
        const Neighbourhood &n = found[std::size_t(i)];
        Answer a;
        a.file = c.report.names.at(i);
        a.hasClass = carriesClass(a.file);
        a.label = c.samples.at(i).label;
        a.predicted = model.labels.at(n.labelRow);
        a.nearestRow = n.nearest;
        a.distance = squaredDistance(model.projections.row(n.nearest), projected.row(i), projected.columns);
        a.otherRow = n.otherRow;
        if (n.otherRow >= 0)
            a.otherDistance = squaredDistance(model.projections.row(n.otherRow), projected.row(i), projected.columns);
        if (a.hasClass) {
            c.actual << a.label;
            c.predicted << a.predicted;
        }
        c.answers.push_back(a);
    }
}

} // namespace

void progress(const char *stage)
{
    if (isatty(STDERR_FILENO))
        std::cerr << QCoreApplication::applicationName().toStdString() << ": " << stage << "...\n";
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

bool classify(const QString &testDirectory, const QString &modelFile, Classified &c, QString &problem, const Classifying &how)
{
    startModelRead(c.reading, modelFile);
    progress("reading the test images");
    c.transform = readingTransform(modelFile, c.reading);
    readSampleDirectory(testDirectory, c.samples, &c.report, c.transform, how.eachOnItsOwn ? FileNames::Any : FileNames::Classes);
    progress("reading the model");
    if (!c.samples.isEmpty() && !finishModelRead(c.reading)) {
        problem = QStringLiteral("cannot classify: model %1 cannot be opened: %2; give the model file that sorvik train or sorvik-tune wrote")
                      .arg(printableName(modelFile), openFailure(modelFile));
        return false;
    }
    const Model &model = c.reading.model;
    if (!c.samples.isEmpty() && !sameTransform(c.transform, transformOf(model.parameters))) {  // the file changed meanwhile
        c.samples.clear();
        c.report = DirectoryReport();
        c.transform = transformOf(model.parameters);
        readSampleDirectory(testDirectory, c.samples, &c.report, c.transform, how.eachOnItsOwn ? FileNames::Any : FileNames::Classes);
    }
    // Images that do not fit the model are passed over one by one, but only a
    // model that can serve at all: one that cannot is said in one line.
    if (how.eachOnItsOwn && modelProblem(model.components, model.projections, c.reading.report).isEmpty())
        passOverMisfits(testDirectory, c);
    problem = classificationProblem(testDirectory, modelFile, c.samples, c.report, model, c.reading.report, TunedModels::Read,
                                    how.eachOnItsOwn ? Sizes::EachOnItsOwn : Sizes::OneForAll);
    if (!problem.isEmpty())
        return false;
    progress("classifying");
    const Matrix projected = projectSamples(model, c.samples);
    answer(c, projected, neighbourhoods(c.reading, projected, how.neighbours > 0 ? how.neighbours : model.parameters.neighbours, how.otherClass));
    return true;
}

} // namespace sorvik
