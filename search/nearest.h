#pragma once

#include "linalg/matrix.h"
#include "search/nearest_index.h"

#include <vector>

namespace sorvik {

// Nearest stored row by squared Euclidean distance. Each term (p - q)^2 is formed
// in double from the two floats and added to a float running sum, rounded to float
// after every addition. The search starts from 9e30 at row 0 and takes a row only
// when it is strictly nearer, so the earliest of equal rows wins and a distance
// that is not a number never does.
int nearestRowReference(const Matrix &stored, const float *query);

// The squared distance of two rows of `width` values, summed as above.
float squaredDistance(const float *row, const float *query, int width);

int nearestRow(const NearestIndex &index, const float *query);

// The nearest stored row of every query row, in query order; `index` is
// nearestIndex(stored), which the plain build does not need.
std::vector<int> nearestRows(const Matrix &stored, const NearestIndex &index, const Matrix &queries);
std::vector<int> nearestRows(const Matrix &stored, const Matrix &queries);

// Builds the index for one query: for tests and single searches.
int nearestRow(const Matrix &stored, const float *query);

} // namespace sorvik
