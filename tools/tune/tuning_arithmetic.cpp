#include "tools/tune/tuning_arithmetic.h"

#include "base/parallel.h"

#include <algorithm>
#include <utility>

namespace sorvik {

namespace {

// Adds a * row[j] for j from `first` to every product sum of a row of the Gram.
__attribute__((target_clones("avx512f", "avx2", "default")))
void addScaledRow(std::int64_t *sums, const std::int32_t *row, std::int32_t a, int first, int count)
{
    for (int j = first; j < count; ++j)
        sums[j] += std::int64_t(a * row[j]);
}

} // namespace

Gram gramOf(const ByteRows &x, const std::vector<int> &picked)
{
    const int m = x.columns;
    Gram g;
    g.columns = m;
    g.rows = int(picked.size());
    g.products.assign(std::size_t(m) * std::size_t(m), 0);
    g.sums.assign(std::size_t(m), 0);
    for (const int r : picked)
        for (int j = 0; j < m; ++j)
            g.sums[std::size_t(j)] += x.row(r)[j];
    // Each thread takes some rows of the upper triangle over all samples; a
    // feature of zero (most of a character's background) adds nothing.
    const int parts = 8;
    forEachIndex(parts, [&](int part) {
        std::vector<std::int32_t> wide(static_cast<std::size_t>(m));
        for (const int r : picked) {
            const std::uint8_t *values = x.row(r);
            std::copy(values, values + m, wide.begin());
            for (int i = part; i < m; i += parts)
                if (wide[std::size_t(i)] != 0)
                    addScaledRow(g.products.data() + std::size_t(i) * std::size_t(m), wide.data(), wide[std::size_t(i)], i, m);
        }
    }, 1);
    return g;
}

Matrix covarianceWithout(const Gram &all, const Gram &part)
{
    const int m = all.columns;
    const double n = double(all.rows - part.rows);
    Matrix s(m, m);
    for (int i = 0; i < m; ++i)
        for (int j = i; j < m; ++j) {
            const std::size_t at = std::size_t(i) * std::size_t(m) + std::size_t(j);
            const double products = double(all.products[at] - part.products[at]);
            const double sumI = double(all.sums[std::size_t(i)] - part.sums[std::size_t(i)]);
            const double sumJ = double(all.sums[std::size_t(j)] - part.sums[std::size_t(j)]);
            s(i, j) = s(j, i) = float((products - sumI * sumJ / n) / (n - 1));
        }
    return s;
}

namespace {

__attribute__((target_clones("avx512f", "avx2", "default")))
void addScaled(float *out, const float *values, float a, int count)
{
    for (int c = 0; c < count; ++c)
        out[c] += a * values[c];
}

} // namespace

Matrix projectRows(const ByteRows &x, const Matrix &components, int width)
{
    Matrix p(x.rows, width);
    forEachIndex(x.rows, [&](int r) {
        float *out = p.row(r);
        const std::uint8_t *values = x.row(r);
        for (int j = 0; j < x.columns; ++j)
            if (values[j] != 0)
                addScaled(out, components.row(j), float(values[j]), width);
    }, 64);
    return p;
}

namespace {

constexpr int blockRows = 256;

// Adds the squares of the differences of value j of the block's rows (laid out
// value by value) and of the query.
__attribute__((target_clones("avx512f", "avx2", "default")))
void addSquares(float *sums, const float *values, float query, int count)
{
    for (int b = 0; b < count; ++b) {
        const float difference = values[b] - query;
        sums[b] += difference * difference;
    }
}

// Takes the rows of a block into the nearest `count` so far (nearest first): rows
// come in ascending order, so one at the distance of the last kept stays out.
void takeNearest(std::vector<std::pair<float, int>> &nearest, const float *sums, int first, int rows, int count)
{
    for (int b = 0; b < rows; ++b) {
        const float d = sums[b];
        if (int(nearest.size()) == count && !(d < nearest.back().first))
            continue;
        const auto place = std::upper_bound(nearest.begin(), nearest.end(), d, [](float v, const std::pair<float, int> &n) { return v < n.first; });
        nearest.insert(place, {d, first + b});
        if (int(nearest.size()) > count)
            nearest.pop_back();
    }
}

} // namespace

Neighbours nearestOverPrefixes(const Matrix &stored, const Matrix &queries, const std::vector<int> &prefixes, int count)
{
    const int width = prefixes.empty() ? 0 : prefixes.back();
    std::vector<std::vector<std::vector<std::pair<float, int>>>> kept(std::size_t(queries.rows),
                                                                        std::vector<std::vector<std::pair<float, int>>>(prefixes.size()));
    std::vector<float> block(std::size_t(width) * blockRows);
    for (int first = 0; first < stored.rows; first += blockRows) {
        const int rows = std::min(blockRows, stored.rows - first);
        for (int j = 0; j < width; ++j)
            for (int b = 0; b < rows; ++b)
                block[std::size_t(j) * blockRows + std::size_t(b)] = stored(first + b, j);
        forEachIndex(queries.rows, [&](int q) {
            float sums[blockRows] = {};
            const float *query = queries.row(q);
            std::size_t p = 0;
            for (int j = 0; j < width; ++j) {
                addSquares(sums, block.data() + std::size_t(j) * blockRows, query[j], rows);
                for (; p < prefixes.size() && prefixes[p] == j + 1; ++p)
                    takeNearest(kept[std::size_t(q)][p], sums, first, rows, count);
            }
        }, 8);
    }
    Neighbours nearest(std::size_t(queries.rows), std::vector<std::vector<int>>(prefixes.size()));
    for (std::size_t q = 0; q < kept.size(); ++q)
        for (std::size_t p = 0; p < prefixes.size(); ++p)
            for (const auto &k : kept[q][p])
                nearest[q][p].push_back(k.second);
    return nearest;
}

} // namespace sorvik
