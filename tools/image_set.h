#pragma once

// What the tools that make sample sets write: the class name of every label,
// and sample directories that are written whole or not at all.

#include "base/staging.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <memory>

namespace sorvik {

// The class name of each label: names[label], empty where the label has none.
struct ClassNames {
    QStringList names;
    QString source;  // where they come from, for a message: "the digits 0 to 9"
};

ClassNames digitNames();
ClassNames letterNames();  // 1 to 26 are a to z, as in EMNIST letters

// The names of a comma-separated list, one per label from 0: any length, but none
// empty, repeated (as labels are compared, upper-cased), or holding a character
// that a sample name cannot carry ("-", ".", "/", ";" or a control character).
// An empty list and the reason when it cannot serve.
ClassNames listedNames(const QString &list, QString &problem);

// A sample directory written whole: its images go first to a folder of the run's
// own beside it, and all take their place at the end. A run that fails part way,
// or ends however it ends, leaves none of them.
class ImageSet {
public:
    explicit ImageSet(const QString &directory);
    ~ImageSet();

    // Why the set cannot be written: the folder cannot be made, or holds files
    // of the names given already. Asked before any image is written.
    QString problem(const QStringList &names) const;

    // Adds an image as a PNG file; false with the reason when it cannot.
    bool add(const QString &name, const QImage &image, QString &reason);

    // Moves every image into the directory, made if need be; false with the
    // reason, and the directory as it was, when they cannot all go.
    bool place(QString &reason);

private:
    QString directory;
    QByteArray name;
    int parent = -1;
    QString refusal;
    QStringList written;
    std::unique_ptr<Staging> staging;
};

} // namespace sorvik
