#include "tools/report/page.h"

namespace sorvik {

namespace {

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QString figureCells(const ClassFigures &c)
{
    return QStringLiteral("<td>%1</td><td>%2</td><td>%3</td><td>%4</td>")
        .arg(c.precision, 0, 'f', 2).arg(c.recall, 0, 'f', 2).arg(c.f1, 0, 'f', 2).arg(c.support);
}

// An image element with its size, so that the page lays out before it loads.
QString imageTag(const QString &source, QSize size, const QString &alt)
{
    return QStringLiteral("<img src=\"%1\" width=\"%2\" height=\"%3\" alt=\"%4\">")
        .arg(escaped(source)).arg(size.width()).arg(size.height()).arg(escaped(alt));
}

// The image element of a picture beside the page, or nothing where there is none.
QString besidePicture(const PageContent &content, const QString &name, const QString &alt)
{
    return content.pictures.contains(name) ? imageTag(name, content.pictures.value(name), alt) : QString();
}

QString head()
{
    return QStringLiteral(
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>sorvik report</title>\n<style>\n"
        "body { font-family: sans-serif; margin: 1em; color: #222; max-width: 72em; }\n"
        "img { max-width: 100%; height: auto; }\n"
        ".scroll { overflow-x: auto; }\n"
        "table { border-collapse: collapse; margin: 1em 0; }\n"
        "td, th { border: 1px solid #ccc; padding: 2px 8px; text-align: right; }\n"
        "#origin th { text-align: left; white-space: nowrap; }\n"
        "#origin td { text-align: left; word-break: break-all; }\n"
        "figure { display: inline-block; margin: 0 1em 1em 0; font-size: 90%; max-width: 100%; }\n"
        "figure img { image-rendering: pixelated; }\n"
        "</style>\n</head>\n<body>\n");
}

QString originTable(const ReportOrigin &o)
{
    QString table = QStringLiteral("<table id=\"origin\">\n");
    const std::pair<const char *, QString> rows[] = {{"date", o.date}, {"version", o.version}, {"command", o.command}, {"test images", o.testDirectory},
                                                     {"model", o.modelFile}, {"recipe", o.recipe}, {"training images", o.trainingDirectory},
                                                     {"report", o.out}};
    for (const auto &[name, value] : rows)
        if (!value.isEmpty())
            table += QStringLiteral("<tr><th>%1</th><td><code>%2</code></td></tr>\n").arg(QLatin1String(name), escaped(value));
    return table + QStringLiteral("</table>\n");
}

QString summarySection(const PageContent &content)
{
    const Figures &f = content.figures;
    QString page;
    if (f.images > 0)
        page += QStringLiteral("<p>Accuracy <b id=\"accuracy\">%1</b> %: <span id=\"correct\">%2</span> of <span id=\"images\">%3</span> images read right.</p>\n")
                    .arg(accuracyPercent(f), 0, 'f', 6).arg(f.correct).arg(f.images);
    if (content.unlabelled > 0)
        page += QStringLiteral("<p>Images that carry no class in their names, predicted only (predictions.csv): %1.</p>\n").arg(content.unlabelled);
    if (!content.unseenClasses.isEmpty())
        page += QStringLiteral("<p id=\"unseen\">Test classes that the model has never seen, whose images can only be misread: %1.</p>\n")
                    .arg(escaped(content.unseenClasses.join(QStringLiteral(", "))));
    if (!content.trainingProblem.isEmpty())
        page += QStringLiteral("<p id=\"training-problem\">%1.</p>\n").arg(escaped(content.trainingProblem));
    return page + QStringLiteral("<p>Files: <a href=\"predictions.csv\">predictions.csv</a>, <a href=\"summary.txt\">summary.txt</a>, "
                                 "<a href=\"summary.json\">summary.json</a>.</p>\n");
}

QString classSection(const PageContent &content)
{
    const Figures &f = content.figures;
    QString page = QStringLiteral("<h2>Per class</h2>\n<div class=\"scroll\"><table id=\"classes\">\n"
                                  "<tr><th>class</th><th>precision</th><th>recall</th><th>f1-score</th><th>support</th></tr>\n");
    for (const ClassFigures &c : f.perClass)
        page += QStringLiteral("<tr><th>%1</th>%2</tr>\n").arg(escaped(c.label), figureCells(c));
    for (const ClassFigures *c : {&f.macroAverage, &f.weightedAverage})
        page += QStringLiteral("<tr><th>%1</th>%2</tr>\n").arg(c->label, figureCells(*c));
    return page + QStringLiteral("</table></div>\n") + besidePicture(content, QStringLiteral("recall.png"), QStringLiteral("bars of the recall of each class"))
         + QStringLiteral("\n");
}

QString confusionSection(const PageContent &content)
{
    const Figures &f = content.figures;
    QString page = QStringLiteral("<h2 id=\"confusion-matrix\">Confusion matrix</h2>\n<p>Rows are the actual classes, columns the predicted ones. Right reads are blue "
                                  "by their share of the row; misreads are red by their count against the largest misread count.</p>\n")
                 + besidePicture(content, QStringLiteral("confusion.png"), QStringLiteral("heat map of the confusion matrix with its colour key"))
                 + QStringLiteral("\n<div class=\"scroll\"><table id=\"confusion\">\n<tr><th></th>");
    for (const QString &label : f.classes)
        page += QStringLiteral("<th>%1</th>").arg(escaped(label));
    page += QStringLiteral("</tr>\n");
    for (int a = 0; a < f.classes.size(); ++a) {
        page += QStringLiteral("<tr><th>%1</th>").arg(escaped(f.classes.at(a)));
        for (int count : f.confusion[std::size_t(a)])
            page += QStringLiteral("<td>%1</td>").arg(count);
        page += QStringLiteral("</tr>\n");
    }
    page += QStringLiteral("</table></div>\n<h3>Most frequent confusions</h3>\n<ol>\n");
    for (const Confusion &c : f.topConfusions)
        page += QStringLiteral("<li>%1 read as %2: %3</li>\n").arg(escaped(c.actual), escaped(c.predicted), QString::number(c.count));
    return page + QStringLiteral("</ol>\n");
}

QString modelSection(const PageContent &content)
{
    QString page;
    if (content.pictures.contains(QStringLiteral("components.png")))
        page += QStringLiteral("<h2 id=\"components\">Eigen-characters</h2>\n<p>The leading components taken back to pixels through the basic functions of the "
                               "F-transform, each with its share of the variance that the kept components hold: grey is zero, light positive, "
                               "dark negative.</p>\n")
              + besidePicture(content, QStringLiteral("components.png"), QStringLiteral("the leading components drawn as images")) + QStringLiteral("\n");
    QStringList shares;
    for (const double share : content.varianceShares)
        shares << QString::number(share * 100, 'f', 1);
    page += QStringLiteral("<p>Shares of the variance in per cent, component by component: <span id=\"variance\">%1</span>.</p>\n")
                .arg(shares.join(QStringLiteral(", ")))
          + besidePicture(content, QStringLiteral("variance.png"), QStringLiteral("cumulative share of the variance over the components")) + QStringLiteral("\n")
          + besidePicture(content, QStringLiteral("scatter.png"), QStringLiteral("training images by their first two projections, coloured by class"))
          + QStringLiteral("\n<h2 id=\"distances\">Distances and examples</h2>\n")
          + (content.unmeasured == 0 ? QString()
                                     : QStringLiteral("<p id=\"unmeasured\">%1 images have a nearest squared distance that is not a finite number "
                                                      "(the model's values are too large for float arithmetic) and are not drawn.</p>\n")
                                           .arg(content.unmeasured))
          + besidePicture(content, QStringLiteral("distances.png"), QStringLiteral("histograms of the nearest distances of right and misread images"))
          + QStringLiteral("\n") + besidePicture(content, QStringLiteral("thumbnails.png"), QStringLiteral("the first three test images of every class"));
    return page + QStringLiteral("\n");
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
    for (const GalleryItem &item : content.gallery) {
        QString alt = labelled ? QStringLiteral("%1 read as %2").arg(item.actual, item.predicted) : QStringLiteral("read as %1").arg(item.predicted);
        if (!item.nearestFile.isEmpty())
            alt += QStringLiteral(", nearest %1").arg(item.nearestFile);
        page += QStringLiteral("<figure>%1<figcaption><a href=\"%2\">%3</a><br>%4, squared distance %5")
                    .arg(item.picture.isEmpty() ? QString() : imageTag(item.picture, item.size, alt), escaped(item.testUrl), escaped(item.testFile),
                         escaped(alt.section(QStringLiteral(", nearest"), 0, 0)))
                    .arg(double(item.distance), 0, 'g', 6);
        if (!item.nearestFile.isEmpty())
            page += QStringLiteral("<br>nearest: <a href=\"%1\">%2</a>").arg(escaped(item.nearestUrl), escaped(item.nearestFile));
        page += QStringLiteral("</figcaption></figure>\n");
    }
    return page;
}

} // namespace

QByteArray indexPage(const PageContent &content)
{
    // A directory without classes has no figures of classes to show.
    const bool labelled = content.figures.images > 0;
    const QString page = head() + QStringLiteral("<h1>sorvik report</h1>\n") + originTable(content.origin) + summarySection(content)
                       + (labelled ? classSection(content) + confusionSection(content) : QString()) + modelSection(content) + gallerySection(content)
                       + QStringLiteral("</body>\n</html>\n");
    return page.toUtf8();
}

} // namespace sorvik
