#pragma once

// The table of a tuning, as sorvik-tune writes it (--json) and sorvik-report
// draws it (--grid): one row per configuration, and the one chosen.

#include <QByteArray>
#include <QJsonObject>

#include <vector>

namespace sorvik {

// One configuration and how it read the folds: its mean accuracy and the standard
// deviation over the folds (as numpy's std), both in per cent.
struct Scored {
    int spacing = 0;
    int features = 0;
    int components = 0;
    double keep = 0;
    int neighbours = 0;
    double accuracy = 0;
    double sd = 0;
};

QJsonObject scoredJson(const Scored &s);

// The JSON file: {"grid": [rows], "best": row}.
QByteArray gridJson(const std::vector<Scored> &grid, const Scored &best);

// What such a file gives: its rows and its choice (Read); no row, as a run that
// trains one configuration unscored (--folds 0) writes it (Unscored); or nothing,
// for it is not one (NotGrid).
enum class GridFile { Read, Unscored, NotGrid };
GridFile readGridJson(const QByteArray &json, std::vector<Scored> &grid, Scored &best);

} // namespace sorvik
