#include "samples/inflate_whole.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

// A deflate decoder for the common case only. Whatever zlib would refuse, it
// refuses too, and it refuses more: every code must fill its code space, as the
// codes of every usual encoder do. On what it takes it gives zlib's bytes, since
// both follow the same format; the tests compare the two on many streams, whole
// and damaged.

namespace {

// The input as a stream of bits, the first in the lowest bit of each byte. The
// buffer is topped up eight bytes at a time while eight remain; bits it holds
// beyond `count` are the same input bits again, never garbage.
class BitReader {
public:
    BitReader(const unsigned char *begin, const unsigned char *end) : p(begin), end(end) {}

    // At least 56 bits in the buffer, or all that the input has left.
    void refill()
    {
        if (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, sizeof word);
            buffer |= word << count;
            p += (63 - count) >> 3;
            count |= 56;
        } else {
            for (; count <= 56 && p < end; ++p, count += 8)
                buffer |= std::uint64_t(*p) << count;
        }
    }

    int available() const { return count; }
    std::uint32_t peek(int n) const { return std::uint32_t(buffer & ((std::uint64_t(1) << n) - 1)); }
    void drop(int n)
    {
        buffer >>= n;
        count -= n;
    }

    // The next n bits (at most 32); false when the input ends first.
    bool take(int n, std::uint32_t &value)
    {
        if (count < n) {
            refill();
            if (count < n)
                return false;
        }
        value = peek(n);
        drop(n);
        return true;
    }

    // The first byte after the bits taken, the rest of the current byte dropped.
    const unsigned char *bytePosition()
    {
        drop(count & 7);
        return p - count / 8;
    }

    void restartAt(const unsigned char *at)
    {
        p = at;
        buffer = 0;
        count = 0;
    }

private:
    const unsigned char *p, *end;
    std::uint64_t buffer = 0;
    int count = 0;
};

constexpr int maxBits = 15;

// A prefix code that fills its code space. Codes of up to `rootBits` bits are
// looked up in one step (entry: symbol << 4 | length); longer ones, rare, are
// found by counting codes of each length, as in the canonical order.
template <int rootBits, int maxSymbols>
struct Code {
    std::uint16_t table[1 << rootBits];
    std::uint16_t counts[maxBits + 1];
    std::uint16_t symbols[maxSymbols];

    // False unless the lengths (0: unused) make a complete code.
    bool build(const std::uint8_t *lengths, int n)
    {
        // Four counts side by side: runs of equal lengths do not wait on each other.
        std::uint16_t partial[4][maxBits + 1] = {};
        int s = 0;
        for (; s + 4 <= n; s += 4)
            for (int k = 0; k < 4; ++k)
                ++partial[k][lengths[s + k]];
        for (; s < n; ++s)
            ++partial[0][lengths[s]];
        for (int length = 0; length <= maxBits; ++length)
            counts[length] = std::uint16_t(partial[0][length] + partial[1][length] + partial[2][length] + partial[3][length]);
        int left = 1;
        for (int length = 1; length <= maxBits; ++length) {
            left = 2 * left - counts[length];
            if (left < 0)
                return false;  // over-subscribed
        }
        if (left != 0)
            return false;  // incomplete
        std::uint16_t offsets[maxBits + 2];
        std::uint32_t next[maxBits + 1];
        offsets[1] = 0;
        std::uint32_t code = 0;
        counts[0] = 0;
        for (int length = 1; length <= maxBits; ++length) {
            offsets[length + 1] = std::uint16_t(offsets[length] + counts[length]);
            code = (code + counts[length - 1]) << 1;
            next[length] = code;
        }
        std::fill(table, table + (1 << rootBits), std::uint16_t(0));
        for (s = 0; s < n; ++s) {
            const int length = lengths[s];
            if (length == 0)
                continue;
            symbols[offsets[length]++] = std::uint16_t(s);
            if (length > rootBits)
                continue;
            std::uint32_t reversed = 0;
            for (std::uint32_t c = next[length]++, i = 0; i < std::uint32_t(length); ++i, c >>= 1)
                reversed = reversed << 1 | (c & 1);
            for (std::uint32_t i = reversed; i < (1u << rootBits); i += 1u << length)
                table[i] = std::uint16_t(s << 4 | length);
        }
        return true;
    }

    // The next symbol; false when the input ends inside its code.
    bool decode(BitReader &bits, int &symbol) const
    {
        if (bits.available() < maxBits)
            bits.refill();
        const std::uint32_t entry = table[bits.peek(rootBits)];
        if (entry != 0) {
            const int length = int(entry & 15);
            if (length > bits.available())
                return false;
            bits.drop(length);
            symbol = int(entry >> 4);
            return true;
        }
        // Canonical order: the codes of each length are consecutive numbers,
        // read first bit first.
        const std::uint32_t pending = bits.peek(std::min(maxBits, bits.available()));
        std::uint32_t code = 0, first = 0;
        for (int length = 1, index = 0; length <= std::min(maxBits, bits.available()); ++length) {
            code |= (pending >> (length - 1)) & 1;
            const std::uint32_t count = counts[length];
            if (code - first < count) {
                symbol = symbols[index + int(code - first)];
                bits.drop(length);
                return true;
            }
            index += int(count);
            first = (first + count) << 1;
            code <<= 1;
        }
        return false;
    }
};

using LiteralCode = Code<9, 288>;
using DistanceCode = Code<6, 32>;

constexpr std::uint16_t lengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                          31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t lengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t distanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                            193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::uint8_t distanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// The codes of a block with fixed codes. Their literal/length code holds two
// symbols (286, 287) and their distance code two (30, 31) that no stream may
// use; decoding refuses them.
struct FixedCodes {
    LiteralCode literals;
    DistanceCode distances;
    FixedCodes()
    {
        std::uint8_t lengths[288];
        std::fill(lengths, lengths + 144, 8);
        std::fill(lengths + 144, lengths + 256, 9);
        std::fill(lengths + 256, lengths + 280, 7);
        std::fill(lengths + 280, lengths + 288, 8);
        literals.build(lengths, 288);
        std::fill(lengths, lengths + 32, 5);
        distances.build(lengths, 32);
    }
};

// Copies a match of `length` bytes from `distance` back, eight bytes at a time
// where they do not overlap within a step (up to 7 bytes beyond the match may be
// written, to be overwritten later or to fall into the spare room).
inline void copyMatch(unsigned char *to, std::size_t distance, std::size_t length)
{
    const unsigned char *from = to - distance;
    if (distance >= 8) {
        for (std::size_t i = 0; i < length; i += 8)
            std::memcpy(to + i, from + i, 8);
    } else if (distance == 1) {
        std::memset(to, to[-1], length);
    } else {
        for (std::size_t i = 0; i < length; ++i)
            to[i] = from[i];
    }
}

// The symbols of one block up to its end, into [*at, end).
bool inflateBlock(BitReader &bits, const LiteralCode &literals, const DistanceCode &distances, unsigned char *start, unsigned char *&at,
                  unsigned char *end)
{
    unsigned char *o = at;
    for (;;) {
        bits.refill();
        int symbol;
        if (!literals.decode(bits, symbol))
            return false;
        if (symbol < 256) {
            if (o == end)
                return false;  // more data than the image holds
            *o++ = std::uint8_t(symbol);
            continue;
        }
        if (symbol == 256)
            break;
        if (symbol > 285)
            return false;  // zlib: invalid literal/length code
        std::uint32_t extra;
        if (!bits.take(lengthExtra[symbol - 257], extra))
            return false;
        const std::size_t length = lengthBase[symbol - 257] + extra;
        int distanceSymbol;
        if (!distances.decode(bits, distanceSymbol) || distanceSymbol > 29)
            return false;  // zlib: invalid distance code
        if (!bits.take(distanceExtra[distanceSymbol], extra))
            return false;
        const std::size_t distance = distanceBase[distanceSymbol] + extra;
        if (distance > std::size_t(o - start))
            return false;  // zlib: invalid distance too far back
        if (length > std::size_t(end - o))
            return false;
        copyMatch(o, distance, length);
        o += length;
    }
    at = o;
    return true;
}

// Reads the code lengths of a block with its own codes and builds them.
bool readCodes(BitReader &bits, LiteralCode &literals, DistanceCode &distances)
{
    static constexpr std::uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    std::uint32_t literalCount, distanceCount, lengthCount;
    if (!bits.take(5, literalCount) || !bits.take(5, distanceCount) || !bits.take(4, lengthCount))
        return false;
    literalCount += 257;
    distanceCount += 1;
    lengthCount += 4;
    if (literalCount > 286 || distanceCount > 30)
        return false;  // zlib: too many length or distance symbols
    std::uint8_t lengths[286 + 30] = {};
    for (std::uint32_t i = 0; i < lengthCount; ++i) {
        std::uint32_t length;
        if (!bits.take(3, length))
            return false;
        lengths[order[i]] = std::uint8_t(length);
    }
    Code<7, 19> lengthCode;
    if (!lengthCode.build(lengths, 19))
        return false;
    const std::uint32_t total = literalCount + distanceCount;
    std::fill(lengths, lengths + 19, std::uint8_t(0));
    for (std::uint32_t have = 0; have < total;) {
        int symbol;
        if (!lengthCode.decode(bits, symbol))
            return false;
        if (symbol < 16) {
            lengths[have++] = std::uint8_t(symbol);
            continue;
        }
        std::uint32_t repeat;
        std::uint8_t value = 0;
        if (symbol == 16) {
            if (have == 0 || !bits.take(2, repeat))
                return false;  // zlib: invalid bit length repeat
            value = lengths[have - 1];
            repeat += 3;
        } else if (symbol == 17) {
            if (!bits.take(3, repeat))
                return false;
            repeat += 3;
        } else {
            if (!bits.take(7, repeat))
                return false;
            repeat += 11;
        }
        if (have + repeat > total)
            return false;  // zlib: invalid bit length repeat
        std::fill(lengths + have, lengths + have + repeat, value);
        have += repeat;
    }
    if (lengths[256] == 0)
        return false;  // zlib: invalid code -- missing end-of-block
    return literals.build(lengths, int(literalCount)) && distances.build(lengths + literalCount, int(distanceCount));
}

// The stream up to its check value, which is returned in `check`.
bool inflateToCheck(const unsigned char *in, std::size_t inSize, unsigned char *out, std::size_t outSize, std::uint32_t &check)
{
    static const FixedCodes fixed;
    // The zlib header: deflate, a window of at most 32 KiB, its check, no dictionary.
    if (inSize < 2 + 4 || (in[0] & 0x0f) != 8 || (in[0] >> 4) > 7 || (in[0] * 256u + in[1]) % 31 != 0 || (in[1] & 0x20) != 0)
        return false;
    const unsigned char *const inEnd = in + inSize;
    BitReader bits(in + 2, inEnd);
    unsigned char *o = out, *const outEnd = out + outSize;
    LiteralCode literals;
    DistanceCode distances;
    for (std::uint32_t last = 0; last == 0;) {
        std::uint32_t type;
        if (!bits.take(1, last) || !bits.take(2, type))
            return false;
        if (type == 0) {  // stored: its length, the length's complement, the bytes
            const unsigned char *p = bits.bytePosition();
            if (inEnd - p < 4)
                return false;
            const std::size_t length = std::size_t(p[0] | p[1] << 8);
            if (length != (~std::size_t(p[2] | p[3] << 8) & 0xffff))
                return false;  // zlib: invalid stored block lengths
            p += 4;
            if (std::size_t(inEnd - p) < length || std::size_t(outEnd - o) < length)
                return false;
            std::memcpy(o, p, length);
            o += length;
            bits.restartAt(p + length);
        } else if (type == 1) {
            if (!inflateBlock(bits, fixed.literals, fixed.distances, out, o, outEnd))
                return false;
        } else if (type == 2) {
            if (!readCodes(bits, literals, distances) || !inflateBlock(bits, literals, distances, out, o, outEnd))
                return false;
        } else {
            return false;  // zlib: invalid block type
        }
    }
    // The check value ends the input, and the output is whole.
    const unsigned char *p = bits.bytePosition();
    if (inEnd - p != 4 || o != outEnd)
        return false;
    check = std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
    return true;
}

} // namespace

bool inflateWhole(const unsigned char *in, std::size_t inSize, unsigned char *out, std::size_t outSize)
{
    std::uint32_t check;
    return inflateToCheck(in, inSize, out, outSize, check) && adler32(adler32(0, nullptr, 0), out, uInt(outSize)) == check;
}

bool inflateWholeUnchecked(const unsigned char *in, std::size_t inSize, unsigned char *out, std::size_t outSize)
{
    std::uint32_t check;
    return inflateToCheck(in, inSize, out, outSize, check);
}
