#pragma once

#include "model/number_parsing.h"

#include <QByteArray>

namespace sorvik {

// Numbers in a model file are written as a default QTextStream writes a float:
// 6 significant digits, %g-like, ties away from zero, no "-0"; and read as
// QString::toFloat reads them.

// Writes `value` into `out` (at least 24 bytes); returns the number of characters
// written.
int formatModelNumber(float value, char *out);
QByteArray formatModelNumberReference(float value);

} // namespace sorvik
