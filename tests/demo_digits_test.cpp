// The program on real handwritten digits: a quarter of the demo set, trained and
// classified through the built executable, must recognise far above chance; the
// report on them gives the same rate.

#include "support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

// Links every fourth file of `from` into `to`.
int linkEveryFourth(const QString &from, const QString &to)
{
    QDir().mkpath(to);
    const QStringList names = QDir(from).entryList(QDir::Files);
    int linked = 0;
    for (int i = 0; i < names.size(); i += 4)
        linked += QFile::link(from + "/" + names[i], to + "/" + names[i]) ? 1 : 0;
    return linked;
}

} // namespace

TEST(RealDigits, AreRecognisedFarAboveChance)
{
    const RunResult fetch = runProgram(QStringLiteral(SORVIK_SOURCE_DIR "/scripts/fetch-digits"),
                                       {QStringLiteral(SORVIK_IMPORT_EXECUTABLE)});
    ASSERT_EQ(0, fetch.exitCode) << fetch.out.constData() << fetch.err.constData();
    const QString digits = QString::fromLocal8Bit(fetch.out).trimmed();

    QTemporaryDir dir;
    EXPECT_EQ(2001, linkEveryFourth(digits + "/train", dir.path() + "/train"));
    EXPECT_EQ(499, linkEveryFourth(digits + "/test", dir.path() + "/test"));
    const RunResult train = runSorvik({"train", "train"}, dir.path());
    EXPECT_TRUE(train.out.contains("input matrix size: 2001 x 25\n")) << train.out.constData();
    const RunResult test = runSorvik({"class", "test", "trained.out"}, dir.path());
    const QRegularExpressionMatch rate = QRegularExpression("succ rate: (\\d+\\.\\d{6})%\n$").match(QString::fromLatin1(test.out));
    ASSERT_TRUE(rate.hasMatch()) << test.out.constData();
    // Ten classes: chance is 10 %; a pipeline with a wrong transform, projection or
    // search falls far below this floor.
    EXPECT_GT(rate.captured(1).toDouble(), 85.0);

    // sorvik-report reads the same images the same way: the same rate, digit for digit.
    const RunResult report = runProgram(QStringLiteral(SORVIK_REPORT_EXECUTABLE), {"test", "trained.out", "--out", "report"}, dir.path());
    EXPECT_TRUE(report.out.startsWith("accuracy: " + rate.captured(1).toLatin1() + "% (")) << report.out.constData();
}
