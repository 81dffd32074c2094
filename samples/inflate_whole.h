#pragma once

#include <cstddef>

// Room that inflateWhole may write beyond the output it returns: it copies
// matches eight bytes at a time.
constexpr std::size_t inflateSpareRoom = 8;

// Inflates the zlib stream `in` (header to check value, `inSize` bytes) into
// exactly `outSize` bytes at `out`, which has room for `inflateSpareRoom` more.
// True only when zlib's inflate, given the whole stream and more room than that
// in one call, would end the stream with these bytes and no input left over;
// false for every other stream, and also for a few rare ones that zlib takes
// (codes whose lengths leave part of the code space unused, a preset
// dictionary), which the caller then hands to zlib.
bool inflateWhole(const unsigned char *in, std::size_t inSize, unsigned char *out, std::size_t outSize);

// The same but for the check value, which is not compared: for the fuzz target,
// which writes the check value of what came out and then asks both decoders.
bool inflateWholeUnchecked(const unsigned char *in, std::size_t inSize, unsigned char *out, std::size_t outSize);
