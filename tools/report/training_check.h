#pragma once

// The training directory given to the report: the file of every projection row of
// the model, proven by projecting a handful of them again.

#include "app/pipeline.h"

#include <QString>
#include <QStringList>

namespace sorvik {

struct TrainingFiles {
    QStringList names;  // names[r] made row r of the projections; empty when not known
    QString problem;    // why the names are not known, for the console and the page
};

// The usable files of the directory (listed as `listing`) in listing order, taken
// as the model's rows once the first, the last and three rows between project
// again onto what the model holds.
TrainingFiles trainingFiles(const QString &directory, const std::vector<DirectoryEntry> &listing, const Model &model);

// Whether the features of one image, projected onto the model's components, give
// row `row` of its projections as the model file holds them: equal but for the
// rounding to six digits that the file applies to every component and projection.
bool projectsOntoRow(const Raster &features, const Model &model, int row);

} // namespace sorvik
