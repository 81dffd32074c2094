#pragma once

#include "linalg/matrix.h"

// Nearest stored row by squared Euclidean distance. Each term (p - q)^2 is formed
// in double from the two floats and added to a float running sum, rounded to float
// after every addition. The search starts from 9e30 at row 0 and takes a row only
// when it is strictly nearer, so the earliest of equal rows wins and a distance
// that is not a number never does.
int nearestRowReference(const Matrix &stored, const float *query);

int nearestRow(const Matrix &stored, const float *query);
