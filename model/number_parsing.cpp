#include "model/number_parsing.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace sorvik {

bool readModelNumber(const char *text, int length, float &value)
{
    // from_chars rounds to the nearest double as QString::toDouble does, and the
    // float of that double is QString::toFloat's, for every text that it takes
    // whole and whose value is zero or lies in the normal float range.
    const char *end = text + length;
    double number = 0;
    const std::from_chars_result read = std::from_chars(text, end, number);
    const double magnitude = std::fabs(number);
    if (read.ec != std::errc() || read.ptr != end
        || !(number == 0 || (magnitude >= double(std::numeric_limits<float>::min()) && magnitude <= double(std::numeric_limits<float>::max()))))
        return false;
    value = float(number);
    return true;
}

} // namespace sorvik
