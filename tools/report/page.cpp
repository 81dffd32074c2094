#include "tools/report/page.h"

namespace sorvik {

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QString imageTag(const QString &source, QSize size, const QString &alt)
{
    // Its size, so that the page lays out before it loads.
    return QStringLiteral("<img src=\"%1\" width=\"%2\" height=\"%3\" alt=\"%4\">")
        .arg(escaped(source)).arg(size.width()).arg(size.height()).arg(escaped(alt));
}

QString besidePicture(const PageContent &content, const QString &name, const QString &alt)
{
    return content.pictures.contains(name)
               ? QStringLiteral("<div class=\"figure\">%1</div>\n").arg(imageTag(name, content.pictures.value(name), alt)) : QString();
}

QString pairAnchor(const QString &actual, const QString &predicted)
{
    // Letters and digits as they are, any other character as _ and its code.
    const auto part = [](const QString &label) {
        QString id;
        for (const QChar c : label)
            id += c.isLetterOrNumber() && c.unicode() < 128 ? QString(c) : QStringLiteral("_%1").arg(c.unicode(), 0, 16);
        return id;
    };
    return QStringLiteral("pair-%1-%2").arg(part(actual), part(predicted));
}

namespace {

QString head()
{
    return QStringLiteral(
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>sorvik report</title>\n<style>\n"
        "body { font-family: sans-serif; margin: 1em; color: #222; max-width: 72em; }\n"
        ".figure, .scroll { overflow-x: auto; max-width: 100%; margin: 0.5em 0; }\n"
        ".figure img { max-width: none; display: block; }\n"
        "table { border-collapse: collapse; margin: 1em 0; }\n"
        "td, th { border: 1px solid #ccc; padding: 2px 8px; text-align: right; }\n"
        "#origin th { text-align: left; white-space: nowrap; }\n"
        "#origin td { text-align: left; word-break: break-all; }\n"
        "#confusion td, #shares td { min-width: 1.6em; }\n"
        "#confusion a { color: inherit; }\n"
        "nav ol { columns: 14em; }\n"
        ".gallery { display: grid; grid-template-columns: repeat(auto-fill, minmax(15em, 1fr)); gap: 1em; }\n"
        ".gallery figure { margin: 0; font-size: 90%; overflow-x: auto; }\n"
        ".gallery img { image-rendering: pixelated; }\n"
        "tr.chosen { font-weight: bold; background: #eef4fb; }\n"
        "@media print {\n"
        "  body { max-width: none; }\n"
        "  .figure, figure, table, tr, h2, h3 { break-inside: avoid; }\n"
        "  h2, h3 { break-after: avoid; }\n"
        "  a[href]:not([href^=\"#\"])::after { content: \" (\" attr(href) \")\"; }\n"
        "  nav { display: none; }\n"
        "}\n"
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

// A short table of contents: the sections that the page holds.
QString contents(const PageContent &content)
{
    const bool labelled = content.figures.images > 0;
    QStringList items;
    const auto item = [&](bool shown, const char *id, const char *title) {
        if (shown)
            items << QStringLiteral("<li><a href=\"#%1\">%2</a></li>").arg(QLatin1String(id), QLatin1String(title));
    };
    item(true, "summary", "Summary");
    item(labelled, "classes", "Per class");
    item(labelled, "confusion-matrix", "Confusion matrix");
    item(labelled, "confusions", "Most frequent confusions");
    item(content.pictures.contains(QStringLiteral("components.png")), "components", "Eigen-characters");
    item(true, "variance", "Variance");
    item(true, "distances", "Distances");
    item(!content.rejection.empty(), "rejection", "Rejecting far answers");
    item(!content.grid.empty(), "tuning", "Tuning");
    item(true, labelled ? "misread" : "labelled", labelled ? "Misread images" : "Images and their labels");
    return QStringLiteral("<nav><ol>\n%1\n</ol></nav>\n").arg(items.join(QLatin1Char('\n')));
}

QString summarySection(const PageContent &content)
{
    const Figures &f = content.figures;
    QString page = QStringLiteral("<h2 id=\"summary\">Summary</h2>\n");
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

} // namespace

QByteArray indexPage(const PageContent &content)
{
    // A directory without classes has no figures of classes to show.
    const bool labelled = content.figures.images > 0;
    const QString page = head() + QStringLiteral("<h1>sorvik report</h1>\n") + originTable(content.origin) + contents(content) + summarySection(content)
                       + (labelled ? classSection(content) + confusionSection(content) : QString()) + modelSection(content)
                       + distanceSection(content) + gridSection(content) + gallerySection(content) + QStringLiteral("</body>\n</html>\n");
    return page.toUtf8();
}

} // namespace sorvik
