// Micro-benchmarks of every stage of training and classification, each fast path
// beside its plain reference. Shapes follow the real data sets: 28 x 28 digits
// (25 features, 21 components) and printed characters at 64 x 64 (196 / 167) and
// 128 x 128 (900 / 765).

#include "app/pipeline.h"
#include "decode/image_loader.h"
#include "linalg/eigen.h"
#include "linalg/matrix.h"
#include "search/nearest.h"
#include "linalg/pca.h"
#include "model/model_file.h"
#include "model/model_writer.h"
#include "model/model_number.h"
#include "samples/features.h"
#include "samples/sample_reader.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

#include <cmath>
#include <map>
#include <random>

using namespace sorvik;

namespace {

// Rows like F-transform features of character images: a bright blob of strokes
// on a black background (zeros), in a square grid of m components.
Matrix featureRows(int n, int m, unsigned seed = 1)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> unit(0, 1);
    const int side = std::max(1, int(std::lround(std::sqrt(double(m)))));
    Matrix x(n, m);
    for (int r = 0; r < n; ++r) {
        const float cx = side * (0.35f + 0.3f * unit(random)), cy = side * (0.35f + 0.3f * unit(random));
        const float radius = side * (0.2f + 0.2f * unit(random)) + 0.5f;
        for (int c = 0; c < m; ++c) {
            const float dx = float(c % side) - cx, dy = float(c / side) - cy;
            const bool inside = dx * dx + dy * dy < radius * radius;
            x(r, c) = inside ? std::floor(40 + 215 * unit(random)) : 0.0f;
        }
    }
    return x;
}

LabelList sevens(int n)
{
    LabelList labels;
    for (int i = 0; i < n; ++i)
        labels << QStringLiteral("7");
    return labels;
}

struct Trained {
    Matrix x, e, p;
};

const Trained &trained(int n, int m)
{
    static std::map<std::pair<int, int>, Trained> cache;
    Trained &t = cache[{n, m}];
    if (t.x.rows == 0) {
        t.x = featureRows(n, m);
        t.e = principalComponents(covariance(centerColumns(t.x)), keptComponentCount(m));
        t.p = multiply(t.x, t.e);
    }
    return t;
}

void covarianceArgs(benchmark::internal::Benchmark *b)
{
    b->Args({8004, 25})->Args({60000, 25})->Args({2880, 196})->Args({2880, 900})->Unit(benchmark::kMillisecond);
}

void BM_Covariance(benchmark::State &state)
{
    const Matrix x = centerColumns(featureRows(int(state.range(0)), int(state.range(1))));
    for (auto _ : state)
        benchmark::DoNotOptimize(covariance(x));
}
BENCHMARK(BM_Covariance)->Apply(covarianceArgs);

void BM_CovarianceReference(benchmark::State &state)
{
    const Matrix x = centerColumns(featureRows(int(state.range(0)), int(state.range(1))));
    for (auto _ : state)
        benchmark::DoNotOptimize(covarianceReference(x));
}
BENCHMARK(BM_CovarianceReference)->Apply(covarianceArgs);

void BM_Centring(benchmark::State &state)
{
    const Matrix x = featureRows(int(state.range(0)), int(state.range(1)));
    for (auto _ : state)
        benchmark::DoNotOptimize(centerColumns(x));
}
BENCHMARK(BM_Centring)->Apply(covarianceArgs);

void BM_Projection(benchmark::State &state)
{
    const Trained &t = trained(int(state.range(0)), int(state.range(1)));
    for (auto _ : state)
        benchmark::DoNotOptimize(multiply(t.x, t.e));
}
BENCHMARK(BM_Projection)->Apply(covarianceArgs);

void BM_ProjectionReference(benchmark::State &state)
{
    const Trained &t = trained(int(state.range(0)), int(state.range(1)));
    for (auto _ : state)
        benchmark::DoNotOptimize(multiplyReference(t.x, t.e));
}
BENCHMARK(BM_ProjectionReference)->Apply(covarianceArgs);

// The decomposition alone, fast and through JAMA, on the covariance of m features.
template <bool Fast>
void eigenBench(benchmark::State &state)
{
    const int m = int(state.range(0));
    const Matrix s = covariance(centerColumns(featureRows(2 * m, m)));
    const std::vector<double> a(s.values.begin(), s.values.end());
    for (auto _ : state) {
        SymmetricEigen result;
        std::vector<double> work = a;  // the fast one works in its input, as principal components lets it
        if (Fast)
            symmetricEigen(work, m, result);
        else
            result = symmetricEigenReference(a, m);
        benchmark::DoNotOptimize(result.values.data());
    }
}
void BM_Eigen(benchmark::State &state) { eigenBench<true>(state); }
void BM_EigenReference(benchmark::State &state) { eigenBench<false>(state); }
// Whole decompositions of seconds: the best of three runs is reported. JAMA is not
// run at m = 3,969, where it takes more than ten minutes.
BENCHMARK(BM_Eigen)->Arg(900)->Arg(1600)->Arg(3969)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);
BENCHMARK(BM_EigenReference)->Arg(900)->Arg(1600)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);

void BM_DataMatrix(benchmark::State &state)
{
    const int side = int(state.range(1));
    QList<Raster> rasters;
    const Matrix x = featureRows(int(state.range(0)), side * side);
    for (int r = 0; r < x.rows; ++r) {
        Raster raster;
        raster.width = raster.height = side;
        for (int c = 0; c < x.columns; ++c)
            raster.data.push_back(std::uint8_t(x(r, c)));
        rasters << raster;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(matrixFromRasters(rasters));
}
BENCHMARK(BM_DataMatrix)->Args({60000, 5})->Args({2880, 30})->Unit(benchmark::kMillisecond);

// A test set searched against the stored projections: `queries` rows near stored ones.
template <bool Fast>
void searchBench(benchmark::State &state)
{
    const Trained &t = trained(int(state.range(0)), int(state.range(1)));
    const Matrix queries = multiply(featureRows(int(state.range(2)), int(state.range(1)), 2), t.e);
    for (auto _ : state) {
        if (Fast) {
            const NearestIndex index = nearestIndex(t.p);
            for (int q = 0; q < queries.rows; ++q)
                benchmark::DoNotOptimize(nearestRow(index, queries.row(q)));
        } else {
            for (int q = 0; q < queries.rows; ++q)
                benchmark::DoNotOptimize(nearestRowReference(t.p, queries.row(q)));
        }
    }
    state.SetItemsProcessed(state.iterations() * queries.rows);
}

void searchArgs(benchmark::internal::Benchmark *b)
{
    b->Args({60000, 25, 200})->Args({2880, 196, 200})->Args({2880, 900, 50})->Unit(benchmark::kMillisecond);
}

void BM_NearestRow(benchmark::State &state) { searchBench<true>(state); }
BENCHMARK(BM_NearestRow)->Apply(searchArgs);
void BM_NearestRowReference(benchmark::State &state) { searchBench<false>(state); }
BENCHMARK(BM_NearestRowReference)->Apply(searchArgs);

// The model file of the 60,000-image set written and read, fast and through QTextStream.
void BM_ModelWrite(benchmark::State &state)
{
    const Trained &t = trained(int(state.range(0)), int(state.range(1)));
    QTemporaryDir dir;
    const LabelList labels = sevens(t.p.rows);
    using Writer = bool (*)(const QString &, const LabelList &, const Matrix &, const Matrix &, QString *);
    const Writer write = state.range(2) ? Writer(writeModelFile) : Writer(writeModelFileReference);
    for (auto _ : state)
        write(dir.path() + "/model", labels, t.e, t.p, nullptr);
}
BENCHMARK(BM_ModelWrite)->Args({60000, 25, 1})->Args({60000, 25, 0})->Unit(benchmark::kMillisecond);

// The number text alone, for the values of the projection matrix above.
void BM_ModelNumberText(benchmark::State &state)
{
    const Trained &t = trained(60000, 25);
    char out[32];
    for (auto _ : state) {
        if (state.range(0)) {
            for (float v : t.p.values)
                benchmark::DoNotOptimize(formatModelNumber(v, out));
        } else {
            for (float v : t.p.values)
                benchmark::DoNotOptimize(formatModelNumberReference(v));
        }
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t(t.p.values.size()));
}
BENCHMARK(BM_ModelNumberText)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_ModelRead(benchmark::State &state)
{
    const Trained &t = trained(int(state.range(0)), int(state.range(1)));
    QTemporaryDir dir;
    writeModelFile(dir.path() + "/model", sevens(t.p.rows), t.e, t.p);
    for (auto _ : state) {
        LabelList labels;
        Matrix e, p;
        (state.range(2) ? readModelFile : readModelFileReference)(dir.path() + "/model", labels, e, p, nullptr, LabelsKept::All);
        benchmark::DoNotOptimize(p);
    }
}
BENCHMARK(BM_ModelRead)->Args({60000, 25, 1})->Args({60000, 25, 0})->Unit(benchmark::kMillisecond);

// Images: a directory of 28 x 28 PNGs read by the program, against Qt's own
// decode and convert of the same files (the floor).
const QString &imageDirectory(int side)
{
    static std::map<int, QTemporaryDir *> directories;
    QTemporaryDir *&dir = directories[side];
    if (!dir) {
        dir = new QTemporaryDir;
        std::mt19937 random(3);
        for (int i = 0; i < 1000; ++i) {
            QImage image(side, side, QImage::Format_Grayscale8);
            image.fill(0);
            for (int k = 0; k < side * 3; ++k)
                image.setPixel(int(random() % unsigned(side)), int(random() % unsigned(side)), 255);
            image.save(QStringLiteral("%1/%2-%3.png").arg(dir->path()).arg(i % 10).arg(i), "PNG");
        }
    }
    static QString path;
    path = dir->path();
    return path;
}

void BM_ImageReading(benchmark::State &state)
{
    const QString &directory = imageDirectory(int(state.range(0)));
    for (auto _ : state) {
        QList<Raster> samples;
        readSampleDirectory(directory, samples);
        benchmark::DoNotOptimize(samples);
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_ImageReading)->Arg(28)->Arg(128)->Unit(benchmark::kMillisecond);

void BM_QtDecodeAndConvert(benchmark::State &state)
{
    const QString &directory = imageDirectory(int(state.range(0)));
    const QStringList names = QDir(directory).entryList(QDir::Files);
    for (auto _ : state)
        for (const QString &name : names)
            benchmark::DoNotOptimize(QImage(directory + "/" + name).convertToFormat(QImage::Format_ARGB32));
    state.SetItemsProcessed(state.iterations() * names.size());
}
BENCHMARK(BM_QtDecodeAndConvert)->Arg(28)->Arg(128)->Unit(benchmark::kMillisecond);

void BM_FTransform(benchmark::State &state)
{
    const int side = int(state.range(0));
    QImage image(side, side, QImage::Format_ARGB32);
    image.fill(qRgb(10, 20, 30));
    for (auto _ : state)
        benchmark::DoNotOptimize(fTransform(rasterOfPixels(bluePixels(image)), transformH, transformOffsetX, transformOffsetY));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FTransform)->Arg(28)->Arg(64)->Arg(128);

} // namespace

BENCHMARK_MAIN();
