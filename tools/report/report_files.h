#pragma once

// The files of a report, each written beside its place and all renamed into place
// only once every one of them is written whole: a full disk leaves the old report
// as it was. A failure is said once, naming the file and the reason. A list of the
// files, report-files.txt, lets the next report into the folder remove those of
// this one that it does not write again, and nothing else.

#include "base/whole_file.h"

#include <QDir>
#include <QImage>
#include <QSet>

#include <memory>
#include <vector>

namespace sorvik {

class ReportFiles {
public:
    explicit ReportFiles(const QString &folder);

    bool add(const QString &name, const QByteArray &bytes);

    // Renames every file into place, then removes what the previous report wrote
    // and this one did not.
    bool commit();

private:
    bool check(bool written);

    QDir folder;
    QStringList previous;  // the files the report before this one wrote
    QStringList names;
    std::vector<std::unique_ptr<WholeFile>> files;
    bool failed = false;
};

// Why the report cannot go to the folder `out`: it equals or lies inside one of
// the image directories; or an empty string.
QString placeProblem(const QString &out, const QStringList &dataDirectories);

// Why the folder `out` cannot be created, or an empty string once it exists.
QString folderProblem(const QString &out);

// A picture as a PNG file, grey or RGB, unfiltered and compressed lightly: plots of
// flat colour shrink nearly as much as at the strongest level, in a fraction of
// the time.
QByteArray pngBytes(const QImage &image);

} // namespace sorvik
