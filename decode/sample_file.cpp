#include "decode/sample_file.h"

#include "base/printable_name.h"
#include "base/run_end.h"
#include "decode/pixels.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sorvik {

bool readSampleFile(const QByteArray &path, QByteArray &bytes, QString &failure)
{
    // Four system calls (QFile takes eleven). The file is opened without waiting:
    // a pipe put in place of a sample is refused, never waited on.
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0 && (errno == EMFILE || errno == ENFILE))  // not a verdict on the file: the process may open no more
        endOutOfDescriptors(printableName(path).toUtf8().constData());
    if (fd < 0) {
        failure = errno == EACCES ? QStringLiteral("cannot be read (no permission?)") : QStringLiteral("cannot be opened");
        return false;
    }
    struct stat info;
    bool ok = ::fstat(fd, &info) == 0;
    if (ok && !S_ISREG(info.st_mode)) {
        ::close(fd);
        failure = QStringLiteral("is not a regular file");
        return false;
    }
    if (ok && info.st_size > sampleLimits.fileBytes) {
        ::close(fd);
        failure = QStringLiteral("is %1 bytes; image files of at most %2 bytes are read").arg(qint64(info.st_size)).arg(sampleLimits.fileBytes);
        return false;
    }
    if (ok) {
        // One byte more than the size, to notice a file that grew meanwhile.
        bytes.resize(int(info.st_size) + 1);
        qint64 total = 0;
        for (ssize_t got; total < bytes.size() && (got = ::read(fd, bytes.data() + total, std::size_t(bytes.size() - total))) != 0;) {
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                ok = false;
                break;
            }
            total += got;
        }
        bytes.resize(int(total));
    }
    ::close(fd);
    if (!ok)
        failure = QStringLiteral("cannot be read");
    return ok;
}

} // namespace sorvik
