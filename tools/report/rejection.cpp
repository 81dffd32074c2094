#include "tools/report/rejection.h"

#include <algorithm>
#include <cmath>

namespace sorvik {

std::vector<RejectionRow> rejectionCurve(const std::vector<Answer> &answers)
{
    std::vector<std::pair<float, bool>> read;  // (distance, right) of the labelled images
    int labelled = 0;
    for (const Answer &a : answers) {
        labelled += a.hasClass;
        if (a.hasClass && std::isfinite(a.distance))
            read.emplace_back(a.distance, a.label == a.predicted);
    }
    std::sort(read.begin(), read.end(), [](const auto &x, const auto &y) { return x.first < y.first; });
    std::vector<RejectionRow> curve;
    int kept = 0, right = 0;
    for (std::size_t i = 0; i < read.size(); ++i) {
        ++kept;
        right += read[i].second;
        if (i + 1 < read.size() && read[i + 1].first == read[i].first)
            continue;  // a distance counts all the images at it
        RejectionRow row;
        row.squaredDistance = read[i].first;
        row.answered = double(kept) / labelled;
        row.accuracy = double(right) / kept;
        curve.push_back(row);
    }
    return curve;
}

std::vector<RejectionRow> rejectionThresholds(const std::vector<RejectionRow> &curve)
{
    std::vector<RejectionRow> marked;
    for (const double target : {0.995, 0.99, 0.98, 0.95, 0.9}) {
        const auto last = std::find_if(curve.rbegin(), curve.rend(), [&](const RejectionRow &r) { return r.accuracy >= target; });
        if (last != curve.rend() && (marked.empty() || marked.back().squaredDistance != last->squaredDistance)) {
            marked.push_back(*last);
            marked.back().target = target;
        }
    }
    if (!curve.empty() && (marked.empty() || marked.back().squaredDistance != curve.back().squaredDistance))
        marked.push_back(curve.back());
    return marked;
}

} // namespace sorvik
