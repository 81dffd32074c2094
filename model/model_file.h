#pragma once

#include "linalg/matrix.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Class labels of the training samples; label i belongs to projection row i.
using LabelList = QStringList;

// The text model: a label line, the component rows, an empty line, the projection
// rows; every item followed by ";". Numbers are written as a default QTextStream
// writes a float: 6 significant digits, %g-like, ties away from zero, no "-0".

// Writes `value` as a default QTextStream does into `out` (at least 16 bytes);
// returns the number of characters written.
int formatModelNumber(float value, char *out);
QByteArray formatModelNumberReference(float value);

// Reads a number as QString::toFloat does: decimal to double, then to float; text
// that is not a number gives 0.
float parseModelNumber(const char *text, int length);

// Writes the model to `fileName`; an existing file is replaced only by a complete
// new one. Nothing is written, and nothing said, when the file cannot be created.
void writeModelFile(const QString &fileName, const LabelList &labels, const Matrix &components, const Matrix &projections);

// Reads a model; false when the file cannot be opened. Rows are taken as they come;
// a row whose length differs from the first row of its block is cut or filled with
// zeros to that length, and the first such line number (1-based) goes to `raggedLine`.
bool readModelFile(const QString &fileName, LabelList &labels, Matrix &components, Matrix &projections, int *raggedLine = nullptr);

// The same writer and reader going value by value through QTextStream and
// QString::toFloat, the reference that the fast ones are tested against.
void writeModelFileReference(const QString &fileName, const LabelList &labels, const Matrix &components, const Matrix &projections);
bool readModelFileReference(const QString &fileName, LabelList &labels, Matrix &components, Matrix &projections, int *raggedLine = nullptr);
