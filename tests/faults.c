// Loaded with LD_PRELOAD by the tests: faults of the disk, of other processes and
// of the machine, each at a point the test sets through the environment.
// - SORVIK_DISK_BYTES=N: the disk fills up after N bytes written to regular files.
//   A write that would pass that point writes what still fits and the next one
//   fails with ENOSPC, as a file system that has run out of space does.
// - SORVIK_DISK_FAIL=fsync or close: that call fails on regular files with EIO, as
//   a disk that reports its errors only when the data reaches it does.
// - SORVIK_SHRINK_FILE=path: the first read() from that file first cuts it to half
//   its size, as another process overwriting it would; with SORVIK_GROW=1 it
//   doubles it instead, as one appending to it would.
// - SORVIK_FAULT=call:N:fault: a fault at the N-th call of one of the calls that
//   commit files (renameat2, renameat, rename, linkat, and "create", an openat
//   that creates a file). The fault is a signal that ends the process (kill, term
//   or int) just before the call, or, for "memory", an address space capped just
//   after it to what the process holds, and then allocations until one fails, as
//   memory that runs out at that point.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <malloc.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// The next definition of a call.
#define NEXT(type, name, ...) static type (*next)(__VA_ARGS__); if (!next) next = (type(*)(__VA_ARGS__))dlsym(RTLD_NEXT, name)

static int onDisk(int fd)
{
    struct stat info;
    return fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

static long long room = -1;  // bytes the disk still takes; -1 until known

ssize_t write(int fd, const void *buffer, size_t count)
{
    NEXT(ssize_t, "write", int, const void *, size_t);
    if (room < 0) {
        const char *bytes = getenv("SORVIK_DISK_BYTES");
        room = bytes ? atoll(bytes) : (long long)1 << 62;
    }
    if (count == 0 || !onDisk(fd))
        return next(fd, buffer, count);
    if (room == 0) {
        errno = ENOSPC;
        return -1;
    }
    const size_t taken = (long long)count < room ? count : (size_t)room;
    room -= (long long)taken;
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
    NEXT(int, "fsync", int);
    if (failing("fsync", fd)) {
        errno = EIO;
        return -1;
    }
    return next(fd);
}

int close(int fd)
{
    NEXT(int, "close", int);
    const int fails = failing("close", fd);
    const int closed = next(fd);
    if (fails && closed == 0) {
        errno = EIO;
        return -1;
    }
    return closed;
}

ssize_t read(int fd, void *buffer, size_t count)
{
    NEXT(ssize_t, "read", int, void *, size_t);
    static int done;
    const char *name = getenv("SORVIK_SHRINK_FILE");
    char target[PATH_MAX], link[64], opened[PATH_MAX];
    if (!done && name && realpath(name, target)) {
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        const ssize_t length = readlink(link, opened, sizeof opened - 1);
        struct stat info;
        if (length > 0 && (opened[length] = 0, strcmp(opened, target) == 0) && stat(target, &info) == 0) {
            done = 1;
            if (truncate(target, getenv("SORVIK_GROW") ? info.st_size * 2 : info.st_size / 2) != 0)
                abort();
        }
    }
    return next(fd, buffer, count);
}

static int calls;

// Whether this call of `name` is the one to fault; the fault's name in `fault`.
static int faultHere(const char *name, char *fault)
{
    const char *spec = getenv("SORVIK_FAULT");
    char call[32];
    int at = 0;
    if (!spec || sscanf(spec, "%31[^:]:%d:%15s", call, &at, fault) != 3 || strcmp(call, name) != 0)
        return 0;
    return __atomic_add_fetch(&calls, 1, __ATOMIC_SEQ_CST) == at;
}

static void before(const char *fault)
{
    if (strcmp(fault, "kill") == 0)
        raise(SIGKILL);
    if (strcmp(fault, "term") == 0)
        raise(SIGTERM);
    if (strcmp(fault, "int") == 0)
        raise(SIGINT);
}

static void after(const char *fault)
{
    if (strcmp(fault, "memory") != 0)
        return;
    malloc_trim(0);
    unsigned long pages = 0;
    FILE *statm = fopen("/proc/self/statm", "r");
    if (statm && fscanf(statm, "%lu", &pages) == 1) {
        const struct rlimit cap = {pages * (unsigned long)sysconf(_SC_PAGESIZE), RLIM_INFINITY};
        setrlimit(RLIMIT_AS, &cap);
    }
    if (statm)
        fclose(statm);
    while (malloc(1 << 16))
        ;
}

// The call made with the fault around it where this is the one to fault.
#define FAULTED(name, here, call) \
    char fault[16]; \
    const int faulting = (here) && faultHere(name, fault); \
    if (faulting) \
        before(fault); \
    const int result = call; \
    if (faulting) \
        after(fault); \
    return result

int renameat2(int from, const char *old, int to, const char *new, unsigned flags)
{
    NEXT(int, "renameat2", int, const char *, int, const char *, unsigned);
    FAULTED("renameat2", 1, next(from, old, to, new, flags));
}

int renameat(int from, const char *old, int to, const char *new)
{
    NEXT(int, "renameat", int, const char *, int, const char *);
    FAULTED("renameat", 1, next(from, old, to, new));
}

int rename(const char *old, const char *new)
{
    NEXT(int, "rename", const char *, const char *);
    FAULTED("rename", 1, next(old, new));
}

int linkat(int from, const char *old, int to, const char *new, int flags)
{
    NEXT(int, "linkat", int, const char *, int, const char *, int);
    FAULTED("linkat", 1, next(from, old, to, new, flags));
}

int openat(int folder, const char *path, int flags, ...)
{
    NEXT(int, "openat", int, const char *, int, ...);
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    FAULTED("create", flags & O_CREAT, next(folder, path, flags, mode));
}
