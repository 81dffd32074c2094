#pragma once

#include "linalg/matrix.h"

#include <vector>

// Nearest stored row by squared Euclidean distance. Each term (p - q)^2 is formed
// in double from the two floats and added to a float running sum, rounded to float
// after every addition. The search starts from 9e30 at row 0 and takes a row only
// when it is strictly nearer, so the earliest of equal rows wins and a distance
// that is not a number never does.
int nearestRowReference(const Matrix &stored, const float *query);

// The squared distance of two rows of `width` values, summed as above.
float squaredDistance(const float *row, const float *query, int width);

// The stored rows arranged for a fast search with the same answers: rows that
// can never win (a value that is not finite) are left out, the rest are split
// into a tree of boxes, at each node along the widest value at the median, down to
// leaves of up to `leafRows` rows, packed value by value in blocks of `lanes` rows.
struct NearestIndex {
    static constexpr int lanes = 16;
    static constexpr int leafRows = 128;
    struct Node {
        int firstBlock = 0;  // a leaf's blocks; an inner node has none
        int endBlock = 0;
        int children[2] = {-1, -1};
    };
    int width = 0;               // values per row
    std::vector<Node> nodes;     // nodes[0] is the root
    int boxWidth = 0;            // values per box side: width rounded up to a multiple of 8
    std::vector<float> boxes;    // node n: lowest values at n * 2 * boxWidth, highest after them
    std::vector<float> blocks;   // block b, value j, lane l at (b * width + j) * lanes + l
    std::vector<int> rows;       // stored row of every lane; padding lanes hold INT_MAX
};

NearestIndex nearestIndex(const Matrix &stored);
int nearestRow(const NearestIndex &index, const float *query);

// The nearest stored row of every query row, in query order.
std::vector<int> nearestRows(const Matrix &stored, const Matrix &queries);

// Builds the index for one query: for tests and single searches.
int nearestRow(const Matrix &stored, const float *query);
