#pragma once

// Why the tools cannot create a folder or write a file, in words a user can act on.

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

// Why a file that could not be written cannot be, as the system says it on a
// second try, or that its encoder failed.
inline QString writeFailure(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    return file.write("\0", 1) == 1 && file.flush() ? QStringLiteral("the image could not be encoded") : file.errorString();
}
