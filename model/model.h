#pragma once

#include "linalg/matrix.h"

#include <QStringList>

namespace sorvik {

// Class labels of the training samples; label i belongs to projection row i.
using LabelList = QStringList;

// A trained model: the label of every training sample, the components (m x k)
// and the training samples projected onto them (n x k).
struct Model {
    LabelList labels;
    Matrix components;
    Matrix projections;
};

} // namespace sorvik
