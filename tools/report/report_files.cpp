#include "tools/report/report_files.h"

#include "base/printable_name.h"
#include "tools/file_reasons.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <iostream>

#include <fcntl.h>
#include <png.h>

#include <sys/stat.h>
#include <unistd.h>

namespace sorvik {

namespace {

const QString listName = QStringLiteral("report-files.txt");

// A name the list may hold: a plain file of the folder, never a path out of it.
bool plainName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && name != QLatin1String(".") && name != QLatin1String("..");
}

// The path as the system resolves it, also for a folder that does not exist yet:
// its nearest existing ancestor resolved, with the rest of the path after it.
QString resolved(const QString &path)
{
    QString existing = QDir::cleanPath(QFileInfo(path).absoluteFilePath()), rest;
    while (!QFileInfo::exists(existing)) {
        const QString parent = QFileInfo(existing).absolutePath();
        if (parent == existing)
            break;
        rest = QLatin1Char('/') + QFileInfo(existing).fileName() + rest;
        existing = parent;
    }
    return QDir::cleanPath(QFileInfo(existing).canonicalFilePath() + rest);
}

} // namespace

QString placeProblem(const QString &out, const QStringList &dataDirectories)
{
    const QString place = resolved(out);
    for (const QString &data : dataDirectories) {
        const QString directory = data.isEmpty() ? QString() : resolved(data);
        if (!directory.isEmpty() && (place == directory || place.startsWith(directory + QLatin1Char('/'))))
            return QStringLiteral("cannot write the report into %1: it is or lies inside the image directory %2, whose next reading would take "
                                  "the report's pictures for images; give --out a folder outside it")
                .arg(printableName(out), printableName(data));
    }
    return QString();
}

QString folderProblem(const QString &out)
{
    if (QDir().mkpath(out))
        return QString();
    const QString reason = folderFailure(out);
    return QStringLiteral("cannot write the report: cannot create the folder %1: %2; give --out a folder that can be created")
        .arg(printableName(out), reason);
}

ReportFiles::ReportFiles(const QString &folder) : folder(folder)
{
    QFile list(this->folder.filePath(listName));
    if (list.open(QIODevice::ReadOnly) && list.size() < (1 << 20))
        previous = QString::fromUtf8(list.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool ReportFiles::add(const QString &name, const QByteArray &bytes)
{
    if (failed)
        return false;
    names << name;
    files.push_back(std::make_unique<WholeFile>(folder.filePath(name)));
    return check(!bytes.isNull() && files.back()->write(bytes) && files.back()->finish(WholeFile::Sync::Later));
}

bool ReportFiles::commit()
{
    if (!add(listName, (names.join(QLatin1Char('\n')) + QLatin1Char('\n') + listName + QLatin1Char('\n')).toUtf8()))
        return false;
    // One sync of the file system for all the files, before any takes its place: a
    // disk that fills up only as the data reaches it leaves the old report whole.
    const int folderFd = ::open(QFile::encodeName(folder.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int synced = folderFd >= 0 && ::syncfs(folderFd) == 0 ? 0 : errno;
    if (folderFd >= 0)
        ::close(folderFd);
    if (synced != 0) {
        std::cout << (QStringLiteral("cannot write ") + printableName(folder.path()) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(synced)))
                         .toStdString() << "\n";
        return !(failed = true);
    }
    for (std::size_t i = 0; !failed && i < files.size(); ++i)
        check(files[i]->commit());
    for (const QString &name : previous) {
        // Only regular files: a link or a folder of that name is not the report's.
        struct stat status;
        const QByteArray path = QFile::encodeName(folder.filePath(name));
        if (!failed && plainName(name) && !names.contains(name) && ::lstat(path.constData(), &status) == 0 && S_ISREG(status.st_mode))
            ::unlink(path.constData());
    }
    return !failed;
}

bool ReportFiles::check(bool written)
{
    if (!written && !failed) {
        const WholeFile *file = files.empty() ? nullptr : files.back().get();
        for (const auto &f : files)
            if (!f->reason().isEmpty())
                file = f.get();
        const QString reason = file && !file->reason().isEmpty() ? file->reason() : QStringLiteral("the picture cannot be encoded");
        std::cout << (QStringLiteral("cannot write ") + printableName(file ? file->path() : folder.path()) + QStringLiteral(": ") + reason)
                         .toStdString() << "\n";
        failed = true;
    }
    return written;
}

namespace {

void appendPng(png_structp png, png_bytep data, png_size_t size)
{
    static_cast<QByteArray *>(png_get_io_ptr(png))->append(reinterpret_cast<const char *>(data), int(size));
}

// libpng's own handlers would print to standard error; an error comes back as
// a jump to the frame that set it up, a warning changes nothing of the picture.
void pngError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// libpng reports an error by a jump back here: nothing in this frame needs a
// destructor run.
bool encodePng(const QImage &image, QByteArray *bytes)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    const bool grey = image.format() == QImage::Format_Grayscale8;
    png_set_write_fn(png, bytes, appendPng, nullptr);
    png_set_IHDR(png, info, png_uint_32(image.width()), png_uint_32(image.height()), 8, grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, 1);
    png_write_info(png, info);
    if (!grey) {  // 0xffRRGGBB words, stored B, G, R, 0xff
        png_set_bgr(png);
        png_set_filler(png, 0, PNG_FILLER_AFTER);
    }
    for (int y = 0; y < image.height(); ++y)
        png_write_row(png, image.constScanLine(y));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

QByteArray pngBytes(const QImage &image)
{
    if (image.isNull())
        return QByteArray();
    const QImage pixels = image.format() == QImage::Format_Grayscale8 || image.format() == QImage::Format_RGB32
                              ? image : image.convertToFormat(QImage::Format_RGB32);
    QByteArray bytes;
    return encodePng(pixels, &bytes) ? bytes : QByteArray();
}

} // namespace sorvik
