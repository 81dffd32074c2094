#pragma once

#include <QString>

namespace sorvik {

// The two commands of the program; each prints its report on standard output.
void trainModel(QString trainingDirectory);
void classifySamples(QString testDirectory, QString modelFile);

// The usage text, naming the program as `programPath` (raw bytes of argument 0).
void printUsage(const char *programPath);

} // namespace sorvik
