#include "search/nearest_index.h"

#include "search/index_layout.h"

#include "base/parallel.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace sorvik {

namespace {

// A finite float and a row number in one integer that orders as the float does,
// ties by row; no two are equal.
std::uint64_t orderedKey(float value, int row)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    bits ^= bits >> 31 != 0 ? 0xffffffffu : 0x80000000u;
    return std::uint64_t(bits) << 32 | std::uint32_t(row);
}

// Moves the k-th smallest of the keys to position k, the smaller ones before it
// and the larger after it, as std::nth_element does. The keys are split around
// the median of three of them into `spare` without a branch on their values
// (which a processor cannot predict), and the side that holds position k is
// split again.
void selectNth(std::uint64_t *keys, std::size_t count, std::size_t k, std::uint64_t *spare)
{
    std::size_t first = 0, last = count;
    while (last - first > 16) {
        const std::uint64_t a = keys[first], b = keys[(first + last) / 2], c = keys[last - 1];
        const std::uint64_t pivot = std::max(std::min(a, b), std::min(std::max(a, b), c));
        // At least two keys are at most the pivot and one is above it: each side
        // keeps some.
        std::size_t low = 0, high = last - first;
        for (std::size_t i = first; i < last; ++i) {
            const std::uint64_t key = keys[i];
            const bool below = key <= pivot;
            spare[low] = key;
            spare[high - 1] = key;
            low += below;
            high -= !below;
        }
        std::copy(spare, spare + (last - first), keys + first);
        if (k < first + low)
            last = first + low;
        else
            first += low;
    }
    std::sort(keys + first, keys + last);
}

struct Builder {
    const Matrix &stored;
    IndexLayout &index;
    std::vector<int> &order;
    std::vector<float> low, high;
    std::vector<double> sum, squares;
    std::uint64_t *keys, *spare;  // shared by all builders, each using those of its own rows

    // The lowest and highest of each value over the rows order[first .. last).
    void measure(int first, int last)
    {
        low.assign(stored.row(order[first]), stored.row(order[first]) + index.width);
        high = low;
        for (int i = first + 1; i < last; ++i) {
            const float *row = stored.row(order[i]);
            for (int j = 0; j < index.width; ++j) {
                low[j] = std::min(low[j], row[j]);
                high[j] = std::max(high[j], row[j]);
            }
        }
    }

    // Leaves start at multiples of the leaf size (see split), which numbers them.
    void addLeaf(int first, int last)
    {
        constexpr int lanes = IndexLayout::lanes;
        const int width = index.width, head = std::min(width, IndexLayout::headWidth), tail = index.tailWidth;
        const int leaf = first / IndexLayout::leafRows;
        float *box = index.boxes.data() + std::size_t(leaf / lanes) * 2 * width * lanes + leaf % lanes;
        for (int j = 0; j < width; ++j) {
            box[std::size_t(j) * lanes] = low[j];
            box[std::size_t(width + j) * lanes] = high[j];
        }
        float *heads = index.heads(), *tails = index.tails();
        float *blockBox = index.blockBoxes.data() + std::size_t(leaf) * IndexLayout::headWidth * 2 * IndexLayout::blocksPerLeaf;
        for (int i = first; i < last; ++i) {
            const std::size_t block = std::size_t(i / lanes), lane = std::size_t(i % lanes);
            const int b = int(block) % IndexLayout::blocksPerLeaf;
            const float *row = stored.row(order[i]);
            index.rows[i] = order[i];
            for (int j = 0; j < IndexLayout::headWidth; ++j) {
                const float value = j < head ? row[j] : 0.0f;
                heads[(block * IndexLayout::headWidth + j) * lanes + lane] = value;
                float &lowest = blockBox[2 * j * IndexLayout::blocksPerLeaf + b], &highest = blockBox[(2 * j + 1) * IndexLayout::blocksPerLeaf + b];
                lowest = std::min(lowest, value);
                highest = std::max(highest, value);
            }
            for (int j = 0; j < tail; ++j)
                tails[(block * tail + j) * lanes + lane] = row[head + j];
        }
    }

    // Which of the first `width` values varies most over the rows order[first ..
    // last), judged by an even sample of them: every (n / 256)-th, so fewer than
    // 512 rows (those of a large node lie far apart in memory).
    int mostVaried(int first, int last, int width)
    {
        sum.assign(std::size_t(width), 0.0);
        squares.assign(std::size_t(width), 0.0);
        const int step = std::max(1, (last - first) / 256);
        int count = 0;
        for (int i = first; i < last; i += step, ++count) {
            const float *row = stored.row(order[i]);
            for (int j = 0; j < width; ++j) {
                sum[j] += row[j];
                squares[j] += double(row[j]) * row[j];
            }
        }
        const auto spread = [&](int j) { return squares[std::size_t(j)] - sum[std::size_t(j)] * sum[std::size_t(j)] / count; };  // count times the variance
        int varied = 0;
        for (int j = 1; j < width; ++j)
            if (spread(j) > spread(varied))
                varied = j;
        return varied;
    }

    // Splits the rows of a node at the median of the one of the first `width`
    // values that varies most (its boxes come out tighter than when split along
    // the widest range), rounded up to a multiple of `unit` rows, so that every
    // leaf or block but the last is full; returns where the second half starts.
    // The values are gathered beside their rows, so that the selection reads
    // them in order.
    int split(int first, int last, int unit, int width)
    {
        const int varied = mostVaried(first, last, width);
        const int middle = first + ((last - first) / 2 + unit - 1) / unit * unit;
        std::uint64_t *nodeKeys = keys + first;
        for (int i = first; i < last; ++i)
            nodeKeys[i - first] = orderedKey(stored(order[i], varied), order[i]);
        selectNth(nodeKeys, std::size_t(last - first), std::size_t(middle - first), spare + first);
        for (int i = first; i < last; ++i)
            order[i] = int(std::uint32_t(nodeKeys[i - first]));
        return middle;
    }

    // Orders the rows of a leaf so that each block holds rows near each other in
    // the head values, over which the blocks are boxed.
    void orderBlocks(int first, int last)
    {
        if (last - first <= IndexLayout::lanes)
            return;
        const int middle = split(first, last, IndexLayout::lanes, std::min(index.width, IndexLayout::headWidth));
        orderBlocks(first, middle);
        orderBlocks(middle, last);
    }

    void build(int first, int last)
    {
        if (last - first <= IndexLayout::leafRows) {
            orderBlocks(first, last);
            measure(first, last);
            return addLeaf(first, last);
        }
        const int middle = split(first, last, IndexLayout::leafRows, index.width);
        build(first, middle);
        build(middle, last);
    }
};

// The rows that can win, split into leaves and blocks, laid out for the search.
IndexLayout layoutOf(const Matrix &stored)
{
    constexpr int lanes = IndexLayout::lanes;
    IndexLayout index;
    index.width = stored.columns;
    index.tailWidth = std::max(stored.columns - IndexLayout::headWidth, 0);
    std::vector<int> order;
    for (int r = 0; r < stored.rows; ++r) {
        const float *row = stored.row(r);
        if (std::all_of(row, row + stored.columns, [](float v) { return std::isfinite(v); }))
            order.push_back(r);
    }
    if (order.empty() || stored.columns == 0)
        return index;
    const std::size_t blockCount = (order.size() + lanes - 1) / lanes;
    const std::size_t leafCount = (order.size() + IndexLayout::leafRows - 1) / IndexLayout::leafRows;
    // Padding lanes lie infinitely far away; padding values add nothing.
    index.rows.assign(blockCount * lanes, INT_MAX);
    index.blocks.assign(blockCount * lanes * (IndexLayout::headWidth + std::size_t(index.tailWidth)), INFINITY);
    std::fill_n(index.heads(), blockCount * lanes * IndexLayout::headWidth, 0.0f);
    for (std::size_t lane = order.size(); lane < blockCount * lanes; ++lane)
        index.heads()[(lane / lanes * IndexLayout::headWidth) * lanes + lane % lanes] = INFINITY;
    index.boxes.assign((leafCount + lanes - 1) / lanes * 2 * std::size_t(stored.columns) * lanes, INFINITY);
    index.blockBoxes.resize(leafCount * IndexLayout::headWidth * 2 * IndexLayout::blocksPerLeaf);
    for (std::size_t i = 0; i < index.blockBoxes.size(); ++i)  // every box empty: lowest +inf, highest -inf
        index.blockBoxes[i] = i / IndexLayout::blocksPerLeaf % 2 == 0 ? INFINITY : -INFINITY;
    for (std::size_t leaf = 0; leaf < leafCount; ++leaf)
        index.leafBlocks.push_back(int(leaf * IndexLayout::leafRows / lanes));
    index.leafBlocks.push_back(int(blockCount));
    // The first three levels are split here, the eight subtrees below them built
    // side by side.
    std::vector<std::pair<int, int>> subtrees{{0, int(order.size())}};
    std::vector<std::uint64_t> keys(order.size()), spare(order.size());
    Builder top{stored, index, order, {}, {}, {}, {}, keys.data(), spare.data()};
    for (int level = 0; level < 3; ++level) {
        std::vector<std::pair<int, int>> next;
        for (const auto &[first, last] : subtrees) {
            if (last - first <= IndexLayout::leafRows) {
                next.emplace_back(first, last);
                continue;
            }
            const int middle = top.split(first, last, IndexLayout::leafRows, stored.columns);
            next.emplace_back(first, middle);
            next.emplace_back(middle, last);
        }
        subtrees = next;
    }
    forEachIndex(int(subtrees.size()), [&](int i) { Builder{stored, index, order, {}, {}, {}, {}, keys.data(), spare.data()}.build(subtrees[i].first, subtrees[i].second); }, 1);
    return index;
}

} // namespace

NearestIndex nearestIndex(const Matrix &stored, Vectors vectors)
{
    auto laidOut = std::make_shared<IndexLayout>(layoutOf(stored));
    laidOut->wideVectors = vectors == Vectors::Widest && __builtin_cpu_supports("avx512f");
    return NearestIndex(std::move(laidOut));
}

} // namespace sorvik
