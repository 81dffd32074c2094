#include "tools/report/report_folder.h"

#include "tools/file_reasons.h"
#include "tools/report/report_place.h"

#include "base/printable_name.h"
#include "base/run_end.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <cerrno>
#include <iostream>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sorvik {

namespace {

const QString listName = QStringLiteral("report-files.txt");

// A file that an earlier version left behind while it wrote a report file.
bool abandonedNewFile(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^(.+)\\.new-\\d+-\\d+$"));
    const QRegularExpressionMatch match = pattern.match(name);
    return match.hasMatch() && reportWrites(match.captured(1));
}

// Whether an entry is a file of a report: under a name that a report writes, and a
// regular file, never a link or a folder.
bool reportFile(int folder, const QByteArray &entry)
{
    const QString name = QFile::decodeName(entry);
    struct stat status;
    return (reportWrites(name) || abandonedNewFile(name)) && ::fstatat(folder, entry.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0
        && S_ISREG(status.st_mode);
}

// The list of the report in a folder, read only when it is a regular file of at
// most 64 KiB, opened without following a link or waiting on a pipe.
bool readList(int folder, QStringList &names)
{
    const int fd = ::openat(folder, QFile::encodeName(listName).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat status;
    char bytes[1 << 16];
    ssize_t got = -1;
    if (fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size <= qint64(sizeof bytes))
        got = ::read(fd, bytes, sizeof bytes);
    if (fd >= 0)
        ::close(fd);
    if (got < 0)
        return false;
    names = QString::fromUtf8(bytes, int(got)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return true;
}

QString shortList(const QList<QByteArray> &entries)
{
    QStringList shown;
    for (int i = 0; i < std::min<qsizetype>(entries.size(), 3); ++i)
        shown << printableName(entries.at(i));
    return shown.join(QStringLiteral(", ")) + (entries.size() > 3 ? QStringLiteral(" and %1 more").arg(entries.size() - 3) : QString());
}

} // namespace

bool reportWrites(const QString &name)
{
    static const QSet<QString> names = {listName, "index.html", "predictions.csv", "summary.txt", "summary.json", "confusion.png",
                                        "recall.png", "components.png", "variance.png", "scatter.png", "distances.png", "thumbnails.png",
                                        "rejection.png", "grid.png", "training-proofs.txt"};
    static const QRegularExpression misread(QStringLiteral("^misread-\\d{4}\\.png$"));  // pictures of an earlier version
    return names.contains(name) || misread.match(name).hasMatch();
}

ReportFolder::ReportFolder(const QString &out, const QStringList &dataDirectories, bool force) : shown(out)
{
    refusal = placeProblem(out, dataDirectories);
    if (!refusal.isEmpty() || !lock(out))
        return;
    // What a killed report left beside the folder is settled before the folder is judged.
    settleAbandonedStaging(parent, name, [this](int old) { carryOver(old, folder); });
    if (!admit(force))
        return;
    staging = std::make_unique<Staging>(parent, name);
    if (const int error = staging->error(); error != 0)
        refuse(QStringLiteral("the report is built beside it first, in the folder that holds it, where no folder can be made (%1); give --out %2")
                   .arg(qt_error_string(error), deniedToUser(error) ? QStringLiteral("a folder whose parent this user may write") : QStringLiteral("another folder")),
               error);
}

ReportFolder::~ReportFolder()
{
    staging.reset();
    removeRunEndAction(removeMade, this);
    if (made)
        removeMade(this);
    if (folder >= 0)
        ::close(folder);
    if (parent >= 0)
        ::close(parent);
}

// The folder `out`, made if need be and locked; false after the refusal is set.
bool ReportFolder::lock(const QString &out)
{
    const QByteArray place = resolvedPath(QFile::encodeName(out)), above = place.left(std::max(1, int(place.lastIndexOf('/'))));
    name = place.mid(place.lastIndexOf('/') + 1);
    if (name.isEmpty())
        return refuse(QStringLiteral("the report is built beside its folder, and / has nothing beside it; give --out a folder"));
    if (!QDir().mkpath(QFile::decodeName(above)) || (parent = ::open(above.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) < 0) {
        const int error = errno;
        return refuse(QStringLiteral("cannot create the folder: %1; give --out a folder that can be created").arg(folderFailure(out)), error);
    }
    // The folder that holds the lock must still be the one of that name.
    for (int attempt = 0; attempt < 8 && folder < 0; ++attempt) {
        made = ::mkdirat(parent, name.constData(), 0777) == 0;
        const int makeError = made ? 0 : errno;
        folder = ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        if (folder < 0 && (error == ENOTDIR || error == ELOOP))
            return refuse(QStringLiteral("it is a file, not a folder; give --out a folder"));
        if (folder < 0 && error == ENOENT && makeError != 0 && makeError != EEXIST)  // not there, and it cannot be made
            return refuse(QStringLiteral("cannot create the folder: %1; give --out a folder that can be created").arg(folderFailure(out, makeError)), makeError);
        if (folder < 0 && error != ENOENT)
            return refuse(QStringLiteral("cannot create the folder: %1; give --out a folder that can be created").arg(folderFailure(out)), error);
        if (folder >= 0 && ::flock(folder, LOCK_EX | LOCK_NB) != 0)
            return refuse(QStringLiteral("another sorvik-report is writing a report into it; try again once it has ended"));
        struct stat locked, named;
        if (folder >= 0 && (::fstat(folder, &locked) != 0 || ::fstatat(parent, name.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0
                            || locked.st_ino != named.st_ino || locked.st_dev != named.st_dev))
            ::close(folder), folder = -1, made = false;
    }
    if (folder < 0)
        return refuse(QStringLiteral("it keeps changing while it is opened"));
    if (made)
        addRunEndAction(removeMade, this);
    return true;
}

// Whether the folder may take the report: it is empty, or holds a report of ours
// and nothing under a report's name that the report did not write; anything, with
// `force`. False after the refusal is set.
bool ReportFolder::admit(bool force)
{
    const bool listed = readList(folder, previous);
    QList<QByteArray> foreign, named;
    for (const QByteArray &entry : folderEntries(folder)) {
        const QString entryName = QFile::decodeName(entry);
        const bool ours = reportFile(folder, entry) && ((listed && entryName == listName) || previous.contains(entryName) || abandonedNewFile(entryName));
        if (!ours)
            foreign << entry;
        if (!ours && reportWrites(entryName))
            named << entry;
    }
    if (!force && !listed && !foreign.isEmpty())
        return refuse(QStringLiteral("it holds %1 and no report of sorvik-report; give an empty or new folder, or --force to write the report "
                                     "among what it holds (files of the report's names are replaced)").arg(shortList(foreign)));
    if (!force && !named.isEmpty())
        return refuse(QStringLiteral("it holds %1, which its report did not write; move %2 away, or give --force to replace %2")
                          .arg(shortList(named), named.size() > 1 ? QStringLiteral("them") : QStringLiteral("it")));
    return true;
}

bool ReportFolder::refuse(const QString &why, int error)
{
    // A want of descriptors is the process's, not the folder's.
    if (error == EMFILE || error == ENFILE)
        endOutOfDescriptors(printableName(shown).toUtf8().constData());
    refusal = QStringLiteral("cannot write the report into %1: %2").arg(printableName(shown), why);
    return false;
}

void ReportFolder::removeMade(void *self)
{
    const auto *report = static_cast<ReportFolder *>(self);
    ::unlinkat(report->parent, report->name.constData(), AT_REMOVEDIR);  // only while it is empty
}

bool ReportFolder::failed(const QString &line)
{
    std::cout << line.toStdString() << "\n";
    staging.reset();
    return false;
}

QByteArray ReportFolder::oldFile(const QString &name, qint64 limit) const
{
    if (folder < 0 || !previous.contains(name))
        return QByteArray();
    const int fd = ::openat(folder, QFile::encodeName(name).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat status;
    QByteArray bytes;
    if (fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size <= limit) {
        bytes.resize(int(status.st_size));
        const ssize_t got = ::read(fd, bytes.data(), std::size_t(bytes.size()));
        bytes.resize(int(std::max<ssize_t>(0, got)));
    }
    if (fd >= 0)
        ::close(fd);
    return bytes;
}

bool ReportFolder::add(const QString &file, const QByteArray &bytes)
{
    if (!staging)
        return false;
    const QString path = printableName(shown + QLatin1Char('/') + file);
    if (!reportWrites(file))  // a name the next report would not know as the report's
        return failed(QStringLiteral("cannot write %1: a report writes no file of that name").arg(path));
    if (bytes.isNull())
        return failed(QStringLiteral("cannot write %1: the picture cannot be encoded").arg(path));
    const int error = staging->write(QFile::encodeName(file), bytes);
    if (error != 0)
        return failed(QStringLiteral("cannot write %1: %2").arg(path, qt_error_string(error)));
    names << file;
    return true;
}

// Moves the entries of an old report's folder that are not the report's into the
// new one, and removes the report's files: entries under a report's name that are
// not folders, which a report that got this far was allowed to replace.
QList<QByteArray> ReportFolder::carryOver(int oldFolder, int newFolder)
{
    QList<QByteArray> kept;
    for (const QByteArray &entry : folderEntries(oldFolder)) {
        const QString name = QFile::decodeName(entry);
        struct stat status;
        const bool replaced = (reportWrites(name) || abandonedNewFile(name)) && ::fstatat(oldFolder, entry.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0
                              && !S_ISDIR(status.st_mode);
        if (replaced)
            ::unlinkat(oldFolder, entry.constData(), 0);
        else if (::renameat2(oldFolder, entry.constData(), newFolder, entry.constData(), RENAME_NOREPLACE) != 0)
            kept << entry;
    }
    return kept;
}

// Puts the staging folder in the place of the report's folder, and the old one
// where the staging folder was: one exchange, or two renames where the file system
// has no exchange. Nothing is swapped once a signal has come to end the run.
bool ReportFolder::swap(QByteArray &aside)
{
    aside = staging->entry();
    if (runEndPending())
        return errno = EINTR, false;
    if (::renameat2(parent, staging->entry().constData(), parent, name.constData(), RENAME_EXCHANGE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    aside += "-old";
    if (::renameat(parent, name.constData(), parent, aside.constData()) != 0)
        return false;
    if (::renameat(parent, staging->entry().constData(), parent, name.constData()) == 0)
        return true;
    const int error = errno;
    ::renameat(parent, aside.constData(), parent, name.constData());
    return errno = error, false;
}

bool ReportFolder::commit()
{
    if (!staging || !add(listName, (names.join(QLatin1Char('\n')) + QLatin1Char('\n') + listName + QLatin1Char('\n')).toUtf8()))
        return false;
    // One sync of the file system for all the files before the swap: a disk that
    // fills up only as the data reaches it leaves the old report whole.
    struct stat old;
    if (::syncfs(staging->descriptor()) != 0)
        return failed(QStringLiteral("cannot write %1: %2").arg(printableName(shown), qt_error_string(errno)));
    if (::fstat(folder, &old) == 0)
        ::fchmod(staging->descriptor(), old.st_mode & 07777);
    // The swap and the carrying over are done whole: a signal meanwhile waits.
    holdRunEnd();
    QByteArray aside;
    if (!swap(aside)) {
        const int error = errno;
        releaseRunEnd();
        return failed(QStringLiteral("cannot write the report into %1: %2").arg(printableName(shown), qt_error_string(error)));
    }
    staging->keep(true);
    made = false;
    removeRunEndAction(removeMade, this);
    const QList<QByteArray> kept = carryOver(folder, staging->descriptor());
    if (kept.isEmpty())
        ::unlinkat(parent, aside.constData(), AT_REMOVEDIR);
    releaseRunEnd();
    if (!kept.isEmpty())
        std::cout << QStringLiteral("kept %1 of the old report's folder in %2: the new report has entries of those names")
                         .arg(shortList(kept), printableName(QFile::decodeName(aside))).toStdString() << "\n";
    return true;
}

} // namespace sorvik
