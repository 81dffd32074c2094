#include "base/whole_file.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sorvik {

WholeFile::WholeFile(const QString &path) : target(path)
{
    // A name of its own beside the target, so that the rename stays on one file
    // system; the mode is that of a new file (0666 less the umask), or the old
    // file's own.
    const QByteArray encoded = QFile::encodeName(path);
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = encoded + ".new-" + QByteArray::number(qint64(::getpid())) + '-' + QByteArray::number(attempt);
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        temporary.clear();
        fail(errno);
        return;
    }
    struct stat old;
    if (::stat(encoded.constData(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd, old.st_mode & 07777);
}

WholeFile::~WholeFile()
{
    if (fd >= 0)
        ::close(fd);
    if (!committed && !temporary.isEmpty())
        ::unlink(temporary.constData());
}

bool WholeFile::fail(int error)
{
    if (failure.isEmpty())
        failure = QString::fromLocal8Bit(std::strerror(error));
    return false;
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

bool WholeFile::finish(Sync sync)
{
    if (finished)
        return true;
    if (fd < 0 || !failure.isEmpty())
        return false;
    // A file system may report a full disk only when the data reaches it.
    const bool synced = sync == Sync::Later || ::fsync(fd) == 0 || fail(errno);
    const bool closed = ::close(fd) == 0 || fail(errno);
    fd = -1;
    finished = synced && closed;
    return finished;
}

bool WholeFile::commit()
{
    if (!finish())
        return false;
    if (::rename(temporary.constData(), QFile::encodeName(target).constData()) != 0)
        return fail(errno);
    committed = true;
    return true;
}

bool writeWholeFile(const QString &path, const QByteArray &bytes, QString &reason)
{
    WholeFile file(path);
    const bool written = file.write(bytes) && file.commit();
    reason = file.reason();
    return written;
}

} // namespace sorvik
