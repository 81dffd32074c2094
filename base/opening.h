#pragma once

#include <QByteArray>
#include <QString>

namespace sorvik {

// Opens a file to read without waiting for a program to write it: a pipe that no
// program writes then reads as empty at once, where a plain open would wait for a
// writer forever. Reads block as usual. The descriptor, or -1 with errno set.
int openToRead(const QString &path);

// Reads a file so opened to its end, or to the first piece beyond `limit` bytes
// (a file that grows, or a device, stops there): `bytes` then holds more than
// `limit`. False, with errno set, where it cannot be opened.
bool readUpTo(const QString &path, qint64 limit, QByteArray &bytes);

} // namespace sorvik
