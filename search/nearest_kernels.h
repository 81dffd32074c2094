#pragma once

// The inner loops of the fast nearest-row search: bounds of the leaves' boxes
// and the search of one leaf, each built for the widest vectors the processor has.

#include "search/index_layout.h"
#include "search/distance.h"

#include <utility>
#include <vector>

namespace sorvik {

namespace leafSearch {

using Floats = float __attribute__((vector_size(IndexLayout::lanes * sizeof(float))));
using Ints = int __attribute__((vector_size(IndexLayout::lanes * sizeof(int))));

struct Best {
    float distance = startDistance;
    int row = 0;
    // Where rows have classes: the class of the best row, and the nearest row of
    // any other class, which then sets the threshold.
    const int *classOf = nullptr;
    int bestClass = -1;
    float otherDistance = startDistance;
    int otherRow = 0;
    // Where the k nearest rows are kept (a list given): those found so far as
    // (distance, row), a heap by `nearer` whose top, the farthest, sets the
    // threshold once there are k.
    std::vector<std::pair<float, int>> *kept = nullptr;
    int k = 0;
};

// The order of (distance, row) pairs that `beats` gives: nearer, or as near and earlier.
bool nearer(const std::pair<float, int> &a, const std::pair<float, int> &b);

// One leaf's blocks and what the search knows of the query.
struct Leaf {
    const float *heads, *tails;
    const int *rows;
    const float *blockBoxes;  // the boxes of its blocks over the head values; those of blocks it lacks are empty
};
struct Query {
    const float *values; // zeros after the last value, up to the head width
    const double *wide;  // the values in double, as the exact distance takes them
    int width, tailWidth;
    double shrink;       // covers the rounding of the float sums, estimates and bounds
};

// The estimate above which a row cannot beat `best`, rounded up, never below the
// smallest distance whose rounding is trusted.
float threshold(const Best &best, double shrink);

// Searches the rows of a leaf, improving `best` and keeping `limit` its threshold:
// one search, built over portable vectors or over 512-bit ones where the
// processor has them. Both give the same best.
void searchLeaf(const Leaf &leaf, const Query &query, Best &best, float &limit);
void searchLeafWide(const Leaf &leaf, const Query &query, Best &best, float &limit);

// The leaves among `lanes` whose bound is at most `limit`, a bit each: with
// portable vectors, or with 512-bit vectors where the processor has them.
unsigned leavesWithin(const float *bounds, float limit);
unsigned leavesWithinWide(const float *bounds, float limit);

// The squared distance from the query to the box of every leaf, `lanes` leaves
// to a group; returns the leaf of the smallest.
int boxBounds(const float *boxes, int groupCount, int width, const float *query, float *bounds);

} // namespace leafSearch

} // namespace sorvik
