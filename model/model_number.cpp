#include "model/model_number.h"

#include <QString>
#include <QTextStream>

#include <charconv>
#include <cmath>
#include <cstring>
#include <emmintrin.h>
#include <limits>

namespace sorvik {

QByteArray formatModelNumberReference(float value)
{
    QString text;
    QTextStream stream(&text);
    stream << value;
    stream.flush();
    return text.toLatin1();
}

namespace {

using Wide = unsigned __int128;

constexpr int maxPowerOfFive = 41;

struct PowersOfFive {
    Wide value[maxPowerOfFive + 1];
    constexpr PowersOfFive() : value()
    {
        value[0] = 1;
        for (int i = 1; i <= maxPowerOfFive; ++i)
            value[i] = value[i - 1] * 5;
    }
};
constexpr PowersOfFive powersOfFive;

// The magnitude `mantissa * 2^binaryExponent` scaled by 10^(5 - decimalExponent):
// its whole part and whether the rest is at least one half. False when the numbers
// involved do not fit in 128 bits.
bool scaledDigits(std::uint32_t mantissa, int binaryExponent, int decimalExponent, std::uint64_t &whole, bool &roundUp)
{
    const int five = 5 - decimalExponent;  // 10^five = 5^five * 2^five
    const int two = binaryExponent + five;
    if (five > maxPowerOfFive || -five > maxPowerOfFive || two > 100 || -two > 120)
        return false;
    Wide numerator = mantissa;
    Wide denominator = 1;
    if (five >= 0)
        numerator *= powersOfFive.value[five];
    else
        denominator *= powersOfFive.value[-five];
    if (two >= 0)
        numerator <<= two;
    else
        denominator <<= -two;
    const Wide quotient = numerator / denominator;
    if (quotient >= Wide(1) << 60)
        return false;
    whole = std::uint64_t(quotient);
    roundUp = 2 * (numerator % denominator) >= denominator;
    return true;
}

// 10^e as the nearest double, for the exponents of floats and one beyond.
const std::array<double, 100> powersOfTen = [] {
    std::array<double, 100> table{};
    for (int i = 0; i < 100; ++i) {
        const std::string text = "1e" + std::to_string(i - 50);
        std::from_chars(text.data(), text.data() + text.size(), table[std::size_t(i)]);
    }
    return table;
}();

inline double powerOfTen(int e)
{
    return powersOfTen[std::size_t(e + 50)];
}

// "00" to "99", for writing two digits at a time.
constexpr char twoDigits[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                             "4041424344454647484950515253545556575859606162636465666768697071727374757677787980"
                             "81828384858687888990919293949596979899";

// 10^e for 0 <= e <= 22, where every power of ten is an exact double.
double exactPowerOfTen(int e)
{
    static constexpr double table[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    return table[e];
}

} // namespace

int formatModelNumber(float value, char *out)
{
    const auto slowRoad = [&] {
        const QByteArray text = formatModelNumberReference(value);
        std::memcpy(out, text.constData(), std::size_t(text.size()));
        return text.size();
    };
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const std::uint32_t field = (bits >> 23) & 0xff;
    const std::uint32_t fraction = bits & 0x7fffff;
    if (value == 0) {  // both zeros print as 0
        out[0] = '0';
        return 1;
    }
    if (field == 0xff || field == 0)  // infinities, NaNs and subnormals are rare
        return slowRoad();
    const std::uint32_t mantissa = fraction | 0x800000;
    const int binaryExponent = int(field) - 150;

    // The decimal exponent e with 10^e <= |value| < 10^(e + 1). A float is never
    // within a double's rounding of a power of ten unless it is one, so comparing
    // with the double powers of ten decides exactly.
    const double magnitude = std::fabs(double(value));
    int exponent = ((int(field) - 127) * 1233) >> 12;  // about log10(2^(field - 127)), rounded down
    while (magnitude >= powerOfTen(exponent + 1))
        ++exponent;
    while (magnitude < powerOfTen(exponent))
        --exponent;

    // The six digits: in double arithmetic, off by less than 10^-9, unless the
    // scaled magnitude is that close to a half (a possible tie) or to the ends of
    // the range; then exactly, in 128-bit integers.
    std::uint64_t whole;
    bool roundUp;
    const double scaled = exponent <= 5 ? magnitude * powerOfTen(5 - exponent) : magnitude / powerOfTen(exponent - 5);
    const std::uint64_t truncated = std::uint64_t(scaled);  // positive: truncation is the floor
    const double rest = scaled - double(truncated);
    if (std::fabs(rest - 0.5) > 1e-6 && truncated >= 100000 && truncated < 999999) {
        whole = truncated;
        roundUp = rest > 0.5;
    } else if (!scaledDigits(mantissa, binaryExponent, exponent, whole, roundUp) || whole < 100000 || whole >= 1000000) {
        return slowRoad();
    }
    // Halves round away from zero; 999999.5 and up carries into the next power of ten.
    std::uint32_t digits = std::uint32_t(whole) + (roundUp ? 1 : 0);
    if (digits == 1000000) {
        digits = 100000;
        ++exponent;
    }

    // The six digits as characters in one 64-bit word, the first in the lowest
    // byte; trailing zeros are dropped by writing fewer of them. Whole words are
    // stored and the pointer advanced by the characters that count.
    int significant = 6;
    for (std::uint32_t rest = digits; rest % 10 == 0 && significant > 1; rest /= 10)
        --significant;
    const auto pair = [](std::uint32_t twoDigitValue) {
        std::uint16_t chars;
        std::memcpy(&chars, twoDigits + 2 * twoDigitValue, 2);
        return std::uint64_t(chars);
    };
    const std::uint64_t text = pair(digits / 10000) | pair(digits / 100 % 100) << 16 | pair(digits % 100) << 32;
    const auto put = [](char *at, std::uint64_t word) { std::memcpy(at, &word, sizeof word); };

    char *p = out;
    if (bits >> 31)
        *p++ = '-';
    if (exponent < -4 || exponent >= 6) {
        put(p, text);
        p += 1;
        if (significant > 1) {
            *p = '.';
            put(p + 1, text >> 8);
            p += significant;
        }
        *p++ = 'e';
        *p++ = exponent < 0 ? '-' : '+';
        const int magnitude = std::abs(exponent);
        if (magnitude >= 100)
            *p++ = char('0' + magnitude / 100);
        *p++ = char('0' + magnitude / 10 % 10);
        *p++ = char('0' + magnitude % 10);
    } else if (exponent >= 0) {
        const int whole = exponent + 1;
        put(p, text);
        p += whole;
        if (significant > whole) {
            *p = '.';
            put(p + 1, text >> (8 * whole));
            p += 1 + significant - whole;
        }
    } else {
        std::memcpy(p, "0.000", 5);
        p += 1 - exponent;  // "0." and -exponent - 1 zeros
        put(p, text);
        p += significant;
    }
    return int(p - out);
}

namespace {

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
