#pragma once

#include <cstddef>

namespace sorvik {

// While an AllocationLimit lives, any single memory allocation of this thread
// larger than `bytes` fails as if memory had run out, in our code and in every
// library (Qt's image handlers, libpng, libjpeg, ...), through the allocator of
// decode/allocator.cpp. Decoders then give up cleanly instead of building an
// image that a few bytes of a file announced.
class AllocationLimit {
public:
    explicit AllocationLimit(std::size_t bytes);
    ~AllocationLimit();
    AllocationLimit(const AllocationLimit &) = delete;
    AllocationLimit &operator=(const AllocationLimit &) = delete;

    // Whether an allocation was refused while this limit lived.
    bool refused() const;

private:
    std::size_t previousLimit;
    bool previousRefused;
};

// While an AllocationCountdown lives, the n-th allocation of this thread from now
// (1: the next) fails as memory that ran out, within a limit or not: the run ends
// with its one line. The tests walk n over every allocation of a decode, as
// SQLite's tests walk a failing allocation over an operation, to see that no
// allocation of any decoder escapes that rule.
class AllocationCountdown {
public:
    explicit AllocationCountdown(long n);
    ~AllocationCountdown();
    AllocationCountdown(const AllocationCountdown &) = delete;
    AllocationCountdown &operator=(const AllocationCountdown &) = delete;
};

// What the allocator does with a request of this thread: hand it on, refuse it
// (noted for the limit that lives), or end the run for want of memory.
enum class Allocation { Allowed, Refused, OutOfMemory };
Allocation allocationAllowed(std::size_t bytes);

} // namespace sorvik
