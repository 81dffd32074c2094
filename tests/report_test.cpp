// sorvik-report: its figures on a hand-worked example, and the whole report as a
// user meets it: the same answers as sorvik class, a CSV that survives Python's
// csv module, and a page whose pictures and figures a real browser shows.

#include "support.h"

#include "tools/report/figures.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <map>
#include <random>

namespace {

// Noise images of 24 x 24 pixels, the same for the same seed.
void noiseImages(const QString &directory, const QStringList &names, unsigned seed)
{
    std::mt19937 random(seed);
    for (const QString &name : names)
        saveImage(greyImage(24, 24, [&](int, int) { return int(random() % 256); }), directory, name);
}

RunResult runReport(const QStringList &arguments, const QString &workingDirectory)
{
    return runProgram(QStringLiteral(SORVIK_REPORT_EXECUTABLE), arguments, workingDirectory);
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

    // Every row read back by Python's csv module: the names with a comma and quotes intact.
    const RunResult rows = runProgram("python3", {"-c", "import csv, sys\n"
                                                        "for row in csv.reader(open(sys.argv[1], newline='')): print('|'.join(row))",
                                                  d + "/out/predictions.csv"});
    const QStringList lines = QString::fromUtf8(rows.out).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(8, lines.size()) << rows.out.constData() << rows.err.constData();
    EXPECT_EQ("file|label|predicted|correct|squared_distance|nearest_row|nearest_file", lines[0]);
    int correct = 0;
    for (int i = 0; i < tests.size(); ++i) {
        const QStringList fields = lines[i + 1].split('|');
        ASSERT_EQ(7, fields.size()) << lines[i + 1].toStdString();
        EXPECT_EQ(tests[i], fields[0]);
        EXPECT_EQ(i == 6 ? "" : tests[i].left(1).toUpper(), fields[1]);
        EXPECT_EQ(fields[6].left(1).toUpper(), fields[2]);  // the nearest training file carries the prediction
        EXPECT_EQ(fields[5].toInt(), QStringList({"a-1.png", "a-2.png", "a-3.png", "b-1.png", "b-2.png", "b-3.png", "c-1.png", "c-2.png", "c-3.png"}).indexOf(fields[6]));
        correct += fields[3] == "1";
    }
    EXPECT_EQ(accuracy.captured(2).toInt(), correct);

    // The page in a real browser: every picture decodes, and the figures equal summary.json.
    const QJsonObject summary = QJsonDocument::fromJson(readFile(d + "/out/summary.json")).object();
    writeFile(d + "/out/check.html",
              "<body><iframe id=f src=index.html></iframe><pre id=result></pre><script>\n"
              "f.onload = () => { const page = f.contentDocument; const cells = [];\n"
              "  for (const row of page.querySelectorAll('#confusion tr')) { const r = [...row.querySelectorAll('td')].map(c => +c.textContent); if (r.length) cells.push(r); }\n"
              "  result.textContent = JSON.stringify({images: [...page.images].map(i => i.naturalWidth),\n"
              "    accuracy: page.getElementById('accuracy').textContent, confusion: cells}); };\n"
              "</script></body>\n");
    const QStringList browser = {"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
                                 "--disable-component-update", "--disable-sync", "--user-data-dir=" + d + "/browser"};
    const RunResult dom = runProgram("chromium", browser + QStringList{"--allow-file-access-from-files", "--virtual-time-budget=10000",
                                                                        "--dump-dom", "file://" + d + "/out/check.html"});
    const QRegularExpressionMatch found = QRegularExpression("<pre id=\"result\">(.*)</pre>").match(QString::fromUtf8(dom.out));
    ASSERT_TRUE(found.hasMatch()) << dom.out.constData() << dom.err.constData();
    const QJsonObject shown = QJsonDocument::fromJson(found.captured(1).toUtf8()).object();
    const QJsonArray widths = shown["images"].toArray();
    EXPECT_EQ(5, widths.size());  // components, recall, confusion and two misread images
    for (const QJsonValue &width : widths)
        EXPECT_GT(width.toInt(), 0);
    EXPECT_EQ(QString::number(summary["accuracy"].toDouble() * 100, 'f', 6), shown["accuracy"].toString());
    EXPECT_EQ(summary["confusion_matrix"].toArray(), shown["confusion"].toArray());
    runProgram("chromium", browser + QStringList{"--window-size=1200,1600", "--screenshot=" SORVIK_BINARY_DIR "/report-screenshot.png",
                                                  "file://" + d + "/out/index.html"});
    EXPECT_TRUE(QFile::exists(SORVIK_BINARY_DIR "/report-screenshot.png"));
}

#ifdef SORVIK_FULL_DISK
TEST(Report, AFullDiskLeavesTheOldReportWhole)
{
    // The disk fills up at several points of writing a report over an older one:
    // each run names the file it could not write, ends with status 1, and leaves
    // every file of the old report as it was, with nothing beside them.
    QTemporaryDir dir;
    const QString d = dir.path();
    noiseImages(d + "/train", {"a-1.png", "a-2.png", "b-1.png", "b-2.png"}, 3);
    noiseImages(d + "/test", {"a-3.png", "a-4.png", "b-3.png", "b-4.png"}, 4);
    runSorvik({"train", "train"}, d);
    ASSERT_EQ(0, runReport({"test", "trained.out", "--out", "out"}, d).exitCode);
    const QStringList files = QDir(d + "/out").entryList(QDir::Files | QDir::Hidden);
    std::map<QString, QByteArray> before;
    qint64 total = 0;
    for (const QString &file : files)
        total += (before[file] = readFile(d + "/out/" + file)).size();
    writeFile(d + "/train/a-9.png", readFile(d + "/test/b-3.png"));  // a new model: every file changes
    runSorvik({"train", "train"}, d);
    for (const qint64 bytes : {qint64(0), qint64(100), total / 2, total * 9 / 10}) {
        SCOPED_TRACE(bytes);
        const RunResult run = runProgram(QStringLiteral(SORVIK_REPORT_EXECUTABLE), {"test", "trained.out", "--out", "out"}, d,
                                         {"LD_PRELOAD=" SORVIK_FULL_DISK, QString("SORVIK_DISK_BYTES=%1").arg(bytes)});
        EXPECT_EQ(1, run.exitCode);
        EXPECT_TRUE(QRegularExpression("^cannot write out/[a-z.]+: No space left on device\n$").match(run.out).hasMatch()) << run.out.constData();
        EXPECT_EQ(files, QDir(d + "/out").entryList(QDir::Files | QDir::Hidden));
        for (const QString &file : files)
            EXPECT_EQ(before[file], readFile(d + "/out/" + file)) << file.toStdString();
    }
}
#endif
