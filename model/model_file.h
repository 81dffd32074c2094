#pragma once

#include "model/model.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace sorvik {

// The text model: a label line, the component rows, an empty line, the projection
// rows; every item followed by ";", every number as model_number.h writes it. Its
// writer is model_writer.h.

// What the reader found in a file, for refusing a model that cannot serve.
struct ModelFileReport {
    QString parameters;                 // the parameters item of a model not of the fixed recipe, or empty
    int labelCount = 0;                 // labels on the first line, kept or not (the parameters item is none)
    int raggedLine = 0;                 // first line (1-based) whose row length differs from its block's first row
    int raggedLength = 0;
    int expectedLength = 0;
    int nonFiniteLine = 0;              // first line holding a value that is not a finite number
    bool tooLarge = false;              // the file exceeds the size that is read
    bool changedWhileRead = false;      // its size or time of change moved while it was read
    bool stalled = false;               // a pipe that kept the reader waiting too long
    int longLine = 0;                   // first line longer than any model holds
};

// Which labels the reader keeps: all of them, or no more than there are
// projection rows (a label line of millions costs nothing beyond them).
enum class LabelsKept { All, UpToProjectionRows };

// Reads a model; false when the file cannot be opened. Every file goes one way:
// its bytes in pieces, then whole lines, then the numbers of each line; rows are
// taken as they come, and a row whose length differs from the first row of its
// block is cut or filled with zeros to that length and noted in the report.
bool readModelFile(const QString &fileName, LabelList &labels, Matrix &components, Matrix &projections, ModelFileReport *report = nullptr,
                   LabelsKept kept = LabelsKept::All);

// The reader going line by line through QTextStream and QString::toFloat, the
// reference that the fast one is tested against, and the reader of a file in
// UTF-16 or UTF-32, which only the text stream decodes.
bool readModelFileReference(const QString &fileName, LabelList &labels, Matrix &components, Matrix &projections,
                            ModelFileReport *report = nullptr, LabelsKept kept = LabelsKept::All);

} // namespace sorvik
