#include "tools/import/idx_file.h"

#include "base/opening.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sorvik {

namespace {

std::uint32_t bigEndian(const unsigned char *p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

} // namespace

IdxFile::IdxFile(const QString &path, std::uint32_t magic, int count) : path(path)
{
    const int fd = openToRead(path);
    struct stat info;
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        fail(QStringLiteral("cannot read %1: %2; check the path").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        if (fd >= 0)
            ::close(fd);
        return;
    }
    file = ::gzdopen(fd, "rb");  // a plain file is read as it is
    if (!file) {
        ::close(fd);
        fail(QStringLiteral("cannot read %1: zlib has no memory for it").arg(path));
        return;
    }
    ::gzbuffer(file, 1 << 16);
    unsigned char header[4 + 4 * 3];
    const std::size_t headerBytes = 4 + 4 * std::size_t(count);
    const char *kind = magic == 0x803 ? "image" : "label";
    if (::gzread(file, header, unsigned(headerBytes)) != int(headerBytes) || bigEndian(header) != magic) {
        fail(QStringLiteral("%1 is not an IDX %2 file (magic number 0x%3 expected)").arg(path, QLatin1String(kind)).arg(magic, 8, 16, QLatin1Char('0')));
        return;
    }
    std::uint64_t items = 1;
    for (int d = 0; d < count; ++d) {
        dimensions.push_back(bigEndian(header + 4 + 4 * d));
        items *= dimensions.back();
    }
    // A plain file shows its size at once; a compressed one is held to its header
    // as it inflates.
    if (::gzdirect(file) && S_ISREG(info.st_mode) && std::uint64_t(info.st_size) != headerBytes + items)
        fail(QStringLiteral("%1 is %2 bytes; its header announces %3 bytes").arg(path).arg(qint64(info.st_size)).arg(headerBytes + items));
}

IdxFile::~IdxFile()
{
    if (file)
        ::gzclose(file);
}

bool IdxFile::fail(const QString &why)
{
    if (failure.isEmpty())
        failure = why;
    return false;
}

bool IdxFile::read(char *into, std::size_t bytes, const QString &what)
{
    if (!failure.isEmpty())
        return false;
    const int got = ::gzread(file, into, unsigned(bytes));
    if (got == int(bytes))
        return true;
    int error = Z_OK;
    const char *message = ::gzerror(file, &error);
    return fail(error != Z_OK && error != Z_BUF_ERROR ? QStringLiteral("cannot read %1 of %2: %3").arg(what, path, QString::fromLocal8Bit(message))
                                                      : QStringLiteral("%1 ends before %2, which its header announces").arg(path, what));
}

bool IdxFile::atEnd()
{
    char more;
    if (failure.isEmpty() && ::gzread(file, &more, 1) != 0)
        fail(QStringLiteral("%1 holds more than its header announces; check that it is the file you meant").arg(path));
    return failure.isEmpty();
}

} // namespace sorvik
