#pragma once

// The test directory classified as sorvik class classifies it, with the answer
// for every image, and the images as the report shows them.

#include "tools/report/predictions.h"

#include "app/pipeline.h"

#include <QImage>

namespace sorvik {

struct Classified {
    QList<Raster> samples;
    DirectoryReport report;
    ModelReading reading;
    std::vector<Answer> answers;
    QStringList actual, predicted;  // of the images that carry a class
};

// Classifies; false, after one line that says why, when it cannot.
bool classify(const QString &testDirectory, const QString &modelFile, Classified &c);

// An image as the model reads it: the blue plane of its pixels, shown as grey.
QImage samplePicture(const QString &path);

// A line on standard error while a person watches: never into a pipe or a file.
void progress(const char *stage);

} // namespace sorvik
