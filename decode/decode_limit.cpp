#include "decode/decode_limit.h"

#include <cerrno>
#include <cstdint>

namespace sorvik {

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

bool allocationAllowed(std::size_t bytes)
{
    if (bytes <= allocationLimit)
        return true;
    allocationRefused = true;
    errno = ENOMEM;
    return false;
}

} // namespace sorvik
