#include "search/nearest_kernels.h"

#include <algorithm>
#include <cmath>

#include <immintrin.h>

namespace sorvik {

namespace leafSearch {

bool nearer(const std::pair<float, int> &a, const std::pair<float, int> &b)
{
    return beats(a.first, a.second, b.first, b.second);
}

float threshold(const Best &best, double shrink)
{
    if (best.kept)
        return pruningThreshold(int(best.kept->size()) < best.k ? startDistance : best.kept->front().first, shrink);
    return pruningThreshold(best.classOf ? best.otherDistance : best.distance, shrink);
}

namespace {

// The distance of one packed row as the plain scan forms it.
float exactDistance(const float *head, const float *tail, const Query &query)
{
    constexpr int lanes = IndexLayout::lanes, headWidth = IndexLayout::headWidth;
    float distance = 0;
    for (int j = 0; j < std::min(query.width, headWidth); ++j)
        distance = addSquaredTerm(distance, head[j * lanes], query.wide[j]);
    for (int j = 0; j < query.tailWidth; ++j)
        distance = addSquaredTerm(distance, tail[std::size_t(j) * lanes], query.wide[headWidth + j]);
    return distance;
}

// Takes a row into a best that keeps two classes: the nearest row, and the nearest
// row of any other class than that row's. A row that beats the best moves it to
// the other class's place when its class differs, for the best row beat every
// other row of any class.
void takeWithClasses(Best &best, float distance, int row)
{
    const int klass = best.classOf[row];
    if (beats(distance, row, best.distance, best.row)) {
        if (klass != best.bestClass) {
            best.otherDistance = best.distance;
            best.otherRow = best.row;
        }
        best.distance = distance;
        best.row = row;
        best.bestClass = klass;
    } else if (klass != best.bestClass && beats(distance, row, best.otherDistance, best.otherRow)) {
        best.otherDistance = distance;
        best.otherRow = row;
    }
}

// Takes a row into the k nearest kept, only nearer than where a search starts: a
// heap whose top is the farthest of them, so that a row costs log k steps
// whatever k is.
void takeKept(Best &best, float distance, int row)
{
    std::vector<std::pair<float, int>> &kept = *best.kept;
    const bool full = int(kept.size()) == best.k;
    if (!(distance < startDistance) || (full && !beats(distance, row, kept.front().first, kept.front().second)))
        return;
    if (full) {
        std::pop_heap(kept.begin(), kept.end(), nearer);
        kept.back() = {distance, row};
    } else {
        kept.emplace_back(distance, row);
    }
    std::push_heap(kept.begin(), kept.end(), nearer);
}

// Takes the rows of a block whose estimates the mask leaves open, by their exact
// distance; returns the threshold of the best.
float takeOpenRows(unsigned open, const Floats &estimate, const float *head, const float *tail, const int *rows, const Query &query, Best &best,
                   float limit)
{
    for (; open != 0; open &= open - 1) {
        const int l = __builtin_ctz(open);
        if (estimate[l] > limit)
            continue;  // ruled out by a row taken before it
        const float distance = exactDistance(head + l, tail + l, query);
        if (best.kept) {
            takeKept(best, distance, rows[l]);
            limit = threshold(best, query.shrink);
        } else if (best.classOf) {
            takeWithClasses(best, distance, rows[l]);
            limit = threshold(best, query.shrink);
        } else if (beats(distance, rows[l], best.distance, best.row)) {
            best.distance = distance;
            best.row = rows[l];
            limit = threshold(best, query.shrink);
        }
    }
    return limit;
}

inline void addSquares(Floats &sums, const float *values, int count, const float *query)
{
    for (int j = 0; j < count; ++j) {
        Floats v;
        __builtin_memcpy(&v, values + std::size_t(j) * IndexLayout::lanes, sizeof v);
        const Floats difference = v - query[j];
        sums += difference * difference;
    }
}

// Adds the squared distance from `value` to [low, high] of each lane: the gap
// below or above, rounded once, then squared.
inline void addSquaredGaps(Floats &sums, const float *low, const float *high, float value)
{
    Floats lowest, highest;
    __builtin_memcpy(&lowest, low, sizeof lowest);
    __builtin_memcpy(&highest, high, sizeof highest);
    const Floats below = lowest - value, above = value - highest;
    const Floats gap = (below > 0 ? below : 0) + (above > 0 ? above : 0);
    sums += gap * gap;
}

// A bit for each lane that is set.
inline unsigned laneMask(const Ints &lanes)
{
    unsigned mask = 0;
    for (int l = 0; l < IndexLayout::lanes; ++l)
        mask |= unsigned(lanes[l] & 1) << l;
    return mask;
}

// The thin layer of vectors that the search is written over: both backends hold
// sixteen floats as the compiler's portable vectors, with the same arithmetic
// lane by lane, and differ in how a comparison becomes a bit for each lane. The
// portable one is built for the widest vectors the processor has; the 512-bit
// one compares into a mask of lanes at once.
struct PortableLanes {
    // Lanes at most `limit`.
    static unsigned atMost(const Floats &values, float limit) { return laneMask(values <= limit); }
    // Lanes not above `limit`: a lane that is not a number stays in.
    static unsigned notAbove(const Floats &values, float limit) { return laneMask((values <= limit) | (values != values)); }
};

struct WideLanes {
    __attribute__((target("avx512f"))) static unsigned atMost(const Floats &values, float limit)
    {
        return _mm512_cmp_ps_mask(__m512(values), _mm512_set1_ps(limit), _CMP_LE_OQ);
    }
    __attribute__((target("avx512f"))) static unsigned notAbove(const Floats &values, float limit)
    {
        return _mm512_cmp_ps_mask(__m512(values), _mm512_set1_ps(limit), _CMP_NGT_UQ);
    }
};

// The blocks of a leaf whose box over the head values lies within `limit` of the
// query, formed as the bounds of the leaves' boxes are (see boxBounds); its blocks
// lie side by side, as many as a vector holds.
template <class Lanes>
__attribute__((always_inline)) inline unsigned blocksWithinWith(const float *boxes, const float *query, float limit)
{
    constexpr int blocks = IndexLayout::blocksPerLeaf;
    static_assert(blocks == IndexLayout::lanes, "a leaf's blocks fill one vector");
    Floats sums = {};
    for (int j = 0; j < IndexLayout::headWidth; ++j)
        addSquaredGaps(sums, boxes + std::size_t(2 * j) * blocks, boxes + std::size_t(2 * j + 1) * blocks, query[j]);
    return Lanes::atMost(sums, limit);
}

// The rows of a leaf, block by block, but for the blocks whose box over the head
// values already lies beyond the threshold (their rows are never read): first
// an estimate of every distance in float arithmetic, sixteen rows to a vector,
// then the exact distance of each row that the estimate does not rule out. By the
// rounding bound of distance.h, a row whose estimate passes the threshold of the
// best distance cannot win. The estimates over the head values are formed for all
// near blocks first (in two chains side by side), against the threshold as the
// leaf began; then the tails are added to the blocks with a row still open, and
// these are tested once. Few of the branches depend on the data, so that the
// processor overlaps the blocks. None of it changes an exact distance.
template <class Lanes>
__attribute__((always_inline)) inline void searchLeafWith(const Leaf &leaf, const Query &query, Best &best, float &limit)
{
    constexpr int lanes = IndexLayout::lanes, head = IndexLayout::headWidth;
    const int tail = query.tailWidth;
    const float *values = query.values;
    Floats estimates[IndexLayout::blocksPerLeaf];
    unsigned openBlocks = 0;
    for (unsigned near = blocksWithinWith<Lanes>(leaf.blockBoxes, values, limit); near != 0; near &= near - 1) {
        const int b = __builtin_ctz(near);
        const float *heads = leaf.heads + std::size_t(b) * head * lanes;
        Floats even = {}, odd = {};
        addSquares(even, heads, head / 2, values);
        addSquares(odd, heads + head / 2 * lanes, head / 2, values + head / 2);
        estimates[b] = even + odd;
        openBlocks |= unsigned(Lanes::notAbove(estimates[b], limit) != 0) << b;
    }
    for (; openBlocks != 0; openBlocks &= openBlocks - 1) {
        const int b = __builtin_ctz(openBlocks);
        const float *heads = leaf.heads + std::size_t(b) * head * lanes, *tails = leaf.tails + std::size_t(b) * tail * lanes;
        addSquares(estimates[b], tails, tail, values + head);
        if (const unsigned open = Lanes::notAbove(estimates[b], limit))
            limit = takeOpenRows(open, estimates[b], heads, tails, leaf.rows + b * lanes, query, best, limit);
    }
}

} // namespace

// Each entry point is the one search over a backend, built whole for its vectors
// (the 512-bit one with every call inlined, the comparisons included).
__attribute__((target_clones("avx512f", "avx2", "default")))
void searchLeaf(const Leaf &leaf, const Query &query, Best &best, float &limit)
{
    searchLeafWith<PortableLanes>(leaf, query, best, limit);
}

__attribute__((target("avx512f"), flatten))
void searchLeafWide(const Leaf &leaf, const Query &query, Best &best, float &limit)
{
    searchLeafWith<WideLanes>(leaf, query, best, limit);
}

__attribute__((target_clones("avx512f", "avx2", "default")))
unsigned leavesWithin(const float *bounds, float limit)
{
    Floats values;
    __builtin_memcpy(&values, bounds, sizeof values);
    return PortableLanes::atMost(values, limit);
}

__attribute__((target("avx512f"), flatten))
unsigned leavesWithinWide(const float *bounds, float limit)
{
    Floats values;
    __builtin_memcpy(&values, bounds, sizeof values);
    return WideLanes::atMost(values, limit);
}

// The squared distance from the query to the box of every leaf, in float, the
// leaves of a group side by side; returns the leaf of the smallest. By the
// rounding bound of distance.h it never passes a row's distance by more than the
// search allows for. Padding leaves are infinitely far.
__attribute__((target_clones("avx512f", "avx2", "default")))
int boxBounds(const float *boxes, int groupCount, int width, const float *query, float *bounds)
{
    constexpr int lanes = IndexLayout::lanes;
    Floats lowest = {};
    lowest += INFINITY;
    Ints lowestGroup = {};
    for (int g = 0; g < groupCount; ++g, boxes += std::size_t(2) * width * lanes, bounds += lanes) {
        Floats sums = {};
        for (int j = 0; j < width; ++j)
            addSquaredGaps(sums, boxes + std::size_t(j) * lanes, boxes + std::size_t(width + j) * lanes, query[j]);
        __builtin_memcpy(bounds, &sums, sizeof sums);
        const Ints lower = sums < lowest;
        lowest = lower ? sums : lowest;
        lowestGroup = lower ? g : lowestGroup;
    }
    int lane = 0;
    for (int l = 1; l < lanes; ++l)
        if (lowest[l] < lowest[lane])
            lane = l;
    return lowestGroup[lane] * lanes + lane;
}

} // namespace leafSearch

} // namespace sorvik
