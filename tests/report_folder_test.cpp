// The folder of sorvik-report as users share it with their own files, other
// reports and accidents: where --out may go, which entries a report removes, and
// a folder that holds the old report or the new one whatever ends a run.

#include "support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <functional>

#include <sys/stat.h>

using namespace sorvik;

namespace {

const QStringList trainNames = {"a-1.png", "a-2.png", "a-3.png", "b-1.png", "b-2.png", "b-3.png", "c-1.png", "c-2.png", "c-3.png"};

// Three classes of noise images to train on, six to test, and a model.
void smallSet(const QString &d)
{
    noiseImages(d + "/train", trainNames, 5);
    noiseImages(d + "/test", {"a-4.png", "a-5.png", "b-4.png", "b-5.png", "c-4.png", "c-5.png"}, 6);
    runSorvik({"train", "train"}, d);
}

RunResult report(const QString &d, const QStringList &more = {}, const QStringList &environment = {})
{
    return runProgram(SORVIK_REPORT_EXECUTABLE, QStringList{"test", "trained.out", "--out", "out"} + more, d, environment);
}

// The hidden folders that reports build beside `out` in d.
QStringList staging(const QString &d)
{
    return QDir(d).entryList({".out.new-*"}, QDir::AllEntries | QDir::Hidden);
}

struct FolderCase {
    const char *name;
    std::function<void(const QString &)> setUp;  // after the set is made
    QStringList arguments;                       // after "test trained.out"
    int exitCode;
    QByteArray expected;  // a fragment of the console
    std::function<void(const QString &)> check = [](const QString &) {};
};

bool bindMount(const QString &from, const QString &to)
{
    QDir().mkpath(to);
    return QProcess::execute("mount", {"--bind", from, to}) == 0;
}

// Runs each case on a fresh set: its line and status, and no folder of the report
// left beside it or in the training directory.
void runCases(const std::vector<FolderCase> &cases)
{
    for (const FolderCase &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        smallSet(dir.path());
        c.setUp(dir.path());
        const RunResult run = runProgram(SORVIK_REPORT_EXECUTABLE, QStringList{"test", "trained.out", "--out", "out"} + c.arguments, dir.path());
        EXPECT_EQ(c.exitCode, run.exitCode) << run.out.constData();
        EXPECT_TRUE(run.out.contains(c.expected)) << run.out.constData();
        EXPECT_EQ(QByteArray(), run.err);
        EXPECT_EQ(QStringList(), staging(dir.path()));
        EXPECT_EQ(trainNames, QDir(dir.path() + "/train").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        c.check(dir.path());
    }
}

} // namespace

TEST(ReportFolder, GoesNeverIntoAnImageDirectory)
{
    runCases({
        {"inside the test directory", [](const QString &) {}, {"--out", "test/report"}, 1,
         "cannot write the report into test/report: it lies inside the image directory test, whose next reading would take",
         [](const QString &d) { EXPECT_FALSE(QFile::exists(d + "/test/report")); }},
        {"the training directory through another path", [](const QString &) {}, {"--train", "train", "--out", "./train/"}, 1,
         "cannot write the report into ./train/: it is the image directory train, whose"},
        {"through a link to the test directory", [](const QString &d) { QFile::link(d + "/test", d + "/link"); }, {"--out", "link/report"}, 1,
         "cannot write the report into link/report: it lies inside the image directory test, whose"},
        {"a link to nothing inside the test directory", [](const QString &d) { QFile::link(d + "/test/report", d + "/dangling"); },
         {"--out", "dangling"}, 1, "cannot write the report into dangling: it lies inside the image directory test, whose",
         [](const QString &d) { EXPECT_FALSE(QFile::exists(d + "/test/report")); }},
        {"a file", [](const QString &d) { writeFile(d + "/afile", "mine"); }, {"--out", "afile"}, 1,
         "cannot write the report into afile: it is a file, not a folder", [](const QString &d) { EXPECT_EQ("mine", readFile(d + "/afile")); }},
        {"a folder that cannot be made", [](const QString &d) { writeFile(d + "/afile", ""); }, {"--out", "afile/report"}, 1,
         "cannot write the report into afile/report: cannot create the folder: "},
        {"the root, which has no place beside it", [](const QString &) {}, {"--out", "/"}, 1, "cannot write the report into /: the report is built beside"},
        {"a folder that nobody may make, in /sys", [](const QString &) {}, {"--out", "/sys/report"}, 1,
         "cannot write the report into /sys/report: cannot create the folder: /sys does not let this user create folders in it"},
    });
}

TEST(ReportFolder, RemovesOnlyTheOldReportsFilesAndTakesNoFolderOfTheUsers)
{
    runCases({
        {"files the old report's list names that are not a report's names stay",
         [](const QString &d) {
             QDir().mkpath(d + "/out");
             writeFile(d + "/out/report-files.txt", QByteArray("misread-0002.png\nnotes.txt\n../notes.txt\nthesis.tex\nindex.html\0summary.txt\n", 71));
             writeFile(d + "/out/misread-0002.png", "old picture");
             writeFile(d + "/out/index.html.new-123-0", "an earlier version's leftover");
             writeFile(d + "/out/notes.txt", "mine");
             writeFile(d + "/out/thesis.tex", "mine too");
             writeFile(d + "/notes.txt", "and this");
         },
         {}, 0, "report written to out/",
         [](const QString &d) {
             EXPECT_EQ(QStringList({"components.png", "distances.png", "index.html", "notes.txt", "predictions.csv", "recall.png", "rejection.png",
                                    "report-files.txt", "scatter.png", "summary.json", "summary.txt", "thesis.tex", "thumbnails.png", "variance.png"}),
                       QDir(d + "/out").entryList(QDir::Files | QDir::Hidden));
             EXPECT_EQ("mine", readFile(d + "/out/notes.txt"));
             EXPECT_EQ("mine too", readFile(d + "/out/thesis.tex"));
             EXPECT_EQ("and this", readFile(d + "/notes.txt"));
         }},
        {"a folder of the user's own", [](const QString &d) { writeFile((QDir().mkpath(d + "/out"), d + "/out/index.html"), "my page"), writeFile(d + "/out/summary.txt", "my summary"); },
         {}, 1, "cannot write the report into out: it holds index.html, summary.txt and no report of sorvik-report; give an empty or new folder, or --force",
         [](const QString &d) {
             EXPECT_EQ("my page", readFile(d + "/out/index.html"));
             EXPECT_EQ("my summary", readFile(d + "/out/summary.txt"));
         }},
        {"a folder of the user's own, with --force", [](const QString &d) { writeFile((QDir().mkpath(d + "/out"), d + "/out/index.html"), "my page"), writeFile(d + "/out/mine.txt", "mine"); },
         {"--force"}, 0, "report written to out/",
         [](const QString &d) {
             EXPECT_TRUE(readFile(d + "/out/index.html").startsWith("<!DOCTYPE html>"));
             EXPECT_EQ("mine", readFile(d + "/out/mine.txt"));
         }},
        {"a list that is a link to a file elsewhere is no list",
         [](const QString &d) { QDir().mkpath(d + "/out"), writeFile(d + "/elsewhere.txt", "index.html\n"), QFile::link(d + "/elsewhere.txt", d + "/out/report-files.txt"); },
         {}, 1, "cannot write the report into out: it holds report-files.txt and no report", [](const QString &d) { EXPECT_EQ("index.html\n", readFile(d + "/elsewhere.txt")); }},
        {"a list that is a pipe is not waited on", [](const QString &d) { QDir().mkpath(d + "/out"), mkfifo(QFile::encodeName(d + "/out/report-files.txt").constData(), 0600); },
         {}, 1, "cannot write the report into out: it holds report-files.txt and no report"},
        {"a list that is a link to an endless device is not read", [](const QString &d) { QDir().mkpath(d + "/out"), QFile::link("/dev/zero", d + "/out/report-files.txt"); },
         {}, 1, "cannot write the report into out: it holds report-files.txt and no report"},
        {"a file of a report's name that its report did not write",
         [](const QString &d) { QDir().mkpath(d + "/out"), writeFile(d + "/out/report-files.txt", "index.html\n"), writeFile(d + "/out/summary.txt", "mine"); },
         {}, 1, "cannot write the report into out: it holds summary.txt, which its report did not write; move it away, or give --force to replace it",
         [](const QString &d) { EXPECT_EQ("mine", readFile(d + "/out/summary.txt")); }},
        {"a link of a report's name is replaced with --force, never written through",
         [](const QString &d) { QDir().mkpath(d + "/out"), writeFile(d + "/victim.txt", "victim"), QFile::link(d + "/victim.txt", d + "/out/index.html"); },
         {"--force"}, 0, "report written to out/",
         [](const QString &d) {
             EXPECT_EQ("victim", readFile(d + "/victim.txt"));
             EXPECT_FALSE(QFileInfo(d + "/out/index.html").isSymLink());
         }},
    });
}

TEST(ReportFolder, RefusesABindMountOfAnImageDirectory)
{
    QTemporaryDir dir;
    const QString d = dir.path();
    smallSet(d);
    if (!bindMount(d + "/test", d + "/mounted"))
        GTEST_SKIP() << "mount --bind needs root and a system that allows it";
    const RunResult run = report(d, {"--out", "mounted/report"});
    QProcess::execute("umount", {d + "/mounted"});
    EXPECT_EQ(1, run.exitCode);
    EXPECT_TRUE(run.out.startsWith("cannot write the report into mounted/report: it lies inside the image directory test (" + QFile::encodeName(d)
                                   + "/mounted is that directory), whose")) << run.out.constData();
    EXPECT_FALSE(QFile::exists(d + "/test/report"));
}

#ifdef SORVIK_FAULTS
TEST(ReportFolder, HoldsTheOldReportOrTheNewWhateverEndsTheRun)
{
    // An old report with the user's notes beside it; a new model. Each run ends at
    // a fault: killed or stopped at a rename or at the making of a file, or out of
    // memory once the first file is made. The folder then holds the old report or
    // the new one, whole; a run that could clean up leaves nothing beside it, and
    // the next run settles what a killed one left, notes included.
    QTemporaryDir dir;
    const QString d = dir.path();
    smallSet(d);
    ASSERT_EQ(0, report(d).exitCode);
    const QByteArray oldCsv = readFile(d + "/out/predictions.csv"), oldText = readFile(d + "/out/summary.txt");
    QDir().rename(d + "/out", d + "/old");
    writeFile(d + "/train/a-9.png", readFile(d + "/test/b-4.png"));  // a new model: the answers change
    runSorvik({"train", "train"}, d);
    ASSERT_EQ(0, report(d).exitCode);
    const QByteArray newCsv = readFile(d + "/out/predictions.csv"), newText = readFile(d + "/out/summary.txt");
    ASSERT_NE(oldCsv, newCsv);
    QDir(d + "/out").removeRecursively();
    const struct {
        const char *fault;
        bool cleansUp;  // the run ends by a way that lets it remove what it made
    } faults[] = {{"renameat2:1:kill", false}, {"renameat2:1:term", true}, {"renameat2:2:kill", false}, {"renameat2:2:int", true},
                  {"create:1:kill", false},    {"create:1:term", true},    {"create:4:int", true},      {"create:1:memory", true}};
    for (const auto &f : faults) {
        SCOPED_TRACE(f.fault);
        QDir(d + "/out").removeRecursively();
        QProcess::execute("cp", {"-r", d + "/old", d + "/out"});
        writeFile(d + "/out/notes.txt", "mine");
        const RunResult run = report(d, {}, {"LD_PRELOAD=" SORVIK_FAULTS, QString("SORVIK_FAULT=") + f.fault});
        EXPECT_NE(0, run.exitCode);
        if (QByteArray(f.fault).endsWith(":memory")) {
            EXPECT_TRUE(run.out.startsWith("sorvik-report: this machine ran out of memory: the run held ")) << run.out.constData();
        }
        const QByteArray csv = readFile(d + "/out/predictions.csv");
        EXPECT_TRUE(csv == oldCsv || csv == newCsv);
        EXPECT_EQ(csv == oldCsv ? oldText : newText, readFile(d + "/out/summary.txt"));
        const QJsonObject about = QJsonDocument::fromJson(readFile(d + "/out/summary.json")).object()["report"].toObject();
        EXPECT_TRUE(readFile(d + "/out/index.html").contains(about["date"].toString().toUtf8()));
        if (f.cleansUp) {
            EXPECT_EQ(QStringList(), staging(d));
        }
        ASSERT_EQ(0, report(d).exitCode);
        EXPECT_EQ(newCsv, readFile(d + "/out/predictions.csv"));
        EXPECT_EQ("mine", readFile(d + "/out/notes.txt"));
        EXPECT_EQ(QStringList(), staging(d));
    }
}
#endif

TEST(ReportFolder, TakesOneWriterAtATime)
{
    // Two reports into one folder at once, round after round: one of them writes,
    // any other says that the folder is taken, and the folder holds one whole report.
    QTemporaryDir dir;
    const QString d = dir.path();
    smallSet(d);
    for (int round = 0; round < 6; ++round) {
        QProcess first, second;
        for (QProcess *p : {&first, &second}) {
            p->setWorkingDirectory(d);
            p->start(SORVIK_REPORT_EXECUTABLE, {"test", "trained.out", "--out", "out", "--gallery", QString::number(p == &first ? 1 : 2)});
        }
        int written = 0;
        for (QProcess *p : {&first, &second}) {
            ASSERT_TRUE(p->waitForFinished(60000));
            const QByteArray out = p->readAllStandardOutput();
            written += p->exitCode() == 0;
            EXPECT_TRUE(p->exitCode() == 0 ? out.contains("report written to out/")
                                           : out == "cannot write the report into out: another sorvik-report is writing a report into it; "
                                                    "try again once it has ended\n") << out.constData();
        }
        EXPECT_GE(written, 1);
        const QJsonObject about = QJsonDocument::fromJson(readFile(d + "/out/summary.json")).object()["report"].toObject();
        EXPECT_EQ(about["misread_shown"].toInt(), readFile(d + "/out/index.html").count("<figure>"));
        const QByteArray list = readFile(d + "/out/report-files.txt");
        for (const QByteArray &file : list.split('\n'))
            EXPECT_TRUE(file.isEmpty() || QFile::exists(d + "/out/" + file)) << file.constData();
        EXPECT_EQ(QStringList(), staging(d));
    }
}
