#pragma once

// Training and classification without a console: the rules for whether a
// directory can be trained on or classified, training a model from samples, and
// the nearest training row of each test sample. The commands and sorvik-report
// print around these.

#include "linalg/matrix.h"
#include "search/nearest.h"
#include "model/model.h"
#include "model/model_file.h"
#include "samples/sample_reader.h"

#include <functional>
#include <future>
#include <vector>

namespace sorvik {

// The data matrix: one row per raster, as many columns as the first raster has
// values, each value the raster's byte as a float.
Matrix matrixFromRasters(const QList<Raster> &rasters);

// The memory that training n images of m features needs at its peak, in bytes.
double trainingMemory(double n, double m);

// Why these samples cannot be trained on ("cannot train: ..."), or an empty string.
QString trainingProblem(const QString &directory, const QList<Raster> &samples, const DirectoryReport &report);

// Called as each matrix of training is complete: "input" (the data matrix),
// "covariance", "eigen" (the components) and "pca" (the projections).
using TrainingStep = std::function<void(const char *name, const Matrix &matrix)>;

// Trains on samples that trainingProblem accepts.
Model trainOnSamples(const QList<Raster> &samples, const TrainingStep &stepDone = {});

// A model read beside the test images, keeping no more labels than projection
// rows, with its projections arranged for the search. startModelRead begins it on a thread of its
// own where the file is a regular one and descriptors are to spare (the plain build
// reads in order); finishModelRead waits for it, or reads the file itself when no
// thread could, or could not open it, as a one-thread run would.
struct ModelReading {
    QString file;
    Model model;
    NearestIndex search;
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
std::vector<int> nearestTrainingRows(const ModelReading &reading, const Matrix &projectedSamples);

} // namespace sorvik
