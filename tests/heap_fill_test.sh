#!/usr/bin/env bash
# The same directory trained four times, by sorvik and by its plain build, each with
# the heap's memory filled with two different bytes (MALLOC_PERTURB_): the four
# models must be equal byte for byte, so that no pixel of any kind of image comes
# from memory a decoder never wrote. The directory holds PNG files of every colour
# type and depth, with and without transparency, interlaced or not (16-bit RGB with
# a key colour among them, which is refused), and BMP files of every depth.
# Usage: heap_fill_test.sh SORVIK SORVIK_REFERENCE
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work/train" <<'PY'
import os, random, struct, sys, zlib
out = sys.argv[1]
os.makedirs(out)
random.seed(7)
w = h = 28
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff)
def png(ctype, depth, trns, interlaced):
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[ctype]
    passes = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)] if interlaced else [(0, 0, 1, 1)]
    rows = b''
    for x0, y0, dx, dy in passes:
        pw, ph = (w - x0 + dx - 1) // dx, (h - y0 + dy - 1) // dy
        for _ in range(ph if pw else 0):
            rows += bytes([random.randrange(5)]) + bytes(random.randrange(256) for _ in range((pw * channels * depth + 7) // 8))
    body = chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, depth, ctype, 0, 0, int(interlaced)))
    if ctype == 3:
        body += chunk(b'PLTE', bytes(random.randrange(256) for _ in range(3 << depth)))
    if trns:
        body += chunk(b'tRNS', bytes(random.randrange(256) for _ in range(1 << depth)) if ctype == 3 else b'\0\1' * (3 if ctype == 2 else 1))
    return b'\x89PNG\r\n\x1a\n' + body + chunk(b'IDAT', zlib.compress(rows)) + chunk(b'IEND', b'')
def bmp(bits):
    palette = bytes(random.randrange(256) for _ in range(4 << bits)) if bits <= 8 else b''
    pixels = bytes(random.randrange(256) for _ in range((w * bits + 31) // 32 * 4 * h))
    offset = 54 + len(palette)
    return (b'BM' + struct.pack('<IHHI', offset + len(pixels), 0, 0, offset)
            + struct.pack('<IiiHHIIiiII', 40, w, h, 1, bits, 0, len(pixels), 2835, 2835, 0, 0) + palette + pixels)
n = 0
for ctype, depths in [(0, [1, 2, 4, 8, 16]), (2, [8, 16]), (3, [1, 2, 4, 8]), (4, [8, 16]), (6, [8, 16])]:
    for depth in depths:
        for trns in (False, True):
            for interlaced in (False, True):
                n += 1
                open(f'{out}/{"abc"[n % 3]}-{n:03d}.png', 'wb').write(png(ctype, depth, trns, interlaced))
for bits in (1, 4, 8, 16, 24, 32):
    n += 1
    open(f'{out}/{"abc"[n % 3]}-{n:03d}.bmp', 'wb').write(bmp(bits))
PY

for program in "$1" "$2"; do
  for fill in 17 170; do
    mkdir -p "$work/$fill-$(basename "$program")"
    (cd "$work/$fill-$(basename "$program")" && MALLOC_PERTURB_=$fill "$program" train "$work/train" >report || true)
  done
done
status=0
for model in "$work"/*/trained.out; do
  if ! cmp -s "$work/17-$(basename "$1")/trained.out" "$model"; then
    echo "heap_fill_test: $model differs from $work/17-$(basename "$1")/trained.out"
    status=1
  fi
done
grep -q "16-bit colour with a transparent key colour" "$work/17-$(basename "$1")/report" || { echo "heap_fill_test: the 16-bit key-colour files were not refused"; status=1; }
[ "$(ls "$work"/*/trained.out | wc -l)" -eq 4 ] || { echo "heap_fill_test: a run wrote no model"; status=1; }
[ $status -eq 0 ] && echo "heap_fill_test: four equal models over $(ls "$work/train" | wc -l) images"
exit $status
