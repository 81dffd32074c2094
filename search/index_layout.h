#pragma once

// The layout of the search index, for the search room alone: nearest_index.cpp
// builds it, nearest.cpp and nearest_kernels.cpp search it. Nothing outside
// search/ includes this header.

#include <vector>

namespace sorvik {

// The stored rows arranged for a fast search with the same answers: rows that
// can never win (a value that is not finite) are left out, the rest are split
// at the median of the value that varies most, again and again, down to leaves
// of up to `leafRows` rows, and within a leaf on down to blocks of `lanes` rows.
// A leaf's rows lie in blocks of `lanes` rows, value by value: the first
// `headWidth` values of every block among the heads (zeros after the last value
// of a narrow row), the others among the tails, so that the values which rule
// out most rows sit close together. Each leaf keeps its box (the lowest and
// highest of each value), the boxes of `lanes` leaves packed together in the
// same way, and the boxes of its blocks over the head values, also side by side.
struct IndexLayout {
    static constexpr int lanes = 16;
    static constexpr int leafRows = 256;
    static constexpr int headWidth = 8;
    static constexpr int blocksPerLeaf = leafRows / lanes;
    int width = 0;                  // values per row
    int tailWidth = 0;              // values after the head: width - 8, or none
    std::vector<int> leafBlocks;    // leaf i: blocks leafBlocks[i] .. leafBlocks[i + 1]
    std::vector<float> boxes;       // group g, value j, leaf l: lowest at (2g * width + j) * lanes + l, highest at ((2g + 1) * width + j) * lanes + l
    std::vector<float> blockBoxes;  // leaf i, head value j, its block b: lowest at (2 (i * headWidth + j)) * blocksPerLeaf + b,
                                    // highest at (2 (i * headWidth + j) + 1) * blocksPerLeaf + b; a missing block's box is empty
    std::vector<float> blocks;      // the heads of all blocks, then their tails:
                                    // head of block b: value j, lane l at (b * headWidth + j) * lanes + l
                                    // tail of block b: value headWidth + j, lane l at (b * tailWidth + j) * lanes + l
    std::vector<int> rows;          // stored row of every lane; padding lanes hold INT_MAX
    bool wideVectors = false;       // searched with 512-bit vectors
    int leafCount() const { return leafBlocks.empty() ? 0 : int(leafBlocks.size()) - 1; }
    float *heads() { return blocks.data(); }
    float *tails() { return blocks.data() + rows.size() * headWidth; }
    const float *heads() const { return blocks.data(); }
    const float *tails() const { return blocks.data() + rows.size() * headWidth; }
};

} // namespace sorvik
