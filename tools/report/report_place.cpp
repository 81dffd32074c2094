#include "tools/report/report_place.h"

#include "base/printable_name.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace sorvik {

namespace {

QByteArray parentOf(const QByteArray &path)
{
    const int slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

bool sameFolder(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

QByteArray resolvedPath(const QByteArray &path)
{
    // The parts still to walk, last first; the walked part is resolved already.
    QList<QByteArray> parts = (path.startsWith('/') ? path : QFile::encodeName(QDir::currentPath()) + '/' + path).split('/');
    QByteArray walked;
    int links = 0;
    while (!parts.isEmpty()) {
        const QByteArray part = parts.takeFirst();
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            walked = walked.left(std::max(0, walked.lastIndexOf('/')));
            continue;
        }
        const QByteArray next = walked + '/' + part;
        struct stat status;
        char target[4096];
        const ssize_t length = ::lstat(next.constData(), &status) == 0 && S_ISLNK(status.st_mode) && ++links <= 40
                                   ? ::readlink(next.constData(), target, sizeof target) : -1;
        if (length <= 0) {
            walked = next;
            continue;
        }
        const QByteArray followed(target, int(length));
        parts = followed.split('/') + parts;
        if (followed.startsWith('/'))
            walked.clear();
    }
    return walked.isEmpty() ? QByteArray("/") : walked;
}

QString placeProblem(const QString &out, const QStringList &dataDirectories)
{
    const QByteArray place = resolvedPath(QFile::encodeName(out));
    for (const QString &data : dataDirectories) {
        struct stat directory, ancestor;
        if (data.isEmpty() || ::stat(QFile::encodeName(data).constData(), &directory) != 0)
            continue;
        for (QByteArray at = place;; at = parentOf(at)) {
            if (::stat(at.constData(), &ancestor) == 0 && sameFolder(ancestor, directory)) {
                const QString how = at == place ? QStringLiteral("is the image directory %1").arg(printableName(data))
                                                : QStringLiteral("lies inside the image directory %1").arg(printableName(data));
                const QString through = at == resolvedPath(QFile::encodeName(data)) ? QString()
                                                                                       : QStringLiteral(" (%1 is that directory)").arg(printableName(at));
                return QStringLiteral("cannot write the report into %1: it %2%3, whose next reading would take the report's pictures for "
                                      "images; give --out a folder outside it")
                    .arg(printableName(out), how, through);
            }
            if (at == "/")
                break;
        }
    }
    return QString();
}

} // namespace sorvik
