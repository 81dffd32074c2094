// Loaded with LD_PRELOAD by the tests: a fault at the N-th call of one of the
// calls that commit files (renameat2, renameat, rename, linkat, and openat that
// creates a file), as SORVIK_FAULT="call:N:fault" says. The fault is a signal
// that ends the process (kill, term or int) just before the call, or, for
// "memory", an address space capped just after it to what the process holds,
// and then allocations until one fails, as memory that runs out at that point.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

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

// The next definition of a call, and the call made through it with the fault
// around it where this is the one to fault.
#define NEXT(type, name, ...) static type (*next)(__VA_ARGS__); if (!next) next = (type(*)(__VA_ARGS__))dlsym(RTLD_NEXT, name)
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
