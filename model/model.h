#pragma once

#include "linalg/matrix.h"

#include <QStringList>

namespace sorvik {

// Class labels of the training samples; label i belongs to projection row i.
using LabelList = QStringList;

// How a model reads: the F-transform its features come from (nodes `spacing`
// pixels apart, the first support `offsetX` and `offsetY` in) and how many of the
// nearest stored rows vote for a label. The defaults are the fixed recipe's, whose
// component count is 85 % of the features.
struct ModelParameters {
    int spacing = 4;
    int offsetX = 2;
    int offsetY = 2;
    int neighbours = 1;
};

// A trained model: the label of every training sample, the components (m x k)
// and the training samples projected onto them (n x k), and its parameters.
struct Model {
    LabelList labels;
    Matrix components;
    Matrix projections;
    ModelParameters parameters;
};

// Whether a model of these parameters and m features keeping k components is the
// fixed recipe's, whose file is exactly what `sorvik train` writes.
bool fixedRecipe(const ModelParameters &parameters, int features, int components);

} // namespace sorvik
