// The machine's limits through the built program: caps on the address space and
// on open files give the answer of the run without a cap, or one line that says
// what ran out; never an image skipped, another rate or a model lost for them.

#include "support.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTemporaryDir>

using namespace sorvik;

namespace {

const QStringList train = {"train", "train"};
// Runs "$0" "$@" with whatever the test runner left open beyond the console closed.
const QString closeInherited = "exec 3<&- 4<&- 5<&- 6<&- 7<&- 8<&- 9<&-; exec \"$0\" \"$@\"";

} // namespace

#ifdef SORVIK_SYSTEM_LIMITS  // not under the sanitizers, whose runtime takes more than the caps leave
TEST(SystemLimits, MemoryThatRunsOutIsSaidNeverTakenForABadImage)
{
    // Under caps on the address space from too small to ample, every run gives the
    // report of the run without a cap, or one line saying that memory ran out: no
    // image skipped for it, no other rate, no hang, and the old model kept.
    QTemporaryDir dir;
    const QString d = dir.path();
    sixtyTrainingImages(d);
    for (int i = 0; i < 40; ++i)  // bitmaps that take megabytes each to decode
        saveImage(greyImage(512, 512, [i](int x, int y) { return (x + y + i * 7) % 256; }), d + "/big", QString("%1-%2.bmp").arg(i % 3).arg(i));
    runSorvik(train, d);
    const QByteArray model = readFile(d + "/trained.out");
    const QRegularExpression ranOut("^reading images\\.\\.\\.\\t(done\\n(.*\\n)*)?\\n?cannot (train|classify): this machine ran out of memory: "
                                    "the run held [0-9.]+ MB and needed [0-9.]+ ([kM]B|bytes) more \\(its limit is [0-9.]+ MB\\)\\n$");
    for (const QStringList &arguments : {train, QStringList{"class", "train", "trained.out"}, QStringList{"class", "big", "trained.out"}}) {
        const std::string free = maskTimes(runSorvik(arguments, d).out);
        for (const int megabytes : {80, 100, 120, 130, 135, 140, 145, 170, 200}) {
            SCOPED_TRACE(arguments.join(' ').toStdString() + " under " + std::to_string(megabytes) + " MB");
            const RunResult run = runProgram("prlimit", QStringList{QString("--as=%1").arg(megabytes << 20), SORVIK_EXECUTABLE} + arguments, d);
            EXPECT_EQ(1, run.exitCode);
            if (maskTimes(run.out) != free) {
                EXPECT_TRUE(ranOut.match(QString::fromUtf8(run.out)).hasMatch() && !run.out.contains("skipped")) << run.out.constData();
            }
            EXPECT_EQ(model, readFile(d + "/trained.out"));
        }
    }
}

TEST(SystemLimits, FewOpenFilesGiveTheSameAnswer)
{
    // A process allowed only a few open files (three of them the console's) reads on
    // fewer threads and opens the model only after its images: the same report, or a
    // line that names the limit; never an image skipped or a model not found for it.
    QTemporaryDir dir;
    const QString d = dir.path();
    sixtyTrainingImages(d);
    runSorvik(train, d);
    for (const char *format : {"ico", "jpg", "tiff"})  // images whose readers are plugins, loaded as they are needed
        saveImage(greyImage(20, 20, [](int x, int y) { return x * y; }), d + "/train", QString("a-%1.%1").arg(format), format);
    for (const QStringList &run : {train, QStringList{"class", "train", "trained.out"}}) {
        const std::string free = maskTimes(runSorvik(run, d).out);
        for (const int files : {4, 5, 8}) {
            SCOPED_TRACE(run.join(' ').toStdString() + " with " + std::to_string(files) + " open files");
            for (int repeat = 0; repeat < 3; ++repeat)
                EXPECT_EQ(free, maskTimes(runProgram("sh", QStringList{"-c", closeInherited, "prlimit", QString("--nofile=%1").arg(files), SORVIK_EXECUTABLE} + run, d).out));
        }
    }
}

TEST(SystemLimits, TheToolsSayWhatRanOutInOneLine)
{
    // The labels' standard output carries only rows: the line that says what ran
    // out goes to standard error, with the status of a run that could not serve.
    // The report says it on standard output.
    QTemporaryDir dir;
    const QString d = dir.path();
    sixtyTrainingImages(d);
    runSorvik(train, d);
    const RunResult run = runProgram("sh", {"-c", closeInherited, "prlimit", "--nofile=4", SORVIK_LABEL_EXECUTABLE, "train", "trained.out"}, d);
    EXPECT_EQ(3, run.exitCode);
    EXPECT_EQ(QByteArray(), run.out);
    EXPECT_EQ("sorvik-label: too many open files: train cannot be opened while this process may have only 4 files open at once (ulimit -n)\n", run.err);
    // Its folder, the first thing it opens, is not refused for it.
    const RunResult report =
        runProgram("sh", {"-c", closeInherited, "prlimit", "--nofile=4", SORVIK_REPORT_EXECUTABLE, "train", "trained.out", "--out", "out"}, d);
    EXPECT_EQ(1, report.exitCode);
    EXPECT_EQ("sorvik-report: too many open files: out cannot be opened while this process may have only 4 files open at once (ulimit -n)\n", report.out);
}
#endif
