#include "decode/decode_limit.h"

#include <cerrno>
#include <cstdint>

namespace sorvik {

namespace {

thread_local std::size_t allocationLimit = SIZE_MAX;
thread_local bool allocationRefused = false;
thread_local long countdown = 0;  // 0: none

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

AllocationCountdown::AllocationCountdown(long n)
{
    countdown = n;
}

AllocationCountdown::~AllocationCountdown()
{
    countdown = 0;
}

Allocation allocationAllowed(std::size_t bytes)
{
    if (countdown > 0 && --countdown == 0)
        return errno = ENOMEM, Allocation::OutOfMemory;
    if (bytes <= allocationLimit)
        return Allocation::Allowed;
    allocationRefused = true;
    errno = ENOMEM;
    return Allocation::Refused;
}

} // namespace sorvik
