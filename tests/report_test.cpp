// sorvik-report as a user meets it: the same answers as sorvik class, a CSV that
// survives Python's csv module, a page whose pictures and figures a real browser
// shows, and the training images it names proven.

#include "support.h"

#include "tools/report/figures.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <map>
#include <random>

using namespace sorvik;

namespace {

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
              "  result.textContent = JSON.stringify({images: [...page.images].map(i => [i.naturalWidth, +i.getAttribute('width'), i.alt]),\n"
              "    accuracy: page.getElementById('accuracy').textContent, confusion: cells, variance: page.getElementById('variance').textContent,\n"
              "    wide: page.documentElement.scrollWidth > 420}); };\n"
              "</script></body>\n");
    const QStringList browser = {"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
                                 "--disable-component-update", "--disable-sync", "--user-data-dir=" + d + "/browser"};
    const RunResult dom = runProgram("chromium", browser + QStringList{"--allow-file-access-from-files", "--virtual-time-budget=10000", "--window-size=420,800",
                                                                        "--dump-dom", "file://" + d + "/out/check.html"});
    const QRegularExpressionMatch found = QRegularExpression("<pre id=\"result\">(.*)</pre>").match(QString::fromUtf8(dom.out));
    ASSERT_TRUE(found.hasMatch()) << dom.out.constData() << dom.err.constData();
    const QJsonObject shown = QJsonDocument::fromJson(found.captured(1).toUtf8()).object();
    const QJsonArray images = shown["images"].toArray();
    // The confusion matrix, recall, components, variance, projections, distances,
    // thumbnails and two misread images: each loads, has its size and says what it shows.
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
    QStringList shares;
    for (const QJsonValue &share : summary["variance_shares"].toArray())
        shares << QString::number(share.toDouble() * 100, 'f', 1);
    EXPECT_EQ(shares.join(", "), shown["variance"].toString());
    const QJsonObject about = summary["report"].toObject();
    EXPECT_EQ(d + "/test", about["test_directory"].toString());
    EXPECT_EQ(SORVIK_VERSION, about["version"].toString());
    EXPECT_TRUE(about["command"].toString().endsWith("sorvik-report test trained.out --train train --out out --gallery 2")) << about["command"].toString().toStdString();
    const QString screenshot = SORVIK_BINARY_DIR "/report-screenshot.png";
    QFile::remove(screenshot);
    runProgram("chromium", browser + QStringList{"--window-size=1200,1600", "--screenshot=" + screenshot, "file://" + d + "/out/index.html"});
    EXPECT_EQ(QSize(1200, 1600), QImage(screenshot).size());
}

namespace {

// A trained model of three classes of noise images (three each), and test images
// that copy training images under other names: b-1 .. b-5 are copies of a-1, so
// that B is read as A five times, c-9 a copy of b-1 (C read as B), a-9 a copy of
// c-1 (A read as C); z-1 a copy of a-2, of a class the model never saw.
void confusedSet(const QString &d)
{
    noiseImages(d + "/train", {"a-1.png", "a-2.png", "a-3.png", "b-1.png", "b-2.png", "b-3.png", "c-1.png", "c-2.png", "c-3.png"}, 5);
    QDir().mkpath(d + "/test");
    const auto copy = [&](const char *from, const QString &to) { QFile::copy(d + "/train/" + from, d + "/test/" + to); };
    for (int i = 1; i <= 5; ++i)
        copy("a-1.png", QString("b-%1.png").arg(i));
    copy("b-1.png", "c-9.png");
    copy("c-1.png", "a-9.png");
    copy("a-2.png", "z-1.png");
    copy("a-3.png", "@sum-1.png");  // a name that a spreadsheet would take for a formula
    runSorvik({"train", "train"}, d);
}

struct ReportCase {
    const char *name;
    std::function<void(const QString &)> setUp;  // after the set is made
    QStringList arguments;
    int exitCode;
    QByteArray expected;  // a fragment of the console
    std::function<void(const QString &)> check = [](const QString &) {};
};

QStringList galleryPairs(const QString &d)
{
    QStringList pairs;
    const QRegularExpression alt("alt=\"([A-Z@]+ read as [A-Z]+)");
    for (auto match = alt.globalMatch(QString::fromUtf8(readFile(d + "/out/index.html"))); match.hasNext();)
        pairs << match.next().captured(1);
    return pairs;
}

} // namespace

TEST(Report, GivesWhatUsersAskAndRefusesWhatWouldHarmTheirData)
{
    const QStringList base = {"test", "trained.out", "--out", "out"};
    const ReportCase cases[] = {
        {"the gallery takes every confused pair in turn, the most frequent first", [](const QString &) {}, base + QStringList{"--gallery", "4"}, 0,
         "accuracy: ", [](const QString &d) { EXPECT_EQ(QStringList({"B read as A", "@SUM read as A", "A read as C", "C read as B"}), galleryPairs(d)); }},
        {"a test class the model never saw is named", [](const QString &) {}, base, 0,
         "test classes that the model has never seen (their images can only be misread): @SUM, Z\n",
         [](const QString &d) { EXPECT_TRUE(readFile(d + "/out/index.html").contains("<p id=\"unseen\">")); }},
        {"a name that would run as a formula is shown as text", [](const QString &) {}, base, 0, "accuracy: ",
         [](const QString &d) { EXPECT_TRUE(readFile(d + "/out/predictions.csv").contains("\r\n'@sum-1.png,'@SUM,A,0,")); }},
        {"a training directory of other images with the same names",
         [](const QString &d) { noiseImages(d + "/other", QDir(d + "/train").entryList(QDir::Files), 6); },
         {"test", "trained.out", "--train", "other", "--out", "out"}, 0,
         "does not give row 1 of the model, nor does any other training image that the report would name: other is not the directory",
         [](const QString &d) {
             EXPECT_TRUE(readFile(d + "/out/predictions.csv").startsWith("file,label,predicted,correct,squared_distance,nearest_row\r\n"));
             EXPECT_TRUE(readFile(d + "/out/index.html").contains("<p id=\"training-problem\">"));
         }},
        {"the model's own training directory", [](const QString &) {}, {"test", "trained.out", "--train", "train", "--out", "out"}, 0, "accuracy: ",
         [](const QString &d) { EXPECT_TRUE(readFile(d + "/out/predictions.csv").contains(",nearest_file\r\n")); }},
        {"a model that is not there", [](const QString &) {}, {"test", "nothing.out"}, 1,
         "cannot classify: model nothing.out cannot be opened: No such file or directory; give the model file that sorvik train or sorvik-tune wrote"},
    };
    for (const ReportCase &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        confusedSet(dir.path());
        c.setUp(dir.path());
        const RunResult run = runReport(c.arguments, dir.path());
        EXPECT_EQ(c.exitCode, run.exitCode) << run.out.constData();
        EXPECT_TRUE(run.out.contains(c.expected)) << run.out.constData();
        EXPECT_EQ(QByteArray(), run.err);
        c.check(dir.path());
    }
}

TEST(Report, NamesOnlyTheTrainingImagesItHasProven)
{
    // The training directory changed after training: each nearest training image
    // that the report names is the one that made its row, or it is left out and the
    // console says so. The test images copy rows 0, 1, 2, 3 and 6.
    const QStringList original = {"a-1.png", "a-2.png", "a-3.png", "b-1.png", "b-2.png", "b-3.png", "c-1.png", "c-2.png", "c-3.png"};
    const struct {
        const char *name;
        std::function<void(const QString &)> change;
        QList<int> unproven;  // named rows left out
        QByteArray expected;
    } cases[] = {
        {"unchanged", [](const QString &) {}, {}, "report written"},
        {"a file renamed within its class", [](const QString &t) { QFile::rename(t + "/a-2.png", t + "/a-zz.png"); }, {1, 2},
         "2 of the 5 training images that the report names do not give their rows of the model, so train has changed since training "
         "(train/a-3.png (row 2), train/a-zz.png (row 3)); their names are left out"},
        {"a file replaced", [](const QString &t) { QFile::remove(t + "/a-1.png"), QFile::copy(t + "/c-3.png", t + "/a-1.png"); }, {0},
         "1 of the 5 training images that the report names do not give their rows"},
        {"a file removed and another added", [](const QString &t) { QFile::remove(t + "/a-3.png"), noiseImages(t, {"a-0.png"}, 9); }, {0, 1, 2},
         "3 of the 5 training images that the report names do not give their rows"},
        {"a file added", [](const QString &t) { noiseImages(t, {"d-1.png"}, 9); }, {0, 1, 2, 3, 6},
         "train holds 10 usable images for the model's 9 rows; predictions.csv names no nearest training file"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        confusedSet(dir.path());
        c.change(dir.path() + "/train");
        const RunResult run = runReport({"test", "trained.out", "--train", "train", "--out", "out"}, dir.path());
        EXPECT_TRUE(run.out.contains(c.expected)) << run.out.constData();
        const QList<QByteArray> lines = readFile(dir.path() + "/out/predictions.csv").split('\n');
        for (int i = 1; i < lines.size() - 1; ++i) {
            const QList<QByteArray> fields = lines[i].trimmed().split(',');
            const int row = fields.at(5).toInt();
            const QByteArray named = fields.value(6);
            EXPECT_EQ(c.unproven.contains(row) ? QByteArray() : original.at(row).toUtf8(), named) << lines[i].constData();
        }
    }
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
        EXPECT_TRUE(QRegularExpression("^cannot write out/[a-z.-]+: No space left on device\n$").match(run.out).hasMatch()) << run.out.constData();
        EXPECT_EQ(files, QDir(d + "/out").entryList(QDir::Files | QDir::Hidden));
        for (const QString &file : files)
            EXPECT_EQ(before[file], readFile(d + "/out/" + file)) << file.toStdString();
    }
}
#endif
