#pragma once

// The report's page: index.html, which shows the figures beside it and the
// misread pairs inside it, and fetches nothing from anywhere.

#include "tools/report/figures.h"

#include <QByteArray>
#include <QMap>
#include <QSize>
#include <QString>

#include <vector>

namespace sorvik {

struct GalleryItem {
    QString picture;        // the picture as a data: URL, inside the page; empty when none
    QSize size;             // as the page shows it
    QString testFile;
    QString testUrl;        // file: URL of the test image
    QString actual;
    QString predicted;
    float distance = 0;     // squared distance to the nearest projection row
    QString nearestFile;    // empty when the training files are not known
    QString nearestUrl;
};

// Where the report came from: shown at the top of the page and kept in summary.json.
struct ReportOrigin {
    QString date;            // ISO 8601, UTC
    QString version;
    QString command;         // the command line, quoted for a shell
    QString testDirectory;   // absolute paths
    QString modelFile;
    QString trainingDirectory;
    QString out;
    QString recipe;          // the model's parameters in words: "spacing 4, 21 components and 1 neighbour"
};

struct PageContent {
    ReportOrigin origin;
    Figures figures;
    int unlabelled = 0;                 // images predicted only: no class in their names
    QStringList unseenClasses;          // test classes that no training image carries
    QString trainingProblem;            // why the nearest training files are not named
    QMap<QString, QSize> pictures;      // every picture beside the page, by file name
    std::vector<double> varianceShares; // of the kept components
    std::vector<GalleryItem> gallery;
    int misread = 0;                    // all misread images, shown or not
    int unmeasured = 0;                 // images whose nearest distance is not a finite number
};

QByteArray indexPage(const PageContent &content);

} // namespace sorvik
