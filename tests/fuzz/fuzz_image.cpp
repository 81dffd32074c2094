// Fuzz target: any bytes as the one file of a sample directory, through listing,
// decoding, conversion and the F-transform. A sample that comes out must be a
// whole, labelled raster; a file that does not must be named with a reason.

#include "samples/sample_reader.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

namespace {

QString directory;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    static QTemporaryDir dir;
    directory = dir.path();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    {
        QFile file(directory + "/a-1.img");
        if (!file.open(QIODevice::WriteOnly))
            std::abort();
        file.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    QList<Raster> samples;
    DirectoryReport report;
    readSampleDirectory(directory, samples, &report);
    if (samples.size() + report.skipped.size() != 1 || report.names.size() != samples.size())
        std::abort();
    for (const Raster &sample : samples) {
        if (sample.width <= 0 || sample.height <= 0 || sample.data.size() != std::size_t(sample.width) * std::size_t(sample.height)
            || sample.label != "A" || sample.sourceWidth < 11 || sample.sourceHeight < 11)
            std::abort();
    }
    for (const SkippedFile &skipped : report.skipped)
        if (skipped.reason.isEmpty())
            std::abort();
    return 0;
}
