// Times the stages of training on one directory, as `sorvik train` runs them:
// reading the images, the covariance (data matrix, centring, covariance), the
// eigen decomposition, the projection and the model writing; then the peak
// resident memory. Prints one line: n m k and the seconds of each stage.
// Usage: sorvik-train-stages TRAIN_DIR MODEL_FILE

#include "app/pipeline.h"
#include "linalg/matrix.h"
#include "linalg/pca.h"
#include "model/model_file.h"
#include "model/model_writer.h"
#include "samples/sample_reader.h"

#include <QElapsedTimer>

#include <cstdio>

#include <sys/resource.h>

using namespace sorvik;

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::printf("usage: sorvik-train-stages TRAIN_DIR MODEL_FILE\n");
        return 2;
    }
    QElapsedTimer timer;
    timer.start();
    const auto lap = [&] {
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        timer.restart();
        return seconds;
    };
    QList<Raster> samples;
    readSampleDirectory(QString::fromLocal8Bit(argv[1]), samples);
    const double reading = lap();
    const Matrix x = matrixFromRasters(samples);
    const Matrix s = covariance(centerColumns(x));
    const double covarianceTime = lap();
    const Matrix e = principalComponents(s, keptComponentCount(s.rows));
    const double eigen = lap();
    const Matrix p = multiply(x, e);
    const double projection = lap();
    LabelList labels;
    for (const Raster &sample : samples)
        labels << sample.label;
    writeModelFile(QString::fromLocal8Bit(argv[2]), labels, e, p);
    const double writing = lap();
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%d %d %d %.3f %.3f %.3f %.3f %.3f %.0f\n", x.rows, x.columns, e.columns, reading, covarianceTime, eigen,
                projection, writing, double(usage.ru_maxrss) / 1024);
    return 0;
}
