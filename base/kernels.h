#pragma once

namespace sorvik {

// Whether this is the plain build, which runs every kernel as the rule states it,
// step by step, instead of its fast equivalent: the build the fast one is compared
// with, byte for byte.
#ifdef SORVIK_REFERENCE_KERNELS
constexpr bool plainKernels = true;
#else
constexpr bool plainKernels = false;
#endif

} // namespace sorvik
