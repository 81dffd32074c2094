#pragma once

#include "linalg/matrix.h"
#include "search/distance.h"
#include "search/nearest_index.h"

#include <utility>
#include <vector>

namespace sorvik {

// The nearest stored row by squared distance (distance.h), the scan in row order:
// the earliest of equal rows wins, and a distance that is not a number never does.
int nearestRowReference(const Matrix &stored, const float *query);


int nearestRow(const NearestIndex &index, const float *query);

// The nearest stored row whose class (classOf[row]) is not `excluded`, as the scan
// in row order over those rows finds it: the nearest row of any other class; -1
// when none is nearer than where a search starts.
int nearestRowOutsideReference(const Matrix &stored, const float *query, const std::vector<int> &classOf, int excluded);

// The nearest stored row, and the nearest row of any other class than that row's
// (classOf[row], one for every stored row; -1 when there is none nearer than where
// a search starts): one search, whose answers are nearestRow's and
// nearestRowOutsideReference's.
struct NearestTwo {
    int row = 0;
    int otherRow = -1;
};
NearestTwo nearestRowAndOtherClass(const Matrix &stored, const NearestIndex &index, const float *query, const std::vector<int> &classOf);

// The k nearest rows through the index, as (distance, row), nearest first and the
// earlier of equal rows first: only rows nearer than where a search starts, at
// most k of them. kNearestRows (neighbours.h) completes them.
std::vector<std::pair<float, int>> nearestPairs(const NearestIndex &index, const float *query, int k);

// The nearest stored row of every query row, in query order; `index` is
// nearestIndex(stored), which the plain build does not need.
std::vector<int> nearestRows(const Matrix &stored, const NearestIndex &index, const Matrix &queries);
std::vector<int> nearestRows(const Matrix &stored, const Matrix &queries);

// Builds the index for one query: for tests and single searches.
int nearestRow(const Matrix &stored, const float *query);

} // namespace sorvik
