#pragma once

#include <QString>

namespace sorvik {

// Opens a file to read without waiting for a program to write it: a pipe that no
// program writes then reads as empty at once, where a plain open would wait for a
// writer forever. Reads block as usual. The descriptor, or -1 with errno set.
int openToRead(const QString &path);

} // namespace sorvik
