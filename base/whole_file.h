#pragma once

#include <QString>

#include <cstddef>

namespace sorvik {

// A file that appears whole or not at all. Its bytes go to a new file beside it,
// which is synced to the disk and only then renamed over the old one; a write
// that fails, a full disk among them, leaves the old file as it was. Every step
// is checked, and the first failure is kept as the reason.
class WholeFile {
public:
    explicit WholeFile(const QString &path);
    ~WholeFile();  // removes the new file if it was never renamed into place
    WholeFile(const WholeFile &) = delete;
    WholeFile &operator=(const WholeFile &) = delete;

    // Appends bytes; false once anything has failed.
    bool write(const char *data, std::size_t size);
    bool write(const QByteArray &bytes) { return write(bytes.constData(), std::size_t(bytes.size())); }

    // Syncs and closes the new file, ready to be renamed; false if that or any
    // write failed. A caller that writes many files may leave the sync to one
    // syncfs() of its own before it commits them (Sync::Later).
    enum class Sync { Now, Later };
    bool finish(Sync sync = Sync::Now);

    // Renames the finished file over the old one (finishing it first if needed).
    bool commit();

    // Why it failed ("No space left on device"), or an empty string.
    QString reason() const { return failure; }
    QString path() const { return target; }

private:
    bool fail(int error);

    QString target;
    QByteArray temporary;  // the new file's name, encoded
    int fd = -1;
    bool finished = false;
    bool committed = false;
    QString failure;
};

// Writes `bytes` to `path` whole; false and the reason when it cannot.
bool writeWholeFile(const QString &path, const QByteArray &bytes, QString &reason);

} // namespace sorvik
