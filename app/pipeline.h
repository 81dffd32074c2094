#pragma once

// Training and classification without a console: the rules for whether a
// directory can be trained on or classified, training a model from samples, and
// the nearest training row of each test sample. The commands and sorvik-report
// print around these.

#include "linalg/matrix.h"
#include "search/nearest.h"
#include "model/model_file.h"
#include "samples/sample_reader.h"

#include <functional>
#include <future>
#include <vector>

namespace sorvik {

// A trained model: the label of every training sample, the components (m x k)
// and the training samples projected onto them (n x k).
struct Model {
    LabelList labels;
    Matrix components;
    Matrix projections;
    NearestIndex search;  // the projections arranged for the search, once the model is read
};

// The memory that training n images of m features needs at its peak, in bytes.
double trainingMemory(double n, double m);

// Why these samples cannot be trained on ("cannot train: ..."), or an empty string.
QString trainingProblem(const QString &directory, const QList<Raster> &samples, const DirectoryReport &report);

// Called as each matrix of training is complete: "input" (the data matrix),
// "covariance", "eigen" (the components) and "pca" (the projections).
using TrainingStep = std::function<void(const char *name, const Matrix &matrix)>;

// Trains on samples that trainingProblem accepts.
Model trainOnSamples(const QList<Raster> &samples, const TrainingStep &stepDone = {});

// Reads a model file, keeping no more labels than projection rows, and arranges
// its projections for the search; false when the file cannot be opened.
bool readModel(const QString &fileName, Model &model, ModelFileReport &report);

// A model read beside the test images. startModelRead begins it on a thread of its
// own where the file is a regular one and descriptors are to spare (the plain build
// reads in order); finishModelRead waits for it, or reads the file itself when no
// thread could, or could not open it, as a one-thread run would.
struct ModelReading {
    QString file;
    Model model;
    ModelFileReport report;
    std::future<bool> opened;
};
void startModelRead(ModelReading &reading, const QString &file);
bool finishModelRead(ModelReading &reading);

// Why these test samples cannot be classified with this model ("cannot
// classify: ..."), or an empty string.
QString classificationProblem(const QString &directory, const QString &modelFile, const QList<Raster> &samples,
                              const DirectoryReport &report, const Model &model, const ModelFileReport &modelReport);

// Every test sample projected uncentred onto the components, as a row of values.
Matrix projectSamples(const Model &model, const QList<Raster> &samples);

// The nearest projection row of every projected test sample, in sample order.
std::vector<int> nearestTrainingRows(const Model &model, const Matrix &projectedSamples);

} // namespace sorvik
