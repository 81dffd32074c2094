#include "tools/image_set.h"

#include "tools/file_reasons.h"

#include "base/printable_name.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace sorvik {

namespace {

QString reasonOf(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Why a class name cannot be part of a sample name, or an empty string.
QString nameProblem(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("is empty");
    for (const QChar c : name)
        if (c == QLatin1Char('-') || c == QLatin1Char('.') || c == QLatin1Char('/') || c == QLatin1Char(';') || c.category() == QChar::Other_Control)
            return QStringLiteral("holds \"%1\", which a sample name cannot carry in its class (\"-\" ends the class, \".\" ends the "
                                  "name, \"/\" makes a folder, \";\" is refused by training)")
                .arg(printableName(QString(c)));
    if (QFile::encodeName(name).size() > 200)
        return QStringLiteral("is longer than 200 bytes, too long for a file name");
    return QString();
}

} // namespace

ClassNames digitNames()
{
    return {{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}, QStringLiteral("the digits, which name the labels 0 to 9; give --class-names or --letters")};
}

ClassNames letterNames()
{
    ClassNames letters{{QString()}, QStringLiteral("--letters, which names the labels 1 to 26 (a to z)")};
    for (char c = 'a'; c <= 'z'; ++c)
        letters.names << QString(QLatin1Char(c));
    return letters;
}

ClassNames listedNames(const QString &list, QString &problem)
{
    const QStringList names = list.split(QLatin1Char(','));
    QSet<QString> seen;
    for (int i = 0; i < names.size(); ++i) {
        const QString why = nameProblem(names.at(i));
        if (!why.isEmpty()) {
            problem = QStringLiteral("--class-names: the name of label %1, \"%2\", %3").arg(i).arg(printableName(names.at(i)), why);
            return {};
        }
        if (seen.contains(names.at(i).toUpper())) {
            problem = QStringLiteral("--class-names: the name of label %1, \"%2\", repeats an earlier one (class names are compared "
                                     "upper-cased); give each label a name of its own").arg(i).arg(printableName(names.at(i)));
            return {};
        }
        seen.insert(names.at(i).toUpper());
    }
    return {names, QStringLiteral("--class-names, which names the labels 0 to %1").arg(names.size() - 1)};
}

ImageSet::ImageSet(const QString &directory) : directory(directory)
{
    const QFileInfo place(QDir::cleanPath(QFileInfo(directory).absoluteFilePath()));
    name = QFile::encodeName(place.fileName());
    if (name.isEmpty() || !QDir().mkpath(place.absolutePath())
        || (parent = ::open(QFile::encodeName(place.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) < 0) {
        refusal = QStringLiteral("cannot create directory %1: %2; give a folder that can be created").arg(printableName(directory), folderFailure(directory));
        return;
    }
    staging = std::make_unique<Staging>(parent, name);
    if (staging->error() != 0)
        refusal = QStringLiteral("cannot write beside %1, where its images are written before they take their place: %2")
                      .arg(printableName(directory), reasonOf(staging->error()));
}

ImageSet::~ImageSet()
{
    staging.reset();
    if (parent >= 0)
        ::close(parent);
}

QString ImageSet::problem(const QStringList &names) const
{
    if (!refusal.isEmpty())
        return refusal;
    if (QFileInfo::exists(directory) && !QFileInfo(directory).isDir())
        return QStringLiteral("cannot write into %1: it is a file, not a folder").arg(printableName(directory));
    const QStringList held = QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    const QSet<QString> there(held.begin(), held.end());
    for (const QString &file : names)
        if (there.contains(file))
            return QStringLiteral("cannot write into %1: it holds %2 already, a name this run writes; give an empty or new folder")
                .arg(printableName(directory), printableName(file));
    return QString();
}

bool ImageSet::add(const QString &file, const QImage &image, QString &reason)
{
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
        reason = QStringLiteral("cannot encode %1 as PNG").arg(printableName(file));
        return false;
    }
    const int error = staging->write(QFile::encodeName(file), png);
    if (error != 0)
        reason = QStringLiteral("cannot write %1: %2; check the folder's permissions and the free space")
                     .arg(printableName(directory + QLatin1Char('/') + file), reasonOf(error));
    else
        written << file;
    return error == 0;
}

bool ImageSet::place(QString &reason)
{
    if (::syncfs(staging->descriptor()) != 0) {
        reason = QStringLiteral("cannot write %1: %2").arg(printableName(directory), reasonOf(errno));
        return false;
    }
    staging->keep(true);
    if (::renameat2(parent, staging->entry().constData(), parent, name.constData(), RENAME_NOREPLACE) == 0)
        return true;
    // The directory exists: the images go in one by one, and back if one cannot.
    staging->keep(false);
    const int into = ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int moved = 0, error = into < 0 ? errno : 0;
    while (error == 0 && moved < written.size()) {
        const QByteArray file = QFile::encodeName(written.at(moved));
        if (::renameat2(staging->descriptor(), file.constData(), into, file.constData(), RENAME_NOREPLACE) != 0)
            error = errno;
        else
            ++moved;
    }
    if (error != 0) {
        for (int back = 0; back < moved; ++back) {
            const QByteArray file = QFile::encodeName(written.at(back));
            ::renameat(into, file.constData(), staging->descriptor(), file.constData());
        }
        reason = QStringLiteral("cannot move the images into %1: %2; it is as it was").arg(printableName(directory), reasonOf(error));
    }
    if (into >= 0)
        ::close(into);
    return error == 0;
}

} // namespace sorvik
