#pragma once

// The parameters of a model that is not the fixed recipe's, carried on the label
// line of its file as an item of their own before the labels:
// "sorvik-tune:spacing=2:offsets=2,2:components=36:neighbours=3". No class label
// can take its place (labels are upper-case), and a reader that does not know it
// finds one label more than projection rows.

#include "model/model.h"

#include <QString>

namespace sorvik {

// What begins the item.
extern const QString parametersMark;

// The item for a model of these parameters and `components` components.
QString parametersItem(const ModelParameters &parameters, int components);

// The parameters an item gives, or why it gives none that can serve; the count of
// components it names must be `components`, unless that is negative.
QString readParametersItem(const QString &item, int components, ModelParameters &parameters);

// The parameters in words: "spacing 2, 36 components and 3 neighbours".
QString parametersInWords(const ModelParameters &parameters, int components);

} // namespace sorvik
