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

// Takes the whole lines of [p, end), each ending with a line end but perhaps the
// last line of the text; `bytesAfter` more bytes of the file are still to come
// (as far as a regular file's size tells; 0 for a stream).
using LineTaker = std::function<void(const char *p, const char *end, qint64 bytesAfter)>;

// Reads a model file in pieces, whatever it turns out to be (a regular file that
// must not change meanwhile, a pipe that may stall, a device without end), and
// hands its lines over as they arrive, in order, carriage returns and all. A file
// too large is not read; one that changed while it was read, stalled, or holds a
// line longer than any model holds is reported so, and whatever was handed over
// must then be dropped. False when it cannot be opened (or is a directory).
bool readModelLines(const QString &fileName, const LineTaker &take, ModelFileReport &report);

// The parameters item at the head of a model file (model_parameters.h), or an
// empty one when it has none, read from its first bytes without taking them
// from anyone; false when the file is not a regular file, which only a whole
// reading can tell.
bool peekParametersItem(const QString &fileName, QString &item);

} // namespace sorvik
