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

// Running out of memory is never taken for a verdict on the data: an allocation
// that fails for want of memory, anywhere in the process (outside the limit
// above), ends the run at once with one line on standard output, "<prefix>: this
// machine ran out of memory: the run held 160.2 MB and needed 1.1 MB more (its
// limit is 167.8 MB)", and status 1. No exception is thrown through a library's code and
// no thread waits on a lock that another left taken. Images decoded meanwhile
// are not judged.
void setOutOfMemoryPrefix(const char *prefix);  // "cannot train"; a string that lives on
void setConsoleMidLine(bool midLine);           // the line goes on a line of its own
[[noreturn]] void endOutOfMemory(std::size_t asked);

// Ends the run the same way for another want of the machine's, not the data's:
// "<prefix>: <reason>".
[[noreturn]] void endRun(const char *reason);

// Lets the heap of small blocks grow 64 MiB at a time on 2 MiB pages, as the
// large blocks already are: every 4 KiB page touched for the first time costs a
// fault, and a program that reads tens of thousands of files touches thousands.
// Called once, at the start of a program, before its threads.
void allocateOnLargePages();
