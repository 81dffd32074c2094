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

} // namespace

QByteArray indexPage(const PageContent &content)
{
    const Figures &f = content.figures;
    QString page = QStringLiteral(
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>sorvik report</title>\n<style>\n"
        "body { font-family: sans-serif; margin: 2em; color: #222; }\n"
        "table { border-collapse: collapse; margin: 1em 0; }\n"
        "td, th { border: 1px solid #ccc; padding: 2px 8px; text-align: right; }\n"
        "figure { display: inline-block; margin: 0 1em 1em 0; font-size: 90%; }\n"
        "</style>\n</head>\n<body>\n");
    page += QStringLiteral("<h1>sorvik report</h1>\n<p>Test images <code>%1</code>, model <code>%2</code>.</p>\n")
                .arg(escaped(content.testDirectory), escaped(content.modelFile));
    if (f.images > 0)
        page += QStringLiteral("<p>Accuracy <b id=\"accuracy\">%1</b> %: <span id=\"correct\">%2</span> of <span id=\"images\">%3</span> images read right.</p>\n")
                    .arg(accuracyPercent(f), 0, 'f', 6).arg(f.correct).arg(f.images);
    if (content.unlabelled > 0)
        page += QStringLiteral("<p>Images that carry no class in their names, predicted only (predictions.csv): %1.</p>\n").arg(content.unlabelled);
    page += QStringLiteral("<p>Files: <a href=\"predictions.csv\">predictions.csv</a>, <a href=\"summary.txt\">summary.txt</a>, "
                           "<a href=\"summary.json\">summary.json</a>.</p>\n");

    page += QStringLiteral("<h2>Per class</h2>\n<table id=\"classes\">\n<tr><th>class</th><th>precision</th><th>recall</th><th>f1-score</th><th>support</th></tr>\n");
    for (const ClassFigures &c : f.perClass)
        page += QStringLiteral("<tr><th>%1</th>%2</tr>\n").arg(escaped(c.label), figureCells(c));
    for (const ClassFigures *c : {&f.macroAverage, &f.weightedAverage})
        page += QStringLiteral("<tr><th>%1</th>%2</tr>\n").arg(c->label, figureCells(*c));
    page += QStringLiteral("</table>\n<img src=\"recall.png\" alt=\"recall per class\">\n");

    page += QStringLiteral("<h2>Confusion matrix</h2>\n<p>Rows are the actual classes, columns the predicted ones; "
                           "the colour is the share of the row.</p>\n<img src=\"confusion.png\" alt=\"confusion matrix\">\n"
                           "<table id=\"confusion\">\n<tr><th></th>");
    for (const QString &label : f.classes)
        page += QStringLiteral("<th>%1</th>").arg(escaped(label));
    page += QStringLiteral("</tr>\n");
    for (int a = 0; a < f.classes.size(); ++a) {
        page += QStringLiteral("<tr><th>%1</th>").arg(escaped(f.classes.at(a)));
        for (int count : f.confusion[std::size_t(a)])
            page += QStringLiteral("<td>%1</td>").arg(count);
        page += QStringLiteral("</tr>\n");
    }
    page += QStringLiteral("</table>\n<h3>Most frequent confusions</h3>\n<ol>\n");
    for (const Confusion &c : f.topConfusions)
        page += QStringLiteral("<li>%1 read as %2: %3</li>\n").arg(escaped(c.actual), escaped(c.predicted), QString::number(c.count));
    page += QStringLiteral("</ol>\n");

    if (content.hasComponents)
        page += QStringLiteral("<h2>Eigen-characters</h2>\n<p>The leading components, each over the grid of F-transform components: "
                               "grey is zero, light positive, dark negative.</p>\n<img src=\"components.png\" alt=\"leading components\">\n");

    page += QStringLiteral("<h2>Misread images</h2>\n<p>%1 of %2 misread images%3.</p>\n")
                .arg(content.gallery.size()).arg(content.misread)
                .arg(content.gallery.empty() || content.gallery.front().nearestFile.isEmpty() ? QString() : QStringLiteral(", each beside its nearest training image"));
    for (const GalleryItem &item : content.gallery) {
        page += QStringLiteral("<figure><img src=\"%1\" alt=\"%2\"><figcaption>%2<br>%3 read as %4")
                    .arg(escaped(item.picture), escaped(item.testFile), escaped(item.actual), escaped(item.predicted));
        if (!item.nearestFile.isEmpty())
            page += QStringLiteral("<br>nearest: %1").arg(escaped(item.nearestFile));
        page += QStringLiteral("</figcaption></figure>\n");
    }
    page += QStringLiteral("</body>\n</html>\n");
    return page.toUtf8();
}

} // namespace sorvik
