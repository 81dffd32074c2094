#include "base/whole_file.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sorvik {

namespace {

QByteArray newFilePrefix(const QString &path)
{
    return QFile::encodeName(QFileInfo(path).fileName()) + ".new-";
}

// A file without a name in the folder of `path`, or -1 where the file system or a
// missing /proc (through which it is named) does not allow one.
int unnamedFile(const QString &path)
{
    if (::access("/proc/self/fd", X_OK) != 0)
        return -1;
    return ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
}

// The standard output or error that is the file `existing`, or -1: written where
// it stands, after the program's own lines.
int standardStream(const struct stat &existing)
{
    for (const int stream : {STDOUT_FILENO, STDERR_FILENO}) {
        struct stat status;
        if (::fstat(stream, &status) == 0 && status.st_dev == existing.st_dev && status.st_ino == existing.st_ino)
            return stream;
    }
    return -1;
}

} // namespace

void removeAbandonedNewFiles(const QString &path)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath()), prefix = newFilePrefix(path);
    DIR *listing = ::opendir(folder.constData());
    if (!listing)
        return;
    while (const dirent *entry = ::readdir(listing)) {
        if (std::strncmp(entry->d_name, prefix.constData(), std::size_t(prefix.size())) != 0)
            continue;
        // A lock that can be taken is one whose writer has ended.
        const int fd = ::openat(::dirfd(listing), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        struct stat opened, named;
        if (fd >= 0 && ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0
            && ::fstatat(::dirfd(listing), entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_ino == opened.st_ino
            && named.st_dev == opened.st_dev)
            ::unlinkat(::dirfd(listing), entry->d_name, 0);
        if (fd >= 0)
            ::close(fd);
    }
    ::closedir(listing);
}

WholeFile::WholeFile(const QString &path) : target(path)
{
    // A device, a pipe or the program's own output (such as /dev/null or
    // /dev/stdout) takes the bytes itself: renaming a file over it would put a
    // plain file in its place, or in place of the link to it.
    struct stat existing;
    if (::stat(QFile::encodeName(path).constData(), &existing) == 0 && !S_ISDIR(existing.st_mode)) {
        if (const int stream = standardStream(existing); stream >= 0) {
            device = true;
            fd = ::fcntl(stream, F_DUPFD_CLOEXEC, 0);
            if (fd < 0)
                fail(errno);
            return;
        }
        if (!S_ISREG(existing.st_mode)) {
            openDevice();
            return;
        }
    }
    removeAbandonedNewFiles(path);
    fd = unnamedFile(path);
    // Where no file can be without a name, it has one from the start.
    if (fd < 0 && !name())
        return;
    ::flock(fd, LOCK_EX);
    // The mode is that of a new file (0666 less the umask), or the old file's own.
    struct stat old;
    if (::stat(QFile::encodeName(path).constData(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd, old.st_mode & 07777);
}

WholeFile::~WholeFile()
{
    if (fd >= 0)
        ::close(fd);
    if (!committed && !temporary.isEmpty())
        ::unlink(temporary.constData());
}

// Opens the device or pipe at the target for writing: never waiting for a pipe
// that no program reads (the run would hang), which fails at once instead.
void WholeFile::openDevice()
{
    device = true;
    fd = ::open(QFile::encodeName(target).constData(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ENXIO)
        failure = QStringLiteral("it is a pipe that no program is reading");
    else if (fd < 0 || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        fail(errno);
}

bool WholeFile::fail(int error)
{
    if (failure.isEmpty())
        failure = QString::fromLocal8Bit(std::strerror(error));
    return false;
}

// Gives the new file its name beside the target, so that the rename stays on one
// file system: made afresh where there is no file yet, else linked to the file.
bool WholeFile::name()
{
    const QByteArray encoded = QFile::encodeName(target), proc = "/proc/self/fd/" + QByteArray::number(fd);
    const bool unnamed = fd >= 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = encoded + ".new-" + QByteArray::number(qint64(::getpid())) + '-' + QByteArray::number(attempt);
        const bool made = unnamed ? ::linkat(AT_FDCWD, proc.constData(), AT_FDCWD, temporary.constData(), AT_SYMLINK_FOLLOW) == 0
                                  : (fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666)) >= 0;
        if (made)
            return true;
        if (errno != EEXIST)
            break;
    }
    temporary.clear();
    return fail(errno);
}

bool WholeFile::write(const char *data, std::size_t size)
{
    if (!failure.isEmpty() || fd < 0)
        return false;
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return fail(written < 0 ? errno : ENOSPC);
        data += written;
        size -= std::size_t(written);
    }
    return true;
}

bool WholeFile::commit()
{
    if (committed)
        return true;
    if (fd < 0 || !failure.isEmpty())
        return false;
    if (device) {
        committed = true;
        const int closed = ::close(fd);
        fd = -1;
        return closed == 0 || fail(errno);
    }
    // A file system may report a full disk only when the data reaches it. The file
    // stays open, and locked, until it has taken its place.
    if (::fsync(fd) != 0 || (temporary.isEmpty() && !name()))
        return fail(errno);
    if (::rename(temporary.constData(), QFile::encodeName(target).constData()) != 0)
        return fail(errno);
    committed = true;
    const int closed = ::close(fd);
    fd = -1;
    return closed == 0 || fail(errno);
}

QString wholeFileObstacle(const QString &path)
{
    struct stat existing;
    if (::stat(QFile::encodeName(path).constData(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode))
            return QString::fromLocal8Bit(std::strerror(EISDIR));
        if (!S_ISREG(existing.st_mode) || standardStream(existing) >= 0)
            return QString();
    }
    if (::access(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), W_OK | X_OK) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString();
}

bool writeWholeFile(const QString &path, const QByteArray &bytes, QString &reason)
{
    WholeFile file(path);
    const bool written = file.write(bytes) && file.commit();
    reason = file.reason();
    return written;
}

} // namespace sorvik
