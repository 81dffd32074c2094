#include "samples/allocation_limit.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/resource.h>

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

thread_local std::size_t allocationLimit = SIZE_MAX;
thread_local bool allocationRefused = false;

} // namespace

AllocationLimit::AllocationLimit(std::size_t bytes) : previousLimit(allocationLimit), previousRefused(allocationRefused)
{
    allocationLimit = bytes;
    allocationRefused = false;
}

AllocationLimit::~AllocationLimit()
{
    allocationLimit = previousLimit;
    allocationRefused = previousRefused;
}

bool AllocationLimit::refused() const
{
    return allocationRefused;
}

namespace {

std::atomic<const char *> outOfMemoryPrefix{"cannot go on"};
std::atomic<bool> consoleMidLine{false};

// The address space the process holds, in bytes (its first figure in /proc), read
// without allocating.
double addressSpace()
{
    char text[64] = {};
    const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    const ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    return got > 0 ? std::strtod(text, nullptr) * double(::sysconf(_SC_PAGESIZE)) : 0;
}

} // namespace

void setOutOfMemoryPrefix(const char *prefix)
{
    outOfMemoryPrefix = prefix;
}

void setConsoleMidLine(bool midLine)
{
    consoleMidLine = midLine;
}

void endRun(const char *reason)
{
    // The first thread to end the run says why; any other waits for the end.
    static std::atomic_flag ending = ATOMIC_FLAG_INIT;
    if (ending.test_and_set())
        for (;;)
            ::pause();
    char line[512];
    int length = std::snprintf(line, sizeof line, "%s%s: %s\n", consoleMidLine ? "\n" : "", outOfMemoryPrefix.load(), reason);
    length = std::min(length, int(sizeof line) - 1);
    std::fflush(stdout);
    for (const char *p = line; length > 0;) {
        const ssize_t written = ::write(STDOUT_FILENO, p, std::size_t(length));
        if (written <= 0 && errno != EINTR)
            break;
        if (written > 0)
            p += written, length -= int(written);
    }
    std::_Exit(1);
}

void endOutOfMemory(std::size_t asked)
{
    // Formatted without allocating: there is nothing left to allocate.
    char reason[256];
    int length = std::snprintf(reason, sizeof reason, "this machine ran out of memory: the run held %.1f MB and needed ", addressSpace() / 1e6);
    const std::size_t room = sizeof reason - std::size_t(length);
    length += asked >= 100000 ? std::snprintf(reason + length, room, "%.1f MB more", double(asked) / 1e6)
              : asked >= 1000 ? std::snprintf(reason + length, room, "%.1f kB more", double(asked) / 1e3)
              : asked > 0     ? std::snprintf(reason + length, room, "%zu bytes more", asked)
                              : std::snprintf(reason + length, room, "more");
    rlimit limit;
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        std::snprintf(reason + length, sizeof reason - std::size_t(length), " (its limit is %.1f MB)", double(limit.rlim_cur) / 1e6);
    endRun(reason);
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SORVIK_ADDRESS_SANITIZER
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(SORVIK_ADDRESS_SANITIZER)
// AddressSanitizer owns malloc: it is told to return null instead of aborting,
// and to refuse, in every thread and at any time, what no decoding may take at once
// (8 bytes for each of 2^24 pixels, and 1 MiB of row padding). Sanitized builds run
// the tests and fuzzing only, which never need more.
extern "C" const char *__asan_default_options()
{
    return "allocator_may_return_null=1:max_allocation_size_mb=129";
}

void allocateOnLargePages() {}
#else
// glibc's allocator under its own names: the program's malloc family checks the
// limit and hands everything else on. Memory from memalign and friends goes back
// through free to the same allocator.
namespace {

bool allowed(std::size_t bytes)
{
    if (bytes <= allocationLimit)
        return true;
    allocationRefused = true;
    errno = ENOMEM;
    return false;
}

constexpr std::size_t largePage = std::size_t(1) << 21;

// Large blocks are fresh mappings from the kernel, each page of which costs a
// fault when first touched; asked to back them with 2 MiB pages, it takes one
// fault where it took 512.
void *onLargePages(void *block, std::size_t bytes)
{
    if (block && bytes >= largePage) {
        const std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(block) + largePage - 1) & ~(largePage - 1);
        const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(block) + bytes) & ~(largePage - 1);
        if (end > first)
            ::madvise(reinterpret_cast<void *>(first), end - first, MADV_HUGEPAGE);
    }
    return block;
}

} // namespace

void allocateOnLargePages()
{
    // From now on the allocator grows its heap by what it needs and 64 MiB more.
    // Small blocks are taken until it has grown once; then its whole 2 MiB pages
    // are marked for large pages. Memory that is never touched costs nothing.
    mallopt(M_TOP_PAD, 64 << 20);
    const void *const before = sbrk(0);
    void *taken[8];
    int count = 0;
    while (count < 8 && sbrk(0) == before)
        taken[count++] = std::malloc(largePage / 64);
    const std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(before) + largePage - 1) & ~(largePage - 1);
    const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(sbrk(0)) & ~(largePage - 1);
    if (end > first)
        ::madvise(reinterpret_cast<void *>(first), end - first, MADV_HUGEPAGE);
    while (count > 0)
        std::free(taken[--count]);
}

extern "C" {
void *__libc_malloc(std::size_t);
void *__libc_memalign(std::size_t, std::size_t);
void *__libc_calloc(std::size_t, std::size_t);
void *__libc_realloc(void *, std::size_t);
void __libc_free(void *);
}

namespace {

// What a failed allocation means: nothing for a request of no bytes; else the heap
// may first let go of its top pad, which must never decide whether a run fits;
// else memory ran out, and the run ends.
template <class Allocate>
void *orOutOfMemory(void *block, std::size_t bytes, const Allocate &allocate)
{
    if (block || bytes == 0)
        return block;
    static std::atomic<bool> padded{true};
    if (padded.exchange(false)) {
        mallopt(M_TOP_PAD, 0);
        if ((block = allocate()))
            return block;
    }
    endOutOfMemory(bytes);
}

} // namespace

extern "C" {
void *malloc(std::size_t bytes)
{
    if (!allowed(bytes))
        return nullptr;
    // A large block starts and ends on a 2 MiB boundary, so that all of it, not only
    // its interior, lies on large pages (a block of 512 KiB and more takes at most
    // four times its size).
    if (bytes >= largePage / 4 && bytes <= SIZE_MAX - largePage) {
        const std::size_t whole = (bytes + largePage - 1) & ~(largePage - 1);
        const auto allocate = [&] { return __libc_memalign(largePage, whole); };
        return onLargePages(orOutOfMemory(allocate(), whole, allocate), whole);
    }
    const auto allocate = [&] { return __libc_malloc(bytes); };
    return orOutOfMemory(allocate(), bytes, allocate);
}

void *calloc(std::size_t count, std::size_t size)
{
    const std::size_t bytes = count * size;
    if (size != 0 && bytes / size != count)
        return __libc_calloc(count, size);  // overflows: glibc refuses it itself
    if (!allowed(bytes))
        return nullptr;
    const auto allocate = [&] { return __libc_calloc(count, size); };
    return onLargePages(orOutOfMemory(allocate(), bytes, allocate), bytes);
}

void *realloc(void *pointer, std::size_t bytes)
{
    if (!allowed(bytes))
        return nullptr;
    const auto allocate = [&] { return __libc_realloc(pointer, bytes); };
    return onLargePages(orOutOfMemory(allocate(), bytes, allocate), bytes);
}

void free(void *pointer)
{
    __libc_free(pointer);
}
}
#endif
