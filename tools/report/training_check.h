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
//
// What was proven is kept in the report's folder (training-proofs.txt): the row,
// the name, and the inode, size and time of change of the file. The next report
// with the same model file and training directory takes a row whose file is the
// same by all of these as proven without decoding it again: a file cannot be
// written or renamed without a new time of change. `earlier` is that file of the
// last report (empty where there is none), `modelIdentity` what names the model
// file as it is now, and `proofs` receives the file of this report.
TrainingFiles trainingFiles(const QString &directory, const std::vector<DirectoryEntry> &listing, const Model &model, std::vector<int> rows,
                            const QByteArray &modelIdentity, const QByteArray &earlier, QByteArray &proofs);

// What names a model file as it is: its device, inode, size and time of change;
// empty for anything but a regular file.
QByteArray fileIdentity(const QString &path);

// Whether a file's name gives the class `label`, as labelFromFileName(name) ==
// label: compared in place for names in ASCII, which are nearly all, and through
// the sample reader's label for the others.
bool namesClass(const QString &name, const QString &label);

} // namespace sorvik
