#pragma once

// Helpers shared by the tests: running the built program, and writing images.

#include "linalg/matrix.h"
#include "samples/raster.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>


struct RunResult {
    QByteArray out;
    QByteArray err;
    int exitCode = 0;
};

// Runs the built sorvik with `arguments` in `workingDirectory` (the current one when
// empty), with "NAME=value" entries added to its environment.
RunResult runSorvik(const QStringList &arguments, const QString &workingDirectory = QString(), const QStringList &environment = {});

// Runs any program.
RunResult runProgram(const QString &program, const QStringList &arguments, const QString &workingDirectory = QString(),
                     const QStringList &environment = {});

// A grey image (blue = green = red = value, opaque) whose pixel (x, y) is value(x, y).
QImage greyImage(int width, int height, const std::function<int(int, int)> &value);

// Noise images of 24 x 24 pixels in `directory`, one for each name, the same for
// the same seed.
void noiseImages(const QString &directory, const QStringList &names, unsigned seed);

// Sixty usable training images of 20 x 20 pixels in two classes, a and b, in
// directory/train: a model of some kilobytes.
void sixtyTrainingImages(const QString &directory);

// Saves `image` to directory/name, making the directory if needed; fails the test if it cannot.
void saveImage(const QImage &image, const QString &directory, const QString &name, const char *format = nullptr);

// A matrix written out row by row: matrixOf({{1, 2}, {3, 4}}).
sorvik::Matrix matrixOf(std::initializer_list<std::initializer_list<float>> rows);

// How many pixels within `area` differ between two pictures of one size.
int pixelsThatDiffer(const QImage &a, const QImage &b, const QRect &area);

// A report with its millisecond figures, the only parts that vary between runs,
// replaced by "Tms" and "T.TTTTTTms".
std::string maskTimes(const QByteArray &report);

// A PNG chunk: length, type, body and CRC; and a number as its four big-endian bytes.
QByteArray pngChunk(const QByteArray &type, const QByteArray &body);
QByteArray bigEndian(quint32 value);

QByteArray readFile(const QString &path);
void writeFile(const QString &path, const QByteArray &bytes);
