#pragma once

// A test directory read with a model as sorvik class reads it, with the answer
// for every image, for the tools that show or label the answers: the model's own
// parameters (its spacing, its neighbours) are used, whatever they are.

#include "app/pipeline.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <vector>

namespace sorvik {

struct Answer {
    QString file;
    bool hasClass = false;  // the name carries a class: "c-xxx.yyy"
    QString label;          // the class of its name
    QString predicted;      // the label the model gives
    float distance = 0;     // squared distance to the nearest projection row
    int nearestRow = 0;
    int otherRow = -1;      // the nearest row of any other class than `predicted`, when asked for
    float otherDistance = 0;
};

struct Classified {
    QList<Raster> samples;
    DirectoryReport report;
    ModelReading reading;
    Transform transform;
    std::vector<Answer> answers;
    QStringList actual, predicted;  // of the images that carry a class
};

// How to classify: `neighbours` above 0 overrides the model's own count;
// `otherClass` asks for the nearest row of any other class; `eachOnItsOwn` takes
// every image that gives as many features as the model has, whatever the others
// give, and passes the rest over with their reason (as a directory of new images
// wants), where otherwise images of differing sizes refuse the directory.
struct Classifying {
    int neighbours = 0;
    bool otherClass = false;
    bool eachOnItsOwn = false;
};

// Classifies every usable image of the directory. False with one line that says
// why (`problem`) when it cannot.
bool classify(const QString &testDirectory, const QString &modelFile, Classified &c, QString &problem, const Classifying &how = Classifying());

// An image as the model reads it: the blue plane of its pixels, shown as grey.
QImage samplePicture(const QString &path);

// A line on standard error while a person watches: never into a pipe or a file.
void progress(const char *stage);

} // namespace sorvik
