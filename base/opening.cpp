#include "base/opening.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace sorvik {

int openToRead(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0)
        return fd;
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
}

bool readUpTo(const QString &path, qint64 limit, QByteArray &bytes)
{
    bytes.clear();
    const int fd = openToRead(path);
    if (fd < 0)
        return false;
    char piece[1 << 16];
    for (ssize_t got; bytes.size() <= limit && (got = ::read(fd, piece, sizeof piece)) != 0;)
        if (got > 0)
            bytes.append(piece, int(got));
        else if (errno != EINTR)
            break;
    ::close(fd);
    return true;
}

} // namespace sorvik
