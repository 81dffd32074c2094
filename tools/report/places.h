#pragma once

// Where a report comes from and goes to: the command line of sorvik-report, and
// the origin the page and summary.json tell.

#include "tools/report/page.h"

#include <QCommandLineParser>
#include <QString>

namespace sorvik {

struct Places {
    QString testDirectory, modelFile, trainingDirectory, out;
    int galleryLimit = 100;
    bool force = false;  // write among entries that are not a report's
    QString grid;        // the JSON of a tuning, to draw
};

// The places a command line names; a wrong command line ends the run with status 2.
Places parsePlaces(QCommandLineParser &parser);

// The date, version, command line (quoted for a shell) and absolute paths of a report.
ReportOrigin originOf(const Places &places);

} // namespace sorvik
