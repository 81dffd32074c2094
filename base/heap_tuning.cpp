#include "base/heap_tuning.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

namespace sorvik {

namespace {

constexpr std::size_t largePage = std::size_t(1) << 21;
std::atomic<bool> padded{false};

} // namespace

void tuneHeap()
{
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TOP_PAD, 64 << 20);
    padded = true;
    // Small blocks are taken until the heap has grown once; then its whole 2 MiB
    // pages are marked for large pages.
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

bool releaseHeapPad()
{
    if (!padded.exchange(false))
        return false;
    mallopt(M_TOP_PAD, 0);
    malloc_trim(0);  // what the pad had already taken goes back too
    return true;
}

} // namespace sorvik
