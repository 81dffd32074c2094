#pragma once

#include <cstddef>

// While an AllocationLimit lives, any single memory allocation of this thread
// larger than `bytes` fails as if memory had run out, in our code and in every
// library (Qt's image handlers, libpng, libjpeg, ...). Decoders then give up
// cleanly instead of building an image that a few bytes of a file announced.
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

// Lets the heap of small blocks grow 64 MiB at a time on 2 MiB pages, as the
// large blocks already are: every 4 KiB page touched for the first time costs a
// fault, and a program that reads tens of thousands of files touches thousands.
// Called once, at the start of a program, before its threads.
void allocateOnLargePages();
