#include "base/staging.h"

#include "base/run_end.h"

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace sorvik {

namespace {

// Hidden, so that no listing of the parent takes it for an entry of its own; the
// name is cut to leave room for the suffix within the system's limit.
QByteArray stagingPrefix(const QByteArray &name)
{
    return '.' + name.left(200) + ".new-";
}

struct LinuxDirent64 {
    ino64_t inode;
    off64_t offset;
    unsigned short length;
    unsigned char type;
    char name[1];
};

} // namespace

void removeFilesOf(int folder)
{
    // getdents64 on a descriptor of its own, since the listing moves its offset;
    // listed again from the start while a pass removes anything, so that no entry
    // escapes a listing of a folder that changes under it.
    for (bool removed = true; removed;) {
        removed = false;
        const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (listing < 0)
            return;
        alignas(8) char buffer[4096];
        for (long got; (got = ::syscall(SYS_getdents64, listing, buffer, sizeof buffer)) > 0;)
            for (long at = 0; at < got;) {
                const auto *entry = reinterpret_cast<const LinuxDirent64 *>(buffer + at);
                at += entry->length;
                // A folder is refused with EISDIR and stays.
                if (std::strcmp(entry->name, ".") != 0 && std::strcmp(entry->name, "..") != 0)
                    removed = ::unlinkat(folder, entry->name, 0) == 0 || removed;
            }
        ::close(listing);
    }
}

Staging::Staging(int parent, const QByteArray &name) : parentFd(parent)
{
    entryName = stagingPrefix(name) + QByteArray::number(qint64(::getpid()));
    if (::mkdirat(parent, entryName.constData(), 0777) != 0) {
        failure = errno;
        entryName.clear();
        return;
    }
    fd = ::openat(parent, entryName.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        failure = errno;
        remove(this);
        entryName.clear();
        return;
    }
    addRunEndAction(remove, this);
}

Staging::~Staging()
{
    if (!kept)
        remove(this);
    removeRunEndAction(remove, this);
    if (fd >= 0)
        ::close(fd);
}

void Staging::remove(void *staging)
{
    auto *self = static_cast<Staging *>(staging);
    if (self->entryName.isEmpty())
        return;
    if (self->fd >= 0)
        removeFilesOf(self->fd);
    ::unlinkat(self->parentFd, self->entryName.constData(), AT_REMOVEDIR);
}

void Staging::keep(bool keep)
{
    kept = keep;
    if (kept)
        removeRunEndAction(remove, this);
    else
        addRunEndAction(remove, this);
}

int Staging::write(const QByteArray &file, const QByteArray &bytes)
{
    const int out = ::openat(fd, file.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (out < 0)
        return errno;
    int error = 0;
    for (const char *data = bytes.constData(), *end = data + bytes.size(); data < end && error == 0;) {
        const ssize_t written = ::write(out, data, std::size_t(end - data));
        if (written > 0)
            data += written;
        else if (written == 0 || errno != EINTR)
            error = written == 0 ? ENOSPC : errno;
    }
    if (::close(out) != 0 && error == 0)
        error = errno;
    return error;
}

QList<QByteArray> folderEntries(int folder)
{
    QList<QByteArray> entries;
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *listing = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!listing) {
        if (fd >= 0)
            ::close(fd);
        return entries;
    }
    while (const dirent *entry = ::readdir(listing))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            entries << QByteArray(entry->d_name);
    ::closedir(listing);
    return entries;
}

void settleAbandonedStaging(int parent, const QByteArray &name, const std::function<void(int folder)> &settle)
{
    const QByteArray prefix = stagingPrefix(name);
    for (const QByteArray &entry : folderEntries(parent)) {
        if (!entry.startsWith(prefix))
            continue;
        // A lock that can be taken is one whose run has ended.
        const int folder = ::openat(parent, entry.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (folder >= 0 && ::flock(folder, LOCK_EX | LOCK_NB) == 0) {
            settle(folder);
            ::unlinkat(parent, entry.constData(), AT_REMOVEDIR);
        }
        if (folder >= 0)
            ::close(folder);
    }
}

} // namespace sorvik
