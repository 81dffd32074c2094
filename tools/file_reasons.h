#pragma once

// Why the tools cannot create a folder, in words a user can act on.

#include <QDir>
#include <QFileInfo>

namespace sorvik {

// What stands in the way of creating `folder`: its nearest existing ancestor, a
// file or a folder this user may not write into.
inline QString folderFailure(const QString &folder)
{
    QString blocker = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    while (!QFileInfo::exists(blocker) && QFileInfo(blocker).absolutePath() != blocker)
        blocker = QFileInfo(blocker).absolutePath();
    return QFileInfo(blocker).isDir() ? QStringLiteral("%1 does not let this user create folders in it").arg(blocker)
                                      : QStringLiteral("%1 is a file, not a folder").arg(blocker);
}

} // namespace sorvik
