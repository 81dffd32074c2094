#pragma once

// The folder of a report, which holds the old report or the new one and never a
// mix, whatever ends the run and whoever else writes there. It is taken before
// the report is made: made if need be, and locked, so that one report at a time
// is written into it. The new report is built beside it in a folder of its own
// and swapped in whole; the entries of the folder that are not the old report's
// (the user's notes) are carried into the new one. The list of the report's files,
// report-files.txt, tells which entries are the old report's.

#include "base/staging.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace sorvik {

// Whether `name` is one that a report, of this version or an earlier one, writes.
bool reportWrites(const QString &name);

class ReportFolder {
public:
    // Takes the folder `out`. Without `force`, a folder that holds entries but no
    // report of ours, or an entry under a report's name that its report did not
    // write, is refused.
    ReportFolder(const QString &out, const QStringList &dataDirectories, bool force);
    ~ReportFolder();
    ReportFolder(const ReportFolder &) = delete;
    ReportFolder &operator=(const ReportFolder &) = delete;

    // Why the report cannot go there, one line; empty when it can.
    QString problem() const { return refusal; }

    // A file of the old report, read only when it is one of the report's, a regular
    // file of at most `limit` bytes; empty otherwise.
    QByteArray oldFile(const QString &name, qint64 limit) const;

    // Adds a file to the new report; false after one line that says why it cannot.
    bool add(const QString &name, const QByteArray &bytes);

    // Swaps the new report in whole; false after one line that says why it cannot.
    bool commit();

private:
    bool lock(const QString &out);
    bool admit(bool force);
    bool refuse(const QString &why, int error = 0);
    bool failed(const QString &line);
    bool swap(QByteArray &aside);
    static QList<QByteArray> carryOver(int oldFolder, int newFolder);
    static void removeMade(void *self);

    QString shown;          // the folder as the user named it
    QString refusal;
    int parent = -1;        // the folder that holds it
    int folder = -1;        // the folder itself, locked
    QByteArray name;        // its name in the parent
    bool made = false;      // made by this run, removed again if nothing is written
    QStringList previous;   // the old report's files, as its list names them
    QStringList names;      // the new report's files
    std::unique_ptr<Staging> staging;
};

} // namespace sorvik
