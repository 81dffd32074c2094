#pragma once

namespace sorvik {

// The allocator of every executable that decodes images: glibc's own, asked first
// whether this thread's decoding limit allows the request (decode_limit.h), and
// ending the run with one line when memory runs out (base/run_end.h), so that no
// decoder takes a want of memory for a fault of its file and no exception crosses
// a library. Qt's image handlers and the libraries under them allocate through
// malloc and its kin, which is why the C allocator itself is the only place that
// sees all they take; each such executable lists decode/allocator.cpp among its
// own sources, so that no link order can leave it out.

// True; a program that calls it cannot be linked without the allocator.
bool allocatorInPlace();

} // namespace sorvik
