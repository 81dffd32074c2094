#pragma once

#include "linalg/matrix.h"
#include "model/model_writer.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace sorvik {

// The text model: a label line, the component rows, an empty line, the projection
// rows; every item followed by ";", every number as model_number.h writes it. Its
// writer is model_writer.h.

// What the reader noticed about a file, for refusing a model that cannot serve.
struct ModelFileReport {
    bool keepUsableLabelsOnly = false;  // in: keep no more labels than projection rows
    int labelCount = 0;                 // labels on the first line, kept or not
    int raggedLine = 0;                 // first line (1-based) whose row length differs from its block's first row
    int raggedLength = 0;
    int expectedLength = 0;
    int nonFiniteLine = 0;              // first line holding a value that is not a finite number
    bool tooLarge = false;              // the file exceeds the size that is read
    bool changedWhileRead = false;      // its size or time of change moved while it was read
    bool stalled = false;               // a pipe that kept the reader waiting too long
    int longLine = 0;                   // first line longer than any model holds
};

// Reads a model; false when the file cannot be opened. Rows are taken as they
// come: a row whose length differs from the first row of its block is cut or
// filled with zeros to that length, and noted in the report.
bool readModelFile(const QString &fileName, LabelList &labels, Matrix &components, Matrix &projections, ModelFileReport *report = nullptr);

// The reader going line by line through QTextStream and QString::toFloat, the
// reference that the fast one is tested against.
bool readModelFileReference(const QString &fileName, LabelList &labels, Matrix &components, Matrix &projections, ModelFileReport *report = nullptr);

} // namespace sorvik
