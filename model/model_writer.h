#pragma once

#include "model/model.h"

#include <QString>

namespace sorvik {

// Writes the model to `fileName`: the label line, the component rows, an empty
// line, the projection rows, every item followed by ";". An existing file is
// replaced only by a complete new one. False, with the reason ("No space left on
// device"), when the file cannot be written whole; an existing file then stays
// as it was.
bool writeModelFile(const QString &fileName, const LabelList &labels, const Matrix &components, const Matrix &projections,
                    QString *reason = nullptr);

// Writes a model with its parameters: the fixed recipe's exactly as above, any
// other with its parameters item first on the label line (model_parameters.h).
bool writeModelFile(const QString &fileName, const Model &model, QString *reason = nullptr);

// The same writer going value by value through QTextStream, the reference that the
// fast one is tested against.
bool writeModelFileReference(const QString &fileName, const LabelList &labels, const Matrix &components, const Matrix &projections,
                             QString *reason = nullptr);

} // namespace sorvik
