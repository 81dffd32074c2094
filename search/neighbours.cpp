#include "search/neighbours.h"

#include "search/distance.h"

#include <algorithm>
#include <map>
#include <utility>

namespace sorvik {

std::vector<int> kNearestRows(const Matrix &stored, const float *query, int k)
{
    k = std::clamp(k, 0, stored.rows);
    std::vector<std::pair<float, int>> best;  // (distance, row), nearest first
    best.reserve(std::size_t(k) + 1);
    for (int r = 0; r < stored.rows; ++r) {
        const float distance = squaredDistance(stored.row(r), query, stored.columns);
        if (!beats(distance, r, startDistance, stored.rows))
            continue;
        if (int(best.size()) == k && !beats(distance, r, best.back().first, best.back().second))
            continue;
        // Rows come in order, so a row goes after every one at its distance.
        const auto place = std::upper_bound(best.begin(), best.end(), distance, [](float d, const std::pair<float, int> &b) { return d < b.first; });
        best.insert(place, {distance, r});
        if (int(best.size()) > k)
            best.pop_back();
    }
    std::vector<int> rows;
    for (const auto &b : best)
        rows.push_back(b.second);
    for (int r = 0; int(rows.size()) < k && r < stored.rows; ++r)
        if (std::find(rows.begin(), rows.end(), r) == rows.end())
            rows.push_back(r);
    return rows;
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
