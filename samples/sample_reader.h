#pragma once

#include "base/printable_name.h"
#include "samples/features.h"
#include "samples/raster.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

namespace sorvik {

// A file of a sample directory that gave no sample, and why.
struct SkippedFile {
    QByteArray path;  // as the file system has it, which need not be UTF-8
    QString reason;   // "is not an image in a format that can be read"
};

// An entry of a sample directory: a file, or something listed only to be passed over.
// A link that leads nowhere says why: nothing at its end, a loop of links, or a
// folder on its way that this user may not enter.
enum class Entry { File, BrokenLink, LinkLoop, DeniedLink, Special, UndecodableName };
struct DirectoryEntry {
    QString name;      // the name decoded; for UndecodableName with replacement characters
    QByteArray bytes;  // the name as the file system has it
    Entry kind;
};

// What the reader did beyond the samples: the file of every sample, and the
// files it passed over.
struct DirectoryReport {
    QStringList names;  // names[i] is the file name of the i-th appended sample
    QList<SkippedFile> skipped;
    // The listing of the directory read last, handed over rather than freed entry
    // by entry while the caller waits (milliseconds for ten thousand files); a
    // program that ends with its report never spends them.
    std::vector<DirectoryEntry> listing;
};

// The entries of a sample directory in case-insensitive name order (names equal
// but for case in code unit order): files and links to files, broken links,
// pipes, sockets and devices, and files whose names cannot be decoded; no hidden
// entries, no sub-directories.
std::vector<DirectoryEntry> listSampleDirectory(const QString &directory);


// The path of a file of a sample directory: directory + "/" + name.
QString samplePath(const QString &directory, const QString &name);

// The F-transform raster of one sample file as a directory's reading gives it
// (unlabelled), or why it gives none.
Raster sampleFeatures(const QByteArray &path, QString &failure, const Transform &transform = Transform());

// The grey raster of one sample file (the blue plane of its pixels), unlabelled,
// or why it gives none: an image too small for one component of `transform`.
Raster sampleGrey(const QByteArray &path, QString &failure, const Transform &transform = Transform());

// The class label of a sample file: the base name up to its first "-", upper-cased.
QString labelFromFileName(const QString &fileName);

// Appends the labelled F-transform raster of every usable file in `directory`, in
// case-insensitive name order. A file that does not load as an image, an image too
// small for one component either way, and a class name that a model file cannot
// hold (";" or a line break) are passed over and noted in the report.
//
// New images to label (`FileNames::Any`) are read whatever their names: a name
// that is not valid UTF-8 is noted as printableName gives it, and a name need not
// make a class that a model file can hold.
enum class FileNames { Classes, Any };
void readSampleDirectory(const QString &directory, QList<Raster> &samples, DirectoryReport *report = nullptr,
                         const Transform &transform = Transform(), FileNames names = FileNames::Classes);

// The same files as readSampleDirectory takes for `transform`, each as its
// labelled grey raster, for a caller that transforms them in more than one way.
void readGreyDirectory(const QString &directory, QList<Raster> &samples, DirectoryReport *report, const Transform &smallest);

} // namespace sorvik
