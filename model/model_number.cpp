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

} // namespace

namespace {

// The decimal exponent e with 10^e <= magnitude < 10^(e + 1). A float is never
// within a double's rounding of a power of ten unless it is one, so comparing
// with the double powers of ten decides exactly.
int decimalExponent(double magnitude, std::uint32_t field)
{
    int exponent = ((int(field) - 127) * 1233) >> 12;  // about log10(2^(field - 127)), rounded down
    while (magnitude >= powerOfTen(exponent + 1))
        ++exponent;
    while (magnitude < powerOfTen(exponent))
        --exponent;
    return exponent;
}

// The six significant digits of a normal float, rounded with halves away from
// zero (999999.5 and up carries into the next power of ten, raising `exponent`):
// in double arithmetic, off by less than 10^-9, unless the scaled magnitude is that
// close to a half (a possible tie) or to the ends of the range; then exactly, in
// 128-bit integers. False where neither decides.
bool sixDigits(double magnitude, std::uint32_t mantissa, int binaryExponent, int &exponent, std::uint32_t &digits)
{
    std::uint64_t whole;
    bool roundUp;
    const double scaled = exponent <= 5 ? magnitude * powerOfTen(5 - exponent) : magnitude / powerOfTen(exponent - 5);
    const std::uint64_t truncated = std::uint64_t(scaled);  // positive: truncation is the floor
    const double rest = scaled - double(truncated);
    if (std::fabs(rest - 0.5) > 1e-6 && truncated >= 100000 && truncated < 999999) {
        whole = truncated;
        roundUp = rest > 0.5;
    } else if (!scaledDigits(mantissa, binaryExponent, exponent, whole, roundUp) || whole < 100000 || whole >= 1000000) {
        return false;
    }
    digits = std::uint32_t(whole) + (roundUp ? 1 : 0);
    if (digits == 1000000) {
        digits = 100000;
        ++exponent;
    }
    return true;
}

// Writes the text of six digits at a decimal exponent, as %g does. The digits
// stand as characters in one 64-bit word, the first in the lowest byte; trailing
// zeros are dropped by writing fewer of them. Whole words are stored and the
// pointer advanced by the characters that count.
int writeNumberText(char *out, bool negative, std::uint32_t digits, int exponent)
{
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
    if (negative)
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

} // namespace

int formatModelNumber(float value, char *out)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const std::uint32_t field = (bits >> 23) & 0xff;
    if (value == 0) {  // both zeros print as 0
        out[0] = '0';
        return 1;
    }
    // Infinities, NaNs and subnormals are rare, and so are the digits that double
    // arithmetic cannot decide: the text stream's own road for them.
    const double magnitude = std::fabs(double(value));
    int exponent = field == 0xff || field == 0 ? 0 : decimalExponent(magnitude, field);
    std::uint32_t digits = 0;
    if (field == 0xff || field == 0 || !sixDigits(magnitude, (bits & 0x7fffff) | 0x800000, int(field) - 150, exponent, digits)) {
        const QByteArray text = formatModelNumberReference(value);
        std::memcpy(out, text.constData(), std::size_t(text.size()));
        return text.size();
    }
    return writeNumberText(out, bits >> 31, digits, exponent);
}

} // namespace sorvik
