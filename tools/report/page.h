#pragma once

// The report's page: index.html, which shows the figures and the pictures beside
// it and fetches nothing from anywhere.

#include "tools/report/figures.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace sorvik {

struct GalleryItem {
    QString picture;        // file name of the picture, beside the page
    QString testFile;
    QString actual;
    QString predicted;
    QString nearestFile;    // empty when the training files are not known
};

struct PageContent {
    QString testDirectory;
    QString modelFile;
    Figures figures;
    int unlabelled = 0;                 // images predicted only: no class in their names
    bool hasComponents = false;         // components.png was drawn
    std::vector<GalleryItem> gallery;
    int misread = 0;                    // all misread images, shown or not
};

QByteArray indexPage(const PageContent &content);

} // namespace sorvik
