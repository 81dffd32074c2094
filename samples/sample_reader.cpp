#include "samples/sample_reader.h"

#include "samples/features.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>

namespace {

QString loadFailure(QImageReader::ImageReaderError error)
{
    switch (error) {
    case QImageReader::FileNotFoundError: return QStringLiteral("cannot be opened");
    case QImageReader::DeviceError: return QStringLiteral("cannot be read (no permission?)");
    case QImageReader::InvalidDataError: return QStringLiteral("is a damaged or truncated image");
    default: return QStringLiteral("is not an image in a format that can be read");
    }
}

// The image of `path` as 32-bit ARGB, or a null image and the reason.
QImage loadImage(const QString &path, QString &failure)
{
    QImageReader reader(path);
    const QSize announced = reader.size();
    if (announced.isValid() && qint64(announced.width()) * announced.height() > maxImagePixels) {
        failure = QStringLiteral("is %1 x %2 pixels; images of at most %3 pixels are read")
                      .arg(announced.width()).arg(announced.height()).arg(maxImagePixels);
        return QImage();
    }
    const QImage image = reader.read();
    if (image.isNull()) {
        failure = loadFailure(reader.error());
        return QImage();
    }
    return image.convertToFormat(QImage::Format_ARGB32);
}

} // namespace

QString labelFromFileName(const QString &fileName)
{
    return QFileInfo(fileName).baseName().split(QStringLiteral("-"), Qt::KeepEmptyParts).first().toUpper();
}

void readSampleDirectory(const QString &directory, QList<Raster> &samples, DirectoryReport *report)
{
    // Files in name order, ignoring case. Broken links, pipes and devices are
    // listed too, only to be passed over with a word: opening a pipe could hang.
    const QDir dir(directory, QString(), QDir::Name | QDir::IgnoreCase, QDir::Files | QDir::System | QDir::NoDotAndDotDot);
    const auto skip = [&](const QString &path, const QString &reason) {
        if (report)
            report->skipped.append({path, reason});
    };
    for (const QString &name : dir.entryList()) {
        // The path is used as typed: a trailing "/" doubles the separator, which is harmless.
        const QString path = directory + QStringLiteral("/") + name;
        const QFileInfo info(path);
        if (!info.isFile()) {
            skip(path, info.isSymLink() && !info.exists() ? QStringLiteral("is a link to nothing") : QStringLiteral("is not a regular file"));
            continue;
        }
        QString failure;
        const QImage image = loadImage(path, failure);
        if (image.isNull()) {
            skip(path, failure);
            continue;
        }
        Raster raster = extractFeatures(image);
        if (raster.width == 0 || raster.height == 0) {
            const int least = 2 * transformH + std::max(transformOffsetX, transformOffsetY) + 1;
            skip(path, QStringLiteral("is %1 x %2 pixels; images need at least %3 x %3 pixels").arg(image.width()).arg(image.height()).arg(least));
            continue;
        }
        raster.label = labelFromFileName(name);
        if (raster.label.contains(QLatin1Char(';')) || raster.label.contains(QLatin1Char('\n')) || raster.label.contains(QLatin1Char('\r'))) {
            skip(path, QStringLiteral("has a class name with \";\" or a line break, which a model file cannot hold"));
            continue;
        }
        if (report)
            report->paths.append(path);
        samples.append(std::move(raster));
    }
}
