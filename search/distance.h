#pragma once

#include <algorithm>

namespace sorvik {

// The squared Euclidean distance, as every search of this program forms it, and
// what the fast search may assume of it. Each term (p - q)^2 is formed in double
// from the two values and added to a float running sum, rounded to float after
// every addition, in the order of the values.

// The running sum after the term of one more pair of values.
inline float addSquaredTerm(float sum, float stored, double query)
{
    const double difference = double(stored) - query;
    return float(sum + difference * difference);
}

// The distance of two rows of `width` values.
inline float squaredDistance(const float *row, const float *query, int width)
{
    float distance = 0;
    for (int j = 0; j < width; ++j)
        distance = addSquaredTerm(distance, row[j], double(query[j]));
    return distance;
}

// Where a search starts: row 0 at this distance, so that rows at least this far
// (or infinitely far) are never taken.
constexpr float startDistance = 9e30f;

// Whether a row beats the best so far: strictly nearer, or as near and earlier,
// so that any search gives the row that the scan in order keeps, the earliest of
// equal rows. A distance that is not a number never beats.
inline bool beats(float distance, int row, float bestDistance, int bestRow)
{
    return distance < bestDistance || (distance == bestDistance && row < bestRow);
}

// The rounding bound that the fast search relies on. An estimate E of a distance D
// from `width` values, summed in float in any order, or the squared distance B to
// a box around the rows, is formed with at most width + 2 roundings, and D with
// width: E and B are never above D / roundingShrink(width) while the numbers stay
// above the subnormal range (1e-30).
inline double roundingShrink(int width)
{
    return 1 - (2 * width + 16) * 0x1p-24;
}

// The estimate above which a row cannot beat a best at `bestDistance`, rounded up
// (the margin 2^-20 covers the rounding of the quotient to float), and never below
// the smallest distance whose rounding is trusted.
inline float pruningThreshold(float bestDistance, double shrink)
{
    return float(std::max(double(bestDistance), 1e-30) / shrink * (1 + 0x1p-20));
}

} // namespace sorvik
