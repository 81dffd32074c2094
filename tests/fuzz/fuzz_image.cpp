// Fuzz target: any bytes as the one file of a sample directory, through listing,
// decoding, conversion and the F-transform. A sample that comes out must be a
// whole, labelled raster; a file that does not must be named with a reason; and
// under any suffix, loading from memory and the direct PNG decoder must decide as
// Qt's loading of the file.

#include "decode/image_loader.h"
#include "samples/features.h"
#include "samples/sample_reader.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>
#include <cstring>

using namespace sorvik;

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
    // Loading from memory decides as Qt's loading of the file does. (Pixels are not
    // compared: Qt leaves the missing rows of a truncated BMP uninitialised.)
    for (const char *suffix : {"png", "jpg", "bmp", "gif", "tga", "img"}) {
        const QString path = directory + "/b-1." + suffix;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            std::abort();
        file.write(reinterpret_cast<const char *>(data), qint64(size));
        file.close();
        QString failure, referenceFailure;
        const QImage image = loadSampleImage(path, failure);
        const QImage reference = loadSampleImageReference(path, referenceFailure);
        if (image.size() != reference.size() || failure != referenceFailure)
            std::abort();
        // Under the name that the direct PNG decoder may take, the grey raster decides
        // the same too, and holds the same values where the decoder took a file.
        if (std::strcmp(suffix, "png") == 0) {
            QString rasterFailure;
            const BluePixels grey = loadSamplePixels(QFile::encodeName(path), rasterFailure);
            if (rasterFailure != referenceFailure || grey.width != reference.width() || grey.height != reference.height())
                std::abort();
            if (size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0 && !reference.isNull() && grey.values != bluePixels(reference).values)
                std::abort();
        }
        QFile::remove(path);
    }
    return 0;
}
