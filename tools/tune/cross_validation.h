#pragma once

// Stratified cross-validation of the recipe over a grid of its parameters: node
// spacing, share of the features kept as components, and neighbours.

#include "tools/grid.h"

#include "app/pipeline.h"

#include <QString>

#include <functional>
#include <vector>

namespace sorvik {

struct Grid {
    std::vector<int> spacings;
    std::vector<double> keeps;
    std::vector<int> neighbours;
    int folds = 5;
};


// The fold of each image: image j of its class (in listing order) goes to fold
// j % folds, so that every fold holds each class alike, the same on every run.
std::vector<int> foldsOf(const QList<Raster> &images, int folds);

// Why the grid cannot be scored on these images (with no folds, why its one
// configuration cannot be trained on them), or an empty string.
QString gridProblem(const QList<Raster> &images, const Grid &grid);

// Scores every configuration of the grid on the grey images (labelled, all of one
// size), in the order spacing, components, neighbours; keeps that give a spacing
// the same component count are scored once. `step` hears of each fold done.
using Step = std::function<void(int spacing, int fold)>;
std::vector<Scored> crossValidate(const QList<Raster> &images, const Grid &grid, const Step &step = {});

// The best configuration: the highest mean accuracy; of equal ones the simpler
// model: fewer components, then fewer features, then fewer neighbours.
Scored bestOf(const std::vector<Scored> &scored);

} // namespace sorvik
