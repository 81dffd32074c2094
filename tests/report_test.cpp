// sorvik-report as users meet it: what they ask of it and what it refuses, the
// training images it names proven (their classes compared as the sample reader
// names them), and a full disk.

#include "support.h"

#include "tools/report/figures.h"
#include "tools/report/training_check.h"

#include "samples/sample_reader.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <iterator>
#include <map>
#include <random>

#include <sys/stat.h>

using namespace sorvik;

namespace {

RunResult runReport(const QStringList &arguments, const QString &workingDirectory)
{
    return runProgram(QStringLiteral(SORVIK_REPORT_EXECUTABLE), arguments, workingDirectory);
}

} // namespace

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
        {"a training directory that is not there", [](const QString &) {}, {"test", "trained.out", "--train", "trian", "--out", "out"}, 0,
         "trian does not exist; predictions.csv names no nearest training file\n"},
        {"the model's own training directory", [](const QString &) {}, {"test", "trained.out", "--train", "train", "--out", "out"}, 0, "accuracy: ",
         [](const QString &d) { EXPECT_TRUE(readFile(d + "/out/predictions.csv").contains(",nearest_file\r\n")); }},
        {"a tuning's table is drawn beside the report",
         [](const QString &d) { runProgram(SORVIK_TUNE_EXECUTABLE, {"train", "--spacing", "2,4", "--keep", "0.5", "--neighbours", "1", "--folds", "2", "--json", "g.json"}, d); },
         base + QStringList{"--grid", "g.json"}, 0, "accuracy: ", [](const QString &d) { EXPECT_TRUE(QFile::exists(d + "/out/grid.png")); }},
        {"a wrong table is said before the images are read", [](const QString &d) { writeFile(d + "/g.json", "{}"); },
         {"missing", "trained.out", "--out", "out", "--grid", "g.json"}, 1,
         "cannot draw the tuning: g.json is not the JSON that sorvik-tune --json writes; give that file, or no --grid\n"},
        {"a pipe that no program writes is no table, said at once",
         [](const QString &d) { ASSERT_EQ(0, ::mkfifo(QFile::encodeName(d + "/g.json").constData(), 0600)); }, base + QStringList{"--grid", "g.json"}, 1,
         "cannot draw the tuning: g.json is not the JSON that sorvik-tune --json writes; give that file, or no --grid\n"},
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
    // The training directory changed after training (and after a first report): each
    // nearest training image that the report names is the one that made its row, or
    // it is left out and the console says so. The test images copy rows 0, 1, 2, 3
    // and 6.
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
         "1 of the 5 training images that the report names does not give its row of the model, so train has changed since training "
         "(train/a-1.png (row 1)); its name is left out"},
        {"a file removed and another added", [](const QString &t) { QFile::remove(t + "/a-3.png"), noiseImages(t, {"a-0.png"}, 9); }, {0, 1, 2},
         "3 of the 5 training images that the report names do not give their rows"},
        {"a file added", [](const QString &t) { noiseImages(t, {"d-1.png"}, 9); }, {0, 1, 2, 3, 6},
         "train holds 10 usable images for the model's 9 rows; predictions.csv names no nearest training file"},
        {"all but one removed",
         [](const QString &t) { for (const char *n : {"a-1", "a-2", "a-3", "b-1", "b-2", "b-3", "c-1", "c-2"}) QFile::remove(t + "/" + n + ".png"); },
         {0, 1, 2, 3, 6}, "train holds 1 usable image for the model's 9 rows; predictions.csv"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        confusedSet(dir.path());
        // A first report proves the directory as it was trained on, and keeps its
        // proofs; the second, after the change, may trust only what did not change.
        runReport({"test", "trained.out", "--train", "train", "--out", "out"}, dir.path());
        EXPECT_TRUE(readFile(dir.path() + "/out/training-proofs.txt").contains("\ta-1.png\n"));
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

#ifdef SORVIK_FAULTS
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
                                         {"LD_PRELOAD=" SORVIK_FAULTS, QString("SORVIK_DISK_BYTES=%1").arg(bytes)});
        EXPECT_EQ(1, run.exitCode);
        EXPECT_TRUE(QRegularExpression("^cannot write out/[a-z.-]+: No space left on device\n$").match(run.out).hasMatch()) << run.out.constData();
        EXPECT_EQ(files, QDir(d + "/out").entryList(QDir::Files | QDir::Hidden));
        for (const QString &file : files)
            EXPECT_EQ(before[file], readFile(d + "/out/" + file)) << file.toStdString();
    }
}
#endif

TEST(Report, NamesTheClassOfAFileAsTheSampleReaderDoes)
{
    // The in-place comparison of the training check against the sample reader's
    // label, over random names of ASCII and beyond, with and without "-" and ".".
    const QString pieces[] = {"a", "B", "z", "Z", "0", "9", "-", ".", "_", "`", "{", "@", "[", "\u00e9", "\u00df", "\ufb01", "\u0131", "I", "i", ""};
    std::mt19937 random(11);
    int agreed = 0;
    for (int n = 0; n < 20000; ++n) {
        QString name, other;
        for (int k = int(random() % 6); k > 0; --k)
            name += pieces[random() % std::size(pieces)];
        for (int k = int(random() % 4); k > 0; --k)
            other += pieces[random() % std::size(pieces)];
        const QString label = labelFromFileName(name);
        for (const QString &candidate : {label, other, other.toUpper(), label + "A", label.left(label.size() - 1)}) {
            EXPECT_EQ(labelFromFileName(name) == candidate, namesClass(name, candidate)) << name.toStdString() << " " << candidate.toStdString();
            agreed += labelFromFileName(name) == candidate;
        }
    }
    EXPECT_GT(agreed, 20000);  // every name's own label, and some others
}
