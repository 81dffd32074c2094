#pragma once

// More than one neighbour: the k nearest stored rows and the class they vote for.

#include "linalg/matrix.h"
#include "search/nearest_index.h"

#include <vector>

namespace sorvik {

// The k nearest stored rows of a query, nearest first, by the distance rule of
// distance.h: the earlier of equal rows first. Rows no nearer than where a search
// starts (infinitely far, or not a number) follow in row order, so that a query
// that every row is that far from reads as row 0, as the nearest row does.
std::vector<int> kNearestRows(const Matrix &stored, const float *query, int k);
// The same rows found through the index of `stored` (nearestIndex(stored)).
std::vector<int> kNearestRows(const Matrix &stored, const NearestIndex &index, const float *query, int k);

// Where in `nearest` (nearest first) the class they vote for has its nearest
// member: each row gives one vote to classOf[row]; the class with most votes
// wins, and a tie goes to the class whose nearest member comes first.
int votedPosition(const std::vector<int> &nearest, const std::vector<int> &classOf);

} // namespace sorvik
