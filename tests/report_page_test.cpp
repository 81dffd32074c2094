// sorvik-report's page as a user meets it in a real browser: the same answers as
// sorvik class, a CSV that survives Python's csv module, pictures and figures
// equal to summary.json, and a page that reads at 420 pixels from a folder moved
// elsewhere, every link found and every figure at its own size.

#include "support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace sorvik;

namespace {

RunResult runReport(const QStringList &arguments, const QString &workingDirectory)
{
    return runProgram(QStringLiteral(SORVIK_REPORT_EXECUTABLE), arguments, workingDirectory);
}

QStringList browserOptions(const QString &d)
{
    return {"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
            "--disable-component-update", "--disable-sync", "--user-data-dir=" + d + "/browser"};
}

// What a real browser shows of the report in `folder` at `width` pixels: every
// picture (its own width, the width in the page, its alt text and the width it
// is drawn at), the accuracy, the confusion matrix and its shares of each row,
// the shares of the variance, whether the page scrolls sideways, every link with
// whether its target is in the page, and the links of the most frequent confusions.
QJsonObject browse(const QString &folder, int width)
{
    writeFile(folder + "/check.html",
              "<body style=margin:0><iframe id=f src=index.html style=\"border:0;width:" + QByteArray::number(width) + "px;height:800px\"></iframe>"
              "<pre id=result></pre><script>\n"
              "f.onload = () => { const page = f.contentDocument; const cells = [];\n"
              "  for (const row of page.querySelectorAll('#confusion tr')) { const r = [...row.querySelectorAll('td')].map(c => +c.textContent); if (r.length) cells.push(r); }\n"
              "  const target = h => h.startsWith('#') ? (page.getElementById(h.slice(1)) ? 'found' : 'missing') : 'file';\n"
              "  result.textContent = JSON.stringify({images: [...page.images].map(i => [i.naturalWidth, +i.getAttribute('width'), i.alt, i.width]),\n"
              "    accuracy: page.getElementById('accuracy')?.textContent, confusion: cells, variance: page.getElementById('variance-shares')?.textContent,\n"
              "    shares: [...page.querySelectorAll('#shares tr')].map(r => [...r.querySelectorAll('td')].map(c => c.textContent)).filter(r => r.length),\n"
              "    wide: page.documentElement.scrollWidth > " + QByteArray::number(width) + ",\n"
              "    links: [...page.querySelectorAll('a[href]')].map(a => [a.getAttribute('href'), target(a.getAttribute('href'))]),\n"
              "    confusions: [...page.querySelectorAll('#confusions + ol li')].map(l => l.querySelector('a')?.getAttribute('href') ?? '')}); };\n"
              "</script></body>\n");
    const RunResult dom = runProgram("chromium", browserOptions(folder) + QStringList{"--allow-file-access-from-files", "--virtual-time-budget=10000",
                                                                                        QString("--window-size=%1,800").arg(width), "--dump-dom",
                                                                                        "file://" + folder + "/check.html"});
    QFile::remove(folder + "/check.html");
    QDir(folder + "/browser").removeRecursively();
    const QRegularExpressionMatch found = QRegularExpression("<pre id=\"result\">(.*)</pre>").match(QString::fromUtf8(dom.out));
    EXPECT_TRUE(found.hasMatch()) << dom.out.constData() << dom.err.constData();
    return QJsonDocument::fromJson(found.captured(1).toUtf8()).object();
}

// Every row of predictions.csv read back by Python's csv module, the names with a
// comma and quotes intact, against the test images of the page test; the count of
// rows marked right.
int predictionsReadBack(const QString &csv, const QStringList &tests)
{
    const RunResult rows = runProgram("python3", {"-c", "import csv, sys\n"
                                                        "for row in csv.reader(open(sys.argv[1], newline='')): print('|'.join(row))",
                                                  csv});
    const QStringList lines = QString::fromUtf8(rows.out).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(8, lines.size()) << rows.out.constData() << rows.err.constData();
    if (lines.isEmpty())
        return -1;
    EXPECT_EQ("file|label|predicted|correct|squared_distance|nearest_row|nearest_file", lines[0]);
    int correct = 0;
    for (int i = 0; i < tests.size() && i + 1 < lines.size(); ++i) {
        const QStringList fields = lines[i + 1].split('|');
        if (fields.size() != 7) {
            ADD_FAILURE() << lines[i + 1].toStdString();
            continue;
        }
        EXPECT_EQ(tests[i], fields[0]);
        EXPECT_EQ(i == 6 ? "" : tests[i].left(1).toUpper(), fields[1]);
        EXPECT_EQ(fields[6].left(1).toUpper(), fields[2]);  // the nearest training file carries the prediction
        EXPECT_EQ(fields[5].toInt(), QStringList({"a-1.png", "a-2.png", "a-3.png", "b-1.png", "b-2.png", "b-3.png", "c-1.png", "c-2.png", "c-3.png"}).indexOf(fields[6]));
        correct += fields[3] == "1";
    }
    return correct;
}

// The page's table of the classes A, B and C gives summary.txt's figures, as
// printed there.
void expectClassTableOfSummary(const QString &out)
{
    const QString page = QString::fromUtf8(readFile(out + "/index.html"));
    int classLines = 0;
    for (const QString &line : QString::fromUtf8(readFile(out + "/summary.txt")).split('\n')) {
        const QStringList words = line.split(' ', Qt::SkipEmptyParts);
        if (words.size() != 5 || !QStringList({"A", "B", "C"}).contains(words[0]))
            continue;
        ++classLines;
        EXPECT_TRUE(page.contains(QString("<tr><th>%1</th><td>%2</td><td>%3</td><td>%4</td><td>%5</td>").arg(words[0], words[1], words[2], words[3], words[4])))
            << line.toStdString();
    }
    EXPECT_EQ(3, classLines);
}

// The confusion matrix by rows in per cent, a count of 0 left blank.
QJsonArray rowShares(const QJsonArray &matrix)
{
    QJsonArray shares;
    for (const QJsonValue &row : matrix) {
        double total = 0;
        for (const QJsonValue &count : row.toArray())
            total += count.toDouble();
        QJsonArray cells;
        for (const QJsonValue &count : row.toArray())
            cells.append(count.toDouble() == 0 ? QString() : QString::number(100 * count.toDouble() / total, 'f', 1));
        shares.append(cells);
    }
    return shares;
}

} // namespace

TEST(Report, AnswersAsSorvikClassAndWritesEveryFile)
{
    QTemporaryDir dir;
    const QString d = dir.path();
    noiseImages(d + "/train", {"a-1.png", "a-2.png", "a-3.png", "b-1.png", "b-2.png", "b-3.png", "c-1.png", "c-2.png", "c-3.png"}, 1);
    const QStringList tests = {"a-4,x.png", "a-5.png", "b-\"4\".png", "b-5.png", "c-4.png", "c-5.png", "photo.png"};
    noiseImages(d + "/test", tests, 2);
    runSorvik({"train", "train"}, d);
    const RunResult classify = runSorvik({"class", "test", "trained.out"}, d);
    const RunResult report = runReport({"test", "trained.out", "--train", "train", "--out", "out", "--gallery", "2"}, d);
    ASSERT_EQ(0, report.exitCode) << report.out.constData();

    // The same success rate as sorvik class, over the images that carry a class.
    // The unlabelled one counts as a miss there, so the rates are compared on the counts.
    const QRegularExpressionMatch accuracy = QRegularExpression("accuracy: (\\d+\\.\\d{6})% \\((\\d+) of 6 images\\)\n").match(report.out);
    ASSERT_TRUE(accuracy.hasMatch()) << report.out.constData();
    const QRegularExpressionMatch rate = QRegularExpression("succ rate: (\\d+\\.\\d{6})%").match(classify.out);
    ASSERT_TRUE(rate.hasMatch()) << classify.out.constData();
    EXPECT_NEAR(rate.captured(1).toDouble() * 7 / 6, accuracy.captured(1).toDouble(), 1e-5);
    EXPECT_TRUE(report.out.contains("images without a class in their names, predicted only: 1\n"));

    EXPECT_EQ(accuracy.captured(2).toInt(), predictionsReadBack(d + "/out/predictions.csv", tests));

    // The page in a real browser: every picture decodes, and the figures equal summary.json.
    const QJsonObject summary = QJsonDocument::fromJson(readFile(d + "/out/summary.json")).object();
    const QJsonObject shown = browse(d + "/out", 420);
    const QJsonArray images = shown["images"].toArray();
    // Recall, components, variance, projections, distances, thumbnails, rejection
    // and two misread images: each loads, has its size and says what it shows.
    EXPECT_EQ(9, images.size());
    for (const QJsonValue &image : images) {
        EXPECT_GT(image[0].toInt(), 0) << image[2].toString().toStdString();
        EXPECT_GT(image[1].toInt(), 0) << image[2].toString().toStdString();
        EXPECT_GT(image[2].toString().size(), 12) << image[2].toString().toStdString();
    }
    EXPECT_TRUE(QRegularExpression("^[ABC] read as [ABC], nearest [abc]-[123].png$").match(images[7][2].toString()).hasMatch()) << images[7][2].toString().toStdString();
    EXPECT_FALSE(shown["wide"].toBool());  // a narrow window needs no sideways scrolling
    EXPECT_EQ(QString::number(summary["accuracy"].toDouble() * 100, 'f', 6), shown["accuracy"].toString());
    EXPECT_EQ(summary["confusion_matrix"].toArray(), shown["confusion"].toArray());
    EXPECT_EQ(rowShares(summary["confusion_matrix"].toArray()), shown["shares"].toArray());
    QStringList shares;
    for (const QJsonValue &share : summary["variance_shares"].toArray())
        shares << QString::number(share.toDouble() * 100, 'f', 1);
    EXPECT_EQ(shares.join(", "), shown["variance"].toString());
    expectClassTableOfSummary(d + "/out");
    const QJsonObject about = summary["report"].toObject();
    EXPECT_EQ(d + "/test", about["test_directory"].toString());
    EXPECT_EQ(SORVIK_VERSION, about["version"].toString());
    EXPECT_TRUE(about["command"].toString().endsWith("sorvik-report test trained.out --train train --out out --gallery 2")) << about["command"].toString().toStdString();
    const QString screenshot = SORVIK_BINARY_DIR "/report-screenshot.png";
    QFile::remove(screenshot);
    runProgram("chromium", browserOptions(d) + QStringList{"--window-size=1200,1600", "--screenshot=" + screenshot, "file://" + d + "/out/index.html"});
    EXPECT_EQ(QSize(1200, 1600), QImage(screenshot).size());
}

TEST(Report, ReadsOnAnyScreenFromAFolderMovedElsewhere)
{
    // Printed characters of 36 classes; the report folder moved away from the data
    // and read at 420 pixels: every link leads to a place in the page or a file of
    // the folder, every figure keeps its own size (its box scrolls) while the page
    // does not scroll sideways, and every frequent confusion leads to its pictures.
    QTemporaryDir dir;
    const QString d = dir.path();
    runProgram(SORVIK_GLYPHS_EXECUTABLE, {"train", "test", "--size", "24", "--per-class", "5", "--seed", "3"}, d);
    const QImage glyph(d + "/train/a-00000.png");  // a light character in the middle of a dark image
    EXPECT_GT(qGray(glyph.copy(6, 6, 12, 12).scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixel(0, 0)), 5);
    runSorvik({"train", "train"}, d);
    ASSERT_EQ(0, runReport({"test", "trained.out", "--train", "train", "--out", "out"}, d).exitCode);
    QDir().mkpath(d + "/elsewhere");
    ASSERT_TRUE(QDir().rename(d + "/out", d + "/elsewhere/moved"));
    const QString moved = d + "/elsewhere/moved";
    const QJsonObject shown = browse(moved, 420);
    EXPECT_FALSE(shown["wide"].toBool());
    for (const QJsonValue &image : shown["images"].toArray())
        EXPECT_EQ(image[1].toInt(), image[3].toInt()) << image[2].toString().toStdString();  // drawn at its own width
    int links = 0;
    for (const QJsonValue &link : shown["links"].toArray()) {
        const QString href = link[0].toString();
        EXPECT_TRUE(link[1] == "found" || (link[1] == "file" && !href.contains(':') && QFile::exists(moved + "/" + href))) << href.toStdString();
        ++links;
    }
    EXPECT_GT(links, 20);
    const QJsonArray confusions = shown["confusions"].toArray();
    EXPECT_EQ(10, confusions.size());
    for (const QJsonValue &confusion : confusions)
        EXPECT_TRUE(confusion.toString().startsWith("#pair-")) << confusion.toString().toStdString();

    // The rejection thresholds of summary.json, counted again from predictions.csv.
    std::vector<std::pair<float, bool>> read;  // the distances are floats, as the CSV gives them
    for (const QByteArray &line : readFile(moved + "/predictions.csv").split('\n').mid(1))
        if (!line.trimmed().isEmpty())
            read.emplace_back(line.split(',').at(4).toFloat(), line.split(',').at(3) == "1");
    const QJsonArray rejection = QJsonDocument::fromJson(readFile(moved + "/summary.json")).object()["rejection"].toArray();
    ASSERT_FALSE(rejection.isEmpty());
    for (int i = 0; i < rejection.size(); ++i) {
        const QJsonObject row = rejection[i].toObject();
        const float distance = float(row["squared_distance"].toDouble());
        int kept = 0, right = 0;
        for (const auto &[d2, ok] : read)
            if (d2 <= distance)
                ++kept, right += ok;
        EXPECT_DOUBLE_EQ(double(kept) / read.size(), row["answered"].toDouble()) << distance;
        EXPECT_DOUBLE_EQ(double(right) / kept, row["accuracy"].toDouble()) << distance;
        // Each row but the last is the farthest that keeps a share of right answers
        // asked for, and meets it; the last is that too where 90 % of all are right.
        EXPECT_EQ(i + 1 < rejection.size() || row["accuracy"].toDouble() >= 0.9, row.contains("accuracy_asked")) << distance;
        EXPECT_TRUE(!row.contains("accuracy_asked") || row["accuracy"].toDouble() >= row["accuracy_asked"].toDouble()) << distance;
    }
    EXPECT_EQ(1.0, rejection.last()["answered"].toDouble());
}

