// Loaded with LD_PRELOAD by the tests: the disk fills up after SORVIK_DISK_BYTES
// bytes written to regular files, at a point the test controls. A write that
// would pass that point writes what still fits and the next one fails with
// ENOSPC, as a file system that has run out of space does. With
// SORVIK_DISK_FAIL=fsync or close, those calls fail on regular files with EIO,
// as a disk that reports its errors only when the data reaches it does.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static long long room = -1;  // bytes the disk still takes; -1 until known

static int onDisk(int fd)
{
    struct stat info;
    return fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

// How many of `count` bytes may go to `fd`; 0 with errno set when none may.
static size_t allowed(int fd, size_t count)
{
    if (room < 0) {
        const char *bytes = getenv("SORVIK_DISK_BYTES");
        room = bytes ? atoll(bytes) : (long long)1 << 62;
    }
    if (count == 0 || !onDisk(fd))
        return count;
    if (room == 0) {
        errno = ENOSPC;
        return 0;
    }
    const size_t taken = (long long)count < room ? count : (size_t)room;
    room -= (long long)taken;
    return taken;
}

ssize_t write(int fd, const void *buffer, size_t count)
{
    static ssize_t (*next)(int, const void *, size_t);
    if (!next)
        next = (ssize_t(*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
    const size_t taken = allowed(fd, count);
    if (count > 0 && taken == 0)
        return -1;
    return next(fd, buffer, taken);
}

// Whether `call` is the one SORVIK_DISK_FAIL names, on a regular file.
static int failing(const char *call, int fd)
{
    const char *fail = getenv("SORVIK_DISK_FAIL");
    return fail && strcmp(fail, call) == 0 && onDisk(fd);
}

int fsync(int fd)
{
    static int (*next)(int);
    if (!next)
        next = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    if (failing("fsync", fd)) {
        errno = EIO;
        return -1;
    }
    return next(fd);
}

int close(int fd)
{
    static int (*next)(int);
    if (!next)
        next = (int (*)(int))dlsym(RTLD_NEXT, "close");
    const int fails = failing("close", fd);
    const int closed = next(fd);
    if (fails && closed == 0) {
        errno = EIO;
        return -1;
    }
    return closed;
}
