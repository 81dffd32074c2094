#pragma once

// Why the tools cannot create a folder, in words a user can act on.

#include <QDir>
#include <QFileInfo>

#include <cerrno>

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

// Whether an error of making a folder says that this user may not write there (or
// nobody may: a read-only file system).
inline bool deniedToUser(int error)
{
    return error == EACCES || error == EPERM || error == EROFS;
}

// Why `folder` could not be made after `error`: what stands in the way where this
// user may not write, else the system's words for the error.
inline QString folderFailure(const QString &folder, int error)
{
    return deniedToUser(error) ? folderFailure(folder) : qt_error_string(error);
}

} // namespace sorvik
