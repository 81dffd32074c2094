#pragma once

#include "samples/raster.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

// A file of a sample directory that gave no sample, and why.
struct SkippedFile {
    QByteArray path;  // as the file system has it, which need not be UTF-8
    QString reason;   // "is not an image in a format that can be read"
};

// An entry of a sample directory: a file, or something listed only to be passed over.
enum class Entry { File, BrokenLink, Special, UndecodableName };
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
    QList<DirectoryEntry> listing;
};

// The entries of a sample directory in case-insensitive name order (names equal
// but for case in code unit order): files and links to files, broken links,
// pipes, sockets and devices, and files whose names cannot be decoded; no hidden
// entries, no sub-directories.
QList<DirectoryEntry> listSampleDirectory(const QString &directory);

// A name or path as it can be printed on one line: control characters and bytes
// that are not UTF-8 become escapes ("\n", "\xff"); everything else stays.
QString printableName(const QByteArray &bytes);
QString printableName(const QString &name);

// The image of a sample file as 32-bit ARGB, loaded without a format hint, or a
// null image and the reason ("is a damaged or truncated image"). The handler is
// chosen as Qt chooses it for the file; images larger than the caps below and
// images whose data ends before their header says are refused.
QImage loadSampleImage(const QString &path, QString &failure);

// The grey raster of a sample file (its path as the file system has it), the
// blue value of every pixel: the same as imageToRaster(loadSampleImage(...)), with
// the same failures, but the plain PNG files that most sample sets hold decode
// without Qt. Empty on failure. Safe to call from several threads at once.
Raster loadSampleRaster(const QByteArray &path, QString &failure);

// The bytes of a regular file of at most maxImageFileBytes, or false and the
// reason: what loading a sample reads, and all it reads.
bool readSampleFile(const QByteArray &path, QByteArray &bytes, QString &failure);

// The same through QImageReader on the file itself: the reference that the
// faster loading from memory is tested against.
QImage loadSampleImageReference(const QString &path, QString &failure);

// The path of a file of a sample directory: directory + "/" + name.
QString samplePath(const QString &directory, const QString &name);

// Images larger than this many pixels (4096 x 4096) are not decoded: a few bytes
// of a file can announce a size that would take gigabytes.
constexpr qint64 maxImagePixels = qint64(1) << 24;

// Files larger than this are not read: no image of the size above needs more.
constexpr qint64 maxImageFileBytes = qint64(1) << 28;

// The class label of a sample file: the base name up to its first "-", upper-cased.
QString labelFromFileName(const QString &fileName);

// Appends the labelled F-transform raster of every usable file in `directory`, in
// case-insensitive name order. A file that does not load as an image, an image too
// small for one component either way, and a class name that a model file cannot
// hold (";" or a line break) are passed over and noted in the report.
void readSampleDirectory(const QString &directory, QList<Raster> &samples, DirectoryReport *report = nullptr);
