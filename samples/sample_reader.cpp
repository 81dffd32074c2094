#include "samples/sample_reader.h"

#include "samples/features.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Decodes with the reader, refusing sizes that would take more memory than any
// sample image should.
QImage decode(QImageReader &reader, QString &failure)
{
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

// The bytes of a regular file, read with four system calls (QFile takes eleven).
bool readBytes(const QString &path, QByteArray &bytes, QString &failure)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        failure = errno == EACCES ? QStringLiteral("cannot be read (no permission?)") : QStringLiteral("cannot be opened");
        return false;
    }
    struct stat info;
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (ok && info.st_size > maxImageFileBytes) {
        ::close(fd);
        failure = QStringLiteral("is %1 bytes; image files of at most %2 bytes are read").arg(qint64(info.st_size)).arg(maxImageFileBytes);
        return false;
    }
    if (ok) {
        // One byte more than the size, to notice a file that grew meanwhile.
        bytes.resize(int(info.st_size) + 1);
        qint64 total = 0;
        for (ssize_t got; total < bytes.size() && (got = ::read(fd, bytes.data() + total, std::size_t(bytes.size() - total))) != 0;) {
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                ok = false;
                break;
            }
            total += got;
        }
        bytes.resize(int(total));
    }
    ::close(fd);
    if (!ok)
        failure = QStringLiteral("cannot be read");
    return ok;
}

} // namespace

QImage loadSampleImageReference(const QString &path, QString &failure)
{
    QImageReader reader(path);
    return decode(reader, failure);
}

QImage loadSampleImage(const QString &path, QString &failure)
{
    // The file is read whole and decoded from memory, the handler chosen as Qt
    // chooses it for the file itself: the one of the suffix when it can read the
    // content, otherwise whichever recognises the content.
    QByteArray bytes;
    if (!readBytes(path, bytes, failure))
        return QImage();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const QByteArray suffix = QFileInfo(path).suffix().toLower().toLatin1();
    if (!suffix.isEmpty()) {
        QImageReader bySuffix(&buffer, suffix);
        if (bySuffix.canRead())
            return decode(bySuffix, failure);
        buffer.seek(0);
    }
    QImageReader byContent(&buffer);
    return decode(byContent, failure);
}


QString labelFromFileName(const QString &fileName)
{
    return QFileInfo(fileName).baseName().split(QStringLiteral("-"), Qt::KeepEmptyParts).first().toUpper();
}

QString samplePath(const QString &directory, const QString &name)
{
    // The path is used as typed: a trailing "/" doubles the separator, which is harmless.
    return directory + QStringLiteral("/") + name;
}

QList<DirectoryEntry> listSampleDirectory(const QString &directory)
{
    // Files, and the broken links, pipes and devices that are listed only to be
    // passed over with a word (opening a pipe could hang); no hidden files and no
    // sub-directories. The iterator keeps no listing of its own.
    QList<DirectoryEntry> entries;
    QDirIterator it(directory, QDir::Files | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const Entry kind = info.isFile() ? Entry::File : (info.isSymLink() && !info.exists() ? Entry::BrokenLink : Entry::Special);
        entries.append({info.fileName(), kind});
    }
    // Name order ignoring case: names compared code unit by code unit once
    // lower-cased; names equal that way in their own code unit order.
    std::vector<std::pair<QString, int>> keys;
    keys.reserve(std::size_t(entries.size()));
    for (int i = 0; i < entries.size(); ++i)
        keys.emplace_back(entries.at(i).name.toLower(), i);
    std::sort(keys.begin(), keys.end(), [&](const auto &a, const auto &b) {
        const int order = a.first.compare(b.first);
        return order != 0 ? order < 0 : entries.at(a.second).name.compare(entries.at(b.second).name) < 0;
    });
    QList<DirectoryEntry> sorted;
    sorted.reserve(entries.size());
    for (const auto &key : keys)
        sorted.append(entries.at(key.second));
    return sorted;
}

void readSampleDirectory(const QString &directory, QList<Raster> &samples, DirectoryReport *report)
{
    const auto skip = [&](const QString &name, const QString &reason) {
        if (report)
            report->skipped.append({samplePath(directory, name), reason});
    };
    for (const DirectoryEntry &entry : listSampleDirectory(directory)) {
        if (entry.kind != Entry::File) {
            skip(entry.name, entry.kind == Entry::BrokenLink ? QStringLiteral("is a link to nothing") : QStringLiteral("is not a regular file"));
            continue;
        }
        QString failure;
        const QImage image = loadSampleImage(samplePath(directory, entry.name), failure);
        if (image.isNull()) {
            skip(entry.name, failure);
            continue;
        }
        Raster raster = extractFeatures(image);
        if (raster.width == 0 || raster.height == 0) {
            const int least = 2 * transformH + std::max(transformOffsetX, transformOffsetY) + 1;
            skip(entry.name, QStringLiteral("is %1 x %2 pixels; images need at least %3 x %3 pixels").arg(image.width()).arg(image.height()).arg(least));
            continue;
        }
        raster.label = labelFromFileName(entry.name);
        if (raster.label.contains(QLatin1Char(';')) || raster.label.contains(QLatin1Char('\n')) || raster.label.contains(QLatin1Char('\r'))) {
            skip(entry.name, QStringLiteral("has a class name with \";\" or a line break, which a model file cannot hold"));
            continue;
        }
        if (report)
            report->names.append(entry.name);
        samples.append(std::move(raster));
    }
}
