#!/usr/bin/env bash
# Every executable that decodes images carries the allocator of decode/allocator.cpp:
# its marker, and (outside the sanitizer builds, whose runtime owns malloc) its own
# definition of every way to allocate, exported for the libraries that decode.
# Usage: allocator_test.sh [--sanitized] EXECUTABLE...
set -euo pipefail
sanitized=0
[ "${1:-}" = --sanitized ] && { sanitized=1; shift; }
status=0
for program in "$@"; do
  symbols=$(nm -C "$program")
  grep -q ' T sorvik::allocatorInPlace()$' <<<"$symbols" || { echo "$program: no decode/allocator.cpp"; status=1; }
  [ $sanitized -eq 1 ] && continue
  exported=$(nm -D --defined-only "$program")
  for name in malloc calloc realloc free posix_memalign aligned_alloc memalign; do
    grep -qE " T $name\$" <<<"$exported" || { echo "$program: $name is not its own"; status=1; }
  done
done
[ $status -eq 0 ] && echo "allocator_test: $# executables carry the allocator"
exit $status
