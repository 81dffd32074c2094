#include "model/model_bytes.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sorvik {

namespace {

// Follows the lines of a text that arrives in pieces, to stop at the first line
// longer than any model holds.
struct LineWatch {
    int line = 1;     // the line now arriving (1-based)
    qint64 length = 0;  // its bytes so far

    // False once the line arriving is too long.
    bool take(const char *p, const char *end)
    {
        for (;;) {
            const char *lineEnd = static_cast<const char *>(std::memchr(p, '\n', std::size_t(end - p)));
            length += (lineEnd ? lineEnd : end) - p;
            if (length > maxModelLineBytes)
                return false;
            if (!lineEnd)
                return true;
            ++line;
            length = 0;
            p = lineEnd + 1;
        }
    }
};

// A model is read in pieces of 64 KiB, in a buffer that stays in the cache (of
// 4 KiB in the fuzzing build, whose inputs of up to 64 KiB then cross many).
#ifdef SORVIK_FUZZING
constexpr qint64 modelPieceBytes = qint64(1) << 12;
#else
constexpr qint64 modelPieceBytes = qint64(1) << 16;
#endif

// Gives each piece of a model file to `take` as it comes, counting the bytes in
// `total` first, and stops at once at a line longer than any model holds (so
// /dev/zero or a huge first line costs little) or at more bytes than a model can
// have; never waits more than a minute for the next piece of a pipe. `expected`
// is a regular file's size, -1 for a stream.
void readPieces(int fd, qint64 expected, const std::function<void(const char *, const char *)> &take, qint64 &total, ModelFileReport &report)
{
    // No larger than a regular file needs, and never cleared: a small model costs little.
    const std::size_t piece = std::size_t(expected >= 0 ? std::min(expected + 1, modelPieceBytes) : modelPieceBytes);
    const std::unique_ptr<char[]> buffer(new char[piece]);
    LineWatch lines;
    while (total <= maxModelBytes) {
        const ssize_t got = ::read(fd, buffer.get(), piece);
        if (got == 0)
            return;
        if (got < 0) {
            if (errno == EAGAIN) {
                pollfd wait{fd, POLLIN, 0};
                if (::poll(&wait, 1, modelWaitMilliseconds) == 0) {
                    report.stalled = true;
                    return;
                }
            } else if (errno != EINTR) {
                return;
            }
            continue;
        }
        total += got;
        if (!lines.take(buffer.get(), buffer.get() + got)) {
            report.longLine = lines.line;
            return;
        }
        take(buffer.get(), buffer.get() + got);
    }
    report.tooLarge = true;
}

// Opens a model file without waiting: a pipe with no writer reads as empty instead
// of blocking; whether it is a file at all is asked of what was opened. -1 when it
// cannot be opened or is a directory.
int openModel(const QString &fileName, struct stat &info)
{
    const int fd = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Whether a regular file read whole (`bytes` of it) has changed since `info`.
bool changedSince(int fd, const struct stat &info, qint64 bytes)
{
    struct stat after;
    return bytes != info.st_size || ::fstat(fd, &after) != 0 || after.st_size != info.st_size
           || after.st_mtim.tv_sec != info.st_mtim.tv_sec || after.st_mtim.tv_nsec != info.st_mtim.tv_nsec;
}

} // namespace

bool readModelLines(const QString &fileName, const LineTaker &take, ModelFileReport &report)
{
    struct stat info;
    const int fd = openModel(fileName, info);
    if (fd < 0)
        return false;
    // A regular file's size decides before anything is read; one that changes
    // while it is read is refused rather than parsed half old, half new. A file
    // whose size reads as 0 may still hold something (those of /proc do): it is
    // read like a pipe, to its end.
    const bool regular = S_ISREG(info.st_mode) && info.st_size > 0;
    if (regular && info.st_size > maxModelBytes) {
        ::close(fd);
        report.tooLarge = true;
        return true;
    }
    // The line that a piece leaves unfinished waits in `pending` for the rest of it.
    QByteArray pending;
    qint64 total = 0;
    // Hands over [p, end), which ends `left` bytes before what has been read.
    const auto hand = [&](const char *p, const char *end, qint64 left) {
        take(p, end, regular ? std::max<qint64>(0, qint64(info.st_size) - total + left) : 0);
    };
    const auto handLines = [&](const char *p, const char *end) {
        const char *last = static_cast<const char *>(memrchr(p, '\n', std::size_t(end - p)));
        if (!last) {
            pending.append(p, int(end - p));
            return;
        }
        if (!pending.isEmpty()) {
            const char *first = static_cast<const char *>(std::memchr(p, '\n', std::size_t(end - p)));
            pending.append(p, int(first + 1 - p));
            hand(pending.constData(), pending.constData() + pending.size(), end - first - 1);
            pending.clear();
            p = first + 1;
        }
        if (p <= last)
            hand(p, last + 1, end - last - 1);
        pending.append(last + 1, int(end - last - 1));
    };
    readPieces(fd, regular ? qint64(info.st_size) : -1, handLines, total, report);
    if (!report.tooLarge && !report.stalled && report.longLine == 0) {
        if (!pending.isEmpty())
            hand(pending.constData(), pending.constData() + pending.size(), 0);
        if (regular && changedSince(fd, info, total))
            report.changedWhileRead = true;
    }
    ::close(fd);
    return true;
}

bool peekParametersItem(const QString &fileName, QString &item)
{
    item.clear();
    struct stat info;
    const int fd = openModel(fileName, info);
    if (fd < 0)
        return true;  // the reading says that it cannot be opened
    const bool regular = S_ISREG(info.st_mode) && info.st_size > 0;
    char head[256];
    const ssize_t got = regular ? ::read(fd, head, sizeof head) : 0;
    ::close(fd);
    const char *semicolon = got > 0 ? static_cast<const char *>(std::memchr(head, ';', std::size_t(got))) : nullptr;
    const QByteArray first = semicolon ? QByteArray(head, int(semicolon - head)) : QByteArray();
    if (first.startsWith("sorvik-tune:"))
        item = QString::fromUtf8(first);
    return regular;
}

} // namespace sorvik
