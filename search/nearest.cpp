#include "search/nearest.h"

#include "base/kernels.h"
#include "base/parallel.h"
#include "search/index_layout.h"
#include "search/nearest_kernels.h"

#include <algorithm>
#include <cmath>

namespace sorvik {

int nearestRowReference(const Matrix &stored, const float *query)
{
    int best = 0;
    float bestDistance = startDistance;
    for (int r = 0; r < stored.rows; ++r) {
        const float distance = squaredDistance(stored.row(r), query, stored.columns);
        if (beats(distance, r, bestDistance, best)) {
            bestDistance = distance;
            best = r;
        }
    }
    return best;
}

// The fast search visits rows out of order, so it keeps the best as the pair
// (distance, row) and takes a row when its pair is smaller: the answer is the
// same earliest nearest row as the scan in order. Two facts prune the work:
// - the running float sum never decreases, so a row whose partial sum already
//   exceeds the best distance cannot win, and neither can a block whose partial
//   sums all do;
// - a row's distance is at least the squared distance from the query to the box
//   of its leaf, less the rounding of the float sums, so a leaf whose box is
//   farther than the best distance holds no winner.
// The leaf of the nearest box is searched first; its best rules out most others.

using namespace leafSearch;

int nearestRowOutsideReference(const Matrix &stored, const float *query, const std::vector<int> &classOf, int excluded)
{
    int best = -1;
    float bestDistance = startDistance;
    for (int r = 0; r < stored.rows; ++r) {
        const float distance = classOf[std::size_t(r)] == excluded ? NAN : squaredDistance(stored.row(r), query, stored.columns);
        if (beats(distance, r, bestDistance, best)) {
            bestDistance = distance;
            best = r;
        }
    }
    return best;
}

namespace {

Best searchIndex(const NearestIndex &arranged, const float *query, Best best);

} // namespace

int nearestRow(const NearestIndex &arranged, const float *query)
{
    return searchIndex(arranged, query, Best()).row;
}

NearestTwo nearestRowAndOtherClass(const Matrix &stored, const NearestIndex &index, const float *query, const std::vector<int> &classOf)
{
    if (stored.columns == 0 || stored.rows == 0) {  // every distance is 0, or there is no row
        const int row = nearestRowReference(stored, query);
        return {row, stored.rows == 0 ? -1 : nearestRowOutsideReference(stored, query, classOf, classOf[std::size_t(row)])};
    }
    Best start;
    start.classOf = classOf.data();
    const Best best = searchIndex(index, query, start);
    return {best.row, best.otherDistance < startDistance ? best.otherRow : -1};
}

std::vector<std::pair<float, int>> nearestPairs(const NearestIndex &index, const float *query, int k)
{
    std::vector<std::pair<float, int>> kept;
    Best start;
    start.kept = &kept;
    start.k = k;
    if (k > 0)
        searchIndex(index, query, start);
    std::sort_heap(kept.begin(), kept.end(), nearer);
    return kept;
}

namespace {

Best searchIndex(const NearestIndex &arranged, const float *query, Best best)
{
    if (!arranged.layout())
        return best;
    const IndexLayout &index = *arranged.layout();
    const int leafCount = index.leafCount();
    if (leafCount == 0)
        return best;
    thread_local std::vector<double> queryWide;
    thread_local std::vector<float> values, bounds;
    queryWide.resize(std::size_t(index.width));
    values.assign(std::size_t(std::max(index.width, IndexLayout::headWidth)), 0.0f);
    for (int j = 0; j < index.width; ++j) {
        if (!std::isfinite(query[j]))
            return best;  // every distance is infinite or not a number
        queryWide[j] = values[j] = query[j];
    }
    const int groupCount = (leafCount + IndexLayout::lanes - 1) / IndexLayout::lanes;
    bounds.resize(std::size_t(groupCount) * IndexLayout::lanes);
    const int nearest = boxBounds(index.boxes.data(), groupCount, index.width, query, bounds.data());

    const Query q{values.data(), queryWide.data(), index.width, index.tailWidth, roundingShrink(index.width)};
    float limit = threshold(best, q.shrink);
    const auto search = [&](int leaf) {
        const std::size_t first = std::size_t(index.leafBlocks[leaf]);
        const Leaf blocks{index.heads() + first * IndexLayout::headWidth * IndexLayout::lanes,
                          index.tails() + first * index.tailWidth * IndexLayout::lanes,
                          index.rows.data() + first * IndexLayout::lanes,
                          index.blockBoxes.data() + std::size_t(leaf) * IndexLayout::headWidth * 2 * IndexLayout::blocksPerLeaf};
        (index.wideVectors ? searchLeafWide : searchLeaf)(blocks, q, best, limit);
    };
    search(nearest);
    bounds[nearest] = INFINITY;
    // The threshold never lets a box below 1e-30 be ruled out: near the subnormal
    // floats the rounding of the sums is no longer relative. It changes only when
    // a search improves the best, and only ever falls, so the leaves of a group
    // picked by the threshold before are checked again when their turn comes.
    // Leaves far nearer than the best so far are searched first, as the likeliest
    // to improve it, so that it rules out more of the others; each leaf searched is
    // marked off. The leaves are picked a group at a time, which saves a branch,
    // hard to predict, for every leaf.
    const auto within = index.wideVectors ? leavesWithinWide : leavesWithin;
    const auto searchLeavesWithin = [&](float cutoff) {
        for (int g = 0; g < groupCount; ++g)
            for (unsigned picked = within(&bounds[std::size_t(g) * IndexLayout::lanes], std::min(cutoff, limit)); picked != 0; picked &= picked - 1) {
                const int leaf = g * IndexLayout::lanes + __builtin_ctz(picked);
                if (bounds[leaf] <= limit) {
                    search(leaf);
                    bounds[leaf] = INFINITY;
                }
            }
    };
    searchLeavesWithin(limit / 4);
    searchLeavesWithin(limit);
    return best;
}

} // namespace

int nearestRow(const Matrix &stored, const float *query)
{
    if (stored.columns == 0)
        return 0;  // every distance is 0: the first row
    return nearestRow(nearestIndex(stored), query);
}

std::vector<int> nearestRows(const Matrix &stored, const NearestIndex &index, const Matrix &queries)
{
    std::vector<int> nearest(std::size_t(queries.rows));
    if (plainKernels) {
        for (int q = 0; q < queries.rows; ++q)
            nearest[std::size_t(q)] = nearestRowReference(stored, queries.row(q));
        return nearest;
    }
    forEachIndex(queries.rows, [&](int q) { nearest[std::size_t(q)] = nearestRow(index, queries.row(q)); }, 16);
    return nearest;
}

std::vector<int> nearestRows(const Matrix &stored, const Matrix &queries)
{
    return nearestRows(stored, plainKernels ? NearestIndex() : nearestIndex(stored), queries);
}

} // namespace sorvik
