#pragma once

// Training and classification without a console: the rules for whether a
// directory can be trained on or classified, training a model from samples, and
// the nearest training row of each test sample. The commands and sorvik-report
// print around these.

#include "linalg/matrix.h"
#include "linalg/pca.h"
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

// Why a path gives no listing: it does not exist, is not a directory, or is one that
// this user may not read ("is a directory that this user may not read"); empty
// where it can be listed.
QString unlisted(const QString &directory);

// Why these samples cannot be trained on ("cannot train: ..."), or an empty string.
QString trainingProblem(const QString &directory, const QList<Raster> &samples, const DirectoryReport &report);

// What a model is trained with: its parameters and the share of the features
// kept as components. The default is the fixed recipe.
struct Recipe {
    ModelParameters parameters;
    double keep = componentFraction;
};

// The transform of a model's parameters.
Transform transformOf(const ModelParameters &parameters);

// Called as each matrix of training is complete: "input" (the data matrix),
// "covariance", "eigen" (the components) and "pca" (the projections).
using TrainingStep = std::function<void(const char *name, const Matrix &matrix)>;

// Trains on samples that trainingProblem accepts (their features made with the
// recipe's transform).
Model trainOnSamples(const QList<Raster> &samples, const TrainingStep &stepDone = {}, const Recipe &recipe = Recipe());

// A model read beside the test images, keeping no more labels than projection
// rows, with its projections arranged for the search. startModelRead begins it on a thread of its
// own where the file is a regular one and descriptors are to spare (the plain build
// reads in order); finishModelRead waits for it, or reads the file itself when no
// thread could, or could not open it, as a one-thread run would, and asked again
// answers as the first time (a pipe is read once).
struct ModelReading {
    QString file;
    Model model;
    NearestIndex search;
    ModelFileReport report;
    std::future<bool> opened;
    bool finished = false, readable = false;  // what finishModelRead found
};
void startModelRead(ModelReading &reading, const QString &file);
bool finishModelRead(ModelReading &reading);

// Whether the caller reads a model that is not the fixed recipe's (the tools do;
// sorvik class refuses it, naming its parameters and the tools that read it).
enum class TunedModels { Refused, Read };

// Whether the test images must all be of the size of the first (a directory to
// grade), or each only give the model's features (new images to label).
enum class Sizes { OneForAll, EachOnItsOwn };

// Why these test samples cannot be classified with this model ("cannot
// classify: ..."), or an empty string.
QString classificationProblem(const QString &directory, const QString &modelFile, const QList<Raster> &samples,
                              const DirectoryReport &report, const Model &model, const ModelFileReport &modelReport,
                              TunedModels tuned = TunedModels::Refused, Sizes sizes = Sizes::OneForAll);

// Every test sample projected uncentred onto the components, as a row of values.
Matrix projectSamples(const Model &model, const QList<Raster> &samples);

// The nearest projection row of every projected test sample, in sample order.
std::vector<int> nearestTrainingRows(const ModelReading &reading, const Matrix &projectedSamples);

// How a model reads a test sample: its nearest stored row; the row that gives its
// label (the nearest member of the class that its `neighbours` nearest rows vote
// for: with one neighbour the nearest row itself); and, when asked for, the
// nearest row of any other class than that label (-1 when there is none).
struct Neighbourhood {
    int nearest = 0;
    int labelRow = 0;
    int otherRow = -1;
};
std::vector<Neighbourhood> neighbourhoods(const ModelReading &reading, const Matrix &projectedSamples, int neighbours, bool otherClass);

} // namespace sorvik
