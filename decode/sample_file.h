#pragma once

#include <QByteArray>
#include <QString>

namespace sorvik {

// The bytes of a regular file of at most sampleLimits.fileBytes (pixels.h), or false and the
// reason: what loading a sample reads, and all it reads. The file is opened
// without waiting, so a pipe put in place of a sample is refused, never waited
// on; a process that may open no more files ends the run (base/run_end.h).
bool readSampleFile(const QByteArray &path, QByteArray &bytes, QString &failure);

} // namespace sorvik
