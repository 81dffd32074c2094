// Loaded with LD_PRELOAD by the tests: the first read() from the file named by
// SORVIK_SHRINK_FILE first cuts that file to half its size, as another process
// overwriting a model would, at a point the test controls; with SORVIK_GROW=1 it
// doubles the file instead, as one appending to it would.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

ssize_t read(int fd, void *buffer, size_t count)
{
    static ssize_t (*next)(int, void *, size_t);
    static int done;
    if (!next)
        next = (ssize_t(*)(int, void *, size_t))dlsym(RTLD_NEXT, "read");
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
