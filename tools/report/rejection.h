#pragma once

// What a rejection distance buys: as the distance below which an answer is
// kept moves from 0 to the largest nearest distance, the share of the labelled
// images answered and the share of those answers that are right.

#include "tools/classification.h"

#include <vector>

namespace sorvik {

struct RejectionRow {
    float squaredDistance = 0;  // answers whose nearest squared distance is at most this are kept
    double answered = 0;        // the share of the labelled images kept
    double accuracy = 0;        // the share of those read right
    double target = 0;          // for a marked threshold: the accuracy it was picked for; 0 for the largest distance
};

// One row at every distinct finite nearest distance of the labelled images, in
// ascending order.
std::vector<RejectionRow> rejectionCurve(const std::vector<Answer> &answers);

// The marked thresholds: for each of the accuracies 99.5, 99, 98, 95 and 90 %,
// the largest distance whose kept answers are at least that right (where one is),
// then the largest distance of all.
std::vector<RejectionRow> rejectionThresholds(const std::vector<RejectionRow> &curve);

} // namespace sorvik
