// The nearest-neighbour search: its tie, NaN and start rules, and the fast search
// against the plain scan on random and adversarial stored rows.

#include "support.h"

#include "search/nearest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace sorvik;

TEST(NearestRow, FollowsItsTieNanStartAndSumRules)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), t = std::ldexp(1.0f, -12);
    const struct {
        const char *rule;
        Matrix stored;
        std::vector<float> query;
        int nearest;
    } cases[] = {
        {"the earliest of equal distances", matrixOf({{5, 5}, {0, 1}, {2, 1}, {1, 0}}), {1, 1}, 1},
        {"the earliest of equal rows", matrixOf({{5, 5}, {9, 9}, {1, 1}, {1, 1}}), {1, 1}, 2},
        {"never a distance that is not a number", matrixOf({{nan, 0}, {3, nan}, {4, 4}, {nan, nan}}), {0, 0}, 2},
        {"row 0 when no distance is a number", matrixOf({{nan, 0}, {nan, 0}}), {0, 0}, 0},
        // Both distances are at least 9e30 (one overflows to infinity): row 0 stays.
        {"starts from 9e30", matrixOf({{4e15f}, {3.0e15f}, {1e30f}}), {0}, 0},
        {"below 9e30", matrixOf({{4e15f}, {2.9e15f}}), {0}, 1},
        {"no rows", Matrix(0, 1), {0}, 0},
        // Row 1 adds 2^-24 four times to 1: each float addition rounds back to 1, so
        // it beats row 0 at 1 + 2^-22; a double sum would tie at 1 + 2^-22 and lose.
        {"terms in double, summed in float", matrixOf({{1, 2 * t, 0, 0, 0}, {1, t, t, t, t}}), {0, 0, 0, 0, 0}, 1},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.nearest, nearestRowReference(c.stored, c.query.data())) << c.rule;
        EXPECT_EQ(c.nearest, nearestRow(c.stored, c.query.data())) << c.rule;
    }
}

TEST(NearestRow, FastSearchEqualsThePlainScan)
{
    std::mt19937 random(17);
    std::normal_distribution<float> normal(0, 1);
    const int shapes[][2] = {{1, 1}, {7, 3}, {100, 21}, {1000, 21}, {333, 167}, {64, 765}, {9, 8}, {5, 0}, {40, 2}, {3000, 4}};
    for (int kind = 0; kind < 4; ++kind) {
        for (const auto &shape : shapes) {
            Matrix stored(shape[0], shape[1]);
            for (float &v : stored.values)
                v = kind == 1 ? std::round(normal(random)) : normal(random) * (kind == 2 ? 1e18f : 100.0f);
            if (kind == 3)  // many exact duplicates, a few NaNs and infinities
                for (int r = 0; r < stored.rows; ++r)
                    for (int c = 0; c < stored.columns; ++c)
                        stored(r, c) = r % 3 == 0 ? stored(0, c) : (r % 17 == 5 ? NAN : (r % 19 == 7 ? -INFINITY : stored(r, c)));
            const NearestIndex index = nearestIndex(stored);
            const NearestIndex portable = nearestIndex(stored, Vectors::Portable);  // where the widest are not portable
            for (int q = 0; q < 50; ++q) {
                const float *source = stored.row(int(random() % stored.rows));
                std::vector<float> query(source, source + stored.columns);
                if (q % 2)
                    for (float &v : query)
                        v += normal(random) * (kind == 2 ? 1e17f : 1.0f);
                if (q % 5 == 4)  // away from every row: the winner often lies beyond the nearest box
                    for (float &v : query)
                        v = normal(random) * (kind == 2 ? 1e18f : 100.0f);
                if (q == 10 && !query.empty())
                    query.back() = NAN;
                if (q == 11 && !query.empty())
                    query.front() = INFINITY;
                const int expected = nearestRowReference(stored, query.data());
                ASSERT_EQ(expected, nearestRow(index, query.data())) << kind << " " << shape[0] << "x" << shape[1];
                ASSERT_EQ(expected, nearestRow(portable, query.data())) << kind << " " << shape[0] << "x" << shape[1];
            }
        }
    }
}
