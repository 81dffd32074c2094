#pragma once

#include <QString>

#include <cstddef>

namespace sorvik {

// A file that appears whole or not at all. Its bytes go to a new file beside it
// that has no name until it is synced to the disk; it is then named
// "NAME.new-PID-N" and at once renamed over the old one. A write that fails, a
// full disk among them, leaves the old file as it was, and a run that ends
// however it ends leaves no new file behind: without a name it vanishes with the
// run, and a name left by a run killed between its two renames is removed by the
// next WholeFile of that path (the file is locked while its writer lives). Every
// step is checked, and the first failure is kept as the reason. A device, a pipe
// or the program's standard output or error at the path (or a link to one, such
// as /dev/stdout) is written into as it is, the bytes as they come.
class WholeFile {
public:
    explicit WholeFile(const QString &path);
    ~WholeFile();  // removes the new file if it was never renamed into place
    WholeFile(const WholeFile &) = delete;
    WholeFile &operator=(const WholeFile &) = delete;

    // Appends bytes; false once anything has failed.
    bool write(const char *data, std::size_t size);
    bool write(const QByteArray &bytes) { return write(bytes.constData(), std::size_t(bytes.size())); }

    // Syncs the new file and renames it over the old one; false if that or any
    // write failed.
    bool commit();

    // Why it failed ("No space left on device"), or an empty string.
    QString reason() const { return failure; }
    QString path() const { return target; }

private:
    bool fail(int error);
    bool name();
    void openDevice();

    QString target;
    QByteArray temporary;  // the new file's name, encoded; empty while it has none
    int fd = -1;
    bool committed = false;
    bool device = false;  // written into where it is, not replaced
    QString failure;
};

// Why a WholeFile of `path` cannot be written, as far as can be told before it
// is: a folder at the path, or a folder of it that is missing or that this user
// may not write into ("No such file or directory"); empty when none is seen.
QString wholeFileObstacle(const QString &path);

// Writes `bytes` to `path` whole; false and the reason when it cannot.
bool writeWholeFile(const QString &path, const QByteArray &bytes, QString &reason);

// Removes the new files "NAME.new-*" beside `path` that no living writer holds.
void removeAbandonedNewFiles(const QString &path);

} // namespace sorvik
