#pragma once

// The report's page: index.html, which shows the figures beside it and the
// misread pairs inside it, links only to what lies in its folder or in itself
// (so the folder may be moved, zipped or served), and fetches nothing from
// anywhere.

#include "tools/grid.h"
#include "tools/report/figures.h"
#include "tools/report/rejection.h"

#include <QByteArray>
#include <QMap>
#include <QSize>
#include <QString>

#include <vector>

namespace sorvik {

struct GalleryItem {
    QString picture;        // the picture as a data: URL, inside the page; empty when none
    QSize size;             // as the page shows it
    QString testFile;       // printable names
    QString actual;
    QString predicted;
    float distance = 0;     // squared distance to the nearest projection row
    QString nearestFile;    // empty when the training files are not known
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
    int features = 0;                   // of the model
    std::vector<RejectionRow> rejectionCurve;  // every distance at which the answers kept change
    std::vector<RejectionRow> rejection;       // the marked thresholds
    std::vector<Scored> grid;           // a tuning's table, when one is given
    Scored chosen;                      // and its choice
};

QByteArray indexPage(const PageContent &content);

// The sections of the page (page_sections.cpp), each with its heading.
QString classSection(const PageContent &content);
QString confusionSection(const PageContent &content);
QString modelSection(const PageContent &content);
QString distanceSection(const PageContent &content);
QString gridSection(const PageContent &content);
QString gallerySection(const PageContent &content);

// Text for the page, and a picture beside it (or nothing where there is none),
// keeping its own size in a box that scrolls at a narrow width.
QString escaped(const QString &text);
QString besidePicture(const PageContent &content, const QString &name, const QString &alt);
QString imageTag(const QString &source, QSize size, const QString &alt);

// The anchor of a confused pair's pictures in the gallery.
QString pairAnchor(const QString &actual, const QString &predicted);

} // namespace sorvik
