#pragma once

#include "model/model_file.h"

#include <QString>

namespace sorvik {

// Why a model as read cannot serve for classification ("has no labels on its
// first line"), or an empty string when it can.
QString modelProblem(const Matrix &components, const Matrix &projections, const ModelFileReport &report);

} // namespace sorvik
