#include "linalg/nearest.h"

#include "linalg/kernels.h"
#include "linalg/parallel.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <numeric>

float squaredDistance(const float *row, const float *query, int width)
{
    float distance = 0;
    for (int j = 0; j < width; ++j) {
        const double difference = double(row[j]) - double(query[j]);
        distance = float(distance + difference * difference);
    }
    return distance;
}

int nearestRowReference(const Matrix &stored, const float *query)
{
    int best = 0;
    float bestDistance = 9e30f;
    for (int r = 0; r < stored.rows; ++r) {
        const float distance = squaredDistance(stored.row(r), query, stored.columns);
        if (distance < bestDistance) {
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
// - a row's distance is at least the squared distance from the query to any box
//   that holds the row, less the rounding of the float sum, so a subtree whose box
//   is farther than the best distance holds no winner.

namespace {

using Floats = float __attribute__((vector_size(NearestIndex::lanes * sizeof(float))));
using Doubles = double __attribute__((vector_size(NearestIndex::lanes * sizeof(double))));

struct Builder {
    const Matrix &stored;
    NearestIndex &index;
    std::vector<int> &order;

    int build(int first, int last)
    {
        constexpr int lanes = NearestIndex::lanes;
        const int width = index.width;
        const int node = int(index.nodes.size());
        index.nodes.emplace_back();
        const int boxWidth = index.boxWidth;
        index.boxes.resize(index.boxes.size() + 2 * std::size_t(boxWidth));
        float *low = index.boxes.data() + std::size_t(node) * 2 * boxWidth;
        float *high = low + boxWidth;
        std::fill(low + width, low + boxWidth, -INFINITY);  // padding that never adds a gap
        std::fill(high + width, high + boxWidth, INFINITY);
        std::copy_n(stored.row(order[first]), width, low);
        std::copy_n(stored.row(order[first]), width, high);
        for (int i = first + 1; i < last; ++i) {
            const float *row = stored.row(order[i]);
            for (int j = 0; j < width; ++j) {
                low[j] = std::min(low[j], row[j]);
                high[j] = std::max(high[j], row[j]);
            }
        }
        if (last - first <= NearestIndex::leafRows) {
            index.nodes[node].firstBlock = first / lanes;
            index.nodes[node].endBlock = (last + lanes - 1) / lanes;
            for (int i = first; i < last; ++i) {
                index.rows[i] = order[i];
                for (int j = 0; j < width; ++j)
                    index.blocks[(std::size_t(i / lanes) * width + j) * lanes + i % lanes] = stored(order[i], j);
            }
            return node;
        }
        int widest = 0;
        for (int j = 1; j < width; ++j)
            if (double(high[j]) - low[j] > double(high[widest]) - low[widest])
                widest = j;
        // Split at a multiple of the leaf size, so that every leaf but the last is full.
        constexpr int leaf = NearestIndex::leafRows;
        const int middle = first + ((last - first) / 2 + leaf - 1) / leaf * leaf;
        std::nth_element(order.begin() + first, order.begin() + middle, order.begin() + last,
                         [&](int a, int b) { return stored(a, widest) < stored(b, widest); });
        const int left = build(first, middle);
        const int right = build(middle, last);
        index.nodes[node].children[0] = left;
        index.nodes[node].children[1] = right;
        return node;
    }
};

struct Best {
    float distance = 9e30f;
    int row = 0;
};

// The estimate above which a row cannot beat `best`, rounded up, never below the
// smallest distance whose rounding is trusted.
float threshold(const Best &best, double shrink)
{
    // The margin 2^-20 covers the rounding of the quotient to float.
    return float(std::max(double(best.distance), 1e-30) / shrink * (1 + 0x1p-20));
}

// Whether every lane is above the limit (a lane that is not a number is not):
// the comparison masks are folded in halves, so the test stays in vector registers.
inline bool allAbove(const Floats &values, float limit)
{
    static_assert(NearestIndex::lanes == 16, "the fold below is written for 16 lanes");
    using Ints = int __attribute__((vector_size(16 * sizeof(int))));
    using Eight = int __attribute__((vector_size(8 * sizeof(int))));
    using Four = int __attribute__((vector_size(4 * sizeof(int))));
    const Ints above = values > limit;  // -1 where true
    const Eight eight = __builtin_shufflevector(above, above, 0, 1, 2, 3, 4, 5, 6, 7) & __builtin_shufflevector(above, above, 8, 9, 10, 11, 12, 13, 14, 15);
    const Four four = __builtin_shufflevector(eight, eight, 0, 1, 2, 3) & __builtin_shufflevector(eight, eight, 4, 5, 6, 7);
    return (four[0] & four[1] & four[2] & four[3]) != 0;
}

// The distance of one packed row as the plain scan forms it.
double exactDistance(const float *values, int width, const double *query)
{
    float distance = 0;
    for (int j = 0; j < width; ++j) {
        const double difference = double(values[std::size_t(j) * NearestIndex::lanes]) - query[j];
        distance = float(distance + difference * difference);
    }
    return distance;
}

// The rows of one block: first an estimate of every distance in float arithmetic,
// sixteen rows to a vector instruction, then the exact distance of each row that
// the estimate does not rule out. An estimate E of a distance D (both over the
// first j values) from k values is never above D / (1 - (2k + 16) 2^-24) while
// the numbers stay above the subnormal range, so a row whose E passes the
// threshold of the best distance cannot win. Built for the widest vectors that
// the processor has; none of them changes an exact distance.
__attribute__((target_clones("avx512f", "avx2", "default")))
void searchBlock(const float *block, const int *rows, int width, const float *query, const double *queryWide, double shrink, Best &best,
                 float &limit)
{
    constexpr int lanes = NearestIndex::lanes;
    Floats estimate = {};
    for (int j = 0; j < width; ++j) {
        Floats values;
        __builtin_memcpy(&values, block + std::size_t(j) * lanes, sizeof values);
        const Floats difference = values - query[j];
        estimate += difference * difference;
        if ((j & 3) == 3) {
            if (allAbove(estimate, limit))
                return;
        }
    }
    for (int l = 0; l < lanes; ++l) {
        if (estimate[l] > limit)
            continue;
        const float distance = float(exactDistance(block + l, width, queryWide));
        if (distance < best.distance || (distance == best.distance && rows[l] < best.row)) {
            best = {distance, rows[l]};
            limit = threshold(best, shrink);
        }
    }
}

// The squared distance from the query to a box, lowest values first, then
// highest, each a whole number of eight values (padded); summed in eight partial
// sums (the order of a bound does not matter).
__attribute__((target_clones("avx512f", "avx2", "default")))
double boxGap(const float *box, int boxWidth, const double *query)
{
    using Eight = double __attribute__((vector_size(8 * sizeof(double))));
    using EightFloats = float __attribute__((vector_size(8 * sizeof(float))));
    const float *low = box, *high = box + boxWidth;
    Eight sums = {};
    for (int j = 0; j < boxWidth; j += 8) {
        EightFloats l, h;
        Eight q;
        __builtin_memcpy(&l, low + j, sizeof l);
        __builtin_memcpy(&h, high + j, sizeof h);
        __builtin_memcpy(&q, query + j, sizeof q);
        const Eight below = __builtin_convertvector(l, Eight) - q, above = q - __builtin_convertvector(h, Eight);
        const Eight gap = (below > 0 ? below : 0) + (above > 0 ? above : 0);
        sums += gap * gap;
    }
    double sum = 0;
    for (int k = 0; k < 8; ++k)
        sum += sums[k];
    return sum;
}

struct Search {
    const NearestIndex &index;
    const float *query;
    const double *queryWide;
    double shrink;  // covers the rounding of the float sums, estimates and bounds
    Best best;

    // A lower bound of the distance of every row in the node's box.
    double bound(int node) const
    {
        return boxGap(index.boxes.data() + std::size_t(node) * 2 * index.boxWidth, index.boxWidth, queryWide) * shrink;
    }
    // Bounds below 1e-30 are not trusted: near the subnormal floats the rounding
    // of the sum is no longer relative.
    bool farther(double bound) const { return bound > 1e-30 && bound > double(best.distance); }

    void visit(int node, double nodeBound)
    {
        if (farther(nodeBound))
            return;
        const NearestIndex::Node &n = index.nodes[node];
        if (n.children[0] < 0) {
            float limit = threshold(best, shrink);  // the blocks refresh it as the best improves
            for (int b = n.firstBlock; b < n.endBlock; ++b)
                searchBlock(index.blocks.data() + std::size_t(b) * index.width * NearestIndex::lanes,
                            index.rows.data() + std::size_t(b) * NearestIndex::lanes, index.width, query, queryWide, shrink, best, limit);
            return;
        }
        const double left = bound(n.children[0]), right = bound(n.children[1]);
        if (left <= right) {
            visit(n.children[0], left);
            visit(n.children[1], right);
        } else {
            visit(n.children[1], right);
            visit(n.children[0], left);
        }
    }
};

} // namespace

NearestIndex nearestIndex(const Matrix &stored)
{
    constexpr int lanes = NearestIndex::lanes;
    NearestIndex index;
    index.width = stored.columns;
    index.boxWidth = (stored.columns + 7) / 8 * 8;
    std::vector<int> order;
    for (int r = 0; r < stored.rows; ++r) {
        const float *row = stored.row(r);
        if (std::all_of(row, row + stored.columns, [](float v) { return std::isfinite(v); }))
            order.push_back(r);
    }
    if (order.empty() || stored.columns == 0)
        return index;
    const std::size_t blockCount = (order.size() + lanes - 1) / lanes;
    index.blocks.assign(blockCount * std::size_t(stored.columns) * lanes, INFINITY);
    index.rows.assign(blockCount * lanes, INT_MAX);
    Builder{stored, index, order}.build(0, int(order.size()));
    return index;
}

int nearestRow(const NearestIndex &index, const float *query)
{
    if (index.nodes.empty())
        return 0;
    std::vector<double> q(std::size_t(index.boxWidth));  // padded with zeros
    for (int j = 0; j < index.width; ++j) {
        if (!std::isfinite(query[j]))
            return 0;  // every distance is infinite or not a number
        q[j] = query[j];
    }
    Search search{index, query, q.data(), 1 - (2 * index.width + 16) * std::ldexp(1.0, -24), Best()};
    search.visit(0, search.bound(0));
    return search.best.row;
}

int nearestRow(const Matrix &stored, const float *query)
{
    if (stored.columns == 0)
        return 0;  // every distance is 0: the first row
    return nearestRow(nearestIndex(stored), query);
}

std::vector<int> nearestRows(const Matrix &stored, const Matrix &queries)
{
    std::vector<int> nearest(std::size_t(queries.rows));
    if (plainKernels) {
        for (int q = 0; q < queries.rows; ++q)
            nearest[std::size_t(q)] = nearestRowReference(stored, queries.row(q));
        return nearest;
    }
    const NearestIndex index = nearestIndex(stored);
    forEachIndex(queries.rows, [&](int q) { nearest[std::size_t(q)] = nearestRow(index, queries.row(q)); }, 16);
    return nearest;
}
