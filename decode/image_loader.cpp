#include "decode/image_loader.h"

#include "base/heap_tuning.h"
#include "base/kernels.h"
#include "base/run_end.h"
#include "decode/decode_limit.h"
#include "decode/image_completeness.h"
#include "decode/png_decoder.h"
#include "decode/png_screen.h"
#include "decode/sample_file.h"

#include <QFile>
#include <QFileInfo>
#include <QCoreApplication>
#include <QDir>
#include <QImageReader>
#include <QPluginLoader>

#include <cstring>
#include <mutex>

namespace sorvik {

namespace {

const QString damaged = QStringLiteral("is a damaged or truncated image");

QString loadFailure(QImageReader::ImageReaderError error)
{
    switch (error) {
    case QImageReader::FileNotFoundError: return QStringLiteral("cannot be opened");
    case QImageReader::DeviceError: return QStringLiteral("cannot be read (no permission?)");
    case QImageReader::InvalidDataError: return damaged;
    default: return QStringLiteral("is not an image in a format that can be read");
    }
}

QString sizeFailure(QSize size)
{
    return QStringLiteral("is %1 x %2 pixels; images of at most %3 pixels are read").arg(size.width()).arg(size.height()).arg(sampleLimits.pixels);
}

// Decoders report data that ends too soon only as a warning (libjpeg's "Premature
// end of JPEG file", "Corrupt JPEG data: premature end of data segment") and fill
// in the rest; such warnings are caught while one image decodes.
bool truncationWarned = false;

void watchForTruncation(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (message.contains(QLatin1String("premature end"), Qt::CaseInsensitive))
        truncationWarned = true;
}

// Whether a plugin could not be mapped for want of address space. Each try has a
// loader of its own: Qt remembers a failed load for as long as a loader of that
// file lives.
bool unmapped(const QString &path)
{
    QPluginLoader plugin(path);
    const QString error = plugin.load() ? QString() : plugin.errorString();
    return error.contains(QLatin1String("failed to map segment")) || error.contains(QLatin1String("Cannot allocate memory"));
}

// Every image plugin is loaded before the first decode: a plugin that cannot be
// mapped for want of memory would otherwise make its files look unreadable. The
// heap's reserve is given back before that is taken for the want of memory it is.
void loadImagePlugins()
{
    static bool loaded = false;
    if (loaded)
        return;
    loaded = true;
    for (const QString &path : QCoreApplication::libraryPaths()) {
        const QDir folder(path + QStringLiteral("/imageformats"));
        for (const QString &file : folder.entryList(QDir::Files))
            if (unmapped(folder.filePath(file)) && (!releaseHeapPad() || unmapped(folder.filePath(file))))
                endOutOfMemory(std::size_t(std::max<qint64>(1, QFileInfo(folder.filePath(file)).size())));
    }
}

// The truncation watch holds Qt's message handler while an image is read.
struct TruncationWatch {
    QtMessageHandler previous;
    TruncationWatch() : previous(qInstallMessageHandler(watchForTruncation)) { truncationWarned = false; }
    ~TruncationWatch() { qInstallMessageHandler(previous); }
};

// What a decode under the limit found, to be put in words once the limit is gone.
struct Decoded {
    enum Verdict { Image, TooLarge, Unread, Truncated } verdict = Unread;
    QImage image;  // 32-bit ARGB
    QSize size;    // announced, or decoded
    QImageReader::ImageReaderError error = QImageReader::UnknownError;
};

// Everything that allocates for one image, under the limit: the size the header
// announces, the decoding, the size it produced, whether its data ended before
// its header says, and the conversion to 32-bit ARGB.
Decoded decodeUnderLimit(QImageReader &reader, const QByteArray &bytes, const QByteArray &suffixFormat)
{
    Decoded d;
    d.size = reader.size();
    if (d.size.isValid() && qint64(d.size.width()) * d.size.height() > sampleLimits.pixels)
        return d.verdict = Decoded::TooLarge, d;
    QByteArray format = reader.format();
    QImage image;
    {
        const TruncationWatch watch;
        image = reader.read();
    }
    if (image.isNull())
        return d.error = reader.error(), d;
    d.size = image.size();
    if (qint64(image.width()) * image.height() > sampleLimits.pixels)
        return d.verdict = Decoded::TooLarge, d;
    if (truncationWarned || !imageDataComplete(bytes, format.isEmpty() ? suffixFormat : format, image.size()))
        return d.verdict = Decoded::Truncated, d;
    d.image = image.convertToFormat(QImage::Format_ARGB32);
    d.verdict = d.image.isNull() ? Decoded::Unread : Decoded::Image;
    return d;
}

// Decodes with the reader, refusing images larger than any sample image should be
// (by the size the header announces, by what the decoder tries to allocate, and by
// the size it produced) and images whose data ends before their header says.
QImage decode(QImageReader &reader, const QString &path, const QByteArray &bytes, QString &failure)
{
    failure = pngRefusal(bytes);
    if (!failure.isEmpty())
        return QImage();
    // One image at a time: the watch for truncation holds Qt's message handler.
    static std::mutex decoding;
    const std::lock_guard<std::mutex> lock(decoding);
    loadImagePlugins();
    const QByteArray suffixFormat = QFileInfo(path).suffix().toLower().toLatin1();
    Decoded decoded;
    bool refused = false;
    {
        // Finding the size may already decode (GIF does), so the limit holds from the start.
        const AllocationLimit limit(sampleLimits.allocation);
        try {
            decoded = decodeUnderLimit(reader, bytes, suffixFormat);
        } catch (const std::bad_alloc &) {
            // Only the limit refuses here (memory that runs out ends the run): a request
            // beyond it, through operator new, stops at this edge.
        }
        refused = limit.refused();
    }
    if (refused)
        failure = QStringLiteral("needs more memory to decode than an image of at most %1 pixels").arg(sampleLimits.pixels);
    else if (decoded.verdict == Decoded::TooLarge)
        failure = sizeFailure(decoded.size);
    else if (decoded.verdict == Decoded::Truncated)
        failure = damaged;
    else if (decoded.verdict == Decoded::Unread)
        failure = loadFailure(decoded.error);
    return failure.isEmpty() ? decoded.image : QImage();
}

} // namespace

namespace {

// A file whose content is already in memory. Image readers take it for the file of
// that name, so they choose their handler exactly as for the file itself: by the
// suffix first, then by the content.
class MemoryFile : public QFile {
public:
    MemoryFile(const QString &name, const QByteArray &bytes) : QFile(name), content(bytes)
    {
        QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    ~MemoryFile() override { QIODevice::close(); }

    bool open(OpenMode) override { return false; }
    void close() override { QIODevice::close(); }
    bool isSequential() const override { return false; }
    qint64 size() const override { return content.size(); }
    qint64 pos() const override { return QIODevice::pos(); }
    bool seek(qint64 offset) override { return QIODevice::seek(offset); }
    bool atEnd() const override { return QIODevice::atEnd(); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 count = std::max<qint64>(0, std::min(maxSize, content.size() - pos()));
        if (count > 0)
            std::memcpy(data, content.constData() + pos(), std::size_t(count));
        return count;
    }
    qint64 readLineData(char *data, qint64 maxSize) override { return QIODevice::readLineData(data, maxSize); }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    const QByteArray &content;
};

} // namespace

QImage loadSampleImageReference(const QString &path, QString &failure)
{
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    QImageReader reader(path);
    return decode(reader, path, bytes, failure);
}

namespace {

QImage decodeAsQtDoes(const QString &path, const QByteArray &bytes, QString &failure)
{
    MemoryFile file(path, bytes);
    QImageReader reader(&file);
    return decode(reader, path, bytes, failure);
}

} // namespace

QImage loadSampleImage(const QString &path, QString &failure)
{
    QByteArray bytes;
    return readSampleFile(QFile::encodeName(path), bytes, failure) ? decodeAsQtDoes(path, bytes, failure) : QImage();
}

BluePixels bluePixels(const QImage &image)
{
    BluePixels blue;
    blue.width = image.width();
    blue.height = image.height();
    blue.values.resize(std::size_t(blue.width) * std::size_t(blue.height));
    // For an ARGB32 image a scan line holds exactly the values QImage::pixel returns.
    const bool argb32 = image.format() == QImage::Format_ARGB32;
    for (int y = 0; y < blue.height; ++y) {
        std::uint8_t *out = blue.values.data() + std::size_t(y) * std::size_t(blue.width);
        if (argb32) {
            const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            for (int x = 0; x < blue.width; ++x)
                out[x] = std::uint8_t(line[x]);
        } else {
            for (int x = 0; x < blue.width; ++x)
                out[x] = std::uint8_t(image.pixel(x, y));
        }
    }
    return blue;
}

BluePixels loadSamplePixels(const QByteArray &path, QString &failure)
{
    // The buffer stays between the files a thread reads, so reading costs no
    // allocation; that of a large file is let go.
    static thread_local QByteArray bytes;
    struct Release {
        ~Release()
        {
            if (bytes.capacity() > (1 << 24))
                bytes = QByteArray();
        }
    } release;
    if (!readSampleFile(path, bytes, failure))
        return BluePixels();
    // A file named .png goes to Qt's PNG handler whatever it holds; the plain ones
    // decode here, to the same values.
    BluePixels blue;
    const bool pngName = path.size() >= 4 && qstrnicmp(path.constData() + path.size() - 4, ".png", 4) == 0;
    if (!plainKernels && pngName && decodePlainPng(bytes, blue))
        return blue;
    const QImage image = decodeAsQtDoes(QFile::decodeName(path), bytes, failure);
    return image.isNull() ? BluePixels() : bluePixels(image);
}

} // namespace sorvik
