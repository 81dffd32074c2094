// The nearest-neighbour search: its tie, NaN and start rules, the fast search
// against the plain scan on random and adversarial stored rows, and the k nearest
// rows with their vote.

#include "support.h"

#include "search/nearest.h"
#include "search/neighbours.h"

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
                // With classes (of one, three or seven rows each): the nearest row and
                // the nearest of any other class in one search.
                for (const int width : {1, 3, 7}) {
                    std::vector<int> classOf;
                    for (int r = 0; r < stored.rows; ++r)
                        classOf.push_back(r / width % 4);
                    const NearestTwo two = nearestRowAndOtherClass(stored, index, query.data(), classOf);
                    ASSERT_EQ(expected, two.row);
                    ASSERT_EQ(nearestRowOutsideReference(stored, query.data(), classOf, classOf[std::size_t(expected)]), two.otherRow)
                        << kind << " " << shape[0] << "x" << shape[1] << " classes of " << width;
                }
                // The k nearest, fewer and more than the rows, and all of them.
                for (const int k : {1, 2, 5, 40, stored.rows <= 1000 ? stored.rows + 3 : 1})
                    ASSERT_EQ(kNearestRows(stored, query.data(), k), kNearestRows(stored, index, query.data(), k))
                        << kind << " " << shape[0] << "x" << shape[1] << " k " << k;
            }
        }
    }
}

TEST(Neighbours, VoteByMostThenByTheNearestMember)
{
    // Stored rows on a line at 0, 1, 2, ... with these classes; the query at 0.
    const struct {
        const char *rule;
        std::vector<int> classOf;
        int k;
        int voted;  // position of the winner's nearest member among the k nearest
    } cases[] = {
        {"one neighbour is the nearest", {0, 1, 1}, 1, 0},
        {"most votes win", {0, 1, 1}, 3, 1},
        {"a tie goes to the class of the nearest member", {0, 1, 1, 0}, 4, 0},
        {"a tie of three classes too", {2, 1, 0, 0, 1, 2}, 6, 0},
        {"most votes beat the nearest", {0, 1, 2, 1}, 4, 1},
    };
    for (const auto &c : cases) {
        Matrix stored(int(c.classOf.size()), 1);
        for (int r = 0; r < stored.rows; ++r)
            stored(r, 0) = float(r);
        const float query = 0;
        const std::vector<int> nearest = kNearestRows(stored, &query, c.k);
        EXPECT_EQ(c.voted, votedPosition(nearest, c.classOf)) << c.rule;
    }
}

TEST(Neighbours, KNearestRowsAreTheScansInOrder)
{
    // Equal distances keep row order; rows too far (or not a number) come last, in
    // row order; the first of the k is always the nearest row.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Matrix stored = matrixOf({{3}, {1}, {nan}, {-1}, {1e30f}, {1}, {0}});
    const float query = 0;
    EXPECT_EQ(std::vector<int>({6, 1, 3, 5, 0, 2, 4}), kNearestRows(stored, &query, 7));
    EXPECT_EQ(std::vector<int>({6, 1, 3}), kNearestRows(stored, &query, 3));
    EXPECT_EQ(std::vector<int>({6, 1, 3}), kNearestRows(stored, nearestIndex(stored), &query, 3));
    // Only rows nearer than where a search starts are taken for their distance, as
    // the nearest row is: a row at 9e30 or more is filled in by row order.
    const Matrix far = matrixOf({{4e15f}, {3.0e15f}, {2.9e15f}});
    EXPECT_EQ(std::vector<int>({2, 0}), kNearestRows(far, &query, 2));
    EXPECT_EQ(std::vector<int>({2, 0}), kNearestRows(far, nearestIndex(far), &query, 2));
    std::mt19937 random(3);
    std::normal_distribution<float> normal(0, 1);
    Matrix many(500, 5);
    for (float &v : many.values)
        v = std::round(normal(random) * 2);  // many ties
    for (int q = 0; q < 50; ++q)
        EXPECT_EQ(nearestRowReference(many, many.row(q * 7)), kNearestRows(many, many.row(q * 7), 5).front());
}
