#pragma once

#include "model/model_file.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace sorvik {

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

// How reading a model file line by line ended.
enum class LinesRead {
    Read,        // every line handed over, or the report says why none could serve
    NotOpened,   // no such file, or a directory
    NotRegular,  // a pipe, a device or a file of size 0: read it whole instead
    Refused,     // the taker refused a piece
};

// Takes the whole lines of [p, end), each ending with a line end but perhaps the
// last line of the text; `bytesAfter` more bytes of the file are still to come.
// False refuses the text, which ends the reading.
using LineTaker = std::function<bool(const char *p, const char *end, qint64 bytesAfter)>;

// Reads a regular file in pieces and hands its lines over as they arrive, in
// order, with the checks of readModelBytes: a file too large is not read, and
// one that changed while it was read or holds a line longer than any model
// holds is reported so, and whatever was handed over must then be dropped.
LinesRead readModelLines(const QString &fileName, const LineTaker &take, ModelFileReport &report);

} // namespace sorvik
