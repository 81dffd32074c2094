#pragma once

namespace sorvik {

// Reads a number as QString::toFloat does: decimal to double, then to float; text
// that is not a number gives 0.
float parseModelNumber(const char *text, int length);

// The writer's own forms, -?d+(.d+)?(e[+-]d+)?, from `p` on: converted, rounded
// correctly to double as QString::toDouble rounds, then to float. True, with `p`
// just past the number, when the text has that form and the value lies in the
// normal float range (or is zero); the reader's path for the pieces that are not
// of the usual short form.
bool parsePlainNumber(const char *&p, const char *end, float &value);

// The value of the piece [piece, pieceEnd) of a model line, which a ";" ends, as
// the reader takes it: parsePlainNumber's when that takes the whole piece, else
// parseModelNumber's. `end` ends the text that may be read.
float parseModelPiece(const char *piece, const char *pieceEnd, const char *end);

} // namespace sorvik
