#include "samples/sample_reader.h"

#include "samples/features.h"

#include "decode/image_loader.h"

#include "base/parallel.h"
#include "base/printable_name.h"
#include "base/run_end.h"

#include <QFile>
#include <QImage>

#include <algorithm>
#include <cerrno>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace sorvik {

QString labelFromFileName(const QString &fileName)
{
    // The base name (what QFileInfo calls so: up to the first ".") up to its first
    // "-", found directly, since every sample file pays for it.
    int end = fileName.indexOf(QLatin1Char('.'));
    if (end < 0)
        end = fileName.size();
    const int dash = fileName.indexOf(QLatin1Char('-'));
    if (dash >= 0 && dash < end)
        end = dash;
    return fileName.left(end).toUpper();
}

QString samplePath(const QString &directory, const QString &name)
{
    // The path is used as typed: a trailing "/" doubles the separator, which is harmless.
    return directory + QStringLiteral("/") + name;
}

namespace {

// What a directory entry is, following links; a stat only where the listing
// itself does not tell. Directories and links to them give nothing.
bool entryKind(int directory, const dirent &entry, Entry &kind)
{
    if (entry.d_type == DT_REG) {
        kind = Entry::File;
        return true;
    }
    if (entry.d_type == DT_DIR)
        return false;
    struct stat info;
    if (::fstatat(directory, entry.d_name, &info, 0) != 0) {
        kind = errno == ELOOP ? Entry::LinkLoop : errno == EACCES ? Entry::DeniedLink : Entry::BrokenLink;
        return ::fstatat(directory, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) == 0;
    }
    if (S_ISDIR(info.st_mode))
        return false;
    kind = S_ISREG(info.st_mode) ? Entry::File : Entry::Special;
    return true;
}

} // namespace

std::vector<DirectoryEntry> listSampleDirectory(const QString &directory)
{
    // Files, and the broken links, pipes and devices that are listed only to be
    // passed over with a word (opening a pipe could hang); no hidden files and no
    // sub-directories. A name that does not decode is listed to be named, too.
    std::vector<DirectoryEntry> entries;
    DIR *listing = ::opendir(QFile::encodeName(directory).constData());
    if (!listing && (errno == EMFILE || errno == ENFILE))  // not a verdict on the directory
        endOutOfDescriptors(printableName(directory).toUtf8().constData());
    if (!listing)
        return entries;
    while (const dirent *entry = ::readdir(listing)) {
        Entry kind;
        if (entry->d_name[0] == '.' || !entryKind(::dirfd(listing), *entry, kind))
            continue;
        const QByteArray bytes(entry->d_name);
        const QString name = QFile::decodeName(bytes);
        if (QFile::encodeName(name) != bytes)
            kind = Entry::UndecodableName;
        entries.push_back({name, bytes, kind});
    }
    ::closedir(listing);
    // Name order ignoring case: names compared code unit by code unit once
    // lower-cased; names equal that way in their own code unit order.
    std::vector<std::pair<QString, std::size_t>> keys;
    keys.reserve(entries.size());
    for (std::size_t e = 0; e < entries.size(); ++e)
        keys.emplace_back(entries[e].name.toLower(), e);
    std::sort(keys.begin(), keys.end(), [&](const auto &a, const auto &b) {
        const int order = a.first.compare(b.first);
        return order != 0 ? order < 0 : entries[a.second].name.compare(entries[b.second].name) < 0;
    });
    std::vector<DirectoryEntry> sorted;
    sorted.reserve(entries.size());
    for (const auto &key : keys)
        sorted.push_back(std::move(entries[key.second]));
    return sorted;
}

Raster sampleGrey(const QByteArray &path, QString &failure, const Transform &transform)
{
    Raster grey = rasterOfPixels(loadSamplePixels(path, failure));
    if (!failure.isEmpty())
        return Raster();
    if (grey.width < leastSide(transform) || grey.height < leastSide(transform)) {
        failure = QStringLiteral("is %1 x %2 pixels; images need at least %3 x %3 pixels").arg(grey.width).arg(grey.height).arg(leastSide(transform));
        return Raster();
    }
    return grey;
}

Raster sampleFeatures(const QByteArray &path, QString &failure, const Transform &transform)
{
    const Raster grey = sampleGrey(path, failure, transform);
    return failure.isEmpty() ? fTransform(grey, transform) : Raster();
}

namespace {

// Reads every file of a directory into the raster that `read` gives, side by side,
// then appends those that gave one in name order, labelled.
template <class Read>
void readDirectory(const QString &directory, QList<Raster> &samples, DirectoryReport *report, const Read &read,
                   FileNames names = FileNames::Classes)
{
    const auto readable = [names](const DirectoryEntry &entry) {
        return entry.kind == Entry::File || (names == FileNames::Any && entry.kind == Entry::UndecodableName);
    };
    const QByteArray directoryBytes = QFile::encodeName(directory) + '/';
    std::vector<DirectoryEntry> listing = listSampleDirectory(directory);
    // The files are read, transformed and labelled side by side, then taken in
    // name order.
    std::vector<Raster> rasters(std::size_t(listing.size()));
    std::vector<QString> failures(rasters.size());
    // Each thread holds one descriptor at a time; one is kept spare for the image
    // plugins, so that a process allowed few open files reads on fewer threads.
    const int threads = freeDescriptors() - 1;
    forEachIndex(int(listing.size()), [&](int i) {
        const DirectoryEntry &entry = listing.at(i);
        if (!readable(entry))
            return;
        Raster &raster = rasters[std::size_t(i)];
        QString &failure = failures[std::size_t(i)];
        raster = read(directoryBytes + entry.bytes, failure);
        if (!failure.isEmpty())
            return;
        raster.label = labelFromFileName(entry.name);
        if (names == FileNames::Classes
            && (raster.label.contains(QLatin1Char(';')) || raster.label.contains(QLatin1Char('\n')) || raster.label.contains(QLatin1Char('\r'))))
            failure = QStringLiteral("has a class name with \";\" or a line break, which a model file cannot hold");
    }, 32, threads);
    samples.reserve(samples.size() + listing.size());
    if (report)
        report->names.reserve(report->names.size() + listing.size());
    for (int i = 0; i < int(listing.size()); ++i) {
        const DirectoryEntry &entry = listing.at(i);
        const auto skip = [&](const QString &reason) {
            if (report)
                report->skipped.append({directoryBytes + entry.bytes, reason});
        };
        if (!readable(entry)) {
            skip(entry.kind == Entry::BrokenLink      ? QStringLiteral("is a link to nothing")
                 : entry.kind == Entry::LinkLoop      ? QStringLiteral("is a link in a loop of links")
                 : entry.kind == Entry::DeniedLink    ? QStringLiteral("is a link through a folder that this user may not enter")
                 : entry.kind == Entry::Special       ? QStringLiteral("is not a regular file")
                                                      : QStringLiteral("has a name that is not valid UTF-8"));
            continue;
        }
        if (!failures[std::size_t(i)].isEmpty()) {
            skip(failures[std::size_t(i)]);
            continue;
        }
        if (report)
            report->names.append(entry.kind == Entry::UndecodableName ? printableName(entry.bytes) : entry.name);
        samples.append(Raster());  // a list takes copies only: the raster is swapped in
        std::swap(samples.last(), rasters[std::size_t(i)]);
    }
    if (report)
        report->listing.swap(listing);
}

} // namespace

void readSampleDirectory(const QString &directory, QList<Raster> &samples, DirectoryReport *report, const Transform &transform, FileNames names)
{
    readDirectory(directory, samples, report, [&](const QByteArray &path, QString &failure) { return sampleFeatures(path, failure, transform); }, names);
}

void readGreyDirectory(const QString &directory, QList<Raster> &samples, DirectoryReport *report, const Transform &smallest)
{
    readDirectory(directory, samples, report, [&](const QByteArray &path, QString &failure) { return sampleGrey(path, failure, smallest); });
}

} // namespace sorvik
