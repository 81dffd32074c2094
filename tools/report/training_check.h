#pragma once

// The training directory given to the report: the file of each projection row that
// the report names, proven by projecting that file again.

#include "app/pipeline.h"

#include <QString>
#include <QStringList>

namespace sorvik {

struct TrainingFiles {
    QStringList names;  // names[r] made row r of the projections; empty where not proven, all empty when none is
    QString problem;    // which names are not known and why, for the console and the page
};

// The usable files of the directory (listed as `listing`) in listing order, each
// of `rows` taken as the file of its row once it projects again onto what the
// model holds. A file renamed, replaced, added or removed since training shifts or
// changes the rows after it: those are not proven, and the problem says so.
TrainingFiles trainingFiles(const QString &directory, const std::vector<DirectoryEntry> &listing, const Model &model, std::vector<int> rows);

} // namespace sorvik
