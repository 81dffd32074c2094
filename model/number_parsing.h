#pragma once

namespace sorvik {

// Reads a number of a model file as QString::toFloat reads it: decimal to the
// nearest double, then to float; text that is not a number gives 0.
float parseModelNumber(const char *text, int length);

} // namespace sorvik
