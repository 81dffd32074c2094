#pragma once

#include "model/model_file.h"

#include <QByteArray>
#include <QString>

// Model files are read whole; anything larger is refused rather than risked.
constexpr qint64 maxModelBytes = qint64(1) << 30;

// No model has a longer line: a row holds at most one value per feature (about a
// million for the largest images, 13 characters each), and a label line of this
// length would name 33 million samples.
constexpr qint64 maxModelLineBytes = qint64(1) << 26;

// How long a pipe may keep the reader waiting for its next bytes.
constexpr int modelWaitMilliseconds = 60000;

// The whole text of a model file, without its carriage returns (as reading in
// text mode drops them), read whatever the file turns out to be: a regular file
// that must not change meanwhile, a pipe that may stall, a device without end.
// False when it cannot be opened; an empty text when the report says why it was
// not read (too large, a line longer than any model holds, changed, stalled).
bool readModelBytes(const QString &fileName, QByteArray &text, ModelFileReport &report);
