#!/usr/bin/env bash
# The Debian package as a user meets it: unpacked into a scratch root, its sorvik
# trains on and classifies a small drawn data set from another directory with the
# same reports and model as the build folder's sorvik; every manual page renders
# without warnings; lintian reports no error.
# Usage: tests/package_test.sh PACKAGE.deb BUILD_DIR
set -euo pipefail
deb=$(realpath "$1")
build=$(realpath "$2")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
check() {  # check NAME COMMAND...: runs a check and counts it
  if "${@:2}"; then echo "package test: $1: passed"; else echo "package test: $1: FAILED"; failed=$((failed + 1)); fi
}

dpkg-deb -x "$deb" "$scratch/root"
bin=$scratch/root/usr/bin
"$bin/sorvik-glyphs" "$scratch/data/train" "$scratch/data/test" --size 24 --per-class 5 --seed 3 >/dev/null

run() {  # run DIR SORVIK: both commands in DIR, reports with their milliseconds masked
  mkdir -p "$1"
  (cd "$1" && { "$2" train ../data/train || true; "$2" class ../data/test trained.out || true; } |
    sed -E 's/[0-9]+(\.[0-9]+)?ms/Tms/g' >report.txt)
}
run "$scratch/packaged" "$bin/sorvik"
run "$scratch/built" "$build/sorvik"
check "reports equal the build folder's" cmp -s "$scratch/packaged/report.txt" "$scratch/built/report.txt"
check "models equal the build folder's" cmp -s "$scratch/packaged/trained.out" "$scratch/built/trained.out"
check "reports are complete" grep -q '^succ rate: ' "$scratch/packaged/report.txt"

pages_render() {
  local page warnings
  for page in "$scratch"/root/usr/share/man/man1/*.1.gz; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=all -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "$page: $warnings"; return 1; }
  done
  [ "$(ls "$scratch"/root/usr/share/man/man1 | wc -l)" -eq 4 ]
}
check "four manual pages render without warnings" pages_render

lintian_clean() {
  local errors
  errors=$(lintian "$deb" 2>/dev/null | grep '^E:' || true)
  [ -z "$errors" ] || { echo "$errors"; return 1; }
}
check "lintian reports no error" lintian_clean

echo "$((5 - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
