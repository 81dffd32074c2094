#include "decode/allocator.h"

#include "base/heap_tuning.h"
#include "base/run_end.h"
#include "decode/decode_limit.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>

#include <malloc.h>

namespace sorvik {

bool allocatorInPlace()
{
    return true;
}

} // namespace sorvik

#if SORVIK_ADDRESS_SANITIZER
// AddressSanitizer owns malloc: it is told to return null instead of aborting,
// and to refuse, in every thread and at any time, what no decoding may take at once
// (8 bytes for each of 2^24 pixels, and 1 MiB of row padding). Sanitized builds run
// the tests and fuzzing only, which never need more.
extern "C" const char *__asan_default_options()
{
    return "allocator_may_return_null=1:max_allocation_size_mb=129";
}
#else
// glibc's allocator under its own names: every way to allocate checks the limit
// and hands the request on; memory from any of them goes back through free.
extern "C" {
void *__libc_malloc(std::size_t);
void *__libc_memalign(std::size_t, std::size_t);
void *__libc_calloc(std::size_t, std::size_t);
void *__libc_realloc(void *, std::size_t);
void *__libc_valloc(std::size_t);
void *__libc_pvalloc(std::size_t);
void __libc_free(void *);
}

namespace {

using sorvik::Allocation;

// What a failed allocation means: nothing for a request of no bytes or an invalid
// one; else, once the heap has let go of its pad, memory ran out, and the run ends.
template <class Allocate>
void *orOutOfMemory(std::size_t bytes, const Allocate &allocate)
{
    void *block = allocate();
    if (block || bytes == 0 || errno != ENOMEM)
        return block;
    if (sorvik::releaseHeapPad() && (block = allocate()))
        return block;
    sorvik::endOutOfMemory(bytes);
}

// Every request asks the decoding limit of its thread first.
template <class Allocate>
void *guarded(std::size_t bytes, const Allocate &allocate)
{
    switch (sorvik::allocationAllowed(bytes)) {
    case Allocation::Refused:
        return nullptr;
    case Allocation::OutOfMemory:
        sorvik::endOutOfMemory(bytes);
    case Allocation::Allowed:
        break;
    }
    return orOutOfMemory(bytes, allocate);
}

} // namespace

extern "C" {
void *malloc(std::size_t bytes)
{
    return guarded(bytes, [&] { return __libc_malloc(bytes); });
}

void *calloc(std::size_t count, std::size_t size)
{
    const std::size_t bytes = count * size;
    if (size != 0 && bytes / size != count)
        return __libc_calloc(count, size);  // overflows: glibc refuses it itself
    return guarded(bytes, [&] { return __libc_calloc(count, size); });
}

void *realloc(void *pointer, std::size_t bytes)
{
    return guarded(bytes, [&] { return __libc_realloc(pointer, bytes); });
}

void *reallocarray(void *pointer, std::size_t count, std::size_t size)
{
    const std::size_t bytes = count * size;
    if (size != 0 && bytes / size != count) {
        errno = ENOMEM;
        return nullptr;
    }
    return realloc(pointer, bytes);
}

void *memalign(std::size_t alignment, std::size_t bytes)
{
    return guarded(bytes, [&] { return __libc_memalign(alignment, bytes); });
}

void *aligned_alloc(std::size_t alignment, std::size_t bytes)
{
    return memalign(alignment, bytes);
}

int posix_memalign(void **block, std::size_t alignment, std::size_t bytes)
{
    if (alignment < sizeof(void *) || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void *aligned = memalign(alignment, bytes);
    if (!aligned && bytes != 0)
        return ENOMEM;
    *block = aligned;
    return 0;
}

void *valloc(std::size_t bytes)
{
    return guarded(bytes, [&] { return __libc_valloc(bytes); });
}

void *pvalloc(std::size_t bytes)
{
    return guarded(bytes, [&] { return __libc_pvalloc(bytes); });
}

void free(void *pointer)
{
    __libc_free(pointer);
}
}
#endif
