#pragma once

// An IDX file (plain or gzip-compressed) read as a stream: its header first, then
// its items one at a time. The sizes that the header announces are checked before
// anything more is inflated, and no file is ever held whole.

#include <QString>

#include <cstdint>
#include <vector>

#include <zlib.h>

namespace sorvik {

class IdxFile {
public:
    // Opens `path` and reads its header: the magic number `magic` (0x803 for
    // images, 0x801 for labels) and one size for each of its dimensions.
    IdxFile(const QString &path, std::uint32_t magic, int dimensions);
    ~IdxFile();
    IdxFile(const IdxFile &) = delete;
    IdxFile &operator=(const IdxFile &) = delete;

    // Why the file cannot serve, one line for the user; empty while it can.
    QString problem() const { return failure; }
    const std::vector<std::uint32_t> &sizes() const { return dimensions; }

    // Reads the next `bytes` bytes; false, with the problem set, when it ends
    // before them. `what` names the item in that line ("image 12").
    bool read(char *into, std::size_t bytes, const QString &what);

    // Whether the file holds nothing more; the problem is set when it does.
    bool atEnd();

private:
    bool fail(const QString &why);

    QString path;
    gzFile file = nullptr;
    std::vector<std::uint32_t> dimensions;
    QString failure;
};

} // namespace sorvik
