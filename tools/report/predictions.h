#pragma once

// The answer for every test image and predictions.csv, the file that holds them.

#include "tools/classification.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace sorvik {


// One row per answer; the column nearest_file when the training files are known.
// Fields are quoted where RFC 4180 needs it. A field that a spreadsheet would run
// as a formula (one that begins with =, +, - or @), or one that begins with an
// apostrophe, gets an apostrophe in front, which spreadsheets show as text; a
// script drops the first character of a field that begins with one.
QByteArray predictionsCsv(const std::vector<Answer> &answers, const QStringList &trainingFiles);

} // namespace sorvik
