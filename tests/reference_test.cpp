// The program against its plain build: on drawn glyphs of three sizes and on real
// handwritten digits, both print the same reports (but the milliseconds) and
// write byte-identical model files; and the digits are recognised as digits.

#include "support.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cmath>
#include <random>

using namespace sorvik;

namespace {

// Trains and classifies with both builds in their own folders, and compares;
// gives the report of the classification.
QByteArray expectSameRuns(const QString &train, const QString &test, const QString &work)
{
    const QString fastDir = work + "/fast", plainDir = work + "/plain";
    QDir().mkpath(fastDir);
    QDir().mkpath(plainDir);
    const RunResult fastTrain = runSorvik({"train", train}, fastDir);
    const RunResult plainTrain = runProgram(SORVIK_REFERENCE_EXECUTABLE, {"train", train}, plainDir);
    EXPECT_EQ(maskTimes(plainTrain.out), maskTimes(fastTrain.out));
    const QByteArray model = readFile(fastDir + "/trained.out");
    EXPECT_FALSE(model.isEmpty());
    EXPECT_TRUE(readFile(plainDir + "/trained.out") == model) << "model files differ";

    const RunResult fastClass = runSorvik({"class", test, "trained.out"}, fastDir);
    const RunResult plainClass = runProgram(SORVIK_REFERENCE_EXECUTABLE, {"class", test, "trained.out"}, plainDir);
    EXPECT_EQ(maskTimes(plainClass.out), maskTimes(fastClass.out));
    EXPECT_TRUE(fastClass.out.contains("succ rate: ")) << fastClass.out.constData();
    return fastClass.out;
}

// Random strokes on black at `side` pixels: image i of class c.
QImage strokes(int side, int c, int i)
{
    std::mt19937 random(unsigned(c * 1000 + i));
    QImage image(side, side, QImage::Format_ARGB32);
    image.fill(qRgb(0, 0, 0));
    const int cx = side / 2 + int(random() % 5) - 2, cy = side / 2 + int(random() % 5) - 2;
    for (int k = 0; k < side * 4; ++k) {
        const double t = (k + int(random() % 3)) * (0.05 + 0.03 * c);
        const int x = cx + int(side * 0.35 * std::sin(t * (c + 1))), y = cy + int(side * 0.35 * std::cos(t * 1.7));
        if (x >= 0 && y >= 0 && x < side && y < side)
            image.setPixel(x, y, qRgb(0, 0, 120 + int(random() % 136)));
    }
    return image;
}

} // namespace

TEST(Reference, AgreesOnDrawnImagesOfEverySize)
{
    for (int side : {28, 64, 128}) {
        SCOPED_TRACE(side);
        QTemporaryDir dir;
        for (int c = 0; c < 6; ++c)
            for (int i = 0; i < 30; ++i)
                saveImage(strokes(side, c, i), dir.path() + (i % 5 == 4 ? "/test" : "/train"),
                          QStringLiteral("%1-%2.png").arg(QChar('a' + c)).arg(i));
        // Row 0 is near no test image, so a first test image left on row 0 shows.
        saveImage(greyImage(side, side, [](int, int) { return 255; }), dir.path() + "/train", "0-blank.png");
        expectSameRuns(dir.path() + "/train", dir.path() + "/test", dir.path());
    }
}

TEST(Reference, AgreesOnRealDigitsAndRecognisesThemFarAboveChance)
{
    const RunResult fetch = runProgram(QStringLiteral(SORVIK_SOURCE_DIR "/scripts/fetch-digits"), {QStringLiteral(SORVIK_IMPORT_EXECUTABLE)});
    ASSERT_EQ(0, fetch.exitCode) << fetch.out.constData();
    const QString digits = QString::fromLocal8Bit(fetch.out).trimmed();
    QTemporaryDir dir;
    for (const char *set : {"train", "test"}) {  // every fourth digit: 2001 and 499
        QDir().mkpath(dir.path() + "/" + set);
        const QStringList names = QDir(digits + "/" + set).entryList(QDir::Files);
        for (int i = 0; i < names.size(); i += 4)
            QFile::link(digits + "/" + set + "/" + names[i], dir.path() + "/" + set + "/" + names[i]);
    }
    const QByteArray report = expectSameRuns(dir.path() + "/train", dir.path() + "/test", dir.path());
    EXPECT_TRUE(report.startsWith("reading images...\tdone\nreading config...\tdone\npca matrix size: 2001 x 21\n")) << report.constData();
    const QRegularExpressionMatch rate = QRegularExpression("succ rate: (\\d+\\.\\d{6})%\n$").match(QString::fromLatin1(report));
    ASSERT_TRUE(rate.hasMatch()) << report.constData();
    // Ten classes: chance is 10 %; a wrong transform, projection or search that
    // both builds share falls far below this floor.
    EXPECT_GT(rate.captured(1).toDouble(), 85.0);
    // sorvik-report reads the same images the same way: the same rate, digit for digit.
    const RunResult figures = runProgram(QStringLiteral(SORVIK_REPORT_EXECUTABLE), {dir.path() + "/test", "trained.out", "--out", "report"}, dir.path() + "/fast");
    EXPECT_TRUE(figures.out.startsWith("accuracy: " + rate.captured(1).toLatin1() + "% (")) << figures.out.constData();
}
