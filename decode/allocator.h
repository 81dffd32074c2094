#pragma once

// The allocator of every executable that decodes images, and its rule.
//
// What it limits: every allocation of the process goes first to the decoding
// limit of its thread (decode_limit.h). While a sample decodes, a request beyond
// what any sample may take (sampleLimits.allocation, pixels.h) is refused: it
// returns null, the decoder gives up, and the file is skipped with its reason.
//
// What it ends: any other allocation that fails, in any thread and in any
// library, ends the run at once with one line that gives what the run held and
// what it asked for (base/run_end.h), after the heap has given back its reserve
// and the request has been tried once more. No decoder ever takes a want of
// memory for a fault of its file, and no exception crosses a library.
//
// Why malloc itself: Qt 5 has no limit on what one image reader may allocate, and
// its image handlers and the libraries under them (libpng, libjpeg, libtiff,
// libwebp) allocate through malloc and its kin. The C allocator is the only place
// that sees all they take, so these executables replace it: glibc's own behind
// the checks. Each lists decode/allocator.cpp among its own sources, so that no
// link order can leave it out (tests/allocator_test.sh checks the symbols).
//
// Under AddressSanitizer, whose runtime owns malloc, the build runs the
// sanitizer's policy instead: allocations beyond 129 MiB return null, and
// nothing else is limited. SORVIK_ADDRESS_SANITIZER says which policy a build
// runs, for the allocator and its tests alike.

#if defined(__SANITIZE_ADDRESS__)
#define SORVIK_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SORVIK_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef SORVIK_ADDRESS_SANITIZER
#define SORVIK_ADDRESS_SANITIZER 0
#endif

namespace sorvik {

// True; a program that calls it cannot be linked without the allocator.
bool allocatorInPlace();

} // namespace sorvik
