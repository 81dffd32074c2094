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

// Whether this thread may allocate `bytes` at once; a refusal is noted for the
// limit that lives. Asked by the allocator before every allocation.
bool allocationAllowed(std::size_t bytes);

} // namespace sorvik
