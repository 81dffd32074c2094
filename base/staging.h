#pragma once

#include <QByteArray>
#include <QList>

#include <functional>

namespace sorvik {

// A folder that a run fills before it takes its place: hidden beside that place
// as ".NAME.new-PID", locked while its run lives, and removed with what it holds
// however the run ends before it is kept: by its destructor, by endRun, or on
// SIGINT, SIGTERM or SIGHUP. One that a killed run left behind is found by the
// next run through settleAbandonedStaging, its lock free.
class Staging {
public:
    // Makes the folder in `parent`, a folder descriptor that outlives it, for the
    // entry `name` of that folder.
    Staging(int parent, const QByteArray &name);
    ~Staging();
    Staging(const Staging &) = delete;
    Staging &operator=(const Staging &) = delete;

    int error() const { return failure; }  // errno of its making, or 0
    int descriptor() const { return fd; }
    const QByteArray &entry() const { return entryName; }  // its name in the parent

    // Writes a new file of that name into it, whole; 0 or the errno of the step
    // that failed.
    int write(const QByteArray &file, const QByteArray &bytes);

    // Whether the folder is still removed at the end: not once it has been renamed
    // into its place, unless that rename failed.
    void keep(bool kept);

private:
    static void remove(void *staging);

    int parentFd;
    int fd = -1;
    int failure = 0;
    bool kept = false;
    QByteArray entryName;
};

// The staging folders for `name` in `parent` that no living run holds: each is
// handed to `settle` (its descriptor), which moves or removes what it holds, and is
// then removed if that left it empty.
void settleAbandonedStaging(int parent, const QByteArray &name, const std::function<void(int folder)> &settle);

// The names of the entries of a folder, but "." and "..".
QList<QByteArray> folderEntries(int folder);

// Removes every entry of a folder that is not a folder itself. Safe in a signal
// handler: it allocates nothing.
void removeFilesOf(int folder);

} // namespace sorvik
