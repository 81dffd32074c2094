// Training and classification through the built program, on image directories
// that the tests draw: the exact console report, the model file,
// and recognition of classes whose right answers are known by construction.

#include "support.h"

#include "app/pipeline.h"
#include "samples/sample_reader.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <map>

using namespace sorvik;

namespace {

// Five classes of clearly different shapes on a 24 x 24 canvas (4 x 4 components),
// each drawn with its strokes shifted by `shift` pixels and `thickness` wide.
QImage shape(char kind, int shift, int thickness)
{
    return greyImage(24, 24, [=](int x, int y) {
        const int cx = 12 + shift, cy = 12 - shift;
        const auto near = [&](int a, int b) { return std::abs(a - b) < thickness; };
        bool on = false;
        switch (kind) {
        case 'h': on = near(y, cy); break;
        case 'v': on = near(x, cx); break;
        case 'x': on = near(x - cx, y - cy) || near(x - cx, cy - y); break;
        case 'o': on = (near(x, cx - 7) || near(x, cx + 7)) && y > cy - 8 && y < cy + 8; on = on || ((near(y, cy - 7) || near(y, cy + 7)) && x > cx - 8 && x < cx + 8); break;
        case 'p': on = near(x, cx) || near(y, cy); break;
        }
        return on ? 230 : 20;
    });
}

const char shapes[] = "hvxop";

void drawShapes(const QString &directory, std::initializer_list<int> shifts, std::initializer_list<int> thicknesses, bool upperCase = false)
{
    QDir().mkpath(directory);
    int index = 0;
    for (const char *kind = shapes; *kind; ++kind)
        for (int shift : shifts)
            for (int thickness : thicknesses) {
                const QString label = upperCase ? QString(QChar(*kind).toUpper()) : QString(QChar(*kind));
                saveImage(shape(*kind, shift, thickness), directory, QStringLiteral("%1-%2.png").arg(label).arg(index++));
            }
}

std::string trainingReport(int n, int m, int k)
{
    return QStringLiteral("reading images...\tdone\nstarting training\ninput matrix size: %1 x %2\ncovariance matrix size: %2 x %2\n"
                          "eigen matrix size: %2 x %3\npca matrix size: %1 x %3\n---------------------------------\ntraining done in Tms\n")
        .arg(n).arg(m).arg(k).toStdString();
}

std::string classificationReport(int s, int m, int k, const char *rate)
{
    return QStringLiteral("reading images...\tdone\nreading config...\tdone\npca matrix size: %1 x %3\neigen matrix size: %2 x %3\n"
                          "recognition:\nrecognized in Tms = T.TTTTTTms per img\nsucc rate: %4%\n")
        .arg(s).arg(m).arg(k).arg(rate).toStdString();
}

} // namespace

TEST(Commands, TrainAndClassifyShapesKnownByConstruction)
{
    QTemporaryDir dir;
    drawShapes(dir.path() + "/train", {-2, 0, 2}, {2, 3});
    drawShapes(dir.path() + "/test", {-1, 1}, {2, 3, 4}, true);

    const RunResult train = runSorvik({"train", "train"}, dir.path());
    EXPECT_EQ(trainingReport(30, 16, 14), maskTimes(train.out));
    EXPECT_EQ(1, train.exitCode);
    EXPECT_EQ(QByteArray(), train.err);

    // The model file: label line, 16 component rows, an empty line, 30 projection rows.
    const QList<QByteArray> lines = readFile(dir.path() + "/trained.out").split('\n');
    ASSERT_EQ(1 + 16 + 1 + 30 + 1, lines.size());
    EXPECT_EQ("H;H;H;H;H;H;O;O;O;O;O;O;P;P;P;P;P;P;V;V;V;V;V;V;X;X;X;X;X;X;", lines[0]);
    for (int i = 1; i < 49; ++i)
        EXPECT_EQ(i == 17 || i == 48 ? 0 : 14, lines[i].count(';')) << i;
    EXPECT_EQ(QByteArray(), lines[17] + lines[48]);

    // Unseen variants, labelled in upper case, against the lower-case training names.
    const RunResult test = runSorvik({"class", "test", "trained.out"}, dir.path());
    EXPECT_EQ(classificationReport(30, 16, 14, "100.000000"), maskTimes(test.out));
    EXPECT_EQ(1, test.exitCode);
    EXPECT_EQ(QByteArray(), test.err);

    const RunResult self = runSorvik({"class", "train", dir.path() + "/trained.out"}, dir.path());
    EXPECT_EQ(classificationReport(30, 16, 14, "100.000000"), maskTimes(self.out));
}

TEST(Commands, BuildTheDataMatrixFromTheRasters)
{
    // Every value of the rasters non-zero, so that a value left out shows.
    Raster raster;
    raster.width = 3;
    raster.height = 2;
    raster.data = {7, 1, 2, 3, 4, 255};
    EXPECT_EQ(matrixOf({{7, 1, 2, 3, 4, 255}, {7, 1, 2, 3, 4, 255}}), matrixFromRasters({raster, raster}));
    EXPECT_EQ(0, matrixFromRasters({}).rows);
}


TEST(Commands, EstimateTheMemoryOfTrainingAtLeastAsLargeAsItsLargestStage)
{
    // The buffers that live together at each stage of a real training, measured on
    // the matrices it makes: the rasters and the data matrix throughout, beside
    // the centred copy and the covariance; the covariance, the two double arrays of
    // the eigen decomposition and the components; the covariance, the components
    // and the projections. The estimate holds the largest, and not much more, for
    // sets of 16 features whose largest stage is each of the three in turn.
    for (const int count : {12, 82, 200}) {
        SCOPED_TRACE(count);
        QTemporaryDir dir;
        QStringList names;
        for (int i = 0; i < count; ++i)
            names << QStringLiteral("%1-%2.png").arg(i % 2 ? "a" : "b").arg(i);
        noiseImages(dir.path(), names, 7);
        QList<Raster> samples;
        readSampleDirectory(dir.path(), samples);
        std::map<std::string, double> bytes;
        trainOnSamples(samples, [&](const char *name, const Matrix &m) { bytes[name] = 4.0 * double(m.values.size()); });
        const double n = samples.size(), m = double(samples.first().data.size());
        const double held = n * m + bytes["input"];
        const double eigenArrays = 2 * 8 * m * m;
        const double largest = held + std::max({bytes["input"] + bytes["covariance"], bytes["covariance"] + eigenArrays + bytes["eigen"],
                                                bytes["covariance"] + bytes["eigen"] + bytes["pca"]});
        EXPECT_GE(trainingMemory(n, m), largest);
        EXPECT_LE(trainingMemory(n, m), 1.1 * largest);
    }
}

#ifdef SORVIK_FAULTS
TEST(Commands, LeaveTheOldModelWhenItsWriteIsCutShort)
{
    // Killed or stopped before the new model has a name, or between its naming and
    // its rename: the old model stays, and the next training removes a name left.
    QTemporaryDir dir;
    const QString d = dir.path();
    drawShapes(d + "/train", {0, 1}, {2});
    const QByteArray old = "H;\n1;\n\n2;\n";
    for (const char *fault : {"linkat:1:kill", "rename:1:kill", "rename:1:term"}) {
        SCOPED_TRACE(fault);
        writeFile(d + "/trained.out", old);
        runSorvik({"train", "train"}, d, {"LD_PRELOAD=" SORVIK_FAULTS, QString("SORVIK_FAULT=") + fault});
        EXPECT_EQ(old, readFile(d + "/trained.out"));
        EXPECT_EQ(QByteArray(fault).startsWith("linkat") ? 0 : 1, QDir(d).entryList({"trained.out.new-*"}, QDir::Files).size());
        runSorvik({"train", "train"}, d);
        EXPECT_TRUE(readFile(d + "/trained.out").startsWith("H;H;O;O;P;P;V;V;X;X;\n"));
        EXPECT_EQ(QStringList(), QDir(d).entryList({"trained.out.*"}, QDir::Files | QDir::Hidden));
    }
}
#endif
