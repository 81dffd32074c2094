#pragma once

// The arithmetic of the cross-validation, which never reaches a model: faster
// than the fixed recipe's and not equal to it, but the same on every run, every
// sum in a fixed order whatever the vectors or threads. The model that the tuner
// writes is trained by the recipe's own exact code.

#include "linalg/matrix.h"

#include <cstdint>
#include <vector>

namespace sorvik {

// The features of many samples, one byte each, row after row.
struct ByteRows {
    int rows = 0;
    int columns = 0;
    std::vector<std::uint8_t> values;
    const std::uint8_t *row(int r) const { return values.data() + std::size_t(r) * std::size_t(columns); }
};

// The sums of the products of the columns over the rows picked (x^T x, exact in
// integers) and the sums of the columns.
struct Gram {
    int columns = 0;
    std::vector<std::int64_t> products;  // columns x columns
    std::vector<std::int64_t> sums;
    int rows = 0;
};
Gram gramOf(const ByteRows &x, const std::vector<int> &picked);

// The covariance (divisor n - 1) of the rows of `all` that are not those of `part`:
// from the difference of their sums, in double, rounded to float; exactly symmetric.
Matrix covarianceWithout(const Gram &all, const Gram &part);

// Every row projected onto the leading `width` columns of the components, summed
// in float value by value.
Matrix projectRows(const ByteRows &x, const Matrix &components, int width);

// For every query row, the `count` nearest stored rows over each prefix of the
// values given in `prefixes` (ascending): distances summed in float, value by
// value, the earlier of equal rows first. nearest[q][p] holds the rows, nearest
// first, for prefix p.
using Neighbours = std::vector<std::vector<std::vector<int>>>;
Neighbours nearestOverPrefixes(const Matrix &stored, const Matrix &queries, const std::vector<int> &prefixes, int count);

} // namespace sorvik
