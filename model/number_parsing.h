#pragma once

namespace sorvik {

// A number of a model file as QString::toFloat reads it, decimal to the nearest
// double, then to float, for the texts that std::from_chars takes whole and whose
// value is zero or a normal float; false for any other text (a sign or a space
// before the number, inf, nan, a value beyond the float range or below its normal
// numbers), which is then QString::toFloat's own to read.
bool readModelNumber(const char *text, int length, float &value);

} // namespace sorvik
