#include "samples/sample_reader.h"

#include "samples/features.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>

QString labelFromFileName(const QString &fileName)
{
    return QFileInfo(fileName).baseName().split(QStringLiteral("-"), Qt::KeepEmptyParts).first().toUpper();
}

void readSampleDirectory(const QString &directory, QList<Raster> &samples)
{
    const QDir dir(directory, QString(), QDir::Name | QDir::IgnoreCase, QDir::Files | QDir::NoDotAndDotDot);
    for (const QString &name : dir.entryList()) {
        // The path is used as typed: a trailing "/" doubles the separator, which is harmless.
        const QImage image = QImage(directory + QStringLiteral("/") + name).convertToFormat(QImage::Format_ARGB32);
        Raster raster = extractFeatures(image);
        raster.label = labelFromFileName(name);
        samples.append(std::move(raster));
    }
}
