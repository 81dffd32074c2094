#include "search/neighbours.h"

#include "search/distance.h"
#include "search/nearest.h"

#include <algorithm>
#include <map>
#include <utility>

namespace sorvik {

namespace {

// The rows of the pairs, then the rows that are not among them in row order, up to k.
std::vector<int> completed(const std::vector<std::pair<float, int>> &nearest, int k, int rowCount)
{
    std::vector<int> rows;
    std::vector<char> taken(std::size_t(rowCount), 0);
    for (const auto &n : nearest) {
        rows.push_back(n.second);
        taken[std::size_t(n.second)] = 1;
    }
    for (int r = 0; int(rows.size()) < k && r < rowCount; ++r)
        if (!taken[std::size_t(r)])
            rows.push_back(r);
    return rows;
}

} // namespace

std::vector<int> kNearestRows(const Matrix &stored, const float *query, int k)
{
    k = std::clamp(k, 0, stored.rows);
    std::vector<std::pair<float, int>> best;  // (distance, row), nearest first
    best.reserve(std::size_t(k) + 1);
    for (int r = 0; r < stored.rows && k > 0; ++r) {
        const float distance = squaredDistance(stored.row(r), query, stored.columns);
        if (!(distance < startDistance))
            continue;
        if (int(best.size()) == k && !beats(distance, r, best.back().first, best.back().second))
            continue;
        // Rows come in order, so a row goes after every one at its distance.
        const auto place = std::upper_bound(best.begin(), best.end(), distance, [](float d, const std::pair<float, int> &b) { return d < b.first; });
        best.insert(place, {distance, r});
        if (int(best.size()) > k)
            best.pop_back();
    }
    return completed(best, k, stored.rows);
}

std::vector<int> kNearestRows(const Matrix &stored, const NearestIndex &index, const float *query, int k)
{
    k = std::clamp(k, 0, stored.rows);
    if (stored.columns == 0)  // every distance is 0: the first k rows
        return kNearestRows(stored, query, k);
    return completed(nearestPairs(index, query, k), k, stored.rows);
}

int votedPosition(const std::vector<int> &nearest, const std::vector<int> &classOf)
{
    std::map<int, std::pair<int, int>> votes;  // class: (votes, position of its nearest member)
    for (int i = 0; i < int(nearest.size()); ++i) {
        auto &v = votes.try_emplace(classOf[std::size_t(nearest[std::size_t(i)])], 0, i).first->second;
        ++v.first;
    }
    int position = 0, most = 0;
    for (const auto &[klass, v] : votes)
        if (v.first > most || (v.first == most && v.second < position))
            most = v.first, position = v.second;
    return position;
}

} // namespace sorvik
