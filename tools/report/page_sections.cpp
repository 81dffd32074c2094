#include "tools/report/page.h"

#include "base/printable_name.h"

#include <QSet>

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

namespace sorvik {

namespace {

QString figureCells(const ClassFigures &c)
{
    return QStringLiteral("<td>%1</td><td>%2</td><td>%3</td><td>%4</td>")
        .arg(c.precision, 0, 'f', 2).arg(c.recall, 0, 'f', 2).arg(c.f1, 0, 'f', 2).arg(c.support);
}

// Right reads blue by their share of the row; misreads red by their count
// against the largest misread count, so that errors stand out however large
// the diagonal is.
QString cellColour(bool right, double share)
{
    const auto channel = [&](double fade) { return int(std::lround(255 * (1 - fade * share))); };
    return right ? QStringLiteral("rgb(%1,%2,%3)").arg(channel(0.9)).arg(channel(0.7)).arg(channel(0.35))
                 : QStringLiteral("rgb(%1,%2,%3)").arg(channel(0.2)).arg(channel(0.85)).arg(channel(0.9));
}

// The pairs that the gallery shows.
QSet<QString> shownPairs(const PageContent &content)
{
    QSet<QString> shown;
    for (const GalleryItem &item : content.gallery)
        shown.insert(pairAnchor(item.actual, item.predicted));
    return shown;
}

// The first row of a table of the classes: its corner, then every class.
QString headerRow(const Figures &f, const QString &corner)
{
    QString row = QStringLiteral("<tr><th>%1</th>").arg(corner);
    for (const QString &label : f.classes)
        row += QStringLiteral("<th>%1</th>").arg(escaped(label));
    return row + QStringLiteral("</tr>\n");
}

QString heatMap(const Figures &f, const QSet<QString> &shown)
{
    int largestError = 1;
    for (int a = 0; a < f.classes.size(); ++a)
        for (int p = 0; p < f.classes.size(); ++p)
            largestError = std::max(largestError, a == p ? 0 : f.confusion[std::size_t(a)][std::size_t(p)]);
    QString table = QStringLiteral("<div class=\"scroll\"><table id=\"confusion\">\n") + headerRow(f, QStringLiteral("actual \\\\ predicted"));
    for (int a = 0; a < f.classes.size(); ++a) {
        const auto &counts = f.confusion[std::size_t(a)];
        const int total = std::max(1, std::accumulate(counts.begin(), counts.end(), 0));  // never 0, to divide by
        table += QStringLiteral("<tr><th>%1</th>").arg(escaped(f.classes.at(a)));
        for (int p = 0; p < f.classes.size(); ++p) {
            const int count = counts[std::size_t(p)];
            const bool right = a == p;
            const double share = right ? double(count) / total : double(count) / largestError;
            const QString title = QStringLiteral("%1 read as %2: %3 of %4 images (%5 % of %1)")
                                      .arg(f.classes.at(a), f.classes.at(p)).arg(count).arg(total).arg(100.0 * count / total, 0, 'f', 1);
            const QString anchor = pairAnchor(f.classes.at(a), f.classes.at(p));
            const QString text = !right && count > 0 && shown.contains(anchor) ? QStringLiteral("<a href=\"#%1\">%2</a>").arg(anchor).arg(count)
                                                                                : QString::number(count);
            table += QStringLiteral("<td style=\"background:%1%2\" title=\"%3\">%4</td>")
                         .arg(cellColour(right, share), share > 0.5 ? QStringLiteral(";color:#fff") : QString(), escaped(title), text);
        }
        table += QStringLiteral("</tr>\n");
    }
    return table + QStringLiteral("</table></div>\n");
}

// The same matrix as shares of each row, in per cent.
QString rowShares(const Figures &f)
{
    QString table = QStringLiteral("<details><summary>The matrix as shares of each actual class</summary>\n<div class=\"scroll\"><table id=\"shares\">\n")
                  + headerRow(f, QString());
    for (int a = 0; a < f.classes.size(); ++a) {
        const auto &counts = f.confusion[std::size_t(a)];
        const int total = std::max(1, std::accumulate(counts.begin(), counts.end(), 0));  // never 0, to divide by
        table += QStringLiteral("<tr><th>%1</th>").arg(escaped(f.classes.at(a)));
        for (const int count : counts)
            table += count == 0 ? QStringLiteral("<td></td>") : QStringLiteral("<td>%1</td>").arg(100.0 * count / total, 0, 'f', 1);
        table += QStringLiteral("</tr>\n");
    }
    return table + QStringLiteral("</table></div></details>\n");
}

} // namespace

QString classSection(const PageContent &content)
{
    const Figures &f = content.figures;
    QString page = QStringLiteral("<h2 id=\"classes\">Per class</h2>\n<div class=\"scroll\"><table id=\"classes-table\">\n"
                                  "<tr><th>class</th><th>precision</th><th>recall</th><th>f1-score</th><th>support</th></tr>\n");
    for (const ClassFigures &c : f.perClass)
        page += QStringLiteral("<tr><th>%1</th>%2</tr>\n").arg(escaped(c.label), figureCells(c));
    for (const ClassFigures *c : {&f.macroAverage, &f.weightedAverage})
        page += QStringLiteral("<tr><th>%1</th>%2</tr>\n").arg(c->label, figureCells(*c));
    return page + QStringLiteral("</table></div>\n") + besidePicture(content, QStringLiteral("recall.png"), QStringLiteral("bars of the recall of each class"));
}

QString confusionSection(const PageContent &content)
{
    const Figures &f = content.figures;
    const QSet<QString> shown = shownPairs(content);
    QString page = QStringLiteral("<h2 id=\"confusion-matrix\">Confusion matrix</h2>\n<p>Rows are the actual classes, columns the predicted ones. Right "
                                  "reads are blue by their share of the row; misreads are red by their count against the largest misread count. "
                                  "A cell tells its count and share when pointed at; a misread count leads to its pictures.</p>\n")
                 + heatMap(f, shown) + rowShares(f) + QStringLiteral("<h3 id=\"confusions\">Most frequent confusions</h3>\n<ol>\n");
    for (const Confusion &c : f.topConfusions) {
        const QString anchor = pairAnchor(c.actual, c.predicted);
        const QString pair = QStringLiteral("%1 read as %2").arg(escaped(c.actual), escaped(c.predicted));
        page += QStringLiteral("<li>%1: %2</li>\n")
                    .arg(shown.contains(anchor) ? QStringLiteral("<a href=\"#%1\">%2</a>").arg(anchor, pair) : pair, QString::number(c.count));
    }
    return page + QStringLiteral("</ol>\n");
}

QString modelSection(const PageContent &content)
{
    QString page;
    if (content.pictures.contains(QStringLiteral("components.png")))
        page += QStringLiteral("<h2 id=\"components\">Eigen-characters</h2>\n<p>The leading components taken back to pixels through the basic functions of the "
                               "F-transform, each with its share of the variance that the kept components hold: grey is zero, light positive, "
                               "dark negative.</p>\n")
              + besidePicture(content, QStringLiteral("components.png"), QStringLiteral("the leading components drawn as images"));
    QStringList shares;
    for (const double share : content.varianceShares)
        shares << QString::number(share * 100, 'f', 1);
    return page + QStringLiteral("<h2 id=\"variance\">Variance</h2>\n")
         + besidePicture(content, QStringLiteral("variance.png"), QStringLiteral("cumulative share of the variance over the components"))
         + QStringLiteral("<details><summary>Shares of the variance, component by component</summary>\n<p><span id=\"variance-shares\">%1</span> "
                          "(per cent; also in summary.json).</p></details>\n").arg(shares.join(QStringLiteral(", ")))
         + besidePicture(content, QStringLiteral("scatter.png"), QStringLiteral("training images by their first two projections, by class"));
}

QString distanceSection(const PageContent &content)
{
    QString page = QStringLiteral("<h2 id=\"distances\">Distances</h2>\n")
                 + (content.unmeasured == 0 ? QString()
                                            : QStringLiteral("<p id=\"unmeasured\">%1 a nearest squared distance that is not a finite number "
                                                             "(the model's values are too large for float arithmetic) and %2 not drawn.</p>\n")
                                                  .arg(counted(content.unmeasured, "image") + QLatin1String(content.unmeasured == 1 ? " has" : " have"),
                                                       content.unmeasured == 1 ? QStringLiteral("is") : QStringLiteral("are")))
                 + besidePicture(content, QStringLiteral("distances.png"), QStringLiteral("histogram of the nearest squared distances"))
                 + (content.pictures.contains(QStringLiteral("thumbnails.png")) ? QStringLiteral("<p>The first three test images of every class, as "
                                                                                                 "the reader takes them:</p>\n") : QString())
                 + besidePicture(content, QStringLiteral("thumbnails.png"), QStringLiteral("the first three test images of every class"));
    if (content.rejection.empty())
        return page;
    page += QStringLiteral("<h2 id=\"rejection\">Rejecting far answers</h2>\n<p>An answer whose nearest squared distance lies beyond a rejection "
                           "distance may be left out (sorvik-label --reject-distance): the fewer answered, the more of them right.</p>\n")
          + besidePicture(content, QStringLiteral("rejection.png"), QStringLiteral("accuracy of the answers kept against the share answered"))
          + QStringLiteral("<div class=\"scroll\"><table id=\"rejection-table\">\n<tr><th>squared distance at most</th><th>answered</th>"
                           "<th>right of those</th></tr>\n");
    for (const RejectionRow &r : content.rejection)
        page += QStringLiteral("<tr><td>%1</td><td>%2 %</td><td>%3 %</td></tr>\n")
                    .arg(double(r.squaredDistance), 0, 'g', 9).arg(100 * r.answered, 0, 'f', 2).arg(100 * r.accuracy, 0, 'f', 2);
    return page + QStringLiteral("</table></div>\n");
}

QString gridSection(const PageContent &content)
{
    if (content.grid.empty())
        return QString();
    QString page = QStringLiteral("<h2 id=\"tuning\">Tuning</h2>\n<p>The cross-validated accuracy of every configuration that sorvik-tune scored; "
                                  "the chosen one in bold.</p>\n")
                 + besidePicture(content, QStringLiteral("grid.png"), QStringLiteral("accuracy against spacing and components"))
                 + QStringLiteral("<div class=\"scroll\"><table id=\"grid\">\n<tr><th>spacing</th><th>features</th><th>components</th>"
                                  "<th>neighbours</th><th>accuracy</th><th>sd</th></tr>\n");
    const Scored &c = content.chosen;
    for (const Scored &s : content.grid)
        page += QStringLiteral("<tr%1><td>%2</td><td>%3</td><td>%4</td><td>%5</td><td>%6 %</td><td>%7</td></tr>\n")
                    .arg(s.spacing == c.spacing && s.components == c.components && s.neighbours == c.neighbours ? QStringLiteral(" class=\"chosen\"") : QString())
                    .arg(s.spacing).arg(s.features).arg(s.components).arg(s.neighbours).arg(s.accuracy, 0, 'f', 2).arg(s.sd, 0, 'f', 2);
    return page + QStringLiteral("</table></div>\n");
}

QString gallerySection(const PageContent &content)
{
    const bool labelled = content.figures.images > 0;
    const QString beside = content.gallery.empty() || content.gallery.front().nearestFile.isEmpty() ? QString()
                                                                                                    : QStringLiteral(", each beside its nearest training image");
    QString page = labelled ? QStringLiteral("<h2 id=\"misread\">Misread images</h2>\n<p>%1 of %2 misread images, from every confused pair in turn, "
                                             "the most frequent pairs first%3.</p>\n").arg(content.gallery.size()).arg(content.misread).arg(beside)
                            : QStringLiteral("<h2 id=\"labelled\">Images and their labels</h2>\n<p>The first %1 of %2 images, whose names carry no class, "
                                             "with the label the model gives them and the squared distance of their nearest training image%3 "
                                             "(all of them in predictions.csv).</p>\n").arg(content.gallery.size()).arg(content.unlabelled).arg(beside);
    // The pictures of each pair together, under a heading, in the order the pairs first come.
    std::vector<QString> order;
    std::map<QString, std::vector<const GalleryItem *>> pairs;
    for (const GalleryItem &item : content.gallery) {
        const QString anchor = labelled ? pairAnchor(item.actual, item.predicted) : QStringLiteral("images");
        if (pairs[anchor].empty())
            order.push_back(anchor);
        pairs[anchor].push_back(&item);
    }
    for (const QString &anchor : order) {
        const GalleryItem &first = *pairs[anchor].front();
        if (labelled)
            page += QStringLiteral("<h3 id=\"%1\">%2 read as %3</h3>\n").arg(anchor, escaped(first.actual), escaped(first.predicted));
        page += QStringLiteral("<div class=\"gallery\">\n");
        for (const GalleryItem *item : pairs[anchor]) {
            QString alt = labelled ? QStringLiteral("%1 read as %2").arg(item->actual, item->predicted) : QStringLiteral("read as %1").arg(item->predicted);
            page += QStringLiteral("<figure>%1<figcaption>%2<br>%3, squared distance %4")
                        .arg(item->picture.isEmpty() ? QString() : imageTag(item->picture, item->size, item->nearestFile.isEmpty() ? alt : alt + QStringLiteral(", nearest ") + item->nearestFile),
                             escaped(item->testFile), escaped(alt))
                        .arg(double(item->distance), 0, 'g', 6);
            if (!item->nearestFile.isEmpty())
                page += QStringLiteral("<br>nearest: %1").arg(escaped(item->nearestFile));
            page += QStringLiteral("</figcaption></figure>\n");
        }
        page += QStringLiteral("</div>\n");
    }
    return page;
}

} // namespace sorvik
