#include "model/number_parsing.h"

#include <QString>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>
#include <limits>

namespace sorvik {

namespace {

// 10^e for 0 <= e <= 22, where every power of ten is an exact double.
double exactPowerOfTen(int e)
{
    static constexpr double table[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    return table[e];
}

// The value of eight digit characters, the first in the lowest byte; zero bytes
// count as leading zeros.
inline std::uint32_t eightDigits(std::uint64_t word)
{
    word = (word & 0x0f0f0f0f0f0f0f0f) * 2561 >> 8;
    word = (word & 0x00ff00ff00ff00ff) * 6553601 >> 16;
    return std::uint32_t((word & 0x0000ffff0000ffff) * 42949672960001 >> 32);
}

// The value of the first `count` (1 to 8) digit characters of `text`.
inline std::uint32_t leadingValue(const char *text, int count)
{
    std::uint64_t word;
    std::memcpy(&word, text, sizeof word);
    return eightDigits(word << (64 - 8 * count));
}

// The writer's usual form, -?d{1,7}.d{1,7}, filling the piece [piece, pieceEnd)
// exactly (`piece` has 24 bytes after it): the same digits, power of ten and
// division as the general path below. Its point is found among sixteen characters
// at once, so that where a number ends is not needed before the next is begun.
bool parseShortPiece(const char *piece, const char *pieceEnd, float &value)
{
    const int length = int(pieceEnd - piece);
    if (length < 3 || length > 16)
        return false;
    const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i *>(piece));
    const __m128i digitValues = _mm_sub_epi8(chars, _mm_set1_epi8('0'));
    const unsigned inPiece = (1u << length) - 1;
    const unsigned points = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(chars, _mm_set1_epi8('.')))) & inPiece;
    const unsigned digitLanes = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(digitValues, _mm_set1_epi8(9)), digitValues))) & inPiece;
    const bool negative = *piece == '-';
    const int point = __builtin_ctz(points | 0x10000);
    const int wholeDigits = point - negative, fractionDigits = length - point - 1;
    if (points != 1u << point || digitLanes != (inPiece & ~points & ~unsigned(negative)) || wholeDigits < 1 || wholeDigits > 7 || fractionDigits < 1
        || fractionDigits > 7)
        return false;  // no point or more than one, another character, or too many digits
    const double power = exactPowerOfTen(fractionDigits);
    const std::uint64_t digits = std::uint64_t(leadingValue(piece + negative, wholeDigits)) * std::uint64_t(power)
                                 + leadingValue(piece + point + 1, fractionDigits);
    const double number = double(digits) / power;  // at most 14 digits: within the normal float range
    value = float(negative ? -number : number);
    return true;
}

} // namespace

bool parsePlainNumber(const char *&p, const char *end, float &value)
{
    const bool negative = p < end && *p == '-';
    p += negative;
    std::uint64_t digits = 0;
    int digitCount = 0, scale = 0;
    const char *start = p;
    for (; p < end && *p >= '0' && *p <= '9'; ++p, ++digitCount)
        digits = digits * 10 + std::uint64_t(*p - '0');
    if (p == start)
        return false;
    if (p < end && *p == '.') {
        const char *fraction = ++p;
        for (; p < end && *p >= '0' && *p <= '9'; ++p, ++digitCount, --scale)
            digits = digits * 10 + std::uint64_t(*p - '0');
        if (p == fraction)
            return false;
    }
    if (p < end && *p == 'e') {
        ++p;
        const bool negativeExponent = p < end && *p == '-';
        p += (p < end && (*p == '+' || *p == '-'));
        int exponent = 0;
        const char *exponentStart = p;
        for (; p < end && *p >= '0' && *p <= '9' && exponent < 10000; ++p)
            exponent = exponent * 10 + (*p - '0');
        if (p == exponentStart)
            return false;
        scale += negativeExponent ? -exponent : exponent;
    }
    double number;
    // Few digits and a small power of ten: both are exact doubles, so one
    // multiplication or division rounds correctly.
    if (digitCount <= 15 && scale >= -22 && scale <= 22)
        number = scale >= 0 ? double(digits) * exactPowerOfTen(scale) : double(digits) / exactPowerOfTen(-scale);
    else if (std::from_chars(start, p, number).ec != std::errc())
        return false;
    const double magnitude = std::fabs(number);
    if (number != 0 && !(magnitude >= std::numeric_limits<float>::min() && magnitude <= std::numeric_limits<float>::max()))
        return false;
    value = float(negative ? -number : number);
    return true;
}

float parseModelPiece(const char *piece, const char *pieceEnd, const char *end)
{
    float value;
    if (end - piece >= 24 && parseShortPiece(piece, pieceEnd, value))
        return value;
    const char *p = piece;
    if (parsePlainNumber(p, end, value) && p == pieceEnd)
        return value;
    return parseModelNumber(piece, int(pieceEnd - piece));
}

float parseModelNumber(const char *text, int length)
{
    // Anything but the writer's own forms, and anything beyond the normal float
    // range, goes through QString::toFloat itself.
    const char *end = text + length;
    const char *p = text;
    float value;
    if (parsePlainNumber(p, end, value) && p == end)
        return value;
    return QString::fromLatin1(text, length).toFloat();
}

} // namespace sorvik
