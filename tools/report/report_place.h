#pragma once

// Where a report may go: never into an image directory, whatever path leads there.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace sorvik {

// The absolute path that `path` names once every link on the way is followed, a
// link to something that does not exist yet among them; the parts that do not
// exist are kept as written.
QByteArray resolvedPath(const QByteArray &path);

// Why the report cannot go to the folder `out`: it is one of the image
// directories, or lies inside one, by device and inode up every ancestor (so that
// links and bind mounts count); or an empty string.
QString placeProblem(const QString &out, const QStringList &dataDirectories);

} // namespace sorvik
